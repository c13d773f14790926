"""addinsetup: the LibreOffice extension it builds, its installation with unopkg for a test
user, and the macro converting a document through quillocmd."""

import os
import re
import shutil
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile

from support import BIN, HERE, PYTHON, RED_RTF, TempDir, program, run, user_env

EXPECTED_ENTRIES = {"Addons.xcu", "description.xml", "description-en.txt",
                    "META-INF/manifest.xml", "QuilloAddin/Convert.xba",
                    "QuilloAddin/script.xlb", "QuilloAddin/dialog.xlb"}

# LibreOffice installs extensions per user only for ordinary users; as root the tests act as
# this one.
TEST_USER = (65534, 65534)


class Package(TempDir):
    """The .oxt file itself."""

    def setUp(self):
        super().setUp()
        self.addinsetup = program("addinsetup")

    def test_build_only_packs_a_complete_extension(self):
        target = os.path.join(self.tmp, "x.oxt")
        result = run([self.addinsetup, "--build-only", target], env=user_env(self.tmp))
        self.assertEqual(result.returncode, 0, result.stderr)
        with zipfile.ZipFile(target) as oxt:
            self.assertEqual(set(oxt.namelist()), EXPECTED_ENTRIES)
            for name in oxt.namelist():
                if name.endswith((".xml", ".xcu", ".xlb", ".xba")):
                    ElementTree.fromstring(oxt.read(name))  # well-formed
            module = ElementTree.fromstring(oxt.read("QuilloAddin/Convert.xba")).text
            description = oxt.read("description.xml").decode()
            addons = oxt.read("Addons.xcu").decode()
        install_dir = os.path.realpath(BIN)
        self.assertIn(f'Const BuiltInstallDir = "{install_dir}"', module)
        self.assertIn("Function ConvertDocument(doc As Object) As String", module)
        self.assertRegex(description, r'<version value="\d+\.\d+\.\d+"/>')
        self.assertIn("<value>Convert with Quillo</value>", addons)
        self.assertIn("QuilloAddin.Convert.ConvertWithQuillo", addons)

    def test_basic_string_quoting_of_the_install_folder(self):
        # A folder name with a quotation mark becomes "" inside the Basic string and &quot; in
        # the XML around it; the module still reads back as that folder.
        folder = os.path.join(self.tmp, 'odd "name" & <dir>')
        shutil.copytree(BIN, folder, symlinks=True,
                        ignore=lambda d, names: [n for n in names if d == BIN and
                                                 n not in ("addinsetup", "addin")])
        target = os.path.join(self.tmp, "y.oxt")
        result = run([os.path.join(folder, "addinsetup"), "--build-only", target])
        self.assertEqual(result.returncode, 0, result.stderr)
        with zipfile.ZipFile(target) as oxt:
            module = ElementTree.fromstring(oxt.read("QuilloAddin/Convert.xba")).text
        self.assertIn('Const BuiltInstallDir = "' + folder.replace('"', '""') + '"', module)

    def test_missing_sources(self):
        folder = os.path.join(self.tmp, "bin")
        os.makedirs(folder)
        shutil.copy(self.addinsetup, folder)
        result = run([os.path.join(folder, "addinsetup"), "--build-only",
                      os.path.join(self.tmp, "z.oxt")])
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"Error, {os.path.join(folder, 'addin')} doesn't exist", result.stderr)

    def test_unwritable_target(self):
        target = os.path.join(self.tmp, "no", "such", "folder", "x.oxt")
        result = run([self.addinsetup, "--build-only", target])
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"Error, {target} could not be created", result.stderr)

    def test_usage(self):
        self.assertIn("Usage: addinsetup", run([self.addinsetup, "--help"]).stdout)
        self.assertRegex(run([self.addinsetup, "--version"]).stdout, r"^addinsetup \(Quillo\) ")
        self.assertEqual(run([self.addinsetup, "--bogus"]).returncode, 2)


class Installation(TempDir):
    """unopkg accepts the extension for a test user, and its macro converts a document."""

    def setUp(self):
        super().setUp()
        self.addinsetup = program("addinsetup")
        if not shutil.which("unopkg") or not shutil.which("soffice"):
            self.skipTest("LibreOffice (unopkg, soffice) is not installed")
        self.env = user_env(self.tmp)
        self.prefix = []
        if os.geteuid() == 0:
            if not shutil.which("setpriv"):
                self.skipTest("setpriv is needed to act as an ordinary user")
            self.prefix = ["setpriv", f"--reuid={TEST_USER[0]}", f"--regid={TEST_USER[1]}",
                           "--clear-groups"]
            os.chmod(self.tmp, 0o755)
            for root, dirs, files in os.walk(self.tmp):
                for name in dirs + files:
                    os.chown(os.path.join(root, name), *TEST_USER)
            os.chown(self.tmp, *TEST_USER)
            probe = run(self.prefix + ["test", "-x", self.addinsetup])
            if probe.returncode != 0:
                self.skipTest(f"the test user cannot reach {self.addinsetup}")

    def as_user(self, args, timeout=600):
        return run(self.prefix + args, env=self.env, timeout=timeout, cwd=self.tmp)

    def test_installed_for_the_user_and_the_macro_converts(self):
        result = self.as_user([self.addinsetup])
        self.assertEqual(result.returncode, 0, result.stderr)
        profile = os.path.join(self.env["XDG_CONFIG_HOME"], "libreoffice", "4", "user")
        self.assertEqual(result.stdout.splitlines(),
                         ["QuilloWriter.oxt has been installed in", profile,
                          "It should be loaded automatically when LibreOffice is started"])
        listing = self.as_user(["unopkg", "list"])
        self.assertIn("Identifier: org.quillo.convert", listing.stdout)
        self.assertRegex(listing.stdout, r"is registered: yes")
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "quillo", "quillo.ini")) as f:
            self.assertIn(f"InstallDir={os.path.realpath(BIN)}", f.read())

        # Installing again replaces the extension instead of failing.
        self.assertEqual(self.as_user([self.addinsetup]).returncode, 0)

        if run([PYTHON, "-c", "import uno"]).returncode != 0:
            self.skipTest("python3-uno is not installed: the macro is not run")
        docs = os.path.join(self.tmp, "docs")
        os.makedirs(docs)
        with open(os.path.join(docs, "letter.rtf"), "wb") as f:
            f.write(RED_RTF)
        if self.prefix:
            os.chown(docs, *TEST_USER)
        made = self.as_user(["soffice", "--headless", "--convert-to", "odt", "--outdir", docs,
                             os.path.join(docs, "letter.rtf")])
        self.assertTrue(os.path.exists(os.path.join(docs, "letter.odt")), made.stderr)
        os.remove(os.path.join(docs, "letter.rtf"))
        macro = self.as_user([PYTHON, os.path.join(HERE, "uno_convert.py"),
                              os.path.join(docs, "letter.odt")])
        self.assertEqual(macro.returncode, 0, macro.stderr)
        self.assertTrue(macro.stdout.startswith("Converted " + os.path.join(docs, "letter.rtf")),
                        macro.stdout)
        with open(os.path.join(docs, "letter.html"), encoding="utf-8") as f:
            page = f.read()
        # The words as a reader sees them: markup (the red words' span) and line breaks aside.
        text = " ".join(re.sub(r"<[^>]*>", "", page).split())
        self.assertIn("Plain text, red words and more", text)

    def test_root_is_sent_to_shared(self):
        if os.geteuid() != 0:
            self.skipTest("only root is refused a per-user installation")
        result = run([self.addinsetup], env=self.env)
        self.assertEqual(result.returncode, 1)
        self.assertIn("LibreOffice does not install extensions for root alone", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.env["XDG_CONFIG_HOME"], "quillo")))


if __name__ == "__main__":
    unittest.main()
