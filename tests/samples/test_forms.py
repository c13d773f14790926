"""The forms of strdemo, ocxdemo and docdemo under Xvfb: each is started, driven with its
keyboard shortcuts through xdotool, checked by its results and photographed
(build/tests/samples/screenshots)."""

import os
import shutil
import signal
import stat
import subprocess
import unittest

from support import (PYTHON, RED_RTF, TempDir, find_window, png_size, press, program,
                     require_quillo_module, screenshot, user_env, wait_for, x_display)

STUB_BROWSER = f"""#!{PYTHON}
import sys
with open(sys.argv[1], "a") as f:
    f.write(sys.argv[2] + "\\n")
"""


class Forms(TempDir):

    @classmethod
    def setUpClass(cls):
        require_quillo_module()

    def setUp(self):
        super().setUp()
        self.env = user_env(self.tmp)
        self.source = os.path.join(self.tmp, "red.rtf")
        with open(self.source, "wb") as f:
            f.write(RED_RTF)
        self.display = self.enterContext(x_display())
        self.env["DISPLAY"] = self.display

    def start(self, args):
        """Starts a form; its standard error is collected in a file."""
        self.errors = os.path.join(self.tmp, "stderr.txt")
        log = open(self.errors, "wb")
        self.addCleanup(log.close)
        form = subprocess.Popen(args, env=self.env, cwd=self.tmp, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=log)

        def stop():
            if form.poll() is None:
                form.send_signal(signal.SIGTERM)
                try:
                    form.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    form.kill()
                    form.wait()
        self.addCleanup(stop)
        return form

    def said(self, text, timeout=90):
        def look():
            with open(self.errors, encoding="utf-8", errors="replace") as f:
                return text in f.read()
        return wait_for(look, timeout)

    def photograph(self, name):
        path = screenshot(self.display, name)
        width, height = png_size(path)
        self.assertEqual((width, height), (1280, 800))
        return path

    def test_strdemo_translates_into_the_second_pane(self):
        form = self.start([program("strdemo"), "--gui", self.source])
        window = find_window(self.display, "strdemo")
        self.assertIsNotNone(window, "the strdemo window did not appear")
        self.assertTrue(self.said("Opened " + self.source))
        press(self.display, window, "alt+t")
        self.assertTrue(self.said("Translated: 1 output"), "Translate did not run")
        self.photograph("strdemo")
        press(self.display, window, "ctrl+q")
        self.assertEqual(form.wait(timeout=30), 0)

    def test_ocxdemo_translates_file_and_string(self):
        stub = os.path.join(self.tmp, "browser")
        opened = os.path.join(self.tmp, "opened.txt")
        with open(stub, "w") as f:
            f.write(STUB_BROWSER)
        os.chmod(stub, stat.S_IRWXU)
        self.env["BROWSER"] = f"{stub} {opened} %s"
        form = self.start([program("ocxdemo"), "--gui", "--color", "#ffeedd", self.source])
        window = find_window(self.display, "ocxdemo")
        self.assertIsNotNone(window, "the ocxdemo window did not appear")
        press(self.display, window, "alt+f")
        self.assertTrue(self.said("Translation completed OK, output file = "
                                  + os.path.join(self.tmp, "red.html")))
        self.assertTrue(self.said("Found Red textstring: (red words) Character Style is:"))
        with open(os.path.join(self.tmp, "red.html"), encoding="utf-8") as f:
            self.assertIn("<whatever>red words</whatever>", f.read())
        # Translate String: the sample text of the form, its page opened in the browser.
        press(self.display, window, "alt+s")
        url = wait_for(lambda: os.path.exists(opened) and open(opened).read().strip(), 60)
        self.assertTrue(url and url.startswith("file:///"), "no page was opened")
        with open(url[len("file://"):], encoding="utf-8") as f:
            self.assertIn("<whatever>red</whatever>", f.read())
        shutil.rmtree(os.path.dirname(url[len("file://"):]))
        self.photograph("ocxdemo")
        press(self.display, window, "ctrl+q")
        self.assertEqual(form.wait(timeout=30), 0)

    def test_docdemo_converts_the_file_it_was_given(self):
        form = self.start([program("docdemo"), "--gui", self.source])
        window = find_window(self.display, "docdemo")
        self.assertIsNotNone(window, "the docdemo window did not appear")
        self.assertTrue(self.said("Translation completed OK, output file = "
                                  + os.path.join(self.tmp, "red.html")))
        self.photograph("docdemo")
        press(self.display, window, "ctrl+q")
        self.assertEqual(form.wait(timeout=30), 0)


if __name__ == "__main__":
    unittest.main()
