"""ocxdemo: file and string conversions through the control, with the messages of its events
(completion, progress, reason 2 pictures, reason 3 captured text answered with SetString)."""

import os
import re
import shutil

from support import (PYTHON, RED_RTF, TempDir, picture_rtf, program, require_quillo_module, run,
                     user_env)

INIT_ERROR = ("Error initializing the filter, please check that the Quillo ocx is installed "
              "correctly")

# Red text in a character style of its own: the host reads the colour and the style name.
STYLED_RTF = (rb"{\rtf1\ansi{\fonttbl{\f0\fswiss Arial;}}"
              rb"{\colortbl;\red0\green0\blue0;\red255\green0\blue0;}"
              rb"{\stylesheet{\s0 Normal;}{\*\cs10 \additive\cf2 Alert;}}"
              rb"\pard\s0\f0 Keep {\cs10\cf2 this & that} safe.\par}")


class OcxDemo(TempDir):

    @classmethod
    def setUpClass(cls):
        cls.ocxdemo = program("ocxdemo")
        require_quillo_module()

    def setUp(self):
        super().setUp()
        self.env = user_env(self.tmp)

    def write(self, name, data):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_file_with_captured_text(self):
        source = self.write("red.rtf", RED_RTF)
        result = run([self.ocxdemo, "--color", "#ffeedd", source], env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stderr.splitlines()
        self.assertEqual([l for l in lines if l.startswith("Found")],
                         ["Found Red textstring: (red words) Character Style is:"],
                         "reason 3 once per captured text")
        self.assertEqual(lines[-1], "Translation completed OK, output file = "
                         + os.path.join(self.tmp, "red.html"))
        progress = [int(m.group(1)) for m in map(re.compile(r"^Done (\d+)%$").match, lines) if m]
        self.assertGreaterEqual(len(progress), 5)
        self.assertEqual(progress, sorted(progress))
        with open(os.path.join(self.tmp, "red.html"), encoding="utf-8") as f:
            page = f.read()
        self.assertIn("<whatever>red words</whatever>", page, "CallBackReturn was used")
        self.assertIn("body { background-color: #ffeedd; }", page)

    def test_character_style_and_escaped_text(self):
        source = self.write("styled.rtf", STYLED_RTF)
        result = run([self.ocxdemo, source], env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Found Red textstring: (this &amp; that) Character Style is:Alert",
                      result.stderr.splitlines())

    def test_picture_is_announced(self):
        source = self.write("pic.rtf", picture_rtf())
        result = run([self.ocxdemo, source], env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Converting image file " + os.path.join(self.tmp, "pic00.png"),
                      result.stderr.splitlines())

    def test_string_conversion(self):
        source = self.write("red.rtf", RED_RTF)
        result = run([self.ocxdemo, "--string", source], env=self.env, cwd=self.tmp)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("<whatever>red words</whatever>", result.stdout)
        self.assertIn("Found Red textstring: (red words) Character Style is:", result.stderr)
        self.assertNotIn("Translation completed", result.stderr, "no event for strings")
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "red.html")))

    def test_several_files_and_a_failure(self):
        good = self.write("good.rtf", RED_RTF)
        bad = self.write("bad.rtf", b"no RTF here")
        result = run([self.ocxdemo, good, bad, os.path.join(self.tmp, "gone.rtf")],
                     env=self.env)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Translation completed OK, output file = "
                      + os.path.join(self.tmp, "good.html"), result.stderr)
        self.assertRegex(result.stderr, r"Translation failed\. Status = [1-9]\d* "
                         + re.escape(bad))
        self.assertIn(f'Error: "{os.path.join(self.tmp, "gone.rtf")}" does not exist',
                      result.stderr)

    def test_usage_errors(self):
        source = self.write("red.rtf", RED_RTF)
        cases = [([], "Usage: ocxdemo"), (["--string", source, source], "Usage: ocxdemo"),
                 (["--color", "red;}</style>", source], "is not a colour"),
                 (["--trn", "it's.trn", source], "may not hold a '"),
                 (["--bogus", source], "unknown option --bogus")]
        for args, message in cases:
            with self.subTest(args=args):
                result = run([self.ocxdemo] + args, env=self.env)
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "red.html")))

    def test_control_that_cannot_be_created(self):
        if run([PYTHON, "-c", "import quillo"]).returncode == 0:
            self.skipTest("quillo is installed for every program: a copy cannot lose it")
        lonely = os.path.join(self.tmp, "bin")
        os.makedirs(lonely)
        shutil.copy(self.ocxdemo, lonely)
        result = run([os.path.join(lonely, "ocxdemo"), self.write("red.rtf", RED_RTF)],
                     env=self.env)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.strip(), INIT_ERROR)
