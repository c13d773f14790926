"""The module converts every corpus document exactly as quillocmd does (same files, same bytes).

Needs the shared corpus (../shared/corpus beside the checkout, or QUILLO_CORPUS) and the build
tree (QUILLO_BUILD_DIR, set by ctest); skipped without them.
"""

import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

import quillo

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = pathlib.Path(os.environ.get("QUILLO_CORPUS") or HERE.parents[2] / "shared" / "corpus")
BUILD = os.environ.get("QUILLO_BUILD_DIR")


@unittest.skipUnless(CORPUS.is_dir() and BUILD, "no corpus, or no build tree named")
class CorpusTest(unittest.TestCase):
    def test_same_files_and_bytes_as_quillocmd(self):
        quillocmd = pathlib.Path(BUILD, "bin", "quillocmd")
        documents = sorted(CORPUS.rglob("*.rtf"))
        self.assertTrue(documents)
        for document in documents:
            with self.subTest(document=str(document.relative_to(CORPUS))), \
                    tempfile.TemporaryDirectory(prefix="quillo-corpus-") as scratch:
                ours, theirs = pathlib.Path(scratch, "module"), pathlib.Path(scratch, "cmd")
                for folder in (ours, theirs):
                    folder.mkdir()
                    shutil.copyfile(document, folder / "doc.rtf")
                try:
                    quillo.convert_file(ours / "doc.rtf")
                    status = 0
                except quillo.ConversionError as error:
                    status = error.status
                run = subprocess.run(
                    [str(quillocmd), "-D", "PauseOnErr=0", str(theirs / "doc.rtf")],
                    stdin=subprocess.DEVNULL,
                    capture_output=True,
                )
                self.assertEqual(status == 0, run.returncode == 0)
                names = sorted(p.name for p in ours.iterdir())
                self.assertEqual(names, sorted(p.name for p in theirs.iterdir()))
                for name in names:
                    if name.endswith("_err.htm"):
                        continue  # names the folder it was written in
                    self.assertEqual((ours / name).read_bytes(), (theirs / name).read_bytes(), name)


if __name__ == "__main__":
    unittest.main()
