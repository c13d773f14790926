"""quillo.batch: names, finding documents, the worker's conversion process, and whole runs on a
local Dask cluster bound to 127.0.0.1 (skipped, with the reason, when Dask's distributed
scheduler is not installed).

Documents that crash, hang or kill a worker are stood in for by the test-only hooks of
QUILLO_BATCH_TEST_HOOK (see quillo._batch_child and quillo.batch): no real document may do so.
"""

import importlib.machinery
import importlib.util
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import uuid

from quillo import batch

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
GOLDEN = ROOT / "tests" / "golden"
BUILD = os.environ.get("QUILLO_BUILD_DIR")
HAVE_DISTRIBUTED = importlib.util.find_spec("distributed") is not None
SKIP_CLUSTER = "Dask's distributed scheduler is not installed (python3-distributed)"


def gen_rtf():
    """bench/gen-rtf as a module: realistic documents of a chosen size and seed."""
    loader = importlib.machinery.SourceFileLoader("gen_rtf", str(ROOT / "bench" / "gen-rtf"))
    spec = importlib.util.spec_from_loader("gen_rtf", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


GEN = gen_rtf()


def write(path, data):
    path = pathlib.Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    return path


def document(seed, size=6000):
    return GEN.generate(size, seed=seed)


def files_under(folder):
    """{relative name: bytes} of every file under folder, markers and RTF excluded."""
    found = {}
    for path in pathlib.Path(folder).rglob("*"):
        if path.is_file() and not path.name.lower().endswith(".rtf") \
                and not path.name.endswith(batch.MARKER_SUFFIX):
            found[str(path.relative_to(folder))] = path.read_bytes()
    return found


def processes_tagged(tag):
    """Process ids whose environment holds QUILLO_BATCH_TEST_RUN=tag: everything a batch run
    started (its cluster, workers and conversion processes inherit the environment)."""
    wanted = f"QUILLO_BATCH_TEST_RUN={tag}".encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as stream:
                if wanted in stream.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            continue  # ended meanwhile, or not ours to read
    return found


def kill_tagged(tag):
    for pid in processes_tagged(tag):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def set_mtime(path, seconds_ago):
    when = time.time() - seconds_ago
    os.utime(path, (when, when))


# ---- Names and planning (no cluster) ----------------------------------------------------------


class NamesTest(unittest.TestCase):
    def test_output_base_drops_only_the_exact_rtf_suffixes(self):
        cases = [
            ("a.rtf", "a"),
            ("sub/a.RTF", "sub/a"),
            ("a.Rtf", "a.Rtf"),  # as quillocmd: only ".rtf" and ".RTF" are dropped
            ("my.report.rtf", "my.report"),
            (".rtf", ".rtf"),  # nothing would be left
            ("x.rtf", "x"),
            ("dir.rtf/b.rtf", "dir.rtf/b"),
        ]
        for relative, base in cases:
            with self.subTest(relative=relative):
                self.assertEqual(batch.output_base(relative), base)

    def test_engine_input_name_keeps_wildcard_characters_literal(self):
        cases = [
            ("/d/plain.rtf", "/d/plain.rtf"),
            ("/d/[a].rtf", "/d/[a].rtf"),  # no '*' or '?': never listed as a pattern
            ("/d/a*b.rtf", "/d/a\\*b.rtf"),
            ("/d/a?[b]\\.rtf", "/d/a\\?\\[b]\\\\.rtf"),
        ]
        for path, word in cases:
            with self.subTest(path=path):
                self.assertEqual(batch.engine_input_name(path), word)

    def test_definitions_read_as_quillocmd_reads_them(self):
        self.assertEqual(batch.parse_definition("SplitDepth=1"), ("SplitDepth", "1"))
        self.assertEqual(batch.parse_definition("Title=a=b"), ("Title", "a=b"))
        self.assertEqual(batch.parse_definition("GenIndex"), ("GenIndex", "1"))
        self.assertEqual(batch.parse_definition("Title="), ("Title", ""))
        for bad in ("=1", "", " =x"):
            with self.subTest(bad=bad), self.assertRaises(batch.UsageError):
                batch.parse_definition(bad)

    def test_marker_sits_hidden_beside_the_output(self):
        self.assertEqual(batch.marker_path("/o/sub/a"), "/o/sub/.a" + batch.MARKER_SUFFIX)


class FindDocumentsTest(unittest.TestCase):
    def test_every_rtf_in_order_without_looping_or_entering_dest(self):
        with tempfile.TemporaryDirectory(prefix="quillo-batch-") as scratch:
            source = pathlib.Path(scratch, "in")
            for name in ("b.rtf", "a.RTF", "sub/c.Rtf", "sub/deeper/d.rtf", "notes.txt",
                         "sub/e.rtf.bak", "out/old.rtf"):
                write(source / name, b"{\\rtf1 x}")
            (source / "sub" / "loop").symlink_to(source, target_is_directory=True)
            (source / "link.rtf").symlink_to(source / "b.rtf")
            (source / "dangling.rtf").symlink_to(source / "missing.rtf")
            found = [r for r, _, _ in batch.find_documents(str(source), str(source / "out"))]
            self.assertEqual(found, ["a.RTF", "b.rtf", "link.rtf", "sub/c.Rtf",
                                     "sub/deeper/d.rtf"])
            # Converting in place searches everything.
            found = [r for r, _, _ in batch.find_documents(str(source), str(source))]
            self.assertIn("out/old.rtf", found)
            # One file as SOURCE.
            found = batch.find_documents(str(source / "b.rtf"), scratch)
            self.assertEqual([r for r, _, _ in found], ["b.rtf"])

    def test_up_to_date_needs_a_newer_output_and_no_marker(self):
        with tempfile.TemporaryDirectory(prefix="quillo-batch-") as scratch:
            source = write(pathlib.Path(scratch, "a.rtf"), b"{\\rtf1 x}")
            output = pathlib.Path(scratch, "a.html")
            marker = batch.marker_path(str(pathlib.Path(scratch, "a")))
            set_mtime(source, 100)
            times = os.stat(source).st_mtime_ns
            self.assertFalse(batch.is_up_to_date(times, str(output), marker))
            write(output, b"page")
            set_mtime(output, 50)
            self.assertTrue(batch.is_up_to_date(times, str(output), marker))
            # An older output, a newer translation file, or a marker: converted again.
            self.assertFalse(batch.is_up_to_date(times, str(output), marker,
                                                 newer_than=time.time_ns()))
            set_mtime(output, 200)
            self.assertFalse(batch.is_up_to_date(times, str(output), marker))
            set_mtime(output, 50)
            write(marker, b"converting\n")
            self.assertFalse(batch.is_up_to_date(times, str(output), marker))


# ---- The worker's side, without a cluster ---------------------------------------------------


class ConvertTaskTest(unittest.TestCase):
    """convert_task runs in this process here, as a worker thread would run it."""

    def setUp(self):
        self.scratch = pathlib.Path(tempfile.mkdtemp(prefix="quillo-batch-"))
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        self.addCleanup(batch._stop_all_processes)
        self.hooks = os.environ.pop("QUILLO_BATCH_TEST_HOOK", None)
        self.addCleanup(self.restore_hooks)

    def restore_hooks(self):
        os.environ.pop("QUILLO_BATCH_TEST_HOOK", None)
        if self.hooks is not None:
            os.environ["QUILLO_BATCH_TEST_HOOK"] = self.hooks

    def task(self, names, timeout=60.0, started_ns=None):
        documents = []
        for index, name in enumerate(names):
            path = self.scratch / "in" / name
            base = str(self.scratch / "out" / batch.output_base(name))
            documents.append({
                "index": index, "input": str(path), "base": base,
                "output_name": base + ".html", "expected": base + ".html",
                "marker": batch.marker_path(base), "mtime_ns": os.stat(path).st_mtime_ns,
            })
        return {"run": "test", "started_ns": started_ns or time.time_ns(), "timeout": timeout,
                "cwd": str(self.scratch / "out"), "words": [], "documents": documents}

    def test_crash_and_hang_cost_one_document_and_the_process_is_replaced(self):
        for name in ("crash.rtf", "hang.rtf", "good.rtf", "after.rtf"):
            write(self.scratch / "in" / name, document(3))
        os.environ["QUILLO_BATCH_TEST_HOOK"] = "crash=crash.rtf;sleep=hang.rtf:600"
        started = time.monotonic()
        records = batch.convert_task(self.task(["crash.rtf", "good.rtf", "hang.rtf", "after.rtf"],
                                               timeout=2.0))
        self.assertLess(time.monotonic() - started, 60)
        crash, good, hang, after = records
        self.assertEqual((crash["status"], crash["reason"]), ("failed", "crash"))
        self.assertIn("SIGABRT", crash["error"])
        self.assertEqual((hang["status"], hang["reason"]), ("failed", "timeout"))
        self.assertIn("time limit of 2 s", hang["error"])
        for record in (good, after):
            self.assertEqual(record["status"], "converted", record)
            self.assertTrue(os.path.isfile(record["outputs"][0]))
        # Nothing half written: no main output, so no marker either.
        out = self.scratch / "out"
        self.assertEqual(sorted(p.name for p in out.iterdir()), ["after.html", "good.html"])

    def test_an_earlier_attempt_s_work_is_recognised_not_redone(self):
        for name in ("a.rtf", "b.rtf"):
            write(self.scratch / "in" / name, document(4))
            set_mtime(self.scratch / "in" / name, 100)
        journal = self.scratch / "journal"
        os.environ["QUILLO_BATCH_TEST_HOOK"] = f"journal={journal}"
        task = self.task(["a.rtf", "b.rtf"])
        first = batch.convert_task(task)
        # The same task again (as Dask runs it after its worker died), with the marker of b
        # left behind as if the worker had died converting b.
        write(task["documents"][1]["marker"], b"converting test\n")
        again = batch.convert_task(task)
        self.assertEqual([r["status"] for r in first + again], ["converted"] * 4)
        self.assertIn("earlier attempt", again[0]["note"])
        self.assertNotIn("note", again[1])
        done = [line.split()[1] for line in journal.read_text().splitlines()
                if line.startswith("done")]
        self.assertEqual(done, ["a.rtf", "b.rtf", "b.rtf"])

    def test_a_failure_over_an_old_output_leaves_a_marker(self):
        write(self.scratch / "in" / "a.rtf", b"not RTF at all")
        write(self.scratch / "out" / "a.html", b"from an earlier run")
        (record,) = batch.convert_task(self.task(["a.rtf"]))
        self.assertEqual((record["status"], record["reason"]), ("failed", "conversion"))
        self.assertIn("MSG_MALFORMED_RTF", record["error"])
        self.assertTrue(os.path.exists(self.task(["a.rtf"])["documents"][0]["marker"]))

    def test_the_marker_counts_this_run_s_unfinished_attempts(self):
        marker = batch.marker_path(str(self.scratch / "out" / "a"))
        self.assertEqual(batch.attempts_started(marker, "run1"), 0)
        write(marker, b"converting run0 11\nconverting run1 12\nfailed run1\n"
                      b"converting run1 13\nconverting\n\n\xff\n")
        self.assertEqual(batch.attempts_started(marker, "run1"), 2)
        self.assertEqual(batch.attempts_started(marker, "run0"), 1)

    def test_names_with_dollar_and_wildcards_map_literally(self):
        names = ["x$Title;y.rtf", "a*b.rtf", "axb.rtf", "[q].rtf"]
        for seed, name in enumerate(names):
            write(self.scratch / "in" / name, document(10 + seed))
        records = batch.convert_task(self.task(names))
        self.assertEqual([r["status"] for r in records], ["converted"] * 4)
        written = sorted(p.name for p in (self.scratch / "out").iterdir())
        self.assertEqual(written, ["[q].html", "a*b.html", "axb.html", "x$Title;y.html"])
        # a*b.rtf converted itself only, not axb.rtf as well.
        self.assertEqual(records[1]["outputs"], [str(self.scratch / "out" / "a*b.html")])


class WithoutDaskTest(unittest.TestCase):
    def test_a_missing_distributed_is_named_not_a_traceback(self):
        # distributed made unimportable in the child only.
        code = ("import runpy, sys; sys.modules['distributed'] = None; "
                "sys.argv = ['quillo.batch', 'in', 'out']; "
                "runpy.run_module('quillo.batch', run_name='__main__')")
        with tempfile.TemporaryDirectory(prefix="quillo-batch-") as scratch:
            result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                    cwd=scratch, stdin=subprocess.DEVNULL, timeout=120)
            self.assertEqual(os.listdir(scratch), [])  # nothing created
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertEqual(result.stderr, "quillo.batch: Dask's distributed scheduler is not "
                         "installed (Debian: apt-get install python3-distributed)\n")


# ---- Whole runs on a local cluster ----------------------------------------------------------


@unittest.skipUnless(HAVE_DISTRIBUTED, SKIP_CLUSTER)
class ClusterRunTest(unittest.TestCase):
    def setUp(self):
        self.scratch = pathlib.Path(tempfile.mkdtemp(prefix="quillo-batch-"))
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        self.source = self.scratch / "in"
        self.dest = self.scratch / "out"
        self.report = self.scratch / "report.json"
        # Every process a run starts carries this tag: whatever is left of it when the test
        # ends (failed or not) is killed.
        self.tag = uuid.uuid4().hex
        self.addCleanup(kill_tagged, self.tag)

    def batch(self, *arguments, hooks=None, wait=True):
        environment = dict(os.environ)
        environment.pop("QUILLO_BATCH_TEST_HOOK", None)
        environment["QUILLO_BATCH_TEST_RUN"] = self.tag
        if hooks:
            environment["QUILLO_BATCH_TEST_HOOK"] = hooks
        command = [sys.executable, "-m", "quillo.batch", str(self.source), str(self.dest),
                   "--report", str(self.report), *arguments]
        if "--local" not in arguments and "--scheduler" not in arguments:
            command += ["--local", "2"]
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, env=environment,
                                   cwd=self.scratch)
        if not wait:
            return process
        return self.finish(process)

    def finish(self, process):
        """Waits for the run (generously: the machine may be loaded) and checks that it left
        nothing running: its local cluster's workers and their conversion processes end
        with it."""
        try:
            out, err = process.communicate(timeout=400)
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
            self.fail(f"the batch run did not end:\n{err}")
        if "--scheduler" in process.args:
            return process.returncode, out, err  # the cluster outlives the run
        deadline = time.monotonic() + 60
        while processes_tagged(self.tag) and time.monotonic() < deadline:
            time.sleep(0.2)
        left = processes_tagged(self.tag)
        if left:
            commands = []
            for pid in left:
                try:
                    commands.append(pathlib.Path(f"/proc/{pid}/cmdline").read_bytes()
                                    .replace(b"\0", b" ").decode(errors="replace"))
                except OSError:
                    pass
            self.fail(f"the run left processes running: {commands}")
        return process.returncode, out, err

    def entries(self):
        report = json.loads(self.report.read_text())
        return report, {entry["input"]: entry for entry in report["files"]}

    @unittest.skipUnless(BUILD, "QUILLO_BUILD_DIR names the build tree (set by ctest)")
    def test_a_tree_converts_as_quillocmd_converts_it_and_resumes(self):
        names = ["doc1.rtf", "sub/doc2.RTF", "sub/deeper/doc3.rtf", "sub/deeper/doc4.rtf",
                 "other/doc5.rtf"]
        for seed, name in enumerate(names):
            write(self.source / name, document(seed + 1, 4000 + 3000 * seed))
        shutil.copyfile(GOLDEN / "pictures.rtf", self.source / "sub" / "pictures.rtf")
        settings = ["-D", "SplitDepth=1", "-D", "HtmlExt=htm"]
        code, out, err = self.batch(*settings)
        self.assertEqual(code, 0, err)
        self.assertRegex(out, r"quillo\.batch: 6 files: 6 converted, 0 skipped, 0 failed in ")
        self.assertIn("6/6 (100%)", err)  # plain progress lines: stderr is no terminal

        # quillocmd with the same settings, each document converted beside itself.
        reference = self.scratch / "reference"
        shutil.copytree(self.source, reference)
        quillocmd = pathlib.Path(BUILD, "bin", "quillocmd")
        for path in sorted(reference.rglob("*")):
            if path.suffix.lower() == ".rtf":
                subprocess.run([str(quillocmd), "-D", "PauseOnErr=0", *settings, str(path)],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True)
        ours, theirs = files_under(self.dest), files_under(reference)
        self.assertEqual(sorted(ours), sorted(theirs))
        self.assertTrue(any("-" in name for name in ours), "no split pages were written")
        for name in theirs:
            self.assertEqual(ours[name], theirs[name], name)
        report, entries = self.entries()
        self.assertEqual(report["summary"], {"files": 6, "converted": 6, "skipped": 0,
                                             "failed": 0, "not-run": 0})
        pictures = entries["sub/pictures.rtf"]
        self.assertEqual(pictures["output"], "sub/pictures.htm")
        self.assertIn("sub/pictures00.png", pictures["outputs"])
        self.assertIsInstance(pictures["seconds"], float)
        # The local cluster's workers are threads of the run's process: nothing listens.
        self.assertTrue(pictures["worker"].startswith("inproc://"), pictures["worker"])

        # Again: everything is up to date, and no cluster is started for nothing.
        before = {name: os.stat(self.dest / name).st_mtime_ns for name in ours}
        code, out, err = self.batch(*settings)
        self.assertEqual(code, 0, err)
        self.assertIn("6 files: 0 converted, 6 skipped, 0 failed", out)
        self.assertEqual(self.entries()[0]["startup_seconds"], 0)
        self.assertEqual(before, {n: os.stat(self.dest / n).st_mtime_ns for n in ours})

        # A changed document, an output left half written by an interrupted run (its marker),
        # and a deleted output are converted again; the rest is skipped.
        os.utime(self.source / "doc1.rtf")
        write(batch.marker_path(str(self.dest / "sub" / "doc2")), b"converting old\n")
        (self.dest / "other" / "doc5.htm").unlink()
        code, out, err = self.batch(*settings)
        self.assertEqual(code, 0, err)
        _, entries = self.entries()
        converted = sorted(n for n, e in entries.items() if e["status"] == "converted")
        self.assertEqual(converted, ["doc1.rtf", "other/doc5.rtf", "sub/doc2.RTF"])
        self.assertFalse(os.path.exists(batch.marker_path(str(self.dest / "sub" / "doc2"))))
        self.assertEqual(files_under(self.dest), theirs)

    def test_bad_documents_are_reported_and_the_rest_completes(self):
        for seed, name in enumerate(["a1.rtf", "a2.rtf", "crash.rtf", "hang.rtf", "poison.rtf",
                                     "z1.rtf", "z2.rtf", "twin.rtf", "twin.RTF"]):
            write(self.source / name, document(seed + 20))
        write(self.source / "malformed.rtf", b"this is no RTF")
        hooks = "crash=crash.rtf;sleep=hang.rtf:600;kill-worker=poison.rtf"
        # Worker processes: the poison document kills the worker it is given.
        code, out, err = self.batch("--keep-going", "--timeout", "8", "--retries", "1",
                                    "--chunk", "3", "--worker-processes", hooks=hooks)
        self.assertEqual(code, 1, err)
        self.assertRegex(out, r"10 files: 4 converted, 0 skipped, 6 failed in [\d.]+ s")
        _, entries = self.entries()
        expected = {
            "crash.rtf": ("crash", "SIGABRT"),
            "hang.rtf": ("timeout", "time limit of 8 s"),
            "poison.rtf": ("worker-lost", "died 2 times"),
            "malformed.rtf": ("conversion", "MSG_MALFORMED_RTF"),
            "twin.rtf": ("conflict", "twin.RTF"),
            "twin.RTF": ("conflict", "twin.rtf"),
        }
        for name, (reason, text) in expected.items():
            with self.subTest(document=name):
                entry = entries[name]
                self.assertEqual((entry["status"], entry["reason"]), ("failed", reason), err)
                self.assertIn(text, entry["error"])
                self.assertIn(f"{name}: ", err)  # one line per failure on standard error
        self.assertEqual(entries["malformed.rtf"]["messages"][0]["code"], "MSG_MALFORMED_RTF")
        for name in ("a1.rtf", "a2.rtf", "z1.rtf", "z2.rtf"):
            self.assertEqual(entries[name]["status"], "converted", entries[name])
            self.assertTrue((self.dest / name.replace(".rtf", ".html")).is_file())
        self.assertFalse((self.dest / "twin.html").exists())  # neither twin overwrote the other

    def test_a_killed_worker_loses_nothing_and_converts_nothing_twice(self):
        names = [f"d{i:02d}.rtf" for i in range(12)]
        for seed, name in enumerate(names):
            write(self.source / name, document(seed + 40, 3000))
        journal = self.scratch / "journal"
        # d06 is the third document of the second task; it converts slowly enough to be caught.
        process = self.batch("--chunk", "4", "--worker-processes",
                             hooks=f"journal={journal};sleep=d06.rtf:4", wait=False)
        deadline = time.monotonic() + 120
        worker = None
        while worker is None and time.monotonic() < deadline and process.poll() is None:
            time.sleep(0.05)
            if journal.exists():
                for line in journal.read_text().splitlines():
                    stage, name, pid = line.split()
                    if (stage, name) == ("start", "d06.rtf"):
                        worker = int(pid)
        self.assertIsNotNone(worker, "d06.rtf never started")
        time.sleep(0.5)  # the results of the worker's earlier task have reached the client
        os.kill(worker, signal.SIGKILL)
        code, out, err = self.finish(process)
        self.assertEqual(code, 0, err)
        self.assertIn("12 files: 12 converted", out)
        lines = [line.split() for line in journal.read_text().splitlines()]
        done = sorted(name for stage, name, _ in lines if stage == "done")
        self.assertEqual(done, names)  # each exactly once
        starts = [(name, int(pid)) for stage, name, pid in lines if stage == "start"]
        retried = [pid for name, pid in starts if name == "d06.rtf"]
        self.assertEqual(len(retried), 2)
        self.assertNotEqual(retried[1], worker)
        _, entries = self.entries()
        self.assertEqual({e["status"] for e in entries.values()}, {"converted"})
        self.assertEqual(files_under(self.dest).keys(), {n.replace(".rtf", ".html") for n in names})

    def test_a_killed_run_leaves_no_process_behind(self):
        for i in range(8):
            write(self.source / f"k{i}.rtf", document(60 + i, 3000))
        journal = self.scratch / "journal"
        process = self.batch("--chunk", "2", hooks=f"journal={journal};sleep=k3.rtf:30",
                             wait=False)
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and process.poll() is None and not (
                journal.exists() and "start k3.rtf" in journal.read_text()):
            time.sleep(0.05)
        self.assertIsNone(process.poll(), "the run ended before it could be killed")
        self.assertTrue(processes_tagged(self.tag))
        process.kill()  # no chance to close its cluster
        process.communicate()
        deadline = time.monotonic() + 60
        while processes_tagged(self.tag) and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(processes_tagged(self.tag), [])

    def test_an_interrupted_run_does_not_wait_for_a_long_conversion(self):
        for i in range(4):
            write(self.source / f"t{i}.rtf", document(70 + i, 3000))
        journal = self.scratch / "journal"
        process = self.batch("--keep-going", hooks=f"journal={journal};sleep=t1.rtf:600",
                             wait=False)
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and process.poll() is None and not (
                journal.exists() and "start t1.rtf" in journal.read_text()):
            time.sleep(0.05)
        self.assertIsNone(process.poll(), "the run ended before it could be interrupted")
        process.terminate()
        try:
            # Its conversion process is killed: the run ends in about a second. Left to run
            # into the cluster's closing time-out, it would take half a minute.
            process.wait(timeout=25)
        except subprocess.TimeoutExpired:
            self.fail("the interrupted run waited for its conversion")
        code, out, err = self.finish(process)
        self.assertEqual(code, 130, err)
        self.assertIn("stopped: interrupted", out)
        _, entries = self.entries()
        self.assertEqual(entries["t1.rtf"]["status"], "not-run")

    def test_a_scheduler_and_a_worker_started_by_hand(self):
        # As on a real cluster (docs/cluster.md): `dask scheduler`, then `dask worker` with two
        # threads, each of which gets a conversion process of its own.
        for i in range(6):
            write(self.source / f"d{i}.rtf", document(100 + i, 3000))
        scheduler_file = self.scratch / "scheduler.json"
        started = []

        def start(*arguments):
            environment = dict(os.environ, QUILLO_BATCH_TEST_RUN=self.tag)
            process = subprocess.Popen([sys.executable, "-m", "dask", *arguments],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True,
                                       env=environment)
            started.append(process)
            return process

        def stop():
            for process in started:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except OSError:
                    pass
            for process in started:
                try:
                    process.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()

        self.addCleanup(stop)
        start("scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
              "--scheduler-file", str(scheduler_file))
        address = None
        deadline = time.monotonic() + 120
        while address is None and time.monotonic() < deadline:
            time.sleep(0.1)
            try:
                address = json.loads(scheduler_file.read_text())["address"]
            except (OSError, ValueError, KeyError):
                continue  # not written yet, or not completely
        self.assertIsNotNone(address, "the scheduler did not start")
        # The run waits for a worker to join; the worker is started once it says so.
        process = self.batch("--scheduler", address, "--chunk", "1", wait=False)
        said = []
        for line in process.stderr:
            said.append(line)
            if "waiting for a worker" in line:
                break
        self.assertIn("waiting for a worker", "".join(said))
        start("worker", address, "--nthreads", "2", "--nworkers", "1", "--host", "127.0.0.1",
              "--no-dashboard")
        code, out, err = self.finish(process)
        err = "".join(said) + err
        self.assertEqual(code, 0, err)
        self.assertIn("6 files: 6 converted", out)
        report, entries = self.entries()
        self.assertEqual(report["scheduler"], address)
        self.assertEqual(len({e["worker"] for e in entries.values()}), 1)
        self.assertEqual(len(files_under(self.dest)), 6)

    def test_without_keep_going_the_run_stops_at_the_first_failure(self):
        write(self.source / "a-bad.rtf", b"no RTF")
        for i in range(20):
            write(self.source / f"b{i:02d}.rtf", document(60 + i, 3000))
        code, out, err = self.batch("--chunk", "1", "--local", "1")
        self.assertEqual(code, 1, err)
        self.assertIn("stopped: a document failed", out)
        report, entries = self.entries()
        self.assertEqual(entries["a-bad.rtf"]["status"], "failed")
        self.assertGreater(report["summary"]["not-run"], 0)
        self.assertEqual(report["stopped"], "a document failed (no --keep-going)")

    def test_conflicts_stop_the_run_before_it_starts(self):
        for name in ("a.rtf", "a.RTF", "b.rtf"):
            write(self.source / name, document(80))
        code, out, err = self.batch()
        self.assertEqual(code, 1, err)
        self.assertIn("3 files: 0 converted, 0 skipped, 2 failed, 1 not run", out)
        self.assertFalse(self.dest.exists() and any(self.dest.iterdir()))
        # One -D OutFileName for several documents is the same conflict.
        code, out, err = self.batch("-D", "OutFileName=all.html", "--keep-going")
        self.assertEqual(code, 1, err)
        self.assertIn("3 files: 0 converted, 0 skipped, 3 failed", out)
        self.assertIn("all.*: the same output as", err)

    def test_bad_arguments_fail_before_anything_runs(self):
        write(self.source / "a.rtf", document(90))
        cases = [
            (["--trn", "no-such-file.trn"], "ERR_TRAN_FILE"),
            (["--timeout", "0"], "--timeout must be positive"),
            (["--local", "0"], "--local needs at least one worker"),
            (["-D", "=x"], "the setting has no name"),
            (["--scheduler", "tcp://127.0.0.1:1", "--worker-processes"],
             "--worker-processes is for a local cluster"),
        ]
        for arguments, text in cases:
            with self.subTest(arguments=arguments):
                code, out, err = self.batch(*arguments)
                self.assertEqual(code, 2, err)
                self.assertIn(text, err)
        missing = subprocess.run([sys.executable, "-m", "quillo.batch", str(self.scratch / "nope"),
                                  str(self.dest)], capture_output=True, text=True)
        self.assertEqual(missing.returncode, 2)
        self.assertIn("no such file or folder", missing.stderr)
        usage = subprocess.run([sys.executable, "-m", "quillo.batch", "--help"],
                               capture_output=True, text=True)
        self.assertEqual(usage.returncode, 0)
        self.assertIn("--scheduler ADDRESS", usage.stdout)


if __name__ == "__main__":
    unittest.main()
