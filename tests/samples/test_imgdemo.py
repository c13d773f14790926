"""imgdemo: metafiles and bitmaps to PNG or JPEG, the remembered choice, and bad input."""

import glob
import os
import shutil
import tempfile
import unittest

from support import (CORPUS, TempDir, emf_size, jpeg_size, pixel_colour, png_size,
                     program, run, user_env, wmf_size, write_bmp)

# Corpus documents whose pictures the engine writes as .wmf and .emf files.
PICTURE_DOCUMENTS = ["rtf.js/wmf__source.rtf", "RtfPipe/Issue46.rtf",
                     "abiword-testsuite/rtf__RTF-Spec-1.5.rtf", "rtf.js/wmf-and-emf__source.rtf",
                     "rtf2latex2e/Word_Graphic.rtf"]


def picture_env(root):
    """The test user's environment for imgdemo. Under the sanitizers, LeakSanitizer's own leak
    check crashes ("Tracer caught signal 11", a bogus DTLS range) on the thread-local storage of
    ImageMagick's coder modules, which it loads with dlopen; address and undefined-behaviour
    checks stay on, only that final leak scan is skipped."""
    env = user_env(root)
    if "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    return env


class CorpusPictures(unittest.TestCase):
    """Real pictures: the engine extracts them from corpus documents, imgdemo converts them."""

    @classmethod
    def setUpClass(cls):
        if not os.path.isdir(CORPUS):
            raise unittest.SkipTest(f"no corpus at {CORPUS}")
        cls.imgdemo = program("imgdemo")
        quillocmd = program("quillocmd")
        cls.tmp = tempfile.mkdtemp(prefix="quillo-imgdemo.")
        for i, document in enumerate(PICTURE_DOCUMENTS):
            source = os.path.join(CORPUS, document)
            if os.path.isfile(source):
                run([quillocmd, "-D", "PauseOnErr=0", "-o",
                     os.path.join(cls.tmp, f"doc{i}.html"), source])
        # ImageMagick takes about a second of processor time for a metafile with text, so the
        # tests use the smallest eight (among them two that ImageMagick cannot read).
        smallest = sorted(glob.glob(os.path.join(cls.tmp, "*.wmf")), key=os.path.getsize)[:8]
        for extra in set(glob.glob(os.path.join(cls.tmp, "*.wmf"))) - set(smallest):
            os.remove(extra)
        cls.wmf = sorted(smallest)
        cls.emf = sorted(glob.glob(os.path.join(cls.tmp, "*.emf")))
        if not cls.wmf:
            raise unittest.SkipTest("the corpus documents gave no metafiles")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, True)

    def setUp(self):
        self.env = picture_env(tempfile.mkdtemp(dir=self.tmp))

    def test_wmf_to_png_has_the_declared_size(self):
        # The pattern is quoted: imgdemo expands it itself.
        result = run([self.imgdemo, "-s", "-png", os.path.join(self.tmp, "*.wmf")], env=self.env)
        self.assertEqual(result.stdout, "", "-s prints nothing for pictures that convert")
        converted = 0
        for wmf in self.wmf:
            png = wmf[:-4] + ".png"
            if not os.path.exists(png):
                # A picture ImageMagick cannot read is named, and nothing is left behind.
                self.assertIn(f"Unknown problem converting {wmf}", result.stderr)
                continue
            converted += 1
            declared = wmf_size(wmf)
            self.assertIsNotNone(declared, wmf)
            width, height = png_size(png)
            self.assertAlmostEqual(width, declared[0], delta=1, msg=wmf)
            self.assertAlmostEqual(height, declared[1], delta=1, msg=wmf)
        self.assertGreaterEqual(converted, len(self.wmf) - 2, result.stderr)
        self.assertEqual(result.returncode, 0 if converted == len(self.wmf) else 1)

    def test_emf_to_png_has_the_declared_size(self):
        if not self.emf:
            self.skipTest("no enhanced metafiles in the corpus documents")
        result = run([self.imgdemo, "-png"] + self.emf, env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        for emf in self.emf:
            png = emf[:-4] + ".png"
            self.assertIn(f"{emf} -> {png}", result.stdout)
            width, height = png_size(png)
            declared = emf_size(emf)
            self.assertAlmostEqual(width, declared[0], delta=1, msg=emf)
            self.assertAlmostEqual(height, declared[1], delta=1, msg=emf)

    def test_jpeg_is_remembered_until_png_is_chosen(self):
        wmf = self.wmf[0]
        first = run([self.imgdemo, "-s", "-jpg", wmf], env=self.env)
        self.assertEqual(first.returncode, 0, first.stderr)
        width, height = jpeg_size(wmf[:-4] + ".jpg")
        declared = wmf_size(wmf)
        self.assertAlmostEqual(width, declared[0], delta=1)
        self.assertAlmostEqual(height, declared[1], delta=1)
        ini = os.path.join(self.env["XDG_CONFIG_HOME"], "quillo", "imgdemo.ini")
        with open(ini) as f:
            self.assertIn("[Settings]", f.read())
        os.remove(wmf[:-4] + ".jpg")
        # No switch: the remembered JPEG.
        second = run([self.imgdemo, "-s", wmf], env=self.env)
        self.assertEqual(second.returncode, 0, second.stderr)
        self.assertTrue(os.path.exists(wmf[:-4] + ".jpg"))
        third = run([self.imgdemo, "-s", "-png", wmf], env=self.env)
        self.assertEqual(third.returncode, 0, third.stderr)
        png_size(wmf[:-4] + ".png")
        with open(ini) as f:
            self.assertIn("Format=png", f.read())


class Bitmaps(TempDir):
    """Bitmaps made here: each kind of row order and depth keeps its size and orientation."""

    def setUp(self):
        super().setUp()
        self.imgdemo = program("imgdemo")
        self.env = picture_env(self.tmp)

    def test_bitmaps_keep_size_and_orientation(self):
        cases = [("rgb24.bmp", 37, 23, 24, False), ("palette8.bmp", 16, 9, 8, True),
                 ("rgba32.bmp", 5, 7, 32, False), ("upper.BMP", 3, 2, 24, True)]
        for name, width, height, bits, top_down in cases:
            write_bmp(os.path.join(self.tmp, name), width, height, bits, top_down)
        result = run([self.imgdemo, "-png"] + [os.path.join(self.tmp, c[0]) for c in cases],
                     env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        for name, width, height, bits, top_down in cases:
            with self.subTest(name=name):
                png = os.path.join(self.tmp, os.path.splitext(name)[0] + ".png")
                self.assertEqual(png_size(png), (width, height))
                self.assertIn(pixel_colour(png, 0, 0), ("srgb(255,0,0)", "red", "srgba(255,0,0,1)"))
                self.assertNotIn("255,0,0", pixel_colour(png, width - 1, height - 1))

    def test_settings_file_keeps_other_entries(self):
        folder = os.path.join(self.env["XDG_CONFIG_HOME"], "quillo")
        os.makedirs(folder)
        ini = os.path.join(folder, "imgdemo.ini")
        with open(ini, "w") as f:
            f.write("; written by hand\n[Window]\nLeft=10\n\n[Settings]\nFormat=png\nOther=1\n")
        write_bmp(os.path.join(self.tmp, "a.bmp"), 4, 4)
        result = run([self.imgdemo, "-s", "-jpg", os.path.join(self.tmp, "a.bmp")], env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(ini) as f:
            self.assertEqual(f.read(), "; written by hand\n[Window]\nLeft=10\n\n[Settings]\n"
                                       "Format=jpg\nOther=1\n")
        self.assertEqual([n for n in os.listdir(folder)], ["imgdemo.ini"], "no temporary left")

    def test_bad_input(self):
        with open(os.path.join(self.tmp, "notes.txt"), "w") as f:
            f.write("not a picture")
        with open(os.path.join(self.tmp, "broken.bmp"), "wb") as f:
            f.write(b"BM" + b"\x00" * 60)
        # A drawing script dressed as a bitmap: the BMP decoder is forced, the script never runs.
        with open(os.path.join(self.tmp, "script.bmp"), "w") as f:
            f.write("push graphic-context\nviewbox 0 0 10 10\n"
                    "image over 0,0 0,0 '/etc/passwd'\npop graphic-context\n")
        with open(os.path.join(self.tmp, "empty.wmf"), "wb"):
            pass
        cases = [
            (["missing.wmf"], 1, 'Error: "missing.wmf" does not exist'),
            (["nothing*.wmf"], 1, 'Error: "nothing*.wmf" does not exist'),
            (["notes.txt"], 1, 'Error: "notes.txt" is not a wmf, emf or bmp picture'),
            (["broken.bmp"], 1, "Unknown problem converting broken.bmp"),
            (["script.bmp"], 1, "Unknown problem converting script.bmp"),
            (["empty.wmf"], 1, "Unknown problem converting empty.wmf"),
            ([], 2, "Please drop a wmf or bmp file to translate onto the imgdemo icon"),
            (["-x"], 2, "unknown option -x"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args):
                result = run([self.imgdemo, "-s"] + args, env=self.env, cwd=self.tmp)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(message, result.stderr)
        leftovers = sorted(n for n in os.listdir(self.tmp) if n.endswith((".png", ".jpg")))
        self.assertEqual(leftovers, [])

    def test_one_failure_does_not_stop_the_others(self):
        write_bmp(os.path.join(self.tmp, "good.bmp"), 6, 6)
        result = run([self.imgdemo, "-png", "missing.bmp", "good.bmp"], env=self.env,
                     cwd=self.tmp)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(png_size(os.path.join(self.tmp, "good.png")), (6, 6))

    def test_help_and_version(self):
        result = run([self.imgdemo, "--help"])
        self.assertEqual(result.returncode, 0)
        self.assertIn("Usage: imgdemo", result.stdout)
        result = run([self.imgdemo, "--version"])
        self.assertEqual(result.returncode, 0)
        self.assertRegex(result.stdout, r"^imgdemo \(Quillo\) \d+\.\d+")


if __name__ == "__main__":
    unittest.main()
