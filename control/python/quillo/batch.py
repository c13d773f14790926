"""Converts every RTF document under a folder, on a Dask cluster.

    python3 -m quillo.batch SOURCE DEST [--scheduler ADDRESS | --local N [--worker-processes]]
                            [--keep-going]
                            [--report FILE.json] [--timeout S] [--retries N]
                            [-D NAME=VALUE ...] [--trn FILE]

Each file under SOURCE whose name ends in .rtf (any case) is converted into the same relative
path under DEST: SOURCE/a/b.rtf gives DEST/a/b.html (and its pictures, split pages and error
file beside it), as quillocmd would write them beside the input. The conversions run on the
workers of a Dask distributed scheduler: one given with --scheduler, or a local cluster of N
workers (--local N, the default with N the number of cores). A local cluster's workers are
threads of this process that talk to its scheduler in memory, since every conversion runs in a
process of its own anyway (below): worker processes would only add their own work to the cores
that convert. --worker-processes makes them processes bound to 127.0.0.1 instead, each watched
by a nanny that restarts it when it dies.
SOURCE, DEST and the translation file must be reachable under the same paths from this
machine and from every worker (a shared file system, or an object store mounted on each).

How a document is converted. A worker converts in a process of its own (quillo._batch_child),
one per worker thread, which converts one document at a time: the engine is process-wide, and a
document that crashes or hangs the engine then costs that process only. A conversion that runs
longer than --timeout is killed and reported as failed. A worker that dies is replaced, and Dask
runs its task again elsewhere; a task whose workers died more than --retries times is reported
as failed instead of being tried forever (with --scheduler, the scheduler's own
distributed.scheduler.allowed-failures setting decides that).

Tasks. Small documents are grouped into tasks of several documents (--chunk), since a Dask task
costs about a millisecond of scheduler time: one per document would make the scheduler the
bottleneck of a large cluster. When the scheduler gives up on a task because its workers died,
the documents' markers (below) tell which one was being converted each time: it is reported as
failed, the others of the task (or merely queued behind it on the same worker) are given out
again, one per task.

Resuming. A document whose main output is newer than the document (and than the translation
file) is skipped. While a document is being converted, a marker file ".NAME.quillo-partial"
sits beside its output; it is removed when the conversion succeeds, so outputs left half
written by an interrupted run are never taken for finished ones. --force converts everything.

Two documents that would write the same output (a.rtf and a.RTF, or any two with a
-D OutFileName) are both reported as failed and neither is converted; two conversions that
turn out to have written the same file are both reported.

Exit status: 0 when every document was converted or skipped, 1 when any failed (or the run
stopped early), 2 when the run could not start, 130 when interrupted.
"""

from __future__ import annotations

import argparse
import collections
import dataclasses
import importlib.util
import json
import logging
import math
import os
import signal
import sys
import tempfile
import time
import uuid
from typing import Dict, List, Optional, Sequence, Tuple

from . import _batch_child
from ._batch_files import (  # noqa: F401 - used here and by the tests
    MARKER_SUFFIX,
    Document,
    attempts_started,
    find_documents,
    is_up_to_date,
    marker_path,
    mtime_ns,
    output_base,
)
from ._batch_progress import Progress
from ._batch_worker import (  # noqa: F401 - the worker's side, used here and by the tests
    CHILD_START_TIMEOUT,
    ConversionProcess,
    _kill_all_processes,
    _stop_all_processes,
    convert_task,
    convert_task_text,
    engine_input_name,
    output_words,
    start_conversion_process,
)

PROGRAM = "quillo.batch"
DEFAULT_TIMEOUT = 300.0
DEFAULT_RETRIES = 2
# A task holds at most this many documents and this many bytes of input: enough to make the
# scheduler's cost per task small beside the conversions (on a local cluster its event loop
# shares the cores that convert), few enough that progress moves and the work spreads over
# every worker.
CHUNK_DOCUMENTS = 128
CHUNK_BYTES = 8 * 1024 * 1024
# Documents waiting for a worker, in tasks: a few per worker thread keep every worker busy while
# results travel back, and make stopping after a failure quick.
TASKS_PER_THREAD = 3
# Times a document whose workers died while it waited behind another is given out again.
MAX_REQUEUES = 3
# A document small enough to convert with any translation file: tried once before the run, so
# that a missing translation file or a bad setting fails the run at once, not every document.
PROBE_RTF = b"{\\rtf1\\ansi Quillo batch probe.\\par}"


class UsageError(Exception):
    """The run cannot start (bad arguments, unreachable scheduler, failing translation file)."""


# ---- Options -------------------------------------------------------------------------------


def parse_definition(text: str) -> Tuple[str, str]:
    """NAME=VALUE as quillocmd's -D reads it: the first '=' splits; a bare NAME means "1"."""
    name, equals, value = text.partition("=")
    if not name.strip():
        raise UsageError(f"-D {text!r}: the setting has no name")
    return name, value if equals else "1"


# ---- Client side: the run -------------------------------------------------------------------


@dataclasses.dataclass
class Options:
    source: str
    dest: str
    scheduler: Optional[str] = None
    local: Optional[int] = None
    worker_processes: bool = False
    keep_going: bool = False
    report: Optional[str] = None
    timeout: float = DEFAULT_TIMEOUT
    retries: int = DEFAULT_RETRIES
    definitions: List[Tuple[str, str]] = dataclasses.field(default_factory=list)
    trn: Optional[str] = None
    chunk: Optional[int] = None
    force: bool = False
    quiet: bool = False


class Run:
    """One batch run: the plan, the records as they arrive, the summary and the report."""

    def __init__(self, options: Options) -> None:
        self.options = options
        self.source = os.path.abspath(options.source)
        self.dest = os.path.abspath(options.dest)
        self.id = uuid.uuid4().hex
        self.documents: List[Document] = []
        self.words: List[str] = []
        self.trn_path: Optional[str] = None
        self.extension = "html"
        self.started = time.time()
        self.started_ns = 0
        self.owners: Dict[str, int] = {}  # file written -> index of the document that wrote it
        self.stopped: Optional[str] = None
        self.progress: Optional[Progress] = None
        self.startup_seconds = 0.0  # connecting to the scheduler, or starting the local cluster
        self.convert_seconds = 0.0  # from then until the last result arrived

    # -- planning --

    def prepare(self) -> None:
        options = self.options
        if not os.path.exists(self.source):
            raise UsageError(f"{options.source}: no such file or folder")
        if options.timeout <= 0:
            raise UsageError("--timeout must be positive")
        if options.retries < 0:
            raise UsageError("--retries must be 0 or more")
        try:
            os.makedirs(self.dest, exist_ok=True)
        except OSError as error:
            raise UsageError(f"cannot create {options.dest}: {error.strerror}") from None
        out_name = None
        self.words = []
        if options.trn:
            self.words.append("-DTrnFile=" + options.trn)
        for name, value in options.definitions:
            if name.lower() == "outfilename":
                out_name = value
                continue
            self.words.append(f"-D{name}={value}")
        # A translation file named relative to the current folder is meant (the engine would
        # look for a relative name in its library folders only); its time counts for resuming.
        for position, word in enumerate(self.words):
            if word.lower().startswith("-dtrnfile="):
                name = word[len("-DTrnFile="):]
                if os.path.isfile(name):
                    self.trn_path = os.path.abspath(name)
                    self.words[position] = word[: len("-DTrnFile=")] + self.trn_path
                break
        self.extension = self.probe()
        # The run's start as the destination's file system tells time, to know on a worker
        # which outputs an earlier attempt of the same task wrote.
        handle, name = tempfile.mkstemp(prefix=".quillo-batch-", dir=self.dest)
        try:
            self.started_ns = os.fstat(handle).st_mtime_ns
        finally:
            os.close(handle)
            os.unlink(name)
        for index, (relative, path, info) in enumerate(find_documents(self.source, self.dest)):
            if out_name is not None:
                # Every document into the one name (a conflict unless there is one document).
                output_name = os.path.join(self.dest, out_name)
                stem, extension = os.path.splitext(output_name)
                base = stem if extension else output_name
                expected = output_name if extension else output_name + "." + self.extension
            else:
                base = os.path.join(self.dest, output_base(relative))
                output_name = base + ".html"
                expected = base + "." + self.extension
            self.documents.append(Document(index, relative, os.path.abspath(path), info.st_size,
                                           info.st_mtime_ns, base, output_name, expected))

    def probe(self) -> str:
        """Converts a tiny document with the run's translation file and settings in a scratch
        folder; returns the extension of the main output. Raises UsageError when it fails."""
        process = ConversionProcess()
        with tempfile.TemporaryDirectory(prefix="quillo-batch-probe-") as scratch:
            document = os.path.join(scratch, "probe.rtf")
            with open(document, "wb") as out:
                out.write(PROBE_RTF)
            request = {
                "input": document,
                "arguments": output_words(os.path.join(scratch, "probe.html")) + self.words,
                "cwd": scratch,
            }
            try:
                reply = process.convert(request, max(self.options.timeout, CHILD_START_TIMEOUT))
            except RuntimeError as error:
                raise UsageError(str(error)) from None
            finally:
                process.stop()
        if "failure" in reply or "error" in reply:
            raise UsageError(f"a test conversion failed: {reply['error']}")
        if reply["status"] != 0:
            raise UsageError("a test conversion with these settings failed: "
                             + _batch_child.failure_text(reply))
        extension = os.path.splitext(reply["outfile"])[1][1:]
        return extension or "html"

    def settle(self, document: Document, record: dict) -> None:
        """Records what became of a document and counts it."""
        record.setdefault("messages", [])
        record.setdefault("outputs", [])
        document.record = record
        status = record["status"]
        if self.progress:
            self.progress.count(status)
            if status == "failed":
                self.progress.say(f"{document.relative}: {record.get('error', 'failed')}")

    def check_conflicts(self) -> None:
        """Documents that map to the same output are failed before anything runs."""
        by_base: Dict[str, List[Document]] = {}
        for document in self.documents:
            by_base.setdefault(document.base, []).append(document)
        for base, group in by_base.items():
            if len(group) < 2:
                continue
            for document in group:
                others = ", ".join(d.relative for d in group if d is not document)
                self.settle(document, {
                    "status": "failed", "reason": "conflict", "seconds": 0.0,
                    "error": f"{self._shown(base)}.*: the same output as {others}",
                })

    def check_written(self, document: Document) -> None:
        """A file written by two documents of this run: both are reported, and their markers
        put back so that a later run does not take either output for finished."""
        record = document.record
        log = record.get("log")
        for name in record.get("outputs", []):
            path = os.path.join(self.options.dest, name) if not os.path.isabs(name) else name
            path = os.path.normpath(path)
            if log and os.path.normpath(log) == path:
                continue  # a log file is shared by design: each conversion appends to it
            owner = self.owners.setdefault(path, document.index)
            if owner == document.index:
                continue
            for index, other in ((document.index, owner), (owner, document.index)):
                victim = self.documents[index]
                if victim.record["status"] == "converted" and self.progress:
                    self.progress.uncount("converted")
                    self.progress.count("failed")
                victim.record.update(
                    status="failed", reason="conflict",
                    error=f"{self._shown(path)} was also written by "
                          f"{self.documents[other].relative}")
                try:
                    with open(marker_path(victim.base), "w", encoding="utf-8") as stamp:
                        stamp.write(f"conflict {self.id}\n")
                except OSError:
                    pass
            if self.progress:
                self.progress.say(f"{document.relative}: {document.record['error']}")

    def _shown(self, path: str) -> str:
        """`path` relative to the destination when it lies inside it, else as it is."""
        if os.path.isabs(path):
            # The common case without relpath's two getcwd calls: a thousand documents' report.
            path = os.path.normpath(path)
            if path.startswith(self.dest) and path[len(self.dest):len(self.dest) + 1] == os.sep:
                return path[len(self.dest) + 1:]
        relative = os.path.relpath(path, self.dest)
        return path if relative.startswith("..") else relative

    # -- the report --

    def entry(self, document: Document) -> dict:
        record = document.record or {"status": "not-run"}
        entry = {"input": document.relative, "status": record["status"]}
        for key in ("reason", "error", "note"):
            if record.get(key):
                entry[key] = record[key]
        main = record.get("main_output") or document.expected
        entry["output"] = self._shown(main)
        entry["outputs"] = [self._shown(name if os.path.isabs(name) else
                                        os.path.join(self.options.dest, name))
                            for name in record.get("outputs", [])]
        entry["messages"] = record.get("messages", [])
        entry["seconds"] = round(record.get("seconds", 0.0), 6)
        if record.get("engine_status") is not None:
            entry["engine_status"] = record["engine_status"]
        if record.get("worker"):
            entry["worker"] = record["worker"]
        return entry

    def summary(self) -> Dict[str, int]:
        counts = {"files": len(self.documents), "converted": 0, "skipped": 0, "failed": 0,
                  "not-run": 0}
        for document in self.documents:
            counts[(document.record or {"status": "not-run"})["status"]] += 1
        return counts

    def write_report(self, path: str, seconds: float, scheduler: str) -> None:
        head = {
            "program": PROGRAM,
            "version": _version(),
            "source": self.source,
            "dest": self.dest,
            "scheduler": scheduler,
            "settings": self.words,
            "started": time.strftime("%Y-%m-%dT%H:%M:%S%z", time.localtime(self.started)),
            "seconds": round(seconds, 3),
            "startup_seconds": round(self.startup_seconds, 3),
            "convert_seconds": round(self.convert_seconds, 3),
            "stopped": self.stopped,
            "summary": self.summary(),
        }
        text = json.dumps(head, indent=1)[:-2]  # without the closing brace
        lines = [json.dumps(self.entry(document)) for document in self.documents]
        text += ',\n "files": [\n' + ",\n".join(lines) + ("\n" if lines else "") + " ]\n}\n"
        folder = os.path.dirname(os.path.abspath(path))
        handle, scratch = tempfile.mkstemp(prefix=".report-", dir=folder)
        with os.fdopen(handle, "w", encoding="utf-8") as out:
            out.write(text)
        os.replace(scratch, path)


def _version() -> str:
    import quillo

    return quillo.__version__


def _next_task(pending: "collections.deque[Document]", threads: int,
               limit: Optional[int]) -> List[Document]:
    """Takes the next task's documents off the front of `pending`."""
    if limit:
        size = limit
    else:
        # A third of each worker thread's share of what is left, so that tasks shrink towards
        # the end and no worker idles while another works through a large last task.
        size = max(1, min(CHUNK_DOCUMENTS, math.ceil(len(pending) / (3 * max(threads, 1)))))
    taken, total = [], 0
    while pending and len(taken) < size:
        if taken and total + pending[0].size > CHUNK_BYTES:
            break
        document = pending.popleft()
        taken.append(document)
        total += document.size
    return taken


def _connect(options: Options):
    """A Dask client for the run, and the local cluster it owns (or None)."""
    from distributed import Client, LocalCluster

    if options.scheduler:
        try:
            if os.path.isfile(options.scheduler):
                client = Client(scheduler_file=options.scheduler, timeout="30s")
            else:
                client = Client(options.scheduler, timeout="30s")
        except OSError as error:
            raise UsageError(f"cannot reach the scheduler {options.scheduler}: {error}") from None
        return client, None
    workers = options.local or os.cpu_count() or 1
    if options.worker_processes:
        cluster = LocalCluster(
            n_workers=workers,
            threads_per_worker=1,
            processes=True,
            host="127.0.0.1",
            dashboard_address=None,
            silence_logs=logging.CRITICAL,
        )
    else:
        # Workers as threads of this process: the scheduler, the client and the workers share
        # one event loop and pass tasks and results in memory, with no port opened. What a
        # document can crash or hang is its conversion process, never the worker.
        cluster = LocalCluster(
            n_workers=workers,
            threads_per_worker=1,
            processes=False,
            dashboard_address=None,
            silence_logs=logging.CRITICAL,
        )
    try:
        return Client(cluster), cluster
    except BaseException:
        cluster.close()
        raise


def _cluster_config(options: Options) -> dict:
    """Dask settings for the whole run (they are read again when a worker is restarted)."""
    client = {
        # At every submit the client looks for the calling code's source to show on a dashboard
        # (reading and parsing files, searching every loaded module): a fifth of a second of the
        # client's time per hundred tasks, taken from the conversions. Every module is skipped,
        # so none is looked up.
        "distributed.diagnostics.computations.ignore-modules": [".*"],
    }
    if options.scheduler:
        return client  # the scheduler's own settings hold
    return client | {
        "distributed.scheduler.allowed-failures": options.retries,
        # Workers forked from a server process that has imported Dask once: a local cluster,
        # and each worker restarted after it died, starts in a fraction of the time that a
        # fresh interpreter per worker takes.
        "distributed.worker.multiprocessing-method": "forkserver",
        # The cores of the machine convert: Dask's own periodic work is kept small. Its
        # statistical profiler samples every worker thread a hundred times a second, and its
        # event-loop watchdog ticks fifty times a second in every process.
        "distributed.worker.profile.enabled": False,
        "distributed.admin.tick.interval": "200ms",
        "distributed.admin.system-monitor.interval": "2s",
        # Each nanny and worker measures its worker's memory ten times a second; the workers
        # hold little (documents are converted in child processes), so once a second will do.
        "distributed.worker.memory.monitor-interval": "1s",
        # The client hands out a few tasks per thread at a time and the scheduler queues the
        # rest: there is nothing to steal, and looking for it costs the scheduler a wake-up
        # ten times a second.
        "distributed.scheduler.work-stealing": False,
    }


def start_conversion_processes(run: Run, client) -> None:
    """Starts a conversion process on every worker thread of the cluster as it is now (workers
    that join later start theirs with their first task). A worker that cannot start one is
    left to fail its first task, where the reason is reported with the documents."""
    futures = []
    for address, threads in client.nthreads().items():
        for thread in range(threads):
            futures.append(client.submit(
                start_conversion_process, key=f"quillo-start-{address}-{thread}-{run.id[:8]}",
                workers=[address], allow_other_workers=False, pure=False))
    for future in futures:
        try:
            future.result(timeout=CHILD_START_TIMEOUT)
        except Exception:  # noqa: BLE001 - reported by the tasks that need the process
            pass
        future.release()


def execute(run: Run, client) -> None:
    """Gives out the documents as tasks and settles each as its result arrives."""
    from distributed import as_completed
    from distributed.scheduler import KilledWorker

    options = run.options
    pending = collections.deque(d for d in run.documents if d.record is None)
    # Worker threads of the cluster, looked up again now and then: workers may join or leave.
    threads = [1, 0.0]
    base_task = {
        "run": run.id,
        "started_ns": run.started_ns,
        "timeout": options.timeout,
        "cwd": run.dest,
        "words": run.words,
    }
    in_flight: Dict[str, List[Document]] = {}
    completed = as_completed(with_results=True, raise_errors=False)
    counter = [0]
    resubmitted: Dict[int, int] = collections.Counter()

    def submit(documents: List[Document]) -> None:
        task = dict(base_task)
        task["documents"] = [
            {"index": d.index, "input": d.source, "base": d.base, "output_name": d.output_name,
             "expected": d.expected, "marker": marker_path(d.base), "mtime_ns": d.mtime_ns}
            for d in documents
        ]
        counter[0] += 1
        key = f"quillo-convert-{counter[0]}-{run.id[:8]}"
        future = client.submit(convert_task_text, json.dumps(task), key=key, pure=False,
                               retries=options.retries)
        in_flight[future.key] = documents
        completed.add(future)

    def refill() -> None:
        if time.monotonic() - threads[1] > 5:
            found = sum(client.nthreads().values())
            if not found and not threads[1] and run.progress:
                run.progress.say("waiting for a worker to join the scheduler")
            threads[:] = [max(1, found), time.monotonic()]
        while pending and len(in_flight) < TASKS_PER_THREAD * threads[0] and not run.stopped:
            submit(_next_task(pending, threads[0], options.chunk))

    refill()
    try:
        for future, result in completed:
            documents = in_flight.pop(future.key)
            if future.status == "finished":
                by_index = {d.index: d for d in documents}
                for record in json.loads(result):
                    document = by_index[record.pop("index")]
                    run.settle(document, record)
                    run.check_written(document)
            elif future.status == "error" and isinstance(future.exception(), KilledWorker):
                # The scheduler blames every task a lost worker held, running or queued behind
                # the running one. The markers tell which documents were being converted when
                # the workers died: those are failed once they used up their retries; the others
                # (and those an earlier attempt finished) are given out again, one per task.
                last = future.exception().last_worker.address
                for document in documents:
                    deaths = attempts_started(marker_path(document.base), run.id)
                    resubmitted[document.index] += 1
                    if deaths > options.retries:
                        error = f"the workers converting it died {deaths} times (last {last})"
                    elif resubmitted[document.index] > MAX_REQUEUES:
                        error = f"the workers holding it died too often (last {last})"
                    elif run.stopped:
                        continue  # not given out again: reported as not run
                    else:
                        submit([document])
                        continue
                    run.settle(document, {"status": "failed", "reason": "worker-lost",
                                          "seconds": 0.0, "error": error})
            else:
                error = future.exception() if future.status == "error" else "cancelled"
                for document in documents:
                    run.settle(document, {"status": "failed", "reason": "error", "seconds": 0.0,
                                          "error": f"the task failed: {error}"})
            future.release()
            if not options.keep_going and not run.stopped and any(
                    d.record and d.record["status"] == "failed" for d in documents):
                run.stopped = "a document failed (no --keep-going)"
                if in_flight and run.progress:
                    run.progress.say(f"stopping: waiting for {len(in_flight)} running task(s)")
            refill()
    except KeyboardInterrupt:
        run.stopped = "interrupted"
        client.cancel([f for f in completed.futures])
        raise


def run_batch(options: Options) -> int:
    started = time.monotonic()
    run = Run(options)
    run.prepare()
    run.progress = Progress(len(run.documents), options.quiet)
    run.check_conflicts()
    if any(d.record for d in run.documents) and not options.keep_going:
        run.stopped = "documents map to the same output (no --keep-going)"
    trn_time = (mtime_ns(run.trn_path) or 0) if run.trn_path else 0
    for document in run.documents:
        if document.record is None and not options.force and is_up_to_date(
                document.mtime_ns, document.expected, marker_path(document.base), trn_time):
            run.settle(document, {"status": "skipped", "seconds": 0.0,
                                  "note": "its output is newer than the document"})
    scheduler = options.scheduler or (
        f"local cluster of {options.local or os.cpu_count() or 1} worker "
        f"{'processes' if options.worker_processes else 'threads'}")
    interrupted = False
    if not run.stopped and any(d.record is None for d in run.documents):
        import dask

        client = cluster = None
        with dask.config.set(_cluster_config(options)):
            try:
                connecting = time.monotonic()
                client, cluster = _connect(options)
                start_conversion_processes(run, client)
                run.startup_seconds = time.monotonic() - connecting
                if options.scheduler:
                    scheduler = client.scheduler.address
                run.progress.restart()
                executing = time.monotonic()
                try:
                    execute(run, client)
                finally:
                    run.convert_seconds = time.monotonic() - executing
            except KeyboardInterrupt:
                interrupted = True
                _kill_all_processes()
            finally:
                if client is not None:
                    client.close()
                if cluster is not None:
                    cluster.close()
    run.progress.finish()
    seconds = time.monotonic() - started
    if options.report:
        run.write_report(options.report, seconds, scheduler)
    counts = run.summary()
    rate = counts["converted"] / seconds if seconds > 0 else 0.0
    text = (f"{PROGRAM}: {counts['files']} files: {counts['converted']} converted, "
            f"{counts['skipped']} skipped, {counts['failed']} failed")
    if counts["not-run"]:
        text += f", {counts['not-run']} not run"
    text += f" in {seconds:.1f} s ({rate:.1f} files/s)"
    if run.stopped:
        text += f"; stopped: {run.stopped}"
    print(text, flush=True)
    if interrupted:
        return 130
    return 1 if counts["failed"] or counts["not-run"] else 0


# ---- Command line ---------------------------------------------------------------------------


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=f"python3 -m {PROGRAM}",
        description="Converts every RTF document under SOURCE into the same relative path "
        "under DEST, on a Dask cluster.",
        epilog="SOURCE, DEST and the translation file must have the same paths on every "
        "worker. Exit status: 0 all converted or skipped, 1 a document failed, 2 the run "
        "could not start.",
    )
    parser.add_argument("source", metavar="SOURCE", help="folder of RTF documents (or one file)")
    parser.add_argument("dest", metavar="DEST", help="folder that receives the pages")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="a running Dask scheduler (tcp://host:8786) or its scheduler file")
    where.add_argument("--local", metavar="N", type=int,
                       help="start a local cluster of N workers (default: one per core)")
    parser.add_argument("--worker-processes", action="store_true",
                        help="with a local cluster: run each worker in a process of its own on "
                        "127.0.0.1, restarted when it dies (default: threads of this process; "
                        "documents are converted in processes of their own either way)")
    parser.add_argument("-k", "--keep-going", action="store_true",
                        help="convert all it can, exit 1 if any failed (default: stop at the "
                        "first failure)")
    parser.add_argument("--report", metavar="FILE.json", help="write a JSON report of every file")
    parser.add_argument("--timeout", metavar="S", type=float, default=DEFAULT_TIMEOUT,
                        help=f"seconds one document may take (default {DEFAULT_TIMEOUT:g})")
    parser.add_argument("--retries", metavar="N", type=int, default=DEFAULT_RETRIES,
                        help="times a task is run again after its worker died or it raised "
                        f"(default {DEFAULT_RETRIES})")
    parser.add_argument("-D", dest="definitions", metavar="NAME=VALUE", action="append",
                        default=[], help="set a named setting for every conversion (as quillocmd -D)")
    parser.add_argument("--trn", metavar="FILE", help="translation file (default html.trn)")
    parser.add_argument("--chunk", metavar="N", type=int,
                        help=f"documents per task (default: up to {CHUNK_DOCUMENTS}, fewer for "
                        "large documents or short runs)")
    parser.add_argument("--force", action="store_true",
                        help="convert documents whose outputs are up to date too")
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress, only failures")
    parser.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    return parser


def _interrupt(signum, frame) -> None:
    raise KeyboardInterrupt


def main(argv: Optional[Sequence[str]] = None) -> int:
    # Terminated like interrupted: the report is written and a local cluster shut down.
    signal.signal(signal.SIGTERM, _interrupt)
    parser = _parser()
    arguments = parser.parse_args(argv)
    # Only looked for here (importing it costs a second): the run imports it once it needs it.
    if importlib.util.find_spec("distributed") is None:
        print(f"{PROGRAM}: Dask's distributed scheduler is not installed "
              "(Debian: apt-get install python3-distributed)", file=sys.stderr)
        return 2
    try:
        if arguments.local is not None and arguments.local < 1:
            raise UsageError("--local needs at least one worker")
        if arguments.worker_processes and arguments.scheduler:
            raise UsageError("--worker-processes is for a local cluster, not with --scheduler")
        if arguments.chunk is not None and arguments.chunk < 1:
            raise UsageError("--chunk needs at least one document per task")
        options = Options(
            source=arguments.source,
            dest=arguments.dest,
            scheduler=arguments.scheduler,
            local=arguments.local,
            worker_processes=arguments.worker_processes,
            keep_going=arguments.keep_going,
            report=arguments.report,
            timeout=arguments.timeout,
            retries=arguments.retries,
            definitions=[parse_definition(text) for text in arguments.definitions],
            trn=arguments.trn,
            chunk=arguments.chunk,
            force=arguments.force,
            quiet=arguments.quiet,
        )
        return run_batch(options)
    except UsageError as error:
        print(f"{PROGRAM}: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    # Run as quillo.batch, not as __main__: Dask sends the task function to the workers by its
    # module's name, which the workers import.
    from quillo.batch import main as _main

    sys.exit(_main())
