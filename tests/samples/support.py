"""Shared pieces of the samples' tests: where the programs are, running them, reading the
sizes of pictures, and an X display (Xvfb) with screenshots for the forms."""

import contextlib
import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("QUILLO_SOURCE_DIR") or os.path.normpath(os.path.join(HERE, "..", ".."))
BIN = os.environ.get("QUILLO_BIN") or os.path.join(SOURCE, "build", "bin")
SHARED = os.path.normpath(os.path.join(SOURCE, "..", "shared"))
CORPUS = os.path.join(SHARED, "corpus")
SCREENSHOTS = os.environ.get("QUILLO_SCREENSHOTS") or os.path.join(BIN, "..", "screenshots")
PYTHON = "/usr/bin/python3"

# A small RTF document: plain text, red text (ocxdemo.trn captures it) and two level-1 headings
# (strdemo splits there).
RED_RTF = (rb"{\rtf1\ansi{\fonttbl{\f0\fswiss Arial;}}"
           rb"{\colortbl;\red0\green0\blue0;\red255\green0\blue0;}"
           rb"{\stylesheet{\s0 Normal;}{\s1 heading 1;}}"
           rb"\pard\s0\f0 Plain text, {\cf2 red words} and more.\par}")
SPLIT_RTF = (rb"{\rtf1\ansi{\fonttbl{\f0\fswiss Arial;}}"
             rb"{\stylesheet{\s0 Normal;}{\s1 heading 1;}}"
             rb"\pard\s0\f0 Opening words.\par"
             rb"\pard\s1 Alpha Chapter\par\pard\s0 Alpha text.\par"
             rb"\pard\s1 Beta Chapter\par\pard\s0 Beta text.\par}")


def png_bytes(width, height):
    """A small valid PNG (one grey pixel row repeated), built here so no tool is needed."""
    import zlib
    raw = b"".join(b"\x00" + b"\x80" * width for _ in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0,
                                                              0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def picture_rtf(width=12, height=8):
    """RTF text with one PNG picture."""
    data = png_bytes(width, height).hex().encode()
    return (rb"{\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0 Before the picture "
            rb"{\pict\pngblip\picw" + str(width).encode() + rb"\pich" + str(height).encode() +
            rb" " + data + rb"} after it.\par}")


def program(name):
    path = os.path.join(BIN, name)
    if not os.access(path, os.X_OK):
        raise unittest.SkipTest(f"{path} is not built")
    return path


def run(args, env=None, input=None, timeout=180, cwd=None):
    """Runs a program to its end; stdout and stderr as text (bytes decoded leniently)."""
    result = subprocess.run(args, env=env, input=input, capture_output=True, timeout=timeout,
                            cwd=cwd, stdin=None if input is not None else subprocess.DEVNULL)
    result.stdout_bytes = result.stdout
    result.stdout = result.stdout.decode("utf-8", "replace")
    result.stderr = result.stderr.decode("utf-8", "replace")
    return result


def user_env(root):
    """An environment for a test user whose home and XDG folders lie under `root`."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "BROWSER", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                        "XDG_CACHE_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS")}
    env["HOME"] = os.path.join(root, "home")
    env["XDG_CONFIG_HOME"] = os.path.join(root, "config")
    env["XDG_DATA_HOME"] = os.path.join(root, "data")
    env["XDG_CACHE_HOME"] = os.path.join(root, "cache")
    # The machine's own desktop files and defaults stay out of sight (no system browser starts).
    env["XDG_DATA_DIRS"] = os.path.join(root, "system-data")
    env["XDG_CONFIG_DIRS"] = os.path.join(root, "system-config")
    for key in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_DATA_DIRS",
                "XDG_CONFIG_DIRS"):
        os.makedirs(env[key], exist_ok=True)
    return env


def require_quillo_module():
    """Skips unless the Python module quillo is built beside the programs."""
    probe = run([PYTHON, "-c", "import sys; sys.path.insert(0, sys.argv[1]); import quillo; "
                 "quillo.Control().Init(sys.argv[2])",
                 os.path.join(BIN, "..", "python"), os.path.join(BIN, "quillo")])
    if probe.returncode != 0:
        lines = probe.stderr.strip().splitlines()
        raise unittest.SkipTest("the Python module quillo is not built in build/python" +
                                (f" ({lines[-1]})" if lines else ""))


def require_tools(*names):
    for name in names:
        if not shutil.which(name):
            raise unittest.SkipTest(f"{name} is not installed")


def wait_for(predicate, timeout=60, step=0.2):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


# ---- Pictures -------------------------------------------------------------------------------


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise AssertionError(f"{path} is not a PNG file")
    return struct.unpack(">II", head[16:24])


def jpeg_size(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"\xff\xd8":
        raise AssertionError(f"{path} is not a JPEG file")
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            raise AssertionError(f"{path}: broken JPEG marker at {i}")
        marker = data[i + 1]
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height, width = struct.unpack(">HH", data[i + 5:i + 9])
            return width, height
        i += 2 + length
    raise AssertionError(f"{path}: no frame header")


def wmf_size(path, density=96):
    """The size a placeable metafile declares, in pixels at `density` per inch."""
    with open(path, "rb") as f:
        head = f.read(16)
    key, _, left, top, right, bottom, inch = struct.unpack("<IHhhhhH", head)
    if key != 0x9AC6CDD7 or inch == 0:
        return None
    return (right - left) * density / inch, (bottom - top) * density / inch


def emf_size(path):
    """The bounds an enhanced metafile declares, in device pixels."""
    with open(path, "rb") as f:
        head = f.read(24)
    left, top, right, bottom = struct.unpack("<4i", head[8:24])
    return right - left, bottom - top


def write_bmp(path, width, height, bits=24, top_down=False):
    """A BMP with a red first row (top row as shown) and blue elsewhere."""
    rows = []
    for y in range(height):
        red = (y == 0)
        if bits == 24:
            pixel = b"\x00\x00\xff" if red else b"\xff\x00\x00"
            row = pixel * width
        elif bits == 32:
            row = (b"\x00\x00\xff\xff" if red else b"\xff\x00\x00\xff") * width
        else:  # 8 bits: palette index 1 red, 2 blue
            row = bytes([1 if red else 2]) * width
        row += b"\x00" * ((4 - len(row) % 4) % 4)
        rows.append(row)
    if not top_down:
        rows.reverse()
    palette = b""
    if bits == 8:
        palette = b"\x00\x00\x00\x00" + b"\x00\x00\xff\x00" + b"\xff\x00\x00\x00" + \
            b"\x00\x00\x00\x00" * 253
    pixels = b"".join(rows)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits, 0,
                       len(pixels), 2835, 2835, 256 if bits == 8 else 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


def pixel_colour(path, x, y):
    """The colour of one pixel as ImageMagick reports it ("srgb(255,0,0)")."""
    result = run(["convert", path, "-format", f"%[pixel:p{{{x},{y}}}]", "info:"])
    return result.stdout.strip()


# ---- An X display for the forms -------------------------------------------------------------


@contextlib.contextmanager
def x_display():
    """Starts Xvfb on a free display number and yields its name (":N")."""
    require_tools("Xvfb", "xdotool", "import")
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                               "1280x800x24", "-nolisten", "tcp"],
                              pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            raise unittest.SkipTest("Xvfb did not start")
        yield ":" + number
    finally:
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


def find_window(display, title, timeout=60):
    """The X window id of the first window whose name holds `title`, or None."""
    env = dict(os.environ, DISPLAY=display)

    def search():
        result = subprocess.run(["xdotool", "search", "--name", title], env=env,
                                capture_output=True, text=True, stdin=subprocess.DEVNULL)
        ids = result.stdout.split()
        return ids[0] if ids else None
    return wait_for(search, timeout)


def press(display, window, keys):
    """Gives the window the keyboard focus and presses `keys` ("alt+t")."""
    env = dict(os.environ, DISPLAY=display)
    subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, timeout=30,
                   stdin=subprocess.DEVNULL, capture_output=True)
    subprocess.run(["xdotool", "key", "--clearmodifiers", keys], env=env, timeout=30,
                   stdin=subprocess.DEVNULL, capture_output=True)


def screenshot(display, name):
    """Photographs the whole screen into SCREENSHOTS/name.png and returns the path."""
    os.makedirs(SCREENSHOTS, exist_ok=True)
    path = os.path.join(SCREENSHOTS, name + ".png")
    subprocess.run(["import", "-display", display, "-window", "root", path], timeout=60,
                   stdin=subprocess.DEVNULL, capture_output=True, check=True)
    return path


class TempDir(unittest.TestCase):
    """A test case with a fresh folder `self.tmp`, removed afterwards."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quillo-samples.")
        self.addCleanup(shutil.rmtree, self.tmp, True)
