"""quillo.Control driven from Python as a scripting host drives it."""

import gc
import os
import pathlib
import tempfile
import threading
import unittest

import quillo

SMALL_RTF = rb"{\rtf1\ansi{\fonttbl{\f0 Times;}}\pard Hello world.\par}"


def long_rtf(paragraphs=200):
    body = "".join(f"\\pard Paragraph {i} of text.\\par\n" for i in range(paragraphs))
    return ("{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}" + body + "}").encode()


class Recorder:
    """Collects events; optionally runs an action on each."""

    def __init__(self, action=None):
        self.callbacks = []
        self.completions = []
        self.action = action

    def attach(self, control):
        control.callback = self.on_callback
        control.translationComplete = self.on_complete

    def on_callback(self, why, nargs, args):
        self.callbacks.append((why, nargs, args))
        if self.action:
            self.action(why, nargs, args)

    def on_complete(self, status, name):
        self.completions.append((status, name))

    def progress(self):
        return [int(a[1]) for w, n, a in self.callbacks if w == 1 and a and a[0] == "MSG_PERCENT"]


class TempFolder(unittest.TestCase):
    def setUp(self):
        self._folder = tempfile.TemporaryDirectory(prefix="quillo-py-")
        self.folder = pathlib.Path(self._folder.name)

    def tearDown(self):
        self._folder.cleanup()

    def write(self, name, data):
        path = self.folder / name
        path.write_bytes(data)
        return path


class MetadataTest(unittest.TestCase):
    def test_type_information_survives_as_metadata(self):
        self.assertEqual(quillo.Control.type_library, "QuilloLib")
        self.assertEqual(quillo.Control.dispatch_interface, "_DQuillo")
        self.assertEqual(quillo.Control.event_interface, "_DQuilloEvents")
        self.assertEqual(quillo.Control.prog_id, "QUILLOOCX.QuilloOCXCtrl.1")
        self.assertEqual(quillo.metadata["property_page_prog_id"], "QUILLOOCX.QuilloOCXPropPage.1")
        self.assertEqual(quillo.metadata["dispatch_help"], "Dispatch interface for Quillo Control")
        self.assertTrue(quillo.Control.__doc__.startswith("Quillo Control"))
        self.assertEqual(quillo.__version__, "5.0.2")

    def test_about_text_names_product_version_and_data_folder(self):
        about = quillo.Control().AboutBox()
        self.assertIn("Quillo", about)
        self.assertIn("5.0.2", about)
        self.assertIn(quillo.data_directory(), about)
        self.assertTrue(os.path.isfile(os.path.join(quillo.data_directory(), "html.trn")))


class SplitOptionsTest(unittest.TestCase):
    def test_rule(self):
        cases = {
            "-DSplitDepth=1 'a b' \"c d\"": ["-DSplitDepth=1", "a b", '"c d"'],
            "": [],
            "   ": [],
            "  -c   -x ": ["-c", "-x"],
            "'' -c": ["-c"],
            "-T 'caf\u00e9 cr\u00e8me'": ["-T", "caf\u00e9 cr\u00e8me"],
        }
        for text, words in cases.items():
            with self.subTest(text=text):
                self.assertEqual(quillo.split_options(text), words)

    def test_non_text_is_a_type_error(self):
        for bad in (None, b"-c", 3, ["-c"]):
            with self.subTest(bad=bad), self.assertRaises(TypeError) as caught:
                quillo.split_options(bad)
            self.assertIn("must be str", str(caught.exception))


class ConvertRTFTest(TempFolder):
    def test_empty_name_returns_minus_one_without_event(self):
        control = quillo.Control()
        recorder = Recorder()
        recorder.attach(control)
        control.status = 3
        self.assertEqual(control.ConvertRTF(""), -1)
        self.assertEqual(control.status, -1)
        self.assertEqual(recorder.completions, [])

    def test_event_fires_once_with_the_result(self):
        source = self.write("doc.rtf", SMALL_RTF)
        control = quillo.Control()
        recorder = Recorder()
        recorder.attach(control)
        result = control.ConvertRTF(source)  # a pathlib.Path is accepted
        self.assertEqual(result, 0)
        self.assertEqual(control.status, 0)
        self.assertEqual(recorder.completions, [(0, str(source))])
        page = self.folder / "doc.html"
        self.assertIn(b"Hello world.", page.read_bytes())
        self.assertEqual(control.created_files[0], str(page))
        self.assertEqual(control.ExpandString("$OutFileName;"), str(page))

    def test_failure_reaches_status_event_and_messages(self):
        control = quillo.Control()
        recorder = Recorder()
        recorder.attach(control)
        missing = str(self.folder / "missing.rtf")
        self.assertEqual(control.ConvertRTF(missing), 1)
        self.assertEqual(recorder.completions, [(1, missing)])
        self.assertEqual(control.messages[0].code, "MSG_CANT_OPEN")
        self.assertIn("missing.rtf", control.messages[0].text)
        self.assertEqual(quillo.last_messages(), control.messages)
        control.options = "-Q"
        self.assertEqual(control.ConvertRTF(self.write("doc.rtf", SMALL_RTF)), -1)

    def test_status_is_minus_one_while_converting(self):
        control = quillo.Control()
        seen = []
        recorder = Recorder(lambda *event: seen.append(control.status))
        recorder.attach(control)
        control.Init()
        control.options = "-DPercentCallback=10"
        control.status = 0
        self.assertEqual(control.ConvertRTF(self.write("doc.rtf", long_rtf())), 0)
        self.assertTrue(seen)
        self.assertEqual(set(seen), {-1})


class ConvertStrRTFTest(unittest.TestCase):
    def test_rows_and_bytes(self):
        control = quillo.Control()
        control.status = 0
        count, rows = control.ConvertStrRTF(SMALL_RTF)
        self.assertGreaterEqual(count, 1)
        self.assertEqual(control.status, -1)
        self.assertEqual(len(rows), count)
        name, text, length = rows[0]
        self.assertEqual(name, "-.html")
        self.assertIn("Hello world.", text)
        code, data = control.GetImageBytes(0)
        self.assertEqual(code, 0)
        self.assertEqual(length, str(len(data)))
        self.assertEqual(text.encode("utf-8", "surrogateescape"), data)

    def test_image_bytes_bounds(self):
        control = quillo.Control()
        self.assertEqual(control.GetImageBytes(0), (1, None))  # nothing converted yet
        count, _ = control.ConvertStrRTF(SMALL_RTF)
        for index in (-1, count, 2**15, -(2**15) - 1, 2**70):
            with self.subTest(index=index):
                self.assertEqual(control.GetImageBytes(index), (1, None))
        for bad in (None, "0", 0.0, True, b"\x00"):
            with self.subTest(bad=bad), self.assertRaises(TypeError):
                control.GetImageBytes(bad)

    def test_pictures_come_back_as_bytes(self):
        golden = pathlib.Path(__file__).resolve().parent.parent / "golden" / "pictures.rtf"
        control = quillo.Control()
        count, rows = control.ConvertStrRTF(golden.read_bytes())
        pictures = [control.GetImageBytes(i)[1] for i, row in enumerate(rows) if row[0].endswith(".png")]
        self.assertTrue(pictures)
        for picture in pictures:
            self.assertTrue(picture.startswith(b"\x89PNG\r\n\x1a\n"))
            self.assertIn(b"\x00", picture)

    def test_str_input_keeps_unicode(self):
        control = quillo.Control()
        count, rows = control.ConvertStrRTF("{\\rtf1\\ansi\\uc0 Gr\u00fc\u00dfe \U0001f600 \u20ac\\par}")
        self.assertGreaterEqual(count, 1)
        page = rows[0][1]
        self.assertIn("Gr&uuml;&szlig;e", page)
        self.assertIn("&#128512;", page)
        self.assertTrue("&euro;" in page or "&#8364;" in page, page)

    def test_settings_round_trip_bytes_that_are_not_utf8(self):
        control = quillo.Control()
        value = b"caf\xe9".decode("utf-8", "surrogateescape")
        control.SetString("QuilloProbe", value)
        self.assertEqual(control.ExpandString("$QuilloProbe;"), value)
        control.SetString(b"QuilloProbe", b"bytes too")
        self.assertEqual(control.ExpandString(b"$QuilloProbe;"), "bytes too")


class BadInputTest(TempFolder):
    def test_wrong_types_are_type_errors(self):
        control = quillo.Control()
        calls = [
            lambda: control.ConvertRTF(None),
            lambda: control.ConvertRTF(12),
            lambda: control.ConvertStrRTF(None),
            lambda: control.ConvertStrRTF(["{\\rtf1}"]),
            lambda: control.ExpandString(None),
            lambda: control.SetString(None, "x"),
            lambda: control.SetString("x", None),
            lambda: control.SetString("x", 1),
            lambda: control.Init(None),
            lambda: setattr(control, "options", None),
            lambda: setattr(control, "options", 5),
            lambda: setattr(control, "options", b"-c"),
            lambda: setattr(control, "status", "0"),
            lambda: setattr(control, "status", None),
            lambda: setattr(control, "callback", 5),
            lambda: setattr(control, "translationComplete", "not callable"),
            lambda: setattr(control, "arguments", "-c"),
            lambda: setattr(control, "arguments", [1]),
        ]
        for i, call in enumerate(calls):
            with self.subTest(call=i), self.assertRaises(TypeError) as caught:
                call()
            self.assertRegex(str(caught.exception), r"must be|must hold")
        self.assertEqual(control.options, "")
        self.assertIsNone(control.callback)

    def test_embedded_nul_is_a_value_error(self):
        control = quillo.Control()
        for call in (
            lambda: control.ConvertRTF("a\0b.rtf"),
            lambda: control.ExpandString("$A\0;"),
            lambda: setattr(control, "options", "-c\0"),
        ):
            with self.assertRaises(ValueError):
                call()

    def test_out_of_range_status_is_refused(self):
        control = quillo.Control()
        with self.assertRaises(ValueError):
            control.status = 40000
        control.status = -32768
        self.assertEqual(control.status, -32768)

    def test_handlers_can_be_read_and_removed(self):
        control = quillo.Control()
        handler = lambda *args: None  # noqa: E731
        control.callback = handler
        self.assertIs(control.callback, handler)
        control.callback = None
        self.assertIsNone(control.callback)


class EventTest(TempFolder):
    def test_callbacks_go_to_the_control_given_to_init(self):
        receiver = quillo.Control()
        received = Recorder()
        received.attach(receiver)
        self.assertEqual(receiver.Init(), 0)
        converter = quillo.Control()
        own = Recorder()
        own.attach(converter)
        converter.options = "-DPercentCallback=10"
        converter.ConvertStrRTF(long_rtf())
        self.assertGreaterEqual(len(received.progress()), 5)
        self.assertEqual(own.progress(), [])
        for why, nargs, args in received.callbacks:
            self.assertIsInstance(why, int)
            self.assertEqual(nargs, len(args))
            self.assertTrue(all(isinstance(a, str) for a in args))

        # A translation file's CallBack: the reason, the texts, an empty result whatever the
        # handler returns.
        received.callbacks.clear()
        receiver.callback = lambda why, nargs, args: received.callbacks.append((why, nargs, args)) or "ignored"
        converter.SetString("Why", "2")
        converter.SetString("Picture", "pic 1.png")
        self.assertEqual(converter.ExpandString("[$CallBack(Why,Picture)]"), "[]")
        self.assertEqual(received.callbacks, [(2, 1, ["pic 1.png"])])

    def test_deleting_the_receiver_leaves_no_dangling_handler(self):
        receiver = quillo.Control()
        fired = []
        receiver.callback = lambda *event: fired.append(event)
        receiver.Init()
        del receiver
        gc.collect()
        converter = quillo.Control()
        converter.options = "-DPercentCallback=10"
        converter.SetString("Why", "2")
        self.assertEqual(converter.ExpandString("[$CallBack(Why)]"), "[]")
        self.assertGreaterEqual(converter.ConvertStrRTF(long_rtf())[0], 1)
        self.assertEqual(fired, [])

    def test_handler_exception_stops_the_conversion_and_is_raised_again(self):
        class Stop(Exception):
            pass

        control = quillo.Control()
        calls = []

        def failing(why, nargs, args):
            calls.append(args)
            raise Stop("from the handler")

        control.callback = failing
        control.Init()
        control.options = "-DPercentCallback=10"
        with self.assertRaises(Stop) as caught:
            control.ConvertStrRTF(long_rtf())
        self.assertEqual(str(caught.exception), "from the handler")
        self.assertEqual(len(calls), 1)
        self.assertFalse(quillo.busy())
        self.assertEqual(control.GetImageBytes(0), (1, None))

        completions = []
        control.translationComplete = lambda status, name: completions.append(status)
        with self.assertRaises(Stop):
            control.ConvertRTF(self.write("doc.rtf", long_rtf()))
        self.assertEqual(control.status, 1)
        self.assertEqual(completions, [])

        control.callback = None
        self.assertEqual(control.ConvertRTF(self.folder / "doc.rtf"), 0)
        self.assertEqual(completions, [0])

    def test_completion_handler_exception_is_raised(self):
        control = quillo.Control()

        def failing(status, name):
            raise KeyError(name)

        control.translationComplete = failing
        with self.assertRaises(KeyError):
            control.ConvertRTF(self.write("doc.rtf", SMALL_RTF))
        self.assertEqual(control.status, 0)

    def test_converting_from_a_handler_is_refused_with_a_reason(self):
        control = quillo.Control()
        refusals = []
        expanded = []

        def handler(why, nargs, args):
            if refusals:
                return
            expanded.append(control.ExpandString("$OutFileName;"))
            try:
                control.ConvertStrRTF(SMALL_RTF)
            except RuntimeError as error:
                refusals.append(error)

        control.callback = handler
        control.Init()
        control.options = "-DPercentCallback=10"
        count, _ = control.ConvertStrRTF(long_rtf())
        self.assertGreaterEqual(count, 1)
        self.assertEqual(expanded, ["-.html"])
        self.assertIsInstance(refusals[0], quillo.ControlBusy)
        self.assertIn("event handler", str(refusals[0]))

        # Not caught by the handler: the refusal comes out of the outer call.
        control.callback = lambda *event: control.ConvertRTF("other.rtf")
        with self.assertRaisesRegex(RuntimeError, "event handler"):
            control.ConvertStrRTF(long_rtf())


class ThreadTest(unittest.TestCase):
    def test_another_thread_is_refused_while_a_conversion_runs(self):
        entered = threading.Event()
        release = threading.Event()
        control = quillo.Control()

        def handler(why, nargs, args):
            if not release.is_set():
                entered.set()
                release.wait(30)

        control.callback = handler
        control.Init()
        control.options = "-DPercentCallback=10"
        worker = threading.Thread(target=control.ConvertStrRTF, args=(long_rtf(),))
        worker.start()
        try:
            self.assertTrue(entered.wait(30))
            self.assertTrue(quillo.busy())
            self.assertEqual(control.status, -1)
            other = quillo.Control()
            for call in (
                lambda: other.ConvertStrRTF(SMALL_RTF),
                lambda: other.ExpandString("$OutFileName;"),
                lambda: quillo.convert_string(SMALL_RTF),
            ):
                with self.assertRaises(quillo.ControlBusy):
                    call()
            with self.assertRaisesRegex(quillo.ControlBusy, "another thread"):
                control.ExpandString("$OutFileName;")
        finally:
            release.set()
            worker.join(30)
        self.assertFalse(quillo.busy())
        self.assertGreaterEqual(quillo.Control().ConvertStrRTF(SMALL_RTF)[0], 1)

    def test_the_gil_is_released_while_the_engine_runs(self):
        # Without handlers the converting thread runs no Python code; this thread can only see
        # the conversion running if the engine does not hold the GIL.
        control = quillo.Control()
        rtf = long_rtf(20000)
        seen_busy = []
        worker = threading.Thread(target=control.ConvertStrRTF, args=(rtf,))
        worker.start()
        while worker.is_alive():
            if quillo.busy():
                seen_busy.append(True)
                break
        worker.join()
        self.assertTrue(seen_busy)


class InitTest(TempFolder):
    def test_init_with_a_folder_or_a_program_path(self):
        data = quillo.data_directory()
        control = quillo.Control()
        self.assertEqual(control.Init(), 0)  # the engine starts with the located data folder
        try:
            self.assertEqual(control.Init(self.folder), 0)
            self.assertEqual(control.ExpandString("$ProgPath;"), str(self.folder))
            self.assertEqual(control.ConvertStrRTF(SMALL_RTF)[0], 0)
            self.assertEqual(control.messages[0].code, "ERR_TRAN_FILE")
        finally:
            self.assertEqual(control.Init(os.path.join(data, "quillocmd")), 0)
        self.assertEqual(quillo.data_directory(), data)
        self.assertGreaterEqual(control.ConvertStrRTF(SMALL_RTF)[0], 1)


if __name__ == "__main__":
    unittest.main()
