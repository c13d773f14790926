"""Quillo: RTF documents to web pages.

Convert a file (pages written beside it) or RTF text (pages kept in memory)::

    import quillo

    result = quillo.convert_file("report.rtf", progress=print)
    print(list(result.outputs))             # the files written
    page = quillo.convert_string(rtf_text).outputs["-.html"]

Keyword arguments are named settings (``SplitDepth=1``, ``GenContents=True``),
``trn`` names the translation file. Failures raise ConversionError with the
engine's messages.

``quillo.Control`` is the converter's control: the properties, methods and
events (``ConvertRTF``, ``ConvertStrRTF``, ``callback``...) that scripting
hosts have always used. The control, convert_file and convert_string share one
engine and run one at a time.

``quillo.Engine`` is an engine of its own, with the same convert_file and
convert_string methods. Conversions on different engines run in parallel
(they release the GIL), so a thread pool with one engine per thread uses every
core::

    from concurrent.futures import ThreadPoolExecutor
    engines = threading.local()

    def convert(path):
        if not hasattr(engines, "engine"):
            engines.engine = quillo.Engine()
        return engines.engine.convert_file(path)

    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(convert, paths))
"""

from __future__ import annotations

import os
import threading
from typing import Callable, Dict, List, NamedTuple, Optional, Tuple, Union

from ._quillo import (
    Control,
    _EngineCore,
    ControlBusy,
    __version__,
    busy,
    data_directory,
    last_messages,
    metadata,
    split_options,
)

__all__ = [
    "Control",
    "ControlBusy",
    "ConversionError",
    "Engine",
    "Message",
    "Result",
    "busy",
    "convert_file",
    "convert_string",
    "data_directory",
    "last_messages",
    "metadata",
    "split_options",
    "__version__",
]


class Message(NamedTuple):
    """One message reported by a conversion.

    ``code`` is the message code ("MSG_CANT_OPEN", "ERR_FILE_OPEN_FAILED"...),
    ``action`` what the engine did with it ("message", "panic" or "eof"),
    ``text`` the message as plain text, ``line`` and ``position`` where the
    reader was in the input (0 when it had read nothing yet).
    """

    code: str
    action: str
    text: str
    line: int
    position: int

    def __str__(self) -> str:
        where = f" (line {self.line}, position {self.position})" if self.line else ""
        return f"{self.code}: {self.text}{where}"


class ConversionError(Exception):
    """A conversion failed.

    ``status`` is the engine's result (1 for a failed conversion, -1 for an
    argument error such as an unknown option), ``messages`` the messages the
    conversion reported (a list of Message).
    """

    def __init__(self, status: int, messages: List[Message]) -> None:
        self.status = status
        self.messages = list(messages)
        reasons = [m for m in self.messages if m.action != "message"] or self.messages
        detail = f": {reasons[-1]}" if reasons else ""
        super().__init__(f"Quillo conversion failed (status {status}){detail}")


class Result:
    """What a successful conversion produced.

    ``status`` is 0. ``outputs`` maps each output's name to its bytes, in the
    order written: for convert_string the in-memory outputs (the page is
    "-.html", pictures follow), for convert_file the files written (pages,
    pictures, the error file when there were messages). ``messages`` lists
    the messages reported (a list of Message): a conversion can succeed with
    warnings.
    """

    __slots__ = ("status", "outputs", "messages")

    def __init__(self, status: int, outputs: Dict[str, bytes], messages: List[Message]) -> None:
        self.status = status
        self.outputs = outputs
        self.messages = messages

    def __repr__(self) -> str:
        return (
            f"<quillo.Result status={self.status} outputs={list(self.outputs)!r} "
            f"messages={len(self.messages)}>"
        )


Progress = Callable[[int], object]
SettingValue = Union[str, int, float, bool, "os.PathLike[str]"]

# The Pythonic functions of several threads take turns instead of refusing one another; a call
# from inside an event handler is still refused by the engine (ControlBusy).
_turn = threading.RLock()


def _setting_text(name: str, value: object) -> str:
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, (str, int, float)):
        return str(value)
    if isinstance(value, os.PathLike):
        return os.fsdecode(value)
    raise TypeError(
        f"setting {name} must be str, int, float, bool or os.PathLike, "
        f"not {type(value).__name__}"
    )


def _option_words(trn: object, settings: Dict[str, object], progress: Optional[Progress]) -> List[str]:
    words = []
    if trn is not None:
        if not isinstance(trn, (str, bytes, os.PathLike)):
            raise TypeError(f"trn must be str or os.PathLike, not {type(trn).__name__}")
        name = os.fsdecode(trn)
        # A file named relative to the current folder is meant; the engine would look for a
        # relative name in its library folders only.
        if os.path.isfile(name):
            name = os.path.abspath(name)
        words.append("-DTrnFile=" + name)
    for name, value in settings.items():
        if not name or "=" in name:
            raise ValueError(f"invalid setting name {name!r}")
        words.append(f"-D{name}={_setting_text(name, value)}")
    if progress is not None:
        if not callable(progress):
            raise TypeError(f"progress must be callable, not {type(progress).__name__}")
        if not any(name.lower() == "percentcallback" for name in settings):
            words.append("-DPercentCallback=1")
    return words


def _control(words: List[str], progress: Optional[Progress]) -> Tuple[Control, Callable[[], None]]:
    """A control for one conversion, and what to call when it succeeded."""
    control = Control()
    control.arguments = words
    control.own_callbacks = True  # this conversion's events are its own, never another control's
    if progress is not None:
        last = [0]

        def on_callback(why: int, nargs: int, args: List[str]) -> None:
            # The engine may report a percentage more than once; progress sees it rise.
            if why == 1 and nargs >= 2 and args[0] == "MSG_PERCENT":
                percent = int(args[1])
                if percent > last[0]:
                    last[0] = percent
                    progress(percent)

        control.callback = on_callback

        def done() -> None:
            if last[0] < 100:
                progress(100)

        return control, done
    return control, lambda: None


def convert_file(
    path: Union[str, bytes, "os.PathLike[str]"],
    trn: Union[str, "os.PathLike[str]", None] = None,
    *,
    progress: Optional[Progress] = None,
    **settings: SettingValue,
) -> Result:
    """Converts an RTF file; the pages are written as quillocmd writes them.

    ``path`` may be a pattern with * or ?: every matching file is converted.
    ``trn`` is the translation file (a path, or a name such as "html.trn"
    looked up in the data folder). Keyword arguments set named settings for
    this conversion (``OutFileName="out/doc.html"``, ``SplitDepth=1``,
    ``GenContents=True``). ``progress`` is called with percentages as the
    conversion advances, and with 100 at the end.

    Returns a Result whose ``outputs`` maps each file written to its bytes.
    Raises ConversionError when the conversion fails, and re-raises an
    exception raised by ``progress`` (which stops the conversion).
    """
    name = os.fsdecode(os.fspath(path))
    if not name:
        raise ValueError("convert_file(): path is empty")
    if name.startswith("-"):
        name = os.path.join(".", name)  # never taken for an option
    control, done = _control(_option_words(trn, settings, progress), progress)
    with _turn:
        status = control.ConvertRTF(name)
    messages = control.messages
    if status != 0:
        raise ConversionError(status, messages)
    outputs: Dict[str, bytes] = {}
    for created in control.created_files:
        try:
            with open(created, "rb") as output:
                outputs[created] = output.read()
        except FileNotFoundError:
            continue  # removed again by the conversion itself (a script, say)
    done()
    return Result(status, outputs, messages)


def convert_string(
    rtf: Union[str, bytes, bytearray, memoryview],
    trn: Union[str, "os.PathLike[str]", None] = None,
    *,
    progress: Optional[Progress] = None,
    **settings: SettingValue,
) -> Result:
    """Converts RTF text in memory; nothing is written to disk.

    ``rtf`` is bytes (the RTF as stored) or str (non-ASCII characters become
    RTF Unicode escapes). ``trn``, the settings and ``progress`` are as for
    convert_file.

    Returns a Result whose ``outputs`` maps each output name to its bytes: the
    page is "-.html" (or "-." and the HtmlExt setting), pictures follow.
    Raises ConversionError when the conversion fails.
    """
    if not isinstance(rtf, (str, bytes, bytearray, memoryview)):
        raise TypeError(f"rtf must be str or bytes, not {type(rtf).__name__}")
    control, done = _control(_option_words(trn, settings, progress), progress)
    with _turn:
        count = control._convert_string(rtf)
    messages = control.messages
    if count <= 0:
        raise ConversionError(1, messages)
    outputs = dict(control.outputs)
    done()
    return Result(0, outputs, messages)


def _file_name(path: object) -> str:
    name = os.fsdecode(os.fspath(path))  # type: ignore[arg-type]
    if not name:
        raise ValueError("convert_file(): path is empty")
    if name.startswith("-"):
        name = os.path.join(".", name)  # never taken for an option
    return name


def _read_outputs(created: List[str]) -> Dict[str, bytes]:
    outputs: Dict[str, bytes] = {}
    for name in created:
        try:
            with open(name, "rb") as output:
                outputs[name] = output.read()
        except FileNotFoundError:
            continue  # removed again by the conversion itself (a script, say)
    return outputs


class _Progress:
    """Hands rising percentages to ``progress`` and 100 at the end, as the functions do."""

    def __init__(self, progress: Optional[Progress]) -> None:
        self.progress = progress
        self.last = 0

    def __call__(self, percent: int) -> None:
        if self.progress is not None and percent > self.last:
            self.last = percent
            self.progress(percent)

    def done(self) -> None:
        if self.progress is not None and self.last < 100:
            self.progress(100)


class Engine:
    """An engine of its own: converts as quillo.convert_file and quillo.convert_string do.

    Each Engine has its own settings, messages and file table, and its
    conversions release the GIL, so conversions on different engines run in
    parallel on different threads. One Engine converts for one thread at a
    time: a call while another thread converts on it raises ControlBusy. Use
    one Engine per thread (threading.local, or one per pool worker).

    The control (quillo.Control) and the module's functions are not affected:
    they keep sharing the process-wide engine.
    """

    __slots__ = ("_core",)

    def __init__(self) -> None:
        self._core = _EngineCore()

    def convert_file(
        self,
        path: Union[str, bytes, "os.PathLike[str]"],
        trn: Union[str, "os.PathLike[str]", None] = None,
        *,
        progress: Optional[Progress] = None,
        **settings: SettingValue,
    ) -> Result:
        """As quillo.convert_file, on this engine."""
        name = _file_name(path)
        watch = _Progress(progress)
        words = _option_words(trn, settings, progress)
        status, created, messages = self._core.convert_file(
            words, name, watch if progress is not None else None
        )
        if status != 0:
            raise ConversionError(status, messages)
        outputs = _read_outputs(created)
        watch.done()
        return Result(status, outputs, messages)

    def convert_string(
        self,
        rtf: Union[str, bytes, bytearray, memoryview],
        trn: Union[str, "os.PathLike[str]", None] = None,
        *,
        progress: Optional[Progress] = None,
        **settings: SettingValue,
    ) -> Result:
        """As quillo.convert_string, on this engine."""
        if not isinstance(rtf, (str, bytes, bytearray, memoryview)):
            raise TypeError(f"rtf must be str or bytes, not {type(rtf).__name__}")
        watch = _Progress(progress)
        words = _option_words(trn, settings, progress)
        count, outputs, messages = self._core.convert_string(
            words, rtf, watch if progress is not None else None
        )
        if count <= 0:
            raise ConversionError(1, messages)
        watch.done()
        return Result(0, dict(outputs), messages)

    def __repr__(self) -> str:
        return "<quillo.Engine>"
