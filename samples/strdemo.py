#!/usr/bin/python3
"""strdemo: converts RTF text held in memory with Quillo's control.

    strdemo report.rtf > report.html        the page on standard output
    strdemo -o site/report.html report.rtf  the page, its split pages and pictures in site/
    some-program | strdemo -o out.html      RTF from standard input
    strdemo --gui [report.rtf]              the form: RTF on the left, the page on the right

A worked example of quillo.Control.ConvertStrRTF: the RTF text goes in as a string, and the
outputs (the page, the pages split off at level-1 headings, the pictures) come back as rows of
(name, text, length) without touching the disk; GetImageBytes gives each output's exact bytes.
The program decides where they go.
"""

import os
import sys

VERSION = "@PROJECT_VERSION@"
PROGRAM_DIR = os.path.dirname(os.path.realpath(__file__))
INIT_ERROR = ("Error initializing the filter, please check that the Quillo ocx is installed "
              "correctly")

USAGE = """\
Usage: strdemo [-o OUTPUT] [FILE]
       strdemo --gui [FILE]
Converts RTF text (FILE, or standard input) in memory with Quillo's control.

  -o OUTPUT  write the page to OUTPUT and the other outputs (pages split off at level-1
             headings, pictures) beside it; without -o the page goes to standard output
  --gui      open the form (Tkinter): RTF text, Translate, the page, Save
  --help     show this text and exit
  --version  show the version and exit

Exit status: 0 on success, 1 when the conversion failed, 2 for a usage error.
"""


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


def create_control():
    """A control initialised with this installation's library files, or None."""
    try:
        control = load_quillo().Control()
        if control.Init(program_path()) == 0:
            return control
    except (ImportError, RuntimeError):
        pass
    return None


class Translation:
    """The outputs of one ConvertStrRTF: `page` is the main page's bytes, `others` the
    (name, bytes) of every other output. `error` is set instead when it failed."""

    def __init__(self, control, rtf, folder, base):
        self.error, self.page, self.others = None, b"", []
        if "'" in folder or "'" in base:
            # The options are split at blanks with single quotes grouping a value.
            self.error = "strdemo cannot name outputs whose path holds a '"
            return
        self.main_name = os.path.join(folder, base + ".html")
        control.options = (f"-DSplitDepth=1 -DOutFilename='{self.main_name}' "
                           "-DAutoConvertGraphics=0 -DTransCMD=strdemo")
        count, rows = control.ConvertStrRTF(rtf)
        if count <= 0:
            # The result counts the outputs: a conversion that failed has none.
            self.error = f"Error, ret = {count}"
            return
        self.image_ext = control.ExpandString("$ImageExt;")
        for index, row in enumerate(rows):
            data = control.GetImageBytes(index)[1] or b""
            if row[0] == self.main_name:
                self.page = data
            else:
                self.others.append((row[0], data))
        if not self.page and self.others:
            self.page = self.others.pop(0)[1]

    def save(self, target, page=None):
        """Writes the page to `target` and the other outputs beside it, under their own names
        (the page's links and pictures refer to them by those names). Returns the paths."""
        folder = os.path.dirname(os.path.abspath(target))
        written = [target]
        with open(target, "wb") as f:
            f.write(self.page if page is None else page)
        for name, data in self.others:
            path = os.path.join(folder, os.path.basename(name))
            with open(path, "wb") as f:
                f.write(data)
            written.append(path)
        return written


def rtf_bytes(text):
    """Text typed into the form as RTF bytes: characters of one byte stay as they are (the form
    shows RTF files byte for byte), others become RTF Unicode escapes."""
    out = []
    for c in text:
        code = ord(c)
        if code < 256:
            out.append(c)
            continue
        units = [code] if code < 0x10000 else [0xD800 + ((code - 0x10000) >> 10),
                                                 0xDC00 + ((code - 0x10000) & 0x3FF)]
        out += [f"\\u{u - 65536 if u > 32767 else u}?" for u in units]
    return "".join(out).encode("latin-1")


def read_input(name):
    if name in (None, "-"):
        return sys.stdin.buffer.read()
    with open(name, "rb") as f:
        return f.read()


def run_form(control, start):
    import tkinter as tk
    from tkinter import filedialog, messagebox, ttk

    root = tk.Tk()
    root.title("strdemo - Quillo string conversion")
    root.geometry("1000x600")
    state = {"translation": None, "name": start}

    bar = ttk.Frame(root, padding=4)
    bar.pack(fill="x")
    panes = ttk.PanedWindow(root, orient="horizontal")
    panes.pack(fill="both", expand=True)
    source = tk.Text(panes, wrap="word", undo=True)
    result = tk.Text(panes, wrap="word")
    panes.add(source, weight=1)
    panes.add(result, weight=1)
    status = tk.StringVar(value="Type, paste or open RTF on the left, then Translate.")
    ttk.Label(root, textvariable=status, padding=4).pack(fill="x")

    def report(message):
        status.set(message)
        print(message, file=sys.stderr)

    def load(path):
        try:
            data = read_input(path)
        except OSError as error:
            messagebox.showerror("strdemo", f'Error: "{path}" does not exist\n{error.strerror}')
            return
        source.delete("1.0", "end")
        source.insert("1.0", data.decode("latin-1"))  # RTF is 8-bit text
        state["name"] = path
        report(f"Opened {path}")

    def open_file(_event=None):
        path = filedialog.askopenfilename(filetypes=[("Rich Text Format", "*.rtf"),
                                                     ("All files", "*")])
        if path:
            load(path)

    def translate(_event=None):
        rtf = rtf_bytes(source.get("1.0", "end-1c"))
        base = os.path.splitext(os.path.basename(state["name"] or "strdemo"))[0]
        folder = os.path.dirname(os.path.abspath(state["name"])) if state["name"] else os.getcwd()
        translation = Translation(control, rtf, folder, base)
        if translation.error:
            messagebox.showerror("Translation error", translation.error)
            return
        state["translation"] = translation
        result.delete("1.0", "end")
        result.insert("1.0", translation.page.decode("utf-8", "replace"))
        count = 1 + len(translation.others)
        report(f"Translated: {count} output{'s' if count > 1 else ''}")

    def save(_event=None):
        translation = state["translation"]
        if not translation:
            report("Translate first: there is nothing to save")
            return
        target = filedialog.asksaveasfilename(
            defaultextension=".html",
            filetypes=[("Text files", "*.txt"), ("HTML files", "*.html *.htm"),
                       ("All files", "*")])
        if target:
            page = result.get("1.0", "end-1c").encode("utf-8")
            written = translation.save(target, page)
            pictures = [p for p in written if p.endswith("." + translation.image_ext)]
            report(f"Saved {target} and {len(written) - 1} more files"
                   f" ({len(pictures)} pictures in .{translation.image_ext})")

    for label, underline, command, key in (("Open...", 0, open_file, "<Alt-o>"),
                                           ("Translate", 0, translate, "<Alt-t>"),
                                           ("Save...", 0, save, "<Alt-s>")):
        ttk.Button(bar, text=label, underline=underline, command=command).pack(side="left",
                                                                               padx=2)
        root.bind(key, command)
    root.bind("<Control-q>", lambda _e: root.destroy())

    # RTF files dropped on the left pane are opened; dropping needs the Tk extension tkdnd
    # (Debian: tkdnd), without it Open... is the way in.
    try:
        root.tk.call("package", "require", "tkdnd")
        root.tk.call("tkdnd::drop_target", "register", source._w, "DND_Files")

        def dropped(data):
            files = root.tk.splitlist(data)
            if files:
                load(files[0])
            return "copy"
        root.tk.call("bind", source._w, "<<Drop:DND_Files>>", root.register(dropped) + " %D")
    except tk.TclError:
        pass
    if start:
        load(start)
    root.mainloop()
    return 0


def main(argv):
    output, gui, names = None, False, []
    args = argv[1:]
    while args:
        arg = args.pop(0)
        if arg in ("--help", "-h"):
            print(USAGE, end="")
            return 0
        if arg == "--version":
            print(f"strdemo (Quillo) {VERSION}")
            return 0
        if arg == "-o" and args:
            output = args.pop(0)
        elif arg == "--gui":
            gui = True
        elif arg.startswith("-") and arg != "-":
            print(f"strdemo: unknown option {arg}\nTry 'strdemo --help'.", file=sys.stderr)
            return 2
        else:
            names.append(arg)
    if len(names) > 1 or (not names and not gui and sys.stdin.isatty()):
        # Never wait for RTF typed at a terminal: name a file or pipe the text in.
        print(USAGE, end="", file=sys.stderr)
        return 2
    name = names[0] if names else None
    if name not in (None, "-") and not os.path.isfile(name):
        print(f'Error: "{name}" does not exist', file=sys.stderr)
        return 1

    control = create_control()
    if control is None:
        print(INIT_ERROR, file=sys.stderr)
        return 1
    if gui:
        return run_form(control, name)

    rtf = read_input(name)
    if output:
        folder, base = os.path.dirname(os.path.abspath(output)), os.path.basename(output)
    else:
        folder, base = os.getcwd(), os.path.basename(name) if name not in (None, "-") else "strdemo"
    translation = Translation(control, rtf, folder, os.path.splitext(base)[0])
    if translation.error:
        print(translation.error, file=sys.stderr)
        return 1
    if output:
        try:
            translation.save(output)
        except OSError as error:
            print(f"strdemo: cannot write {error.filename}: {error.strerror}", file=sys.stderr)
            return 1
    else:
        sys.stdout.buffer.write(translation.page)
        if translation.others:
            print(f"strdemo: {len(translation.others)} more outputs (split pages, pictures) "
                  "were not written: use -o", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
