"""The conversion process of a batch worker: converts one document at a time on request.

quillo.batch starts one of these per worker thread as ``python3 -m quillo._batch_child PID``
(PID: the worker process). Requests and replies are JSON objects, each preceded by its length
as 4 bytes big-endian, on this process's standard input and output. The engine's own writes to
standard output go to standard error instead, so that they can never corrupt a reply.

Two requests: one conversion ({"input", "arguments", "cwd"}, answered by one reply), and a task
({"task", "documents"}), whose documents are converted in order, each answered by its report
record as soon as it is done. A task's documents go over in one request so that a worker does
not wake up twice per document: on a machine whose cores all convert, the time a worker spends
between two conversions is time no conversion runs. When this process dies or hangs, the worker
takes the first document without a record for the one that did it.

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
# the engine or kill its worker (no real document may do either). Entries are separated by ';':
# "crash=NAME" aborts this process when it is asked to convert the file NAME (base name),
# "sleep=NAME:SECONDS" sleeps first, "kill-worker=NAME" kills the worker process before NAME of a
# task is converted (a document that kills every worker it is given), "journal=PATH" appends
# "start NAME PID" and "done NAME PID" lines to PATH around each conversion of a task (PID: the
# worker's). Not for use outside the tests.


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


def _task_hook(stage: str, input_path: str, worker: int) -> None:
    name = os.path.basename(input_path)
    for action, argument in hook_entries():
        if action == "journal":
            with open(argument, "a", encoding="utf-8") as journal:
                journal.write(f"{stage} {name} {worker}\n")
        elif action == "kill-worker" and stage == "start" and argument == name:
            os.kill(worker, signal.SIGKILL)
            time.sleep(60)  # ended with the worker (see _die_with_parent)


# ---- Markers ----------------------------------------------------------------------------------
# While a document is converted, a marker ".NAME.quillo-partial" sits beside its output (see
# quillo.batch): one "converting RUN PID" line per attempt, kept when the worker dies, so that
# the client can count the attempts of a run.


def mtime_ns(path: str) -> Optional[int]:
    try:
        return os.stat(path).st_mtime_ns
    except OSError:
        return None


def _append(path: str, text: str) -> None:
    """Appends `text` to the file `path`, creating it and its folder when missing."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_APPEND | os.O_CLOEXEC
    try:
        handle = os.open(path, flags, 0o666)
    except FileNotFoundError:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        handle = os.open(path, flags, 0o666)
    try:
        os.write(handle, text.encode("utf-8"))
    finally:
        os.close(handle)


def failed_marker(run: str, document: dict) -> None:
    """After a failure the marker stays only where a main output exists (half written, or
    from an earlier run): it must not be taken for the result of this document."""
    try:
        if os.path.lexists(document["expected"]):
            with open(document["marker"], "w", encoding="utf-8") as stamp:
                stamp.write(f"failed {run}\n")
        else:
            os.unlink(document["marker"])
    except OSError:
        pass


def failure_text(reply: dict) -> str:
    messages = reply["messages"]
    reasons = [m for m in messages if m["action"] != "message"] or messages
    if reasons:
        return f"{reasons[-1]['code']}: {reasons[-1]['text']}"
    return f"the conversion failed (status {reply['status']})"


# ---- Conversions ------------------------------------------------------------------------------


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


def convert_document(task: dict, document: dict, worker: int) -> dict:
    """Converts one document of a task; its report record."""
    record: dict = {"index": document["index"]}
    expected, marker = document["expected"], document["marker"]
    # Converted already in this run, by an earlier attempt of this task whose worker was lost
    # before it could report: the output is newer than both the run's start and the document,
    # and no marker says the conversion stopped half way.
    output_time = mtime_ns(expected)
    if (
        output_time is not None
        and output_time >= task["started_ns"]
        and output_time > document["mtime_ns"]
        and not os.path.lexists(marker)
    ):
        record.update(status="converted", outputs=[expected], messages=[], seconds=0.0,
                      note="converted by an earlier attempt whose worker was lost")
        return record
    try:
        # One line per attempt, kept when the worker dies: the client counts the attempts of
        # this run to tell the document that kills its workers from those merely queued beside it.
        _append(marker, f"converting {task['run']} {worker}\n")
    except OSError as error:
        record.update(status="failed", reason="error", seconds=0.0, messages=[], outputs=[],
                      error=f"cannot write into {os.path.dirname(marker)}: {error.strerror}")
        return record
    _task_hook("start", document["request"]["input"], worker)
    started = time.perf_counter()
    try:
        reply = convert(document["request"])
    except Exception as error:  # noqa: BLE001 - reported as this document's failure
        record.update(status="failed", reason="error", error=f"{type(error).__name__}: {error}",
                      seconds=time.perf_counter() - started, messages=[], outputs=[])
        failed_marker(task["run"], document)
        return record
    record.update(seconds=reply["seconds"], messages=reply["messages"], outputs=reply["created"],
                  engine_status=reply["status"], log=reply["log"] or None)
    if reply["outfile"]:
        record["main_output"] = reply["outfile"]
    if reply["status"] == 0:
        record["status"] = "converted"
        try:
            os.unlink(marker)
        except OSError:
            pass
        _task_hook("done", document["request"]["input"], worker)
    else:
        record.update(status="failed", reason="conversion", error=failure_text(reply))
        failed_marker(task["run"], document)
    return record


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
        if "documents" in request:
            for document in request["documents"]:
                send(replies, convert_document(request["task"], document, parent or os.getppid()))
            continue
        try:
            reply = convert(request)
        except Exception as error:  # noqa: BLE001 - a bad request is answered, not fatal
            reply = {"error": f"{type(error).__name__}: {error}"}
        send(replies, reply)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
