"""quillo.Engine: engines of their own, converting in parallel on a thread pool."""

import concurrent.futures
import pathlib
import shutil
import tempfile
import threading
import unittest

import quillo

SMALL_RTF = rb"{\rtf1\ansi{\fonttbl{\f0 Times;}}\pard Hello world.\par}"
GOLDEN = pathlib.Path(__file__).resolve().parent.parent / "golden"
DOCUMENTS = sorted(GOLDEN.glob("*.rtf"))


def long_rtf(paragraphs=3000):
    body = "".join(f"\\pard Paragraph {i} of text.\\par\n" for i in range(paragraphs))
    return ("{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}" + body + "}").encode()


def messages(result):
    return [tuple(m) for m in result.messages]


class EngineResultsTest(unittest.TestCase):
    def test_strings_as_the_module_functions_convert_them(self):
        engine = quillo.Engine()
        for path in DOCUMENTS:
            with self.subTest(path.name):
                expected = quillo.convert_string(path.read_bytes())
                got = engine.convert_string(path.read_bytes())
                self.assertIsInstance(got, quillo.Result)
                self.assertEqual(got.status, 0)
                self.assertEqual(got.outputs, expected.outputs)
                self.assertEqual(messages(got), messages(expected))

    def test_files_as_the_module_functions_convert_them(self):
        engine = quillo.Engine()
        with tempfile.TemporaryDirectory(prefix="quillo-engine-") as scratch:
            for path in DOCUMENTS[:6]:
                with self.subTest(path.name):
                    copy = pathlib.Path(scratch) / path.name
                    shutil.copy(path, copy)
                    expected = quillo.convert_file(copy)
                    got = engine.convert_file(copy)
                    self.assertEqual(got.outputs, expected.outputs)
                    self.assertEqual(messages(got), messages(expected))
                    self.assertTrue(got.outputs)

    def test_failures_raise_conversion_error_with_the_messages(self):
        engine = quillo.Engine()
        with self.assertRaises(quillo.ConversionError) as failed:
            engine.convert_string(b"not RTF at all")
        self.assertTrue(any(m.code == "MSG_MALFORMED_RTF" for m in failed.exception.messages))
        with self.assertRaises(quillo.ConversionError) as missing:
            engine.convert_file("/nonexistent/quillo/doc.rtf")
        self.assertEqual(missing.exception.status, 1)
        # The engine goes on after a failure.
        self.assertIn(b"Hello world.", engine.convert_string(SMALL_RTF).outputs["-.html"])

    def test_settings_belong_to_one_conversion_of_one_engine(self):
        first, second = quillo.Engine(), quillo.Engine()
        titled = first.convert_string(SMALL_RTF, Title="Only here")
        self.assertIn(b"<title>Only here", titled.outputs["-.html"])
        self.assertNotIn(b"Only here", second.convert_string(SMALL_RTF).outputs["-.html"])
        self.assertNotIn(b"Only here", first.convert_string(SMALL_RTF).outputs["-.html"])
        self.assertNotIn(b"Only here", quillo.convert_string(SMALL_RTF).outputs["-.html"])

    def test_argument_errors(self):
        engine = quillo.Engine()
        with self.assertRaises(TypeError):
            engine.convert_string(42)
        with self.assertRaises(ValueError):
            engine.convert_file("")
        with self.assertRaises(TypeError):
            engine.convert_string(SMALL_RTF, Title=object())


class EngineProgressTest(unittest.TestCase):
    def test_progress_rises_to_100(self):
        seen = []
        quillo.Engine().convert_string(long_rtf(), progress=seen.append)
        self.assertEqual(seen[-1], 100)
        self.assertEqual(seen, sorted(seen))
        self.assertGreater(len(seen), 2)

    def test_an_exception_in_progress_stops_the_conversion_and_is_raised(self):
        engine = quillo.Engine()

        def stop(percent):
            raise KeyError("stop here")

        with self.assertRaises(KeyError):
            engine.convert_string(long_rtf(), progress=stop)
        self.assertEqual(engine.convert_string(SMALL_RTF).status, 0)

    def test_one_engine_converts_for_one_thread_at_a_time(self):
        engine = quillo.Engine()
        refused = []

        def from_another_thread():
            try:
                engine.convert_string(SMALL_RTF)
            except quillo.ControlBusy as busy:
                refused.append(busy)

        def progress(percent):
            if not refused and percent < 100:
                worker = threading.Thread(target=from_another_thread)
                worker.start()
                worker.join()

        engine.convert_string(long_rtf(), progress=progress)
        self.assertEqual(len(refused), 1)
        # Converting again from inside the handler (same thread) is refused as well.
        inner = []

        def nested(percent):
            if not inner:
                try:
                    engine.convert_string(SMALL_RTF)
                except quillo.ControlBusy as busy:
                    inner.append(busy)

        engine.convert_string(long_rtf(), progress=nested)
        self.assertEqual(len(inner), 1)


class ThreadPoolTest(unittest.TestCase):
    def test_a_pool_of_engines_gives_the_serial_results(self):
        serial_engine = quillo.Engine()
        texts = [path.read_bytes() for path in DOCUMENTS] * 3
        serial = [serial_engine.convert_string(text) for text in texts]
        local = threading.local()

        def convert(text):
            if not hasattr(local, "engine"):
                local.engine = quillo.Engine()
            return local.engine.convert_string(text)

        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            parallel = list(pool.map(convert, texts))
        for expected, got in zip(serial, parallel):
            self.assertEqual(got.outputs, expected.outputs)
            self.assertEqual(messages(got), messages(expected))

    def test_conversions_release_the_interpreter(self):
        # While one thread converts a long document, another thread runs Python code: the
        # conversion does not hold the GIL.
        engine = quillo.Engine()
        started, ticks = threading.Event(), []
        stop = threading.Event()

        def ticker():
            started.set()
            while not stop.is_set():
                ticks.append(1)
                stop.wait(0.001)

        thread = threading.Thread(target=ticker)
        thread.start()
        started.wait()
        before = len(ticks)
        engine.convert_string(long_rtf(20000))
        during = len(ticks) - before
        stop.set()
        thread.join()
        self.assertGreater(during, 0)


if __name__ == "__main__":
    unittest.main()
