#!/usr/bin/python3
"""ocxdemo: converts RTF files and RTF text with Quillo's control and shows its events.

    ocxdemo report.rtf                       convert a file; events on standard error
    ocxdemo --color lightyellow a.rtf b.rtf  the pages get that background colour
    ocxdemo --string note.rtf > note.html    convert the text of a file in memory
    ocxdemo --gui                            the form: file list, colour box, two buttons

A worked example of quillo.Control, the control that scripting hosts drive:
  - `options` holds the command-line options of every conversion;
  - `ConvertRTF(file)` converts a file, `ConvertStrRTF(text)` converts text in memory;
  - `translationComplete(status, rtfName)` fires at the end of each ConvertRTF;
  - `callback(why, nargs, args)` fires when the engine or the translation file calls the host:
    reason 1 is a message of the engine (progress is MSG_PERCENT), reason 2 a picture being
    written, reason 3 a request of the translation file, answered with SetString.
The conversions use ocxdemo.trn, which captures red text and asks the host (reason 3) what to
write for it: ocxdemo answers with the text wrapped in <whatever> tags.
"""

import os
import re
import sys
import tempfile

VERSION = "@PROJECT_VERSION@"
PROGRAM_DIR = os.path.dirname(os.path.realpath(__file__))
INIT_ERROR = ("Error initializing the filter, please check that the Quillo ocx is installed "
              "correctly")

USAGE = """\
Usage: ocxdemo [--color COLOUR] [--trn FILE] FILE...
       ocxdemo [--color COLOUR] [--trn FILE] --string FILE
       ocxdemo --gui [--color COLOUR] [FILE]
Converts RTF files with Quillo's control and prints its events on standard error.

  --color COLOUR  background colour of the pages (passed as -DBcolor=COLOUR)
  --trn FILE      translation file (default ocxdemo.trn, which shows the events)
  --string        convert the file's text in memory and write the page to standard output
  --gui           open the form (Tkinter): file list, colour box, Translate File and
                  Translate String; the string's page opens in the web browser
  --help          show this text and exit
  --version       show the version and exit

Exit status: 0 when every conversion succeeded, 1 when one failed, 2 for a usage error.
"""

SAMPLE_RTF = (r"{\rtf1\ansi{\fonttbl{\f0\fswiss Arial;}}"
              r"{\colortbl;\red0\green0\blue0;\red255\green0\blue0;}"
              r"\f0\fs24 Text in {\cf2 red} is captured by ocxdemo.trn and handed to the host, "
              r"which answers through CallBackReturn.\par}")


def program_path():
    """The program path the control is initialised with: the desktop application `quillo` in
    the folder that holds Quillo's library files (this folder in a build tree, share/quillo in
    an install), or "" to let the control find that folder itself."""
    for folder in (PROGRAM_DIR, os.path.join(PROGRAM_DIR, "..", "share", "quillo")):
        if os.path.isfile(os.path.join(folder, "rtf-ctrl.txt")):
            return os.path.join(os.path.normpath(folder), "quillo")
    return ""


def load_quillo():
    """The quillo module: beside this program in a build tree (build/python), in the install
    prefix (lib/python3/dist-packages), or wherever Python finds it."""
    for folder in (os.path.join(PROGRAM_DIR, "..", "python"),
                   os.path.join(PROGRAM_DIR, "..", "lib", "python3", "dist-packages")):
        if os.path.isdir(os.path.join(folder, "quillo")):
            sys.path.insert(0, os.path.normpath(folder))
            break
    import quillo
    return quillo


class Demo:
    """The control with its two event handlers. Every message for the user goes to `show`."""

    def __init__(self, show):
        self.show = show
        quillo = load_quillo()
        self.control = quillo.Control()
        self.control.translationComplete = self.translation_complete
        self.control.callback = self.callback
        # The engine finds its library files (ocxdemo.trn, html.trn) in the program folder.
        if self.control.Init(program_path()) != 0:
            raise RuntimeError(INIT_ERROR)
        self.failed = False

    def set_options(self, colour, trn):
        # The options are split at blanks; single quotes group words and are dropped, so the
        # values are quoted and may hold no single quote themselves.
        if "'" in colour or "'" in trn:
            raise ValueError("the colour and the translation file name may not hold a '")
        self.control.options = (f"-DBcolor='{colour}' -DTrnFile='{trn}' -DPercentCallback=10")

    # ---- Events ---------------------------------------------------------------------------

    def translation_complete(self, status, rtf_name):
        if status != 0:
            self.failed = True
            self.show(f"Translation failed. Status = {status} {rtf_name}")
        else:
            output = self.control.ExpandString("$Outfilename;")
            self.show("Translation completed OK," + " output file = " + output)

    def callback(self, why, nargs, args):
        c = self.control
        if why == 1:
            # A message of the engine: its code, the pass and where in the document it arose.
            where = c.ExpandString("$ErrCode;$htmlTranPass;$Context()")
            if nargs >= 2 and args[0] == "MSG_PERCENT":
                self.show("Done " + args[1] + "%")
            elif where:
                self.show(where)
        elif why == 3:
            # The translation file captured some text and asks what to write instead.
            text = c.ExpandString("$CaptureText;")
            colour = c.ExpandString("$TextColor;")
            style = c.ExpandString("$CharStyle;")
            self.show("Found " + colour + " textstring: (" + text + ") Character Style is:" + style)
            c.SetString("CallBackReturn", "<whatever>" + text + "</whatever>")
        elif why == 2:
            self.show("Converting image file " + c.ExpandString("$Picfilename;"))

    # ---- The two buttons ------------------------------------------------------------------

    def translate_file(self, path):
        self.failed = False
        self.control.ConvertRTF(path)  # the events report the result
        return not self.failed

    def translate_string(self, rtf):
        """The outputs made from RTF text, as (name, bytes) with the main page first, or None.
        The outputs stay in memory until the program writes them somewhere."""
        count, rows = self.control.ConvertStrRTF(rtf)
        if count <= 0:
            self.show(f"Translation failed. Status = {count} (string)")
            return None
        outputs = [(row[0], self.control.GetImageBytes(i)[1] or b"")
                   for i, row in enumerate(rows)]
        main = next((i for i, (name, _) in enumerate(outputs) if name.endswith(".html")), 0)
        return [outputs[main]] + outputs[:main] + outputs[main + 1:]


# ---- The form -------------------------------------------------------------------------------


def run_form(demo, colour, trn, start):
    import tkinter as tk
    import webbrowser
    from tkinter import ttk

    root = tk.Tk()
    root.title("ocxdemo - Quillo control demo")
    root.geometry("900x600")
    folder = tk.StringVar(value=os.path.dirname(os.path.abspath(start)) if start else os.getcwd())
    colour_text = tk.StringVar(value=colour)

    def show(message):
        events.insert("end", message)
        events.see("end")
        print(message, file=sys.stderr)
        root.update_idletasks()
    demo.show = show

    # Left: the folder's subfolders and its RTF files.
    left = ttk.Frame(root, padding=6)
    left.pack(side="left", fill="y")
    ttk.Label(left, textvariable=folder, wraplength=260).pack(anchor="w")
    folders = tk.Listbox(left, height=8, width=36, exportselection=False)
    folders.pack(fill="x")
    ttk.Label(left, text="Rich Text Format (*.rtf)").pack(anchor="w", pady=(6, 0))
    files = tk.Listbox(left, height=14, width=36, exportselection=False)
    files.pack(fill="both", expand=True)

    def fill_lists():
        folders.delete(0, "end")
        files.delete(0, "end")
        try:
            names = sorted(os.listdir(folder.get()))
        except OSError:
            names = []
        folders.insert("end", "..")
        for name in names:
            path = os.path.join(folder.get(), name)
            if os.path.isdir(path) and not name.startswith("."):
                folders.insert("end", name)
            elif name.lower().endswith(".rtf"):
                files.insert("end", name)

    def enter_folder(_event=None):
        picked = folders.curselection()
        if picked:
            folder.set(os.path.normpath(os.path.join(folder.get(), folders.get(picked[0]))))
            fill_lists()
    folders.bind("<Double-Button-1>", enter_folder)
    folders.bind("<Return>", enter_folder)

    # Right: colour box, buttons, the RTF text for Translate String, the events.
    right = ttk.Frame(root, padding=6)
    right.pack(side="left", fill="both", expand=True)
    row = ttk.Frame(right)
    row.pack(fill="x")
    ttk.Label(row, text="Background colour:").pack(side="left")
    ttk.Entry(row, textvariable=colour_text, width=16).pack(side="left", padx=4)

    def translate_file(_event=None):
        picked = files.curselection()
        if not picked:
            show("Choose an RTF file in the list first")
            return
        try:
            demo.set_options(colour_text.get(), trn)
        except ValueError as error:
            show(str(error))
            return
        demo.translate_file(os.path.join(folder.get(), files.get(picked[0])))

    def translate_string(_event=None):
        try:
            demo.set_options(colour_text.get(), trn)
        except ValueError as error:
            show(str(error))
            return
        outputs = demo.translate_string(text.get("1.0", "end-1c"))
        if outputs is None:
            return
        # The page and its pictures go to a private folder of their own, opened in the browser.
        # The engine names a string's page "-.html"; its pictures keep their names, which the
        # page refers to.
        folder = tempfile.mkdtemp(prefix="ocxdemo-")
        page = os.path.join(folder, "page.html")
        for index, (name, data) in enumerate(outputs):
            with open(page if index == 0 else os.path.join(folder, os.path.basename(name)),
                      "wb") as f:
                f.write(data)
        show(f"String translated: {page}")
        webbrowser.open("file://" + page)

    ttk.Button(row, text="Translate File", underline=10, command=translate_file).pack(
        side="left", padx=4)
    ttk.Button(row, text="Translate String", underline=10, command=translate_string).pack(
        side="left", padx=4)
    root.bind("<Alt-f>", translate_file)
    root.bind("<Alt-s>", translate_string)
    root.bind("<Control-q>", lambda _e: root.destroy())

    ttk.Label(right, text="RTF text for Translate String:").pack(anchor="w", pady=(8, 0))
    text = tk.Text(right, height=8, wrap="word")
    text.insert("1.0", SAMPLE_RTF)
    text.pack(fill="x")
    ttk.Label(right, text="Events:").pack(anchor="w", pady=(8, 0))
    events = tk.Listbox(right)
    events.pack(fill="both", expand=True)

    fill_lists()
    if start and os.path.isfile(start):
        names = files.get(0, "end")
        if os.path.basename(start) in names:
            index = names.index(os.path.basename(start))
            files.selection_set(index)
            files.see(index)
    root.mainloop()
    return 0


# ---- Command line ---------------------------------------------------------------------------


def main(argv):
    colour, trn, string_mode, gui, names = "", "ocxdemo.trn", False, False, []
    args = argv[1:]
    while args:
        arg = args.pop(0)
        if arg in ("--help", "-h"):
            print(USAGE, end="")
            return 0
        if arg == "--version":
            print(f"ocxdemo (Quillo) {VERSION}")
            return 0
        if arg in ("--color", "--colour") and args:
            colour = args.pop(0)
        elif arg == "--trn" and args:
            trn = args.pop(0)
        elif arg == "--string":
            string_mode = True
        elif arg == "--gui":
            gui = True
        elif arg == "--":
            names += args
            args = []
        elif arg.startswith("-") and arg != "-":
            print(f"ocxdemo: unknown option {arg}\nTry 'ocxdemo --help'.", file=sys.stderr)
            return 2
        else:
            names.append(arg)
    if not gui and (not names or (string_mode and len(names) != 1)):
        print(USAGE, end="", file=sys.stderr)
        return 2
    if not re.fullmatch(r"[#A-Za-z0-9(),.% ]*", colour):
        print(f"ocxdemo: {colour!r} is not a colour", file=sys.stderr)
        return 2

    try:
        demo = Demo(lambda message: print(message, file=sys.stderr))
    except (ImportError, RuntimeError):
        print(INIT_ERROR, file=sys.stderr)
        return 1
    if gui:
        return run_form(demo, colour, trn, names[0] if names else None)

    try:
        demo.set_options(colour, trn)
    except ValueError as error:
        print(f"ocxdemo: {error}", file=sys.stderr)
        return 2
    ok = True
    for name in names:
        if not os.path.isfile(name):
            print(f'Error: "{name}" does not exist', file=sys.stderr)
            ok = False
        elif string_mode:
            with open(name, "rb") as f:
                outputs = demo.translate_string(f.read())
            if outputs is None:
                ok = False
            else:
                sys.stdout.buffer.write(outputs[0][1])
        else:
            ok = demo.translate_file(name) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
