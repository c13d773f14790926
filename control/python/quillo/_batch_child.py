"""The conversion process of a batch worker: converts one document at a time on request.

quillo.batch starts one of these per worker thread as ``python3 -m quillo._batch_child PID``
(PID: the worker process). Requests and replies are JSON objects, each preceded by its length
as 4 bytes big-endian, on this process's standard input and output. The engine's own writes to
standard output go to standard error instead, so that they can never corrupt a reply.

Running each conversion in a process of its own keeps the worker alive when a document crashes
or hangs the engine: the worker kills this process and starts a new one. The engine is
process-wide, so one process converts one document at a time.

Only the standard library and quillo are imported here (not Dask): the process starts fast.
"""

from __future__ import annotations

import ctypes
import json
import os
import signal
import struct
import sys
import time
from typing import BinaryIO, Optional

_LENGTH = struct.Struct(">I")
# A reply or request larger than this is a fault of the other side, not data to buffer.
_MAX_MESSAGE = 256 * 1024 * 1024


def send(stream: BinaryIO, message: dict) -> None:
    data = json.dumps(message).encode("ascii")
    stream.write(_LENGTH.pack(len(data)) + data)
    stream.flush()


def _read_exactly(stream: BinaryIO, size: int) -> Optional[bytes]:
    chunks = []
    while size:
        chunk = stream.read(size)
        if not chunk:
            return None
        chunks.append(chunk)
        size -= len(chunk)
    return b"".join(chunks)


def receive(stream: BinaryIO) -> Optional[dict]:
    """The next message, or None at the end of the stream (the worker went away)."""
    header = _read_exactly(stream, _LENGTH.size)
    if header is None:
        return None
    (size,) = _LENGTH.unpack(header)
    if size > _MAX_MESSAGE:
        return None
    data = _read_exactly(stream, size)
    return None if data is None else json.loads(data)


def _die_with_parent(parent: int) -> None:
    """Asks the kernel to kill this process when the worker thread that started it ends, so a
    conversion that hangs cannot outlive a worker that was killed (Linux only; elsewhere the
    end of standard input still stops an idle process)."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        PR_SET_PDEATHSIG = 1
        libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    except (OSError, AttributeError):
        pass
    if parent and os.getppid() != parent:
        os._exit(0)  # the worker ended before the request to be killed with it was made


# ---- Test-only hooks --------------------------------------------------------------------------
# QUILLO_BATCH_TEST_HOOK lets the batch module's tests stand in for documents that crash or hang
# the engine (no real document may do either). Entries are separated by ';': "crash=NAME" aborts
# this process when it is asked to convert the file NAME (base name), "sleep=NAME:SECONDS" sleeps
# first. Not for use outside the tests.


def hook_entries() -> list:
    """The (action, argument) entries of QUILLO_BATCH_TEST_HOOK; none outside the tests."""
    hooks = os.environ.get("QUILLO_BATCH_TEST_HOOK")
    if not hooks:
        return []
    return [(action, argument) for action, _, argument in
            (entry.partition("=") for entry in hooks.split(";"))]


def _test_hook(input_path: str) -> None:
    name = os.path.basename(input_path)
    for action, argument in hook_entries():
        target, _, value = argument.partition(":")
        if target != name:
            continue
        if action == "crash":
            os.abort()
        if action == "sleep":
            time.sleep(float(value or 0))


def convert(request: dict) -> dict:
    import quillo

    _test_hook(request["input"])
    if request.get("cwd"):
        os.chdir(request["cwd"])
    control = quillo.Control()
    control.arguments = list(request["arguments"])
    started = time.perf_counter()
    status = control.ConvertRTF(request["input"])
    seconds = time.perf_counter() - started
    return {
        "status": status,
        "seconds": seconds,
        "messages": [message._asdict() for message in control.messages],
        "created": list(control.created_files),
        "outfile": control.ExpandString("$OutFileName;"),
        "log": control.ExpandString("$LogFileUsed;"),
    }


def main(argv: list) -> int:
    parent = int(argv[1]) if len(argv) > 1 else 0
    _die_with_parent(parent)
    # Terminal signals are for the batch client and its workers; this process ends with its
    # worker (end of input, or the kill above).
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    requests = os.fdopen(os.dup(0), "rb", buffering=0)
    replies = os.fdopen(os.dup(1), "wb", buffering=0)
    devnull = os.open(os.devnull, os.O_RDONLY)
    os.dup2(devnull, 0)
    os.close(devnull)
    os.dup2(2, 1)
    sys.stdout = sys.stderr
    try:
        import quillo
    except Exception as error:  # noqa: BLE001 - the worker reports it
        send(replies, {"ready": False, "error": f"cannot import quillo: {error}"})
        return 1
    send(replies, {"ready": True, "pid": os.getpid(), "version": quillo.__version__})
    while True:
        request = receive(requests)
        if request is None:
            return 0
        try:
            reply = convert(request)
        except Exception as error:  # noqa: BLE001 - a bad request is answered, not fatal
            reply = {"error": f"{type(error).__name__}: {error}"}
        send(replies, reply)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
