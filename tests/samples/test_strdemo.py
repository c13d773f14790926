"""strdemo: RTF text converted in memory; the page, split pages and pictures written where
asked; failures reported with the sample's messages."""

import os
import shutil

from support import (BIN, PYTHON, RED_RTF, SPLIT_RTF, TempDir, picture_rtf, png_bytes, program,
                     require_quillo_module, run, user_env)

INIT_ERROR = ("Error initializing the filter, please check that the Quillo ocx is installed "
              "correctly")


class StrDemo(TempDir):

    @classmethod
    def setUpClass(cls):
        cls.strdemo = program("strdemo")
        require_quillo_module()

    def setUp(self):
        super().setUp()
        self.env = user_env(self.tmp)

    def write(self, name, data):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_page_on_standard_output(self):
        source = self.write("red.rtf", RED_RTF)
        result = run([self.strdemo, source], env=self.env, cwd=self.tmp)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("<!DOCTYPE html>", result.stdout)
        self.assertRegex(result.stdout, r"Plain text,.*red words.*and more")
        self.assertEqual(sorted(os.listdir(self.tmp)), ["cache", "config", "data", "home",
                                                       "red.rtf", "system-config",
                                                       "system-data"],
                         "nothing is written without -o")

    def test_standard_input(self):
        result = run([self.strdemo], env=self.env, input=RED_RTF, cwd=self.tmp)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("red words", result.stdout)

    def test_split_pages_and_pictures_beside_the_output(self):
        out = os.path.join(self.tmp, "site", "book.html")
        os.makedirs(os.path.dirname(out))
        result = run([self.strdemo, "-o", out, self.write("book.rtf", SPLIT_RTF)],
                     env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        site = sorted(os.listdir(os.path.dirname(out)))
        self.assertEqual(site, ["book-alpha-chapter.html", "book-beta-chapter.html",
                                "book.html"])
        with open(out, encoding="utf-8") as f:
            self.assertIn('href="book-alpha-chapter.html"', f.read())
        with open(os.path.join(self.tmp, "site", "book-beta-chapter.html"),
                  encoding="utf-8") as f:
            self.assertIn("Beta text.", f.read())

        pictured = os.path.join(self.tmp, "pics", "p.html")
        os.makedirs(os.path.dirname(pictured))
        result = run([self.strdemo, "-o", pictured, self.write("p.rtf", picture_rtf(12, 8))],
                     env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.tmp, "pics", "p00.png"), "rb") as f:
            self.assertEqual(f.read(), png_bytes(12, 8), "picture bytes written exactly")
        with open(pictured, encoding="utf-8") as f:
            self.assertIn('src="p00.png"', f.read())

    def test_failures(self):
        not_rtf = self.write("plain.rtf", b"just some words, no RTF at all")
        cases = [
            ([not_rtf], None, 1, "Error, ret = 0"),
            ([os.path.join(self.tmp, "missing.rtf")], None, 1,
             f'Error: "{os.path.join(self.tmp, "missing.rtf")}" does not exist'),
            (["-o", os.path.join(self.tmp, "it's.html"), "-"], RED_RTF, 1,
             "strdemo cannot name outputs whose path holds a '"),
            (["-o", os.path.join(self.tmp, "no", "dir", "x.html"), "-"], RED_RTF, 1,
             "strdemo: cannot write"),
            (["a.rtf", "b.rtf"], None, 2, "Usage: strdemo"),
            (["--bogus"], None, 2, "unknown option --bogus"),
        ]
        for args, stdin, status, message in cases:
            with self.subTest(args=args):
                result = run([self.strdemo] + args, env=self.env, input=stdin)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(message, result.stderr)

    def test_control_that_cannot_be_created(self):
        if run([PYTHON, "-c", "import quillo"]).returncode == 0:
            self.skipTest("quillo is installed for every program: a copy cannot lose it")
        # A copy of the program without the quillo module beside it.
        lonely = os.path.join(self.tmp, "bin")
        os.makedirs(lonely)
        shutil.copy(self.strdemo, lonely)
        result = run([os.path.join(lonely, "strdemo"), self.write("red.rtf", RED_RTF)],
                     env=self.env)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.strip(), INIT_ERROR)

    def test_installed_layout(self):
        # bin/strdemo beside lib/python3/dist-packages/quillo and share/quillo, as
        # `cmake --install` lays them out under any prefix.
        prefix = os.path.join(self.tmp, "prefix")
        os.makedirs(os.path.join(prefix, "bin"))
        shutil.copy(self.strdemo, os.path.join(prefix, "bin"))
        packages = os.path.join(prefix, "lib", "python3", "dist-packages")
        os.makedirs(packages)
        os.symlink(os.path.realpath(os.path.join(BIN, "..", "python", "quillo")),
                   os.path.join(packages, "quillo"))
        shutil.copytree(BIN, os.path.join(prefix, "share", "quillo"),
                        ignore=lambda d, names: [n for n in names if d == BIN and
                                                 n not in ("rtf-ctrl.txt", "html.trn",
                                                           "cmdfile.trn", "charsets.trn",
                                                           "styles.trn", "functions.trn",
                                                           "html-mapv4.txt", "ansi-gen")])
        result = run([os.path.join(prefix, "bin", "strdemo"), self.write("red.rtf", RED_RTF)],
                     env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("red words", result.stdout)

    def test_usage(self):
        self.assertIn("Usage: strdemo", run([self.strdemo, "--help"]).stdout)
        self.assertRegex(run([self.strdemo, "--version"]).stdout, r"^strdemo \(Quillo\) ")
