"""Where the package finds its data: in the build tree, and installed in the Debian layout."""

import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

import quillo

BUILD = os.environ.get("QUILLO_BUILD_DIR")
PROBE = (
    "import quillo, sys\n"
    "page = quillo.convert_string(rb'{\\rtf1\\ansi Installed.\\par}').outputs['-.html']\n"
    "assert b'Installed.' in page, page\n"
    "print(quillo.__file__)\n"
    "print(quillo.data_directory())\n"
)


@unittest.skipUnless(BUILD, "QUILLO_BUILD_DIR names the build tree (set by ctest)")
class DataFolderTest(unittest.TestCase):
    def test_build_tree_uses_the_data_beside_the_programs(self):
        expected = pathlib.Path(BUILD, "bin").resolve()
        self.assertEqual(pathlib.Path(quillo.data_directory()), expected)

    def test_installed_package_finds_the_installed_data(self):
        with tempfile.TemporaryDirectory(prefix="quillo-install-") as prefix:
            subprocess.run(
                ["cmake", "--install", BUILD, "--prefix", prefix],
                check=True,
                stdout=subprocess.DEVNULL,
            )
            packages = pathlib.Path(prefix, "lib", "python3", "dist-packages")
            for name in ("__init__.py", "__init__.pyi", "py.typed"):
                self.assertTrue((packages / "quillo" / name).is_file(), name)
            env = {k: v for k, v in os.environ.items() if k not in ("RTFLIBDIR", "PYTHONPATH")}
            env["PYTHONPATH"] = str(packages)
            env["PYTHONDONTWRITEBYTECODE"] = "1"
            run = subprocess.run(
                [sys.executable, "-c", PROBE],
                cwd="/",
                env=env,
                check=True,
                capture_output=True,
                text=True,
            )
            module, data = run.stdout.splitlines()
            self.assertTrue(module.startswith(str(packages)), module)
            real = pathlib.Path(prefix).resolve()
            self.assertEqual(pathlib.Path(data), real / "share" / "quillo")


if __name__ == "__main__":
    unittest.main()
