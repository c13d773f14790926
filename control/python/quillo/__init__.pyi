"""Type hints for the package quillo (the Pythonic layer and the compiled control)."""

import os
from typing import Callable, Dict, List, NamedTuple, Optional, Tuple, Union

__version__: str
metadata: Dict[str, str]

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_Text = Union[str, bytes]
_SettingValue = Union[str, int, float, bool, os.PathLike[str]]
_Progress = Callable[[int], object]

class ControlBusy(RuntimeError):
    """A conversion was started while another one runs in this process."""

class Message(NamedTuple):
    """One message reported by a conversion."""

    code: str
    action: str
    text: str
    line: int
    position: int

class ConversionError(Exception):
    """A conversion failed; ``messages`` says why."""

    status: int
    messages: List[Message]
    def __init__(self, status: int, messages: List[Message]) -> None: ...

class Result:
    """What a successful conversion produced."""

    status: int
    outputs: Dict[str, bytes]
    messages: List[Message]
    def __init__(self, status: int, outputs: Dict[str, bytes], messages: List[Message]) -> None: ...

class Control:
    """Quillo Control: the converter as properties, methods and events."""

    type_library: str
    type_library_version: str
    type_library_help: str
    dispatch_interface: str
    dispatch_help: str
    event_interface: str
    event_help: str
    class_name: str
    class_help: str
    prog_id: str
    property_page_prog_id: str

    status: int
    options: str
    arguments: List[str]
    own_callbacks: bool
    translationComplete: Optional[Callable[[int, str], object]]
    callback: Optional[Callable[[int, int, List[str]], object]]

    def __init__(self) -> None: ...
    def ConvertRTF(self, filename: _Path) -> int: ...
    def ConvertStrRTF(
        self, rtf: Union[str, bytes, bytearray, memoryview]
    ) -> Tuple[int, List[List[str]]]: ...
    def ExpandString(self, name: _Text) -> str: ...
    def SetString(self, name: _Text, value: _Text) -> None: ...
    def Init(self, path: _Path = "") -> int: ...
    def GetImageBytes(self, index: int) -> Union[Tuple[int, bytes], Tuple[int, None]]: ...
    def AboutBox(self) -> str: ...
    @property
    def outputs(self) -> List[Tuple[str, bytes]]: ...
    @property
    def created_files(self) -> List[str]: ...
    @property
    def messages(self) -> List[Message]: ...

def split_options(text: str) -> List[str]: ...
def busy() -> bool: ...
def last_messages() -> List[Message]: ...
def data_directory() -> str: ...
def convert_file(
    path: _Path,
    trn: Union[str, os.PathLike[str], None] = None,
    *,
    progress: Optional[_Progress] = None,
    **settings: _SettingValue,
) -> Result: ...
def convert_string(
    rtf: Union[str, bytes, bytearray, memoryview],
    trn: Union[str, os.PathLike[str], None] = None,
    *,
    progress: Optional[_Progress] = None,
    **settings: _SettingValue,
) -> Result: ...

class Engine:
    """An engine of its own; conversions on different engines run in parallel."""

    def __init__(self) -> None: ...
    def convert_file(
        self,
        path: _Path,
        trn: Union[str, os.PathLike[str], None] = None,
        *,
        progress: Optional[_Progress] = None,
        **settings: _SettingValue,
    ) -> Result: ...
    def convert_string(
        self,
        rtf: Union[str, bytes, bytearray, memoryview],
        trn: Union[str, os.PathLike[str], None] = None,
        *,
        progress: Optional[_Progress] = None,
        **settings: _SettingValue,
    ) -> Result: ...
