#!/usr/bin/python3
"""docdemo: converts word-processor documents (Word, OpenDocument, RTF ...) to web pages.

    docdemo letter.docx          writes letter.rtf and letter.html beside letter.docx
    docdemo --force notes.rtf    passes an RTF file through LibreOffice first
    docdemo --gui                a window to drop documents on

A document that is not RTF yet is saved as RTF beside it by LibreOffice, run headless with a
private profile of its own (so it neither disturbs nor waits for a LibreOffice the user has
open); then Quillo's control converts the RTF file with ConvertRTF and the output named by
-Doutfilename. RTF files are converted as they are, unless "force" asks for LibreOffice to
rewrite them first (the source file itself is left untouched).
"""

import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

VERSION = "@PROJECT_VERSION@"
PROGRAM_DIR = os.path.dirname(os.path.realpath(__file__))
INIT_ERROR = ("Error initializing the filter, please check that the Quillo ocx is installed "
              "correctly")
NO_FILE = "Please drop a file to translate onto the docdemo icon"
NO_OFFICE = "LibreOffice needs to be installed to use docdemo"
FAILED = "Something went wrong in the translation...exiting"

# LibreOffice gets this long for one document; a document it cannot finish by then is given up.
OFFICE_TIMEOUT = 600

USAGE = """\
Usage: docdemo [--force] FILE
       docdemo --gui [--force] [FILE]
Converts a document to a web page beside it: documents that are not RTF are first saved as
RTF beside them by LibreOffice (NAME.rtf, replaced if it exists), then NAME.html is written.

  --force    pass RTF files through LibreOffice too (the RTF file itself is not changed)
  --gui      open a window that documents can be dropped on (Tkinter)
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


def is_rtf(path):
    """True when the file holds RTF, whatever its name says."""
    with open(path, "rb") as f:
        return f.read(16).lstrip(b"\xef\xbb\xbf \t\r\n").startswith(b"{\\rtf")


def find_office():
    return (shutil.which("soffice") or shutil.which("libreoffice") or
            next((p for p in ("/usr/lib/libreoffice/program/soffice",
                              "/opt/libreoffice/program/soffice") if os.access(p, os.X_OK)),
                 None))


def save_as_rtf(office, source, folder):
    """Has LibreOffice save `source` as RTF into `folder`; returns the RTF file's path, or the
    reason it failed as an exception."""
    target = os.path.join(folder, os.path.splitext(os.path.basename(source))[0] + ".rtf")
    started = time.time()
    with tempfile.TemporaryDirectory(prefix="docdemo-profile.") as profile:
        command = [office, "-env:UserInstallation=" + pathlib.Path(profile).as_uri(),
                   "--headless", "--norestore", "--nologo", "--convert-to", "rtf",
                   "--outdir", folder, os.path.abspath(source)]
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                text=True, timeout=OFFICE_TIMEOUT)
    # LibreOffice reports some failures with status 0: the file it wrote is the proof.
    if not os.path.isfile(target) or os.path.getmtime(target) < started - 1:
        raise RuntimeError((result.stderr or result.stdout).strip() or
                           f"LibreOffice wrote no {target}")
    return target


def translate(control, source, force, show):
    """Converts one document; every message for the user goes to `show`. True on success."""
    if not os.path.isfile(source):
        show(f'Error: "{source}" does not exist')
        return False
    folder = os.path.dirname(os.path.abspath(source))
    base = os.path.splitext(os.path.basename(source))[0]
    if "'" in folder or "'" in base:
        show(FAILED + "\n(docdemo cannot name an output whose path holds a ')")
        return False
    rtf_is_source = is_rtf(source)
    with tempfile.TemporaryDirectory(prefix="docdemo.") as scratch:
        if rtf_is_source and not force:
            rtf = source
        else:
            office = find_office()
            if not office:
                show(NO_OFFICE + "\n(Debian: apt-get install libreoffice-writer-nogui)")
                return False
            show(f"Saving {source} as RTF with LibreOffice")
            try:
                # An RTF source passed through LibreOffice goes to a scratch folder, so that it
                # is never overwritten by its own conversion.
                rtf = save_as_rtf(office, source, scratch if rtf_is_source else folder)
            except (OSError, RuntimeError, subprocess.TimeoutExpired) as error:
                show(FAILED + f"\n({error})")
                return False
        output = os.path.join(folder, base + ".html")
        control.options = f"-Doutfilename='{output}'"
        status = control.ConvertRTF(rtf)
    if status != 0:
        show(FAILED + f"\n(status {status})")
        return False
    show(f"Translation completed OK, output file = {control.ExpandString('$Outfilename;')}")
    return True


def run_form(control, start, force):
    import tkinter as tk
    from tkinter import filedialog, ttk

    root = tk.Tk()
    root.title("docdemo - Quillo document converter")
    root.geometry("560x320")
    force_box = tk.BooleanVar(value=force)
    frame = ttk.Frame(root, padding=12)
    frame.pack(fill="both", expand=True)
    target = tk.Label(frame, text=NO_FILE.replace("onto the docdemo icon", "here"),
                      relief="groove", borderwidth=2, height=6, bg="#f4f4f4")
    target.pack(fill="x")
    row = ttk.Frame(frame)
    row.pack(fill="x", pady=8)
    ttk.Checkbutton(row, text="force (pass RTF through LibreOffice)",
                    variable=force_box).pack(side="left")
    messages = tk.Text(frame, height=8, wrap="word")
    messages.pack(fill="both", expand=True)

    def show(message):
        messages.insert("end", message + "\n")
        messages.see("end")
        print(message, file=sys.stderr)
        root.update_idletasks()  # redraw only: no second conversion can start meanwhile

    def convert(paths):
        for path in paths:
            translate(control, path, force_box.get(), show)

    def choose(_event=None):
        path = filedialog.askopenfilename(filetypes=[
            ("Documents", "*.rtf *.doc *.docx *.odt *.wpd *.txt"), ("All files", "*")])
        if path:
            convert([path])

    ttk.Button(row, text="Choose file...", underline=0, command=choose).pack(side="right")
    root.bind("<Alt-c>", choose)
    root.bind("<Control-q>", lambda _e: root.destroy())

    # Dropping files needs the Tk extension tkdnd (Debian: tkdnd); without it the button
    # above is the way in.
    try:
        root.tk.call("package", "require", "tkdnd")
        root.tk.call("tkdnd::drop_target", "register", target._w, "DND_Files")

        def dropped(data):
            convert(root.tk.splitlist(data))
            return "copy"
        root.tk.call("bind", target._w, "<<Drop:DND_Files>>", root.register(dropped) + " %D")
    except tk.TclError:
        target.configure(text="Choose a file to translate (dropping files needs tkdnd)")

    if start:
        root.after(200, lambda: convert([start]))
    root.mainloop()
    return 0


def main(argv):
    force, gui, names = False, False, []
    for arg in argv[1:]:
        if arg in ("--help", "-h"):
            print(USAGE, end="")
            return 0
        if arg == "--version":
            print(f"docdemo (Quillo) {VERSION}")
            return 0
        if arg == "--force":
            force = True
        elif arg == "--gui":
            gui = True
        elif arg.startswith("-"):
            print(f"docdemo: unknown option {arg}\nTry 'docdemo --help'.", file=sys.stderr)
            return 2
        else:
            names.append(arg)
    if len(names) > 1:
        print(USAGE, end="", file=sys.stderr)
        return 2
    if not names and not gui:
        print(NO_FILE, file=sys.stderr)
        return 2

    control = create_control()
    if control is None:
        print(INIT_ERROR, file=sys.stderr)
        return 1
    if gui:
        return run_form(control, names[0] if names else None, force)

    def show(message):
        print(message, file=sys.stderr)
    return 0 if translate(control, names[0], force, show) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
