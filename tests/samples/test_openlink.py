"""openlink: the desktop's handler for web links started without a shell; other addresses
refused."""

import json
import os
import stat
import subprocess
import unittest

from support import PYTHON, TempDir, program, require_tools, run, user_env, wait_for

# A browser stand-in: records its arguments, one JSON list per start.
STUB = f"""#!{PYTHON}
import json, sys
with open(sys.argv[1], "a") as f:
    f.write(json.dumps(sys.argv[2:]) + "\\n")
"""


class OpenLink(TempDir):

    def setUp(self):
        super().setUp()
        self.openlink = program("openlink")
        self.env = user_env(self.tmp)
        self.log = os.path.join(self.tmp, "started.jsonl")
        self.stub = os.path.join(self.tmp, "stub browser")  # a blank in the path on purpose
        with open(self.stub, "w") as f:
            f.write(STUB)
        os.chmod(self.stub, stat.S_IRWXU)

    def register_handler(self, exec_line):
        """Installs a desktop file for the test user and makes it the http handler."""
        require_tools("xdg-mime")
        folder = os.path.join(self.env["XDG_DATA_HOME"], "applications")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "quillo-test-browser.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Test Browser\n"
                    "Name[de]=Testbrowser\nIcon=test-browser\n"
                    f"Exec={exec_line}\n"
                    "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n")
        for scheme in ("http", "https"):
            subprocess.run(["xdg-mime", "default", "quillo-test-browser.desktop",
                            "x-scheme-handler/" + scheme], env=self.env, check=True,
                           stdin=subprocess.DEVNULL, capture_output=True)

    def started(self, count=1):
        def read():
            if not os.path.exists(self.log):
                return None
            with open(self.log) as f:
                lines = f.read().splitlines()
            return lines if len(lines) >= count else None
        lines = wait_for(read, timeout=30) or []
        return [json.loads(line) for line in lines]

    def quoted_stub(self):
        return '"' + self.stub + '" "' + self.log + '"'

    def test_registered_handler_gets_the_address_as_one_argument(self):
        self.register_handler(self.quoted_stub() + " --new-window %u")
        marker = os.path.join(self.tmp, "PWNED")
        urls = ["https://example.org/report.html",
                f"http://example.org/a?b=1&c=$(touch${{IFS}}{marker});x'y\"z`id`"]
        for url in urls:
            result = run([self.openlink, url], env=self.env)
            self.assertEqual(result.returncode, 0, result.stderr)
        starts = self.started(len(urls))
        self.assertEqual(starts, [["--new-window", url] for url in urls])
        self.assertFalse(os.path.exists(marker), "nothing of the address ran as a command")

    def test_field_codes_of_the_exec_line(self):
        self.register_handler(self.quoted_stub() + " %i --name=%c %%x %F")
        result = run([self.openlink, "http://example.org/"], env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.started(), [["--icon", "test-browser", "--name=Test Browser", "%x",
                                           "http://example.org/"]])

    def test_address_added_when_the_exec_line_has_no_field_code(self):
        self.register_handler(self.quoted_stub())
        result = run([self.openlink, "https://example.org/x"], env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.started(), [["https://example.org/x"]])

    def test_browser_variable_when_no_handler_is_registered(self):
        env = dict(self.env, BROWSER=f"/nonexistent/browser:'{self.stub}' {self.log} --url=%s")
        result = run([self.openlink, "https://example.org/b"], env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.started(), [["--url=https://example.org/b"]])

    def test_refused_addresses(self):
        self.register_handler(self.quoted_stub() + " %u")
        for url in ["file:///etc/passwd", "javascript:alert(1)", "ftp://example.org/",
                    "http://", "http:/example.org", "example.org", "http://exa mple.org/",
                    "https://example.org/\nx", "--version=http://x"]:
            with self.subTest(url=url):
                result = run([self.openlink, url], env=self.env)
                self.assertEqual(result.returncode, 2)
                self.assertIn("refused", result.stderr)
        self.assertFalse(os.path.exists(self.log), "no browser was started")

    def test_no_browser_at_all(self):
        result = run([self.openlink, "https://example.org/"], env=self.env)
        self.assertEqual(result.returncode, 1)
        self.assertIn("no web browser is set up", result.stderr)

    def test_handler_that_cannot_start(self):
        self.register_handler("/nonexistent/browser %u")
        result = run([self.openlink, "https://example.org/"], env=self.env)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Fatal error while communicating to browser", result.stderr)

    def test_usage(self):
        for args, status, stream in ((["--help"], 0, "stdout"), ([], 2, "stderr"),
                                     (["a", "b"], 2, "stderr")):
            with self.subTest(args=args):
                result = run([self.openlink] + args, env=self.env)
                self.assertEqual(result.returncode, status)
                self.assertIn("Usage: openlink URL", getattr(result, stream))
        self.assertRegex(run([self.openlink, "--version"]).stdout, r"^openlink \(Quillo\) ")


if __name__ == "__main__":
    unittest.main()
