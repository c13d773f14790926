#!/usr/bin/python3
"""addinsetup: adds "Convert with Quillo" to LibreOffice Writer.

    addinsetup                 build QuilloWriter.oxt and install it for this user
    addinsetup --shared        install it for every user of this machine (as root)
    addinsetup --build-only F  only build the extension into the file F

The extension (.oxt) holds a Basic macro and a menu entry under Tools > Add-Ons. The macro
saves the open document as RTF beside it and runs quillocmd on it. Its sources sit in the
"addin" folder of Quillo's data (beside this program in a build tree, share/quillo/addin in an
install); addinsetup packs them with the path of this installation filled in, installs the
result with LibreOffice's `unopkg add`, and records the installation folder as InstallDir in
$XDG_CONFIG_HOME/quillo/quillo.ini, section [Settings], where the macro looks for quillocmd.
"""

import configparser
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
from xml.sax.saxutils import escape

VERSION = "@PROJECT_VERSION@"
EXTENSION_NAME = "QuilloWriter.oxt"
EXTENSION_ID = "org.quillo.convert"

USAGE = """\
Usage: addinsetup [--shared] [--build-only FILE]
Builds the LibreOffice extension that adds "Convert with Quillo" to Writer's
Tools > Add-Ons menu, and installs it with unopkg.

  --shared           install for every user (needs root); the default is this user only
  --build-only FILE  write the extension to FILE and install nothing
  --help             show this text and exit
  --version          show the version and exit

Exit status: 0 when the extension was installed (or built), 1 when it was not.
"""

PROGRAM_DIR = os.path.dirname(os.path.realpath(__file__))


def fail(*lines):
    for line in lines:
        print(line, file=sys.stderr)
    return 1


def addin_sources():
    """The folder that holds the extension's sources, or None."""
    for folder in (os.path.join(PROGRAM_DIR, "addin"),
                   os.path.join(PROGRAM_DIR, "..", "share", "quillo", "addin")):
        if os.path.isfile(os.path.join(folder, "description.xml")):
            return os.path.normpath(folder)
    return None


def basic_module(source, install_dir):
    """The Basic source wrapped as a LibreOffice module file (.xba), with the installation
    folder filled in as a Basic string."""
    with open(source, encoding="utf-8") as f:
        code = f.read().replace("{{INSTALLDIR}}", install_dir.replace('"', '""'))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<!DOCTYPE script:module PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN"'
            ' "module.dtd">\n'
            '<script:module xmlns:script="http://openoffice.org/2000/script"'
            ' script:name="Convert" script:language="StarBasic">'
            + escape(code, {'"': "&quot;"}) + "</script:module>\n")


def build_extension(sources, install_dir, target):
    """Packs the extension into `target` (a zip file, as LibreOffice expects)."""
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as oxt:
        for root, _, files in os.walk(sources):
            for name in sorted(files):
                path = os.path.join(root, name)
                inside = os.path.relpath(path, sources)
                if name == "Convert.bas":
                    oxt.writestr(os.path.join(os.path.dirname(inside), "Convert.xba"),
                                 basic_module(path, install_dir))
                elif name == "description.xml":
                    with open(path, encoding="utf-8") as f:
                        oxt.writestr(inside, f.read().replace("{{VERSION}}", VERSION))
                else:
                    oxt.write(path, inside)


def config_home():
    xdg = os.environ.get("XDG_CONFIG_HOME", "")
    return xdg if xdg.startswith("/") else os.path.expanduser("~/.config")


def record_install_dir(install_dir):
    """Sets [Settings] InstallDir in quillo.ini, keeping every other entry; the file is
    replaced atomically (a temporary file renamed over it). Returns the failing path or None."""
    folder = os.path.join(config_home(), "quillo")
    path = os.path.join(folder, "quillo.ini")
    try:
        os.makedirs(folder, exist_ok=True)
    except OSError:
        return folder
    ini = configparser.ConfigParser(interpolation=None)
    ini.optionxform = str  # keep the letter case of the keys other programs wrote
    try:
        ini.read(path, encoding="utf-8")
    except configparser.Error:
        pass  # a damaged file is replaced by one that holds at least InstallDir
    if not ini.has_section("Settings"):
        ini.add_section("Settings")
    ini.set("Settings", "InstallDir", install_dir)
    try:
        fd, temp = tempfile.mkstemp(prefix="quillo.ini.", dir=folder)
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            ini.write(f, space_around_delimiters=False)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temp, 0o644)
        os.replace(temp, path)
    except OSError:
        return path
    return None


def find_unopkg():
    return shutil.which("unopkg") or next(
        (p for p in ("/usr/lib/libreoffice/program/unopkg",
                     "/opt/libreoffice/program/unopkg") if os.access(p, os.X_OK)), None)


def main(argv):
    shared, build_only = False, None
    args = argv[1:]
    while args:
        arg = args.pop(0)
        if arg in ("--help", "-h"):
            print(USAGE, end="")
            return 0
        if arg == "--version":
            print(f"addinsetup (Quillo) {VERSION}")
            return 0
        if arg == "--shared":
            shared = True
        elif arg == "--build-only" and args:
            build_only = args.pop(0)
        else:
            print(USAGE, end="", file=sys.stderr)
            return 2

    sources = addin_sources()
    if not sources:
        return fail(f"Error, {os.path.join(PROGRAM_DIR, 'addin')} doesn't exist")
    install_dir = PROGRAM_DIR
    if build_only:
        try:
            build_extension(sources, install_dir, build_only)
        except OSError:
            return fail(f"Error, {build_only} could not be created")
        print(f"{EXTENSION_NAME} has been written to {build_only}")
        return 0

    unopkg = find_unopkg()
    if not unopkg:
        return fail("LibreOffice needs to be installed to use addinsetup",
                    "(Debian: apt-get install libreoffice-writer)")
    if os.geteuid() == 0 and not shared:
        return fail("LibreOffice does not install extensions for root alone: run addinsetup as "
                    "the user who works with LibreOffice, or with --shared for every user.")

    with tempfile.TemporaryDirectory(prefix="quillo-addin.") as work:
        oxt = os.path.join(work, EXTENSION_NAME)
        try:
            build_extension(sources, install_dir, oxt)
        except OSError:
            return fail(f"Error, {oxt} could not be created")
        command = [unopkg, "add", "--force", "--suppress-license"]
        if shared:
            command.append("--shared")
        try:
            result = subprocess.run(command + [oxt], stdin=subprocess.DEVNULL,
                                    capture_output=True, text=True, timeout=600)
        except (OSError, subprocess.TimeoutExpired) as error:
            return fail("Error copying quillo LibreOffice add-in", str(error))
        if result.returncode != 0:
            return fail("Error copying quillo LibreOffice add-in",
                        (result.stderr or result.stdout).strip())

    failed = record_install_dir(install_dir)
    if failed:
        return fail(f"Error, {failed} could not be created")
    where = ("LibreOffice's shared extensions" if shared
             else os.path.join(config_home(), "libreoffice", "4", "user"))
    print(f"{EXTENSION_NAME} has been installed in")
    print(where)
    print("It should be loaded automatically when LibreOffice is started")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
