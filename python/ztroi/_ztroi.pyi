"""Types of the compiled part of the ztroi package."""

import os
from typing import Any, Literal, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Map = npt.NDArray[np.uint8]

__version__: str
_max_file_bytes: int

class PictureError(OSError):
    """A picture that cannot be read or analysed."""

    # ztroi's error record when analyze_file() raised it; None from the other functions.
    record: Optional[dict[str, Any]]
    # Why, as the record's "error"."kind" spells it ("not-found", "damaged", ...); the package's
    # subclasses PictureNotFoundError, PicturePermissionError, PictureValueError and
    # PictureMemoryError derive from the matching built-in exception too.
    kind: Optional[str]

class _Mixer:
    def __init__(self, keywords: Sequence[Tuple[str, Sequence[bytes]]]) -> None: ...
    @property
    def size(self) -> Tuple[int, int]:
        """The analysis size (width, height)."""
    @property
    def methods(self) -> list[dict[str, Any]]:
        """Each method's name, whether it is enabled and its weight, as in analyze_file()."""
    def analyze(
        self, picture: Union[npt.NDArray[np.uint8], _Path], channels: Optional[str] = None
    ) -> _Map: ...

class Clusterer:
    def __init__(self, columns: int = 10, rows: int = 10) -> None: ...
    @property
    def columns(self) -> int: ...
    @property
    def rows(self) -> int: ...
    def cluster(self, map: _Map) -> _Map: ...
    def total_salience(self, map: _Map) -> int: ...

class Maximizer:
    def sums(self, map: _Map) -> npt.NDArray[np.int64]: ...
    def running_sums(self, values: Sequence[int]) -> npt.NDArray[np.int64]: ...
    def best_range(self, running_sums: Sequence[int], length: int) -> int: ...
    def best_start(self, map: _Map, length: int) -> int: ...

class HorizontalMaximizer(Maximizer):
    def __init__(self, pixel_weight: Literal["linear", "threshold"] = "linear") -> None: ...

class VerticalMaximizer(Maximizer):
    def __init__(self, pixel_weight: Literal["linear", "threshold"] = "linear") -> None: ...

def _analyze_file(path: bytes, keywords: Sequence[Tuple[str, Sequence[bytes]]]) -> dict[str, Any]: ...
def _read_image(
    path: bytes, keywords: Sequence[Tuple[str, Sequence[bytes]]]
) -> npt.NDArray[np.uint8]: ...
def _analyze(
    kind: Literal["path", "data", "array"],
    picture: Any,
    name: bytes,
    channels: str,
    keywords: Sequence[Tuple[str, Sequence[bytes]]],
    pixels: bool,
) -> Tuple[dict[str, Any], list[Tuple[float, list[str], Optional[npt.NDArray[np.uint8]]]]]: ...
