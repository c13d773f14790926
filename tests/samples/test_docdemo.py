"""docdemo: RTF converted directly, other documents through LibreOffice headless, "force",
and the sample's messages for what goes wrong."""

import hashlib
import os
import shutil

from support import (PYTHON, RED_RTF, SPLIT_RTF, TempDir, program, require_quillo_module, run,
                     user_env)

INIT_ERROR = ("Error initializing the filter, please check that the Quillo ocx is installed "
              "correctly")


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class DocDemo(TempDir):

    @classmethod
    def setUpClass(cls):
        cls.docdemo = program("docdemo")
        require_quillo_module()

    def setUp(self):
        super().setUp()
        self.env = user_env(self.tmp)
        self.docs = os.path.join(self.tmp, "my docs")  # a blank in the path on purpose
        os.makedirs(self.docs)

    def write(self, name, data):
        path = os.path.join(self.docs, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def require_office(self):
        if not shutil.which("soffice"):
            self.skipTest("LibreOffice is not installed (Debian: libreoffice-writer-nogui)")

    def test_rtf_is_converted_as_it_is(self):
        # An RTF document under another name is still RTF: no LibreOffice needed.
        source = self.write("notes.doc", RED_RTF)
        result = run([self.docdemo, source], env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn("LibreOffice", result.stderr)
        self.assertEqual(sorted(os.listdir(self.docs)), ["notes.doc", "notes.html"])
        with open(os.path.join(self.docs, "notes.html"), encoding="utf-8") as f:
            self.assertRegex(f.read(), r"Plain text,.*red words.*and more")

    def test_opendocument_goes_through_libreoffice(self):
        self.require_office()
        rtf = self.write("book.rtf", SPLIT_RTF)
        made = run(["soffice", f"-env:UserInstallation=file://{self.tmp}/profile", "--headless",
                    "--convert-to", "odt", "--outdir", self.docs, rtf], env=self.env)
        os.remove(rtf)
        odt = os.path.join(self.docs, "book.odt")
        self.assertTrue(os.path.exists(odt), made.stderr)
        result = run([self.docdemo, odt], env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.docs)), ["book.html", "book.odt", "book.rtf"],
                         "the RTF is saved beside the document, then converted")
        with open(os.path.join(self.docs, "book.html"), encoding="utf-8") as f:
            page = f.read()
        self.assertIn("Alpha Chapter", page)
        self.assertIn("Beta text.", page)
        self.assertIn("Translation completed OK, output file = "
                      + os.path.join(self.docs, "book.html"), result.stderr)

    def test_force_leaves_the_rtf_source_alone(self):
        self.require_office()
        source = self.write("red.rtf", RED_RTF)
        before = digest(source)
        result = run([self.docdemo, "--force", source], env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Saving " + source + " as RTF with LibreOffice", result.stderr)
        self.assertEqual(digest(source), before)
        self.assertEqual(sorted(os.listdir(self.docs)), ["red.html", "red.rtf"])
        with open(os.path.join(self.docs, "red.html"), encoding="utf-8") as f:
            # Line breaks of the page aside (the red words' span may wrap between them).
            self.assertIn("red words", " ".join(f.read().split()))

    def test_document_libreoffice_cannot_read(self):
        self.require_office()
        source = self.write("broken.docx", b"PK\x03\x04 this is no office document")
        result = run([self.docdemo, source], env=self.env)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Something went wrong in the translation...exiting", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.docs, "broken.html")))

    def test_messages(self):
        missing = os.path.join(self.docs, "gone.docx")
        cases = [([], 2, "Please drop a file to translate onto the docdemo icon"),
                 ([missing], 1, f'Error: "{missing}" does not exist'),
                 (["a.doc", "b.doc"], 2, "Usage: docdemo"),
                 (["--bogus"], 2, "unknown option --bogus")]
        for args, status, message in cases:
            with self.subTest(args=args):
                result = run([self.docdemo] + args, env=self.env)
                self.assertEqual(result.returncode, status)
                self.assertIn(message, result.stderr)

    def test_control_that_cannot_be_created(self):
        if run([PYTHON, "-c", "import quillo"]).returncode == 0:
            self.skipTest("quillo is installed for every program: a copy cannot lose it")
        lonely = os.path.join(self.tmp, "bin")
        os.makedirs(lonely)
        shutil.copy(self.docdemo, lonely)
        result = run([os.path.join(lonely, "docdemo"), self.write("a.rtf", RED_RTF)],
                     env=self.env)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.strip(), INIT_ERROR)

    def test_usage(self):
        self.assertIn("Usage: docdemo", run([self.docdemo, "--help"]).stdout)
        self.assertRegex(run([self.docdemo, "--version"]).stdout, r"^docdemo \(Quillo\) ")
