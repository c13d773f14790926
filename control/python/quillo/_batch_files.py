"""What quillo.batch reads and writes on disk: output names, the markers beside outputs, the
documents found under SOURCE and whether their outputs are up to date.
"""

from __future__ import annotations

import dataclasses
import os
import sys
from typing import List, Optional, Tuple

from . import _batch_child

MARKER_SUFFIX = ".quillo-partial"


# ---- Names ----------------------------------------------------------------------------------


def output_base(relative: str) -> str:
    """The output path of a document without extension, as quillocmd derives it: the document's
    path with a final ".rtf" or ".RTF" dropped (exactly those two spellings, and only from a
    name longer than the suffix)."""
    if len(os.path.basename(relative)) > 4 and relative[-4:] in (".rtf", ".RTF"):
        return relative[:-4]
    return relative


def marker_path(base: str) -> str:
    """The marker that says a conversion into `base` (output path without extension) is under
    way or failed."""
    folder, name = os.path.split(base)
    return os.path.join(folder, "." + name + MARKER_SUFFIX)


# ---- Finding the documents ------------------------------------------------------------------


@dataclasses.dataclass
class Document:
    """One document of the run and what became of it."""

    index: int
    relative: str  # path under SOURCE, '/'-separated
    source: str  # absolute path of the document
    size: int
    mtime_ns: int
    base: str  # absolute output path without extension
    output_name: str  # the output file name handed to the engine
    expected: str  # where the main output is expected (for resuming)
    record: Optional[dict] = None  # the report entry once the document is settled


def find_documents(source: str, dest: str) -> List[Tuple[str, str, os.stat_result]]:
    """(relative path, absolute path, stat) of every RTF file under `source` (or `source`
    itself when it is a file), sorted by relative path. Links to folders are not followed
    (they could loop); DEST is not searched when it lies inside SOURCE."""
    if os.path.isfile(source):
        return [(os.path.basename(source), source, os.stat(source))]
    found = []
    skip = os.path.realpath(dest) if os.path.realpath(dest) != os.path.realpath(source) else None

    def walk(folder: str, prefix: str) -> None:
        try:
            entries = list(os.scandir(folder))
        except OSError as error:
            print(f"quillo.batch: cannot list {folder}: {error.strerror}", file=sys.stderr)
            return
        for entry in entries:
            relative = prefix + entry.name
            try:
                if entry.is_dir(follow_symlinks=False):
                    if skip is None or os.path.realpath(entry.path) != skip:
                        walk(entry.path, relative + "/")
                elif entry.name.lower().endswith(".rtf") and entry.is_file():
                    found.append((relative, entry.path, entry.stat()))
            except OSError:
                continue  # vanished, or a dangling link

    walk(source, "")
    found.sort(key=lambda item: item[0])
    return found


mtime_ns = _batch_child.mtime_ns


def attempts_started(marker: str, run_id: str) -> int:
    """How many conversions of the document this run started and never finished: the
    "converting" lines its marker holds for the run."""
    try:
        with open(marker, encoding="utf-8", errors="replace") as stamp:
            return sum(1 for line in stamp if line.split()[:2] == ["converting", run_id])
    except OSError:
        return 0


def is_up_to_date(document_mtime_ns: int, expected: str, marker: str, newer_than: int = 0) -> bool:
    """True when the main output exists, is newer than the document (and than `newer_than`,
    the translation file's time) and no marker says a conversion into it failed or stopped."""
    output_time = mtime_ns(expected)
    if output_time is None or output_time <= max(document_mtime_ns, newer_than):
        return False
    return not os.path.lexists(marker)
