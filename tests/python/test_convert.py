"""The Pythonic layer: convert_file, convert_string, Result, ConversionError."""

import os
import pathlib
import tempfile
import threading
import unittest

import quillo

SMALL_RTF = rb"{\rtf1\ansi{\fonttbl{\f0 Times;}}\pard Hello world.\par}"
GOLDEN = pathlib.Path(__file__).resolve().parent.parent / "golden"


def long_rtf(paragraphs=300):
    body = "".join(f"\\pard Paragraph {i} of text.\\par\n" for i in range(paragraphs))
    return ("{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}" + body + "}").encode()


class ConvertStringTest(unittest.TestCase):
    def test_outputs_in_order_with_the_page_and_its_pictures(self):
        result = quillo.convert_string((GOLDEN / "pictures.rtf").read_bytes())
        self.assertIsInstance(result, quillo.Result)
        self.assertEqual(result.status, 0)
        self.assertIn("-.html", result.outputs)
        names = list(result.outputs)
        self.assertTrue(any(name.endswith(".png") for name in names), names)
        page = result.outputs["-.html"]
        for name in names:
            if name != "-.html":
                self.assertIn(name.encode(), page)  # the page refers to each picture
        self.assertTrue(all(isinstance(data, bytes) for data in result.outputs.values()))

    def test_settings_and_translation_file(self):
        result = quillo.convert_string(SMALL_RTF, "html.trn", Title="A <b> & 'c'", HtmlExt="htm")
        page = result.outputs["-.htm"]
        self.assertIn(b"<title>A &lt;b&gt; &amp;", page)
        self.assertIn(b"Hello world.", page)

    def test_str_rtf(self):
        page = quillo.convert_string("{\\rtf1\\ansi Stra\u00dfe\\par}").outputs["-.html"]
        self.assertIn(b"Stra&szlig;e", page)

    def test_progress_rises_to_one_hundred(self):
        seen = []
        quillo.convert_string(long_rtf(), progress=seen.append)
        self.assertGreater(len(seen), 10)
        self.assertEqual(seen, sorted(set(seen)))
        self.assertEqual(seen[-1], 100)

    def test_progress_exception_comes_back_and_the_engine_stays_usable(self):
        class Cancelled(Exception):
            pass

        def cancel(percent):
            if percent > 20:
                raise Cancelled(percent)

        with self.assertRaises(Cancelled):
            quillo.convert_string(long_rtf(), progress=cancel)
        self.assertFalse(quillo.busy())
        self.assertIn("-.html", quillo.convert_string(SMALL_RTF).outputs)

    def test_failure_raises_conversion_error_with_messages(self):
        with self.assertRaises(quillo.ConversionError) as caught:
            quillo.convert_string(b"plain text, not RTF")
        error = caught.exception
        self.assertEqual(error.status, 1)
        self.assertEqual(error.messages[0].code, "MSG_MALFORMED_RTF")
        self.assertIn("MSG_MALFORMED_RTF", str(error))

        with self.assertRaises(quillo.ConversionError) as caught:
            quillo.convert_string(SMALL_RTF, trn="no-such-file.trn")
        codes = [m.code for m in caught.exception.messages]
        self.assertIn("ERR_TRAN_FILE", codes)
        self.assertIn("no-such-file.trn", str(caught.exception))

    def test_bad_arguments_are_type_errors(self):
        calls = [
            lambda: quillo.convert_string(None),
            lambda: quillo.convert_string(42),
            lambda: quillo.convert_string(SMALL_RTF, trn=3),
            lambda: quillo.convert_string(SMALL_RTF, Title=None),
            lambda: quillo.convert_string(SMALL_RTF, Title=[1]),
            lambda: quillo.convert_string(SMALL_RTF, progress=5),
            lambda: quillo.convert_file(None),
        ]
        for i, call in enumerate(calls):
            with self.subTest(call=i), self.assertRaises(TypeError):
                call()

    def test_threads_take_turns(self):
        results, errors = [], []

        def convert():
            try:
                results.append(quillo.convert_string(long_rtf(50)).outputs["-.html"])
            except Exception as error:  # noqa: BLE001 - collected for the assertion below
                errors.append(error)

        threads = [threading.Thread(target=convert) for _ in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(errors, [])
        self.assertEqual(len(results), 4)
        self.assertEqual(len(set(results)), 1)

    def test_a_receiver_sees_nothing_of_these_conversions(self):
        receiver = quillo.Control()
        events = []
        receiver.callback = lambda *event: events.append(event)
        receiver.Init()
        quillo.convert_string(long_rtf(), progress=lambda p: None)
        self.assertEqual(events, [])
        receiver.options = "-DPercentCallback=10"
        receiver.ConvertStrRTF(long_rtf())
        self.assertTrue(events)


class ConvertFileTest(unittest.TestCase):
    def setUp(self):
        self._folder = tempfile.TemporaryDirectory(prefix="quillo-py-")
        self.folder = pathlib.Path(self._folder.name)

    def tearDown(self):
        self._folder.cleanup()

    def test_files_written_beside_the_input(self):
        source = self.folder / "doc.rtf"
        source.write_bytes((GOLDEN / "headings.rtf").read_bytes())
        seen = []
        result = quillo.convert_file(source, SplitDepth=1, GenContents=True, progress=seen.append)
        self.assertEqual(result.status, 0)
        self.assertEqual(seen[-1], 100)
        names = list(result.outputs)
        self.assertEqual(names[0], str(self.folder / "doc.html"))
        self.assertIn(str(self.folder / "doc-Contents.html"), names)
        self.assertGreater(len(names), 2)  # split at the first-level headings
        for name, data in result.outputs.items():
            self.assertEqual(pathlib.Path(name).read_bytes(), data)

    def test_names_that_look_like_options_or_are_relative(self):
        old = os.getcwd()
        os.chdir(self.folder)
        try:
            pathlib.Path("-dash.rtf").write_bytes(SMALL_RTF)
            result = quillo.convert_file("-dash.rtf")
            self.assertTrue(os.path.isfile("-dash.html"))
            self.assertIn(b"Hello world.", next(iter(result.outputs.values())))
            # A translation file named relative to the current folder.
            html = pathlib.Path(quillo.data_directory(), "html.trn").read_bytes()
            pathlib.Path("mine.trn").write_bytes(html.replace(b"<title>", b"<title>Mine: "))
            pathlib.Path("sub").mkdir()
            pathlib.Path("sub/doc.rtf").write_bytes(SMALL_RTF)
            result = quillo.convert_file("sub/doc.rtf", trn="mine.trn")
            self.assertIn(b"<title>Mine: ", result.outputs["sub/doc.html"])
        finally:
            os.chdir(old)

    def test_missing_file_raises_conversion_error(self):
        missing = self.folder / "missing.rtf"
        with self.assertRaises(quillo.ConversionError) as caught:
            quillo.convert_file(missing)
        message = caught.exception.messages[0]
        self.assertIsInstance(message, quillo.Message)
        self.assertEqual(message.code, "MSG_CANT_OPEN")
        self.assertIn(str(missing), message.text)
        self.assertEqual((message.line, message.position), (0, 0))

    def test_output_name_setting(self):
        source = self.folder / "doc.rtf"
        source.write_bytes(SMALL_RTF)
        target = self.folder / "out.html"
        result = quillo.convert_file(source, OutFileName=target)
        self.assertEqual(list(result.outputs), [str(target)])


if __name__ == "__main__":
    unittest.main()
