"""Record and play back filesets of timestamped media samples.

    import quormediafiles as qmf

    with qmf.Writer("/rec/cam.qmf", [qmf.Track(id=1, name="door", video=True,
                                               video_format="H.264")]) as w:
        w.write(1, 1000, qmf.SampleFlags.KEY_FRAME | qmf.SampleFlags.VIDEO, b"...")
    with qmf.open("/rec/cam.qmf") as fs:
        for s in fs.samples(1, start=0, end=5000):
            print(s.timestamp, s.flags, len(s.payload))
        print(fs.verify(progress=print).authentic)

Timestamps are the recording application's own unsigned 64-bit values; creation times are
seconds since 1970-01-01 UTC. A sample's payload is a read-only memoryview of the library's own
bytes (no copy); it keeps the sample alive. Failures raise subclasses of QuorError named after
the library's result codes (MFS_E_BAD_PASSWORD, E_INVALIDARG, ERROR_FILE_NOT_FOUND, ...).
"""

from __future__ import annotations

import dataclasses
import enum
import os
from typing import Optional, Sequence, Union

from . import _native
from ._native import (Authentication, FileSetInfo, FileVerdict, MemberFile, Sample,
                      SampleCounts, SealCheck, TrackInfo, WriterStatus, format_name)

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class SampleFlags(enum.IntFlag):
    NONE = 0
    KEY_FRAME = 0x01
    VIDEO = 0x02
    AUDIO = 0x04
    NOT_KEY_FRAME = 0x08
    FRAME_MARK = 0x10


class FileStatus(enum.IntFlag):
    NONE = 0
    LAST_FILE = 0x01
    FINALIZED = 0x02
    AUTHENTIC = 0x04
    TESTED = 0x08
    RECOVERED = 0x10
    TRACK_INFO_UNREADABLE = 0x20


class QuorError(Exception):
    """A failed operation: code (the result code), code_name, description, operation."""

    def __init__(self, message: str, code: int = 0, code_name: str = "",
                 description: str = "", operation: str = "") -> None:
        super().__init__(message)
        self.code = code
        self.code_name = code_name
        self.description = description
        self.operation = operation


# Built-in exceptions that some codes also are, so that `except FileNotFoundError` works.
_ALSO = {
    "ERROR_FILE_NOT_FOUND": (FileNotFoundError,),
    "ERROR_PATH_NOT_FOUND": (FileNotFoundError,),
    "ERROR_FILE_EXISTS": (FileExistsError,),
    "ERROR_ALREADY_EXISTS": (FileExistsError,),
    "E_INVALIDARG": (ValueError,),
    "E_OUTOFMEMORY": (MemoryError,),
}


def _error_classes() -> dict:
    classes = {}
    for code, name in _native._named_codes():
        if code in classes:
            continue  # one code, two names (E_INVALIDARG is ERROR_INVALID_PARAMETER): the first
        short = name[len("HRESULT_FROM_WIN32("):-1] if name.startswith("HRESULT_FROM_WIN32(") else name
        cls = type(short, (QuorError,) + _ALSO.get(short, ()), {"__module__": __name__})
        globals()[short] = cls
        classes[code] = cls
    return classes


_CLASSES = _error_classes()
_native._set_errors(_CLASSES, QuorError)


@dataclasses.dataclass
class Track:
    """A track to record: id, and what the reader will report about it."""
    id: int
    name: str = ""
    video: bool = False
    audio: bool = False
    video_format: str = ""  # a name ("H.264") or a braced identifier
    audio_format: str = ""
    source_id: Optional[int] = None
    pair_id: Optional[int] = None
    source_url: str = ""


def _path(path: PathLike) -> bytes:
    # Bytes reach the library as they are; one that is not UTF-8 is refused there (E_INVALIDARG).
    return os.fsencode(path)


Sample.flags = property(lambda s: SampleFlags(s._flags), doc="The sample's flags.")


class Reader(_native.Reader):
    """An open fileset (see open())."""

    def __init__(self, path: PathLike, password: str = "") -> None:
        super().__init__(_path(path), password)


def open(path: PathLike, password: str = "") -> Reader:  # noqa: A001 (the package's verb)
    """Opens the fileset that path (any of its member files) belongs to."""
    return Reader(path, password)


class Writer(_native.Writer):
    """A recording; as a context manager it stops (draining first) on exit."""

    def __init__(self, path: PathLike, tracks: Sequence[Union[Track, dict]], *,
                 max_file_size_kib: int = 1024 * 1024, max_files: int = 1,
                 overwrite: bool = False, description: str = "", password: str = "",
                 payload_only: bool = False, signing_key: PathLike = "", durable: bool = False,
                 index_period: int = 60) -> None:
        specs = [t if isinstance(t, dict) else dataclasses.asdict(t) for t in tracks]
        super().__init__(_path(path), specs, max_file_size_kib=max_file_size_kib,
                         max_files=max_files, overwrite=overwrite, description=description,
                         password=password, payload_only=payload_only,
                         signing_key=_path(signing_key) if signing_key else "", durable=durable,
                         index_period=index_period)


__all__ = ["open", "Reader", "Writer", "Track", "Sample", "SampleFlags", "FileStatus",
           "QuorError", "FileSetInfo", "MemberFile", "TrackInfo", "SampleCounts",
           "Authentication", "FileVerdict", "WriterStatus", "SealCheck", "format_name"] + sorted(
               c.__name__ for c in _CLASSES.values())
