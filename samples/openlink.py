#!/usr/bin/python3
"""openlink: opens a web address in the desktop's default browser.

    openlink https://example.org/report.html

The browser is the desktop's handler for web links: `xdg-mime query default
x-scheme-handler/http` names a .desktop file, whose Exec line is the command to start. When no
handler is set up, the BROWSER variable is used (commands separated by ':', "%s" standing for
the address). The command is started directly, never through a shell, so nothing in the
address can run as a command; only http and https addresses are accepted.
"""

import os
import shlex
import subprocess
import sys
import urllib.parse

VERSION = "@PROJECT_VERSION@"

USAGE = """\
Usage: openlink URL
Opens an http or https address in the desktop's default web browser.

  --help     show this text and exit
  --version  show the version and exit

The browser is the handler registered for x-scheme-handler/http (see xdg-mime(1)), or else
the first command of $BROWSER that starts. Exit status: 0 when a browser was started, 1 when
none could be, 2 for a usage error or an address that is not http(s).
"""


def check_address(url):
    """Returns None for an http(s) address a browser may open, else the reason it is refused."""
    if any(ord(c) <= 0x20 or ord(c) == 0x7F for c in url):
        return "it holds blanks or control characters"
    parts = urllib.parse.urlsplit(url)
    if parts.scheme.lower() not in ("http", "https"):
        return "only http and https addresses are opened"
    if not parts.hostname:
        return "it names no host"
    return None


# ---- The desktop's handler ----------------------------------------------------------------


def data_dirs():
    """The folders that hold applications/*.desktop, most important first (XDG base dirs)."""
    home = os.environ.get("XDG_DATA_HOME") or os.path.expanduser("~/.local/share")
    others = os.environ.get("XDG_DATA_DIRS") or "/usr/local/share:/usr/share"
    return [d for d in [home] + others.split(":") if d.startswith("/")]


def find_desktop_file(desktop_id):
    """The path of a desktop file ID such as "firefox-esr.desktop", or None.

    IDs of files in subfolders have '-' where the path has '/' ("kde4-konqueror.desktop" may be
    kde4/konqueror.desktop)."""
    if "/" in desktop_id or not desktop_id.endswith(".desktop"):
        return None
    candidates = [desktop_id]
    parts = desktop_id.split("-")
    for i in range(1, len(parts)):
        candidates.append("-".join(parts[:i]) + "/" + "-".join(parts[i:]))
    for folder in data_dirs():
        for name in candidates:
            path = os.path.join(folder, "applications", name)
            if os.path.isfile(path):
                return path
    return None


def read_desktop_entry(path):
    """The keys of the [Desktop Entry] group of a desktop file (localised keys left out)."""
    entry = {}
    group = None
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("[") and line.endswith("]"):
                group = line[1:-1]
            elif group == "Desktop Entry" and "=" in line:
                key, value = line.split("=", 1)
                key = key.strip()
                if "[" not in key:
                    entry.setdefault(key, value.strip())
    return entry


def unescape_string(value):
    r"""The escapes of a desktop file's string values: \s \n \t \r \\."""
    out, i = [], 0
    table = {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value) and value[i + 1] in table:
            out.append(table[value[i + 1]])
            i += 2
        else:
            out.append(value[i])
            i += 1
    return "".join(out)


def split_exec(value):
    """An Exec value split into arguments by the desktop entry rules (no shell involved):
    blanks separate, double quotes group, and inside them \\" \\` \\$ \\\\ stand for the
    character. Returns None for a line with an unclosed quote."""
    value = unescape_string(value)
    args, current, quoted, have_arg, i = [], [], False, False, 0
    while i < len(value):
        c = value[i]
        if quoted:
            if c == "\\" and i + 1 < len(value) and value[i + 1] in '"`$\\':
                current.append(value[i + 1])
                i += 1
            elif c == '"':
                quoted = False
            else:
                current.append(c)
        elif c == '"':
            quoted, have_arg = True, True
        elif c in " \t":
            if have_arg:
                args.append("".join(current))
                current, have_arg = [], False
        else:
            current.append(c)
            have_arg = True
        i += 1
    if quoted:
        return None
    if have_arg:
        args.append("".join(current))
    return args


def expand_field_codes(args, url, entry, path):
    """The Exec arguments with their field codes filled in. The address replaces %u %U %f %F
    (and is added at the end when none of them appears); %i %c %k %% as the standard says;
    the deprecated codes vanish."""
    out, used_url = [], False
    for arg in args:
        if arg in ("%u", "%U", "%f", "%F"):
            out.append(url)
            used_url = True
            continue
        if arg == "%i":
            if entry.get("Icon"):
                out += ["--icon", entry["Icon"]]
            continue
        text, i = [], 0
        while i < len(arg):
            if arg[i] == "%" and i + 1 < len(arg):
                code = arg[i + 1]
                if code in "uUfF":
                    text.append(url)
                    used_url = True
                elif code == "c":
                    text.append(entry.get("Name", ""))
                elif code == "k":
                    text.append(path)
                elif code == "%":
                    text.append("%")
                i += 2
            else:
                text.append(arg[i])
                i += 1
        out.append("".join(text))
    if not used_url:
        out.append(url)
    return out


def handler_command(url):
    """The command of the desktop's default handler for the address, or None."""
    scheme = urllib.parse.urlsplit(url).scheme.lower()
    for mime in dict.fromkeys(["x-scheme-handler/" + scheme, "x-scheme-handler/http"]):
        try:
            answer = subprocess.run(["xdg-mime", "query", "default", mime],
                                    stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                    timeout=30)
        except (OSError, subprocess.TimeoutExpired):
            return None  # no xdg-utils: the BROWSER variable is the only way left
        for desktop_id in answer.stdout.split(";"):
            path = find_desktop_file(desktop_id.strip())
            if not path:
                continue
            entry = read_desktop_entry(path)
            if entry.get("Hidden", "false") == "true" or "Exec" not in entry:
                continue
            args = split_exec(entry["Exec"])
            if args:
                return expand_field_codes(args, url, entry, path)
    return None


def browser_commands(url):
    """The commands of the BROWSER variable, each split like a command line (without a shell)
    with "%s" replaced by the address, or the address added at the end."""
    commands = []
    for item in os.environ.get("BROWSER", "").split(":"):
        try:
            args = shlex.split(item)
        except ValueError:
            continue
        if not args:
            continue
        if any("%s" in a for a in args):
            args = [a.replace("%s", url) for a in args]
        else:
            args.append(url)
        commands.append(args)
    return commands


def start(command):
    """Starts a command in a session of its own without waiting for it; the error text, or
    None when it started."""
    try:
        subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, start_new_session=True, close_fds=True)
        return None
    except OSError as error:
        return f"{command[0]}: {error.strerror}"


def main(argv):
    if len(argv) == 2 and argv[1] in ("--help", "-h"):
        print(USAGE, end="")
        return 0
    if len(argv) == 2 and argv[1] == "--version":
        print(f"openlink (Quillo) {VERSION}")
        return 0
    if len(argv) != 2:
        print(USAGE, end="", file=sys.stderr)
        return 2
    url = argv[1]
    reason = check_address(url)
    if reason:
        print(f'openlink: refused "{url}": {reason}', file=sys.stderr)
        return 2

    commands = []
    handler = handler_command(url)
    if handler:
        commands.append(handler)
    commands += browser_commands(url)
    if not commands:
        print("openlink: no web browser is set up: no handler for x-scheme-handler/http "
              "(xdg-mime) and BROWSER is not set", file=sys.stderr)
        return 1
    errors = []
    for command in commands:
        error = start(command)
        if error is None:
            return 0
        errors.append(error)
    print("Fatal error while communicating to browser", file=sys.stderr)
    for error in errors:
        print(f"  {error}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
