"""The worker's side of quillo.batch: the task a Dask worker runs and the conversion process
(quillo._batch_child) each worker thread converts in.

A task is a list of documents; convert_task converts them in order in this thread's conversion
process and returns one record per document. A document that crashes or hangs that process
costs that document only: the process is stopped and the rest of the task goes to a new one.
The client's side (finding the documents, giving out tasks, the report) is quillo.batch.
"""

from __future__ import annotations

import atexit
import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time
from typing import List, Optional

from . import _batch_child

# Seconds a worker waits for its conversion process to start (it imports quillo).
CHILD_START_TIMEOUT = 120.0


# ---- How a document is given to the engine --------------------------------------------------


def engine_input_name(path: str) -> str:
    """`path` as the engine's input word. The engine lists a name holding '*' or '?' as a
    pattern; escaped, the pattern matches this one file only."""
    if not any(c in path for c in "*?"):
        return path
    return "".join("\\" + c if c in "\\*?[" else c for c in path)


def output_words(name: str) -> List[str]:
    """Option words that make `name` the output file name. An output name given as an option is
    a literal file name: "$...;" in it is never run as expansion code."""
    return ["-DOutFileName=" + name]


# ---- Worker side: the conversion process ------------------------------------------------------


class ConversionProcess:
    """A quillo._batch_child process and the pipes to it. Used by one thread at a time."""

    def __init__(self) -> None:
        self.process: Optional[subprocess.Popen] = None
        self.errors: Optional[int] = None  # its standard error: an unlinked file
        self.pending = bytearray()  # bytes read from the process beyond the last reply

    def start(self) -> None:
        import quillo

        package_parent = os.path.dirname(os.path.dirname(os.path.abspath(quillo.__file__)))
        environment = dict(os.environ)
        environment["PYTHONPATH"] = os.pathsep.join(
            [package_parent] + [p for p in environment.get("PYTHONPATH", "").split(os.pathsep) if p]
        )
        handle, name = tempfile.mkstemp(prefix="quillo-batch-", suffix=".err")
        os.close(handle)
        self.errors = os.open(name, os.O_RDWR | os.O_APPEND)
        os.unlink(name)
        self.process = subprocess.Popen(
            [sys.executable, "-m", "quillo._batch_child", str(os.getpid())],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=self.errors,
            env=environment,
            bufsize=0,
            close_fds=True,
            # Its own process group: a timeout kills the scripts a translation file started too.
            start_new_session=True,
        )
        ready = self._receive(time.monotonic() + CHILD_START_TIMEOUT)
        if not isinstance(ready, dict) or not ready.get("ready"):
            detail = ready.get("error") if isinstance(ready, dict) else self._error_tail()
            self.stop()
            raise RuntimeError(f"the conversion process did not start: {detail or 'no reply'}")

    def stop(self) -> None:
        if self.process is not None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except OSError:
                pass
            self.process.wait()
            for stream in (self.process.stdin, self.process.stdout):
                try:
                    stream.close()
                except OSError:
                    pass
            self.process = None
        self.pending.clear()
        if self.errors is not None:
            os.close(self.errors)
            self.errors = None

    def _error_tail(self, limit: int = 2000) -> str:
        """The last lines the process wrote to standard error (for crash reports)."""
        if self.errors is None:
            return ""
        size = os.fstat(self.errors).st_size
        data = os.pread(self.errors, limit, max(0, size - limit))
        return data.decode("utf-8", "replace").strip()

    def _read(self, size: int, deadline: float) -> object:
        """`size` bytes from the process; "timeout" when the deadline passed first, None when
        the process closed its output (it ended). Reads what is there (a reply's header and
        body mostly arrive together) and keeps the rest for the next call."""
        assert self.process is not None
        stream = self.process.stdout
        while len(self.pending) < size:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return "timeout"
            ready, _, _ = select.select([stream], [], [], remaining)
            if not ready:
                continue
            chunk = os.read(stream.fileno(), max(size - len(self.pending), 65536))
            if not chunk:
                return None
            self.pending += chunk
        data = bytes(self.pending[:size])
        del self.pending[:size]
        return data

    def _receive(self, deadline: float) -> object:
        """The next reply (a dict); "timeout" or None as for _read."""
        header = self._read(_batch_child._LENGTH.size, deadline)
        if not isinstance(header, bytes):
            return header
        (size,) = _batch_child._LENGTH.unpack(header)
        body = self._read(size, deadline)
        return json.loads(body) if isinstance(body, bytes) else body

    def _send(self, message: dict) -> bool:
        assert self.process is not None
        data = json.dumps(message).encode("ascii")
        view = memoryview(_batch_child._LENGTH.pack(len(data)) + data)
        try:
            while view:
                written = os.write(self.process.stdin.fileno(), view)
                view = view[written:]
        except OSError:
            return False  # the process is gone; its end is read next
        return True

    def convert(self, request: dict, timeout: float) -> dict:
        """The child's reply to `request`; on a timeout or a crash a reply with "failure"."""
        if self.process is None:
            self.start()
        assert self.process is not None
        os.ftruncate(self.errors, 0)
        reply = self._receive(time.monotonic() + timeout) if self._send(request) else None
        if isinstance(reply, dict):
            return reply
        return self._failure(reply, timeout)

    def convert_documents(self, task: dict, documents: List[dict]) -> List[dict]:
        """Converts `documents` (each with its "request") in order; their records. When the
        process crashes or a conversion runs out of time, the records end with that document's
        failure and the process is stopped: the caller gives the rest to a new one."""
        if self.process is None:
            self.start()
        assert self.process is not None
        os.ftruncate(self.errors, 0)
        request = {"task": {key: task[key] for key in ("run", "started_ns")},
                   "documents": documents}
        sent = self._send(request)
        records = []
        for document in documents:
            started = time.perf_counter()
            reply = self._receive(time.monotonic() + task["timeout"]) if sent else None
            if isinstance(reply, dict):
                records.append(reply)
                continue
            failure = self._failure(reply, task["timeout"])
            records.append({"index": document["index"], "status": "failed",
                            "reason": failure["failure"], "error": failure["error"],
                            "seconds": time.perf_counter() - started, "messages": [],
                            "outputs": []})
            _batch_child.failed_marker(task["run"], document)
            break
        return records

    def _failure(self, reply: object, timeout: float) -> dict:
        """What became of a conversion that got no reply ("timeout", or None when the process
        ended); stops the process."""
        assert self.process is not None
        if reply == "timeout":
            self.stop()
            return {"failure": "timeout", "error": f"no result within the time limit of {timeout:g} s"}
        # The process ended: it crashed on this document.
        tail = self._error_tail()
        self.process.wait()
        code = self.process.returncode
        self.stop()
        if code is not None and code < 0:
            try:
                how = f"was killed by signal {-code} ({signal.Signals(-code).name})"
            except ValueError:
                how = f"was killed by signal {-code}"
        else:
            how = f"ended with status {code}"
        detail = f": {tail.splitlines()[-1]}" if tail else ""
        return {"failure": "crash", "error": f"the conversion process {how}{detail}"}


_local = threading.local()
_all_processes: List[ConversionProcess] = []
_all_lock = threading.Lock()


def _conversion_process() -> ConversionProcess:
    """This thread's conversion process (started on first use)."""
    process = getattr(_local, "process", None)
    if process is None:
        process = _local.process = ConversionProcess()
        with _all_lock:
            _all_processes.append(process)
    return process


def _stop_all_processes() -> None:
    with _all_lock:
        for process in _all_processes:
            process.stop()


atexit.register(_stop_all_processes)


def _kill_all_processes() -> None:
    """Kills the conversion processes of this process's worker threads (a local cluster of
    threads) without waiting: each thread sees its process end and finishes its task at once,
    so an interrupted run need not wait for a long conversion before its cluster can close."""
    with _all_lock:
        processes = [p.process for p in _all_processes if p.process is not None]
    for process in processes:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except OSError:
            pass


# ---- Worker side: the task ------------------------------------------------------------------


def _worker_address() -> Optional[str]:
    try:
        from distributed import get_worker

        return get_worker().address
    except (ImportError, ValueError):
        return None


def start_conversion_process() -> int:
    """Runs on a worker before the documents are given out: starts this thread's conversion
    process, so that the import it costs is part of the cluster's start, not of the run. Its
    process id."""
    process = _conversion_process()
    if process.process is None:
        process.start()
    assert process.process is not None
    return process.process.pid


def convert_task(task: dict) -> List[dict]:
    """Runs on a worker: converts the documents of one task in order, one at a time, in this
    thread's conversion process. Returns one record per document."""
    process = _conversion_process()
    documents = [dict(document, request={
        "input": engine_input_name(document["input"]),
        "arguments": output_words(document["output_name"]) + task["words"],
        "cwd": task["cwd"],
    }) for document in task["documents"]]
    records: List[dict] = []
    while len(records) < len(documents):
        # A document that crashed or hung the process ends its part; the rest go to a new one.
        records += process.convert_documents(task, documents[len(records):])
    address = _worker_address()
    for record in records:
        record["worker"] = address
    return records


def convert_task_text(task: str) -> str:
    """convert_task for the cluster: the task and its records as JSON text. Dask walks the
    arguments of every task it is given, and measures every result it holds, item by item; a
    string it takes whole, so a task of many documents costs the client and the worker no more
    than a task of one."""
    return json.dumps(convert_task(json.loads(task)))
