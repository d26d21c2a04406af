"""Salience maps, crops, focal points and grid scores of photographs.

The library libZTRegionOfInterest and the analysis of its command-line tool ztroi, for Python:

- ``crop(image, "16:9")`` gives the best 16:9 crop of a picture, with its pixels;
- ``analyze(image, crops=["16:9", "1:1"], grid=(4, 3))`` analyses one picture exactly as
  ``ztroi --json`` does and returns an Analysis whose to_dict() is the tool's JSON record;
- ``analyze_file(path, ...)`` returns that record itself, for a picture file;
- ``Mixer`` computes salience maps of NumPy arrays or picture files;
- ``Clusterer``, ``HorizontalMaximizer`` and ``VerticalMaximizer`` score grids and place
  windows on a map;
- ``read_image`` reads a picture as ztroi does, into an RGBA array.

A picture (the ``image`` of analyze() and crop()) is any of:

- a NumPy uint8 array: H x W grey, H x W x 3 in the order ``channels`` names, "RGB" (the
  default: NumPy arrays from Pillow, imageio, matplotlib and scikit-image are RGB) or "BGR"
  (OpenCV's order: pass channels="BGR" for cv2.imread()'s arrays), or H x W x 4 with alpha,
  "RGBA" (default) or "BGRA";
- a Pillow image (PIL.Image.Image, or any object with its mode, size, tobytes() and
  convert()), taken as it is: call ImageOps.exif_transpose() first to turn it upright;
- the encoded bytes of a picture file (bytes, bytearray, memoryview) or a binary file object,
  read with the checks, limits and memory budget of a file;
- the path of a picture file (str or os.PathLike).

A picture that cannot be read or analysed raises a PictureError (an OSError) whose ``kind`` says
why, as the "kind" of the tool's JSON error record spells it; the class is also the matching
built-in exception, so either can be caught:

- "not-found": PictureNotFoundError, a FileNotFoundError (errno ENOENT, filename);
- "permission": PicturePermissionError, a PermissionError (errno EACCES, filename);
- "unsupported-format", "damaged", "too-large": PictureValueError, a ValueError;
- "over-budget", "out-of-memory": PictureMemoryError, a MemoryError;
- "not-a-file", "read-failed", "write-failed", "unavailable", "internal": PictureError itself.

Analyses release the GIL: threads analyse in parallel. A Mixer can be shared between threads,
but its analyses then take turns; give each thread its own for speed.
"""

from __future__ import annotations

import errno
import numbers
import os
import re
from typing import Any, Iterable, Literal, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

from ._ztroi import (
    Clusterer,
    HorizontalMaximizer,
    Maximizer,
    PictureError,
    VerticalMaximizer,
    __version__,
    _analyze,
    _analyze_file,
    _max_file_bytes,
    _Mixer,
    _read_image,
)
from ._results import Analysis, Crop, FocalPoint, Grid, Method, Rect

# analyze() and analyze_file() give the errors they raise the tool's error record; the others
# have none.
PictureError.record = None
PictureError.kind = None


class PictureNotFoundError(PictureError, FileNotFoundError):
    """The picture, or a folder on its path, does not exist (kind "not-found")."""


class PicturePermissionError(PictureError, PermissionError):
    """The picture may not be read, or the output folder not written (kind "permission")."""


class PictureValueError(PictureError, ValueError):
    """No picture in a format that is read, a damaged one, or one beyond a size limit (kinds
    "unsupported-format", "damaged", "too-large")."""


class PictureMemoryError(PictureError, MemoryError):
    """The picture does not fit the memory budget, or memory ran out (kinds "over-budget",
    "out-of-memory")."""


_ERRNO_ERRORS = {
    "not-found": (PictureNotFoundError, errno.ENOENT),
    "permission": (PicturePermissionError, errno.EACCES),
}
_OTHER_ERRORS = {
    "unsupported-format": PictureValueError,
    "damaged": PictureValueError,
    "too-large": PictureValueError,
    "over-budget": PictureMemoryError,
    "out-of-memory": PictureMemoryError,
}


def _picture_error(
    kind: str, message: str, filename: Optional[str], record: Optional[dict] = None
) -> PictureError:
    """The exception of a failure of this kind; the compiled module raises what this returns."""
    if kind in _ERRNO_ERRORS:
        cls, number = _ERRNO_ERRORS[kind]
        error = cls(number, message, filename)
    else:
        # The path leads the message: an OSError with a filename would print "[Errno None]".
        error = _OTHER_ERRORS.get(kind, PictureError)(
            f"{filename}: {message}" if filename else message
        )
    error.kind = kind
    error.record = record
    return error


__all__ = [
    "Analysis",
    "Clusterer",
    "Crop",
    "FocalPoint",
    "Grid",
    "Method",
    "Rect",
    "__version__",
    "analyze",
    "crop",
    "HorizontalMaximizer",
    "Maximizer",
    "Mixer",
    "PictureError",
    "PictureMemoryError",
    "PictureNotFoundError",
    "PicturePermissionError",
    "PictureValueError",
    "VerticalMaximizer",
    "analyze_file",
    "read_image",
]

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Pair = Tuple[int, int]
_Rect = Tuple[int, int, int, int]

# Pairs that ztroi writes as "AxB"; other pairs and rectangles are joined by commas.
_SIZE_OPTIONS = {"size", "grid", "hist_blocks"}
# The repeatable options, by the plural name of their keyword argument.
_REPEATED_OPTIONS = {"crops": "crop", "areas": "area", "weights": "weight", "disable": "disable"}


def _scalar(name: str, value: Any) -> str:
    if isinstance(value, str):
        return value
    if isinstance(value, numbers.Integral) and not isinstance(value, bool):
        return str(int(value))
    if isinstance(value, numbers.Real) and not isinstance(value, bool):
        return repr(float(value))
    raise TypeError(f"{name}: expected a number or a string, got {type(value).__name__}")


def _value(name: str, value: Any) -> str:
    if isinstance(value, (tuple, list)):
        separator = "x" if name in _SIZE_OPTIONS else ","
        return separator.join(_scalar(name, part) for part in value)
    return _scalar(name, value)


_Keywords = list  # [(option name, [value as bytes, ...]), ...]


def _option_values(name: str, value: Any) -> Optional[Tuple[str, list[bytes]]]:
    """The option of keyword argument name with its values as text, or None to leave it out."""
    option = _REPEATED_OPTIONS.get(name, name).replace("_", "-")
    if name in _REPEATED_OPTIONS:
        # A single string is one value, not a sequence of characters.
        if isinstance(value, str):
            value = [value]
        elif isinstance(value, Mapping):
            value = [f"{key}={_scalar(name, weight)}" for key, weight in value.items()]
        texts = [_value(name, item) for item in value]
        return (option, [os.fsencode(text) for text in texts]) if texts else None
    if value is False and name == "faces":
        # Faces are found by default where the face model is installed; False says no.
        return "no-faces", [b""]
    if value is None or value is False:
        return None
    if value is True:
        return option, [b""]
    return option, [os.fsencode(_value(name, value))]


# The keyword argument of each repeatable option.
_KEYWORD_OF_OPTION = {option: keyword for keyword, option in _REPEATED_OPTIONS.items()}


def _in_python_words(message: str) -> str:
    """The option table's message with each option ("--pixel-weight") named as the keyword
    argument that gives it (pixel_weight)."""
    return re.sub(
        r"--([a-z][a-z0-9-]*)",
        lambda match: _KEYWORD_OF_OPTION.get(match[1], match[1].replace("-", "_")),
        message,
    )


def _call(function, *arguments):
    """function(*arguments), its ValueErrors about options told in keyword arguments' names."""
    try:
        return function(*arguments)
    except ValueError as error:
        if isinstance(error, PictureError):
            raise
        raise ValueError(_in_python_words(str(error))) from None


def _keywords(options: Mapping[str, Any]) -> _Keywords:
    """The options given as keyword arguments, each with its values as the bytes that the tool
    would get on its command line, so that any file name passes. The extension applies them
    through the tool's option table: an unknown one raises TypeError, a malformed value
    ValueError (see _call())."""
    keywords = []
    for name, value in options.items():
        option = _option_values(name, value)
        if option is not None:
            keywords.append(option)
    return keywords


class Mixer(_Mixer):
    """Computes salience maps: the methods' maps of a picture, mixed by weight.

    The options are those of ztroi, with the same values and limits:

    - size: the analysis size (width, height); each picture is scaled to fit into it;
    - weights: {method: weight}, -1000 ... 1000, for the methods "sobel" (colour edges, 20),
      "center" (centre prior, 2), "histogram" (large one-colour areas, counted negatively, 10),
      "areas" (the very important areas, 20) and "contrast" (colour contrast, 10);
    - disable: methods to switch off;
    - areas: very important rectangles (x, y, width, height) in pixels of the picture; they
      enable the "areas" method;
    - hist_bins (n or (n1, n2)), hist_blocks ((columns, rows)), hist_threshold (x) and hist_min
      (f or (fw, fh)): the histogram method's parameters;
    - max_pixels, input_formats, memory and fast_decode: how picture files are read (see
      read_image).

    Raises ValueError naming the keyword argument for a value out of range.
    """

    def __init__(
        self,
        size: _Pair = (480, 480),
        *,
        weights: Optional[Mapping[str, int]] = None,
        disable: Union[str, Iterable[str]] = (),
        areas: Iterable[_Rect] = (),
        hist_bins: Union[int, _Pair, None] = None,
        hist_blocks: Optional[_Pair] = None,
        hist_threshold: Optional[float] = None,
        hist_min: Union[float, Tuple[float, float], None] = None,
        max_pixels: Optional[int] = None,
        input_formats: Union[str, Sequence[str], None] = None,
        memory: Optional[int] = None,
        fast_decode: bool = False,
    ) -> None:
        options = dict(
            size=size,
            weights=weights or {},
            disable=disable,
            areas=areas,
            hist_bins=hist_bins,
            hist_blocks=hist_blocks,
            hist_threshold=hist_threshold,
            hist_min=hist_min,
            max_pixels=max_pixels,
            input_formats=input_formats,
            memory=memory,
            fast_decode=fast_decode,
        )
        _call(super().__init__, _keywords(options))

    def analyze(
        self, picture: Union[np.ndarray, _Path], channels: Optional[str] = None
    ) -> np.ndarray:
        """The salience map of picture: an H x W uint8 array, 0 ... 255, at the picture's size
        scaled to fit into the analysis size.

        picture is an H x W x 3 or H x W x 4 uint8 array, an H x W grey array, or the path of a
        picture file (read as ztroi reads it, EXIF orientation included). channels names the
        arrays' channel order: "RGB" (default for 3 channels), "BGR", "RGBA" (default for 4) or
        "BGRA". An RGBA or BGRA array whose rows are packed is read in place, without a copy.

        Raises TypeError for anything but a uint8 array or a path, ValueError for a wrong shape,
        an empty or oversized array, and PictureError (an OSError) for a file that cannot be read.
        """
        return super().analyze(picture, channels)


def analyze_file(
    path: _Path,
    *,
    crops: Union[str, Sequence[str]] = (),
    grid: Optional[_Pair] = None,
    size: Optional[_Pair] = None,
    weights: Optional[Mapping[str, int]] = None,
    disable: Union[str, Iterable[str]] = (),
    areas: Iterable[_Rect] = (),
    pixel_weight: Optional[Literal["linear", "threshold"]] = None,
    write_map: bool = False,
    errors: Literal["raise", "record"] = "raise",
    **options: Any,
) -> dict[str, Any]:
    """Analyses the picture at path as ztroi does, and returns the dict of the tool's JSON line.

    The keyword arguments are ztroi's options: crops (["16:9", "1080x1350"]), grid ((columns,
    rows)), size ((width, height)), weights, disable and areas as for Mixer, pixel_weight, and
    any other option by its name with "_" for "-" (hist_bins=(16, 16), fast_decode=True,
    max_pixels=..., out="folder", maps=True, overlay=True, ...): True gives a flag, False or None
    leaves the option out, a pair (a, b) is written "axb" for sizes and "a,b" otherwise.

    Without crops the picture gets ztroi's default crops (1:1, 4:5 and 16:9); no_crops=True
    gives none.

    Nothing is written unless asked: write_map=True writes the salience map, write_crops=True
    each crop as a picture, maps=True each method's map and overlay=True the overlay picture,
    into out (default "ztroi-out"). Files follow the tool's rule: a call replaces only a file
    that ztroi wrote for the same picture, unchanged since, whatever the timing; another file
    under the name stays, the new one takes the next name (c-2.salience.png) and the record's
    "renamed" says so. The review page (report) is the tool's alone: asking for it raises
    ValueError.

    Any other keyword raises TypeError naming it.

    A picture that cannot be analysed raises a PictureError of its kind (see the module's
    documentation; its record attribute is the tool's error record) or, with errors="record",
    returns that record: {"version": 1, "input": path, "error": {"kind": kind, "message":
    reason}}. An output folder that cannot be made raises PictureError too. A malformed option
    raises ValueError naming the keyword argument.
    """
    path = os.fsdecode(path)
    if errors not in ("raise", "record"):
        raise ValueError(f"errors must be 'raise' or 'record', not {errors!r}")
    options.update(
        crops=crops,
        grid=grid,
        size=size,
        weights=weights or {},
        disable=disable,
        areas=areas,
        pixel_weight=pixel_weight,
        no_map=not write_map,
    )
    if options.get("report") not in (None, False):
        raise ValueError("report: a review page shows a batch; analyze_file() returns one "
                         "picture's record")
    record = _call(_analyze_file, os.fsencode(path), _keywords(options))
    if "error" in record and errors == "raise":
        failure = record["error"]
        raise _picture_error(failure["kind"], failure["message"], record["input"], record)
    return record


def read_image(
    path: _Path,
    *,
    max_pixels: Optional[int] = None,
    input_formats: Union[str, Sequence[str], None] = None,
    memory: Optional[int] = None,
) -> np.ndarray:
    """The picture at path as an H x W x 4 uint8 array in RGBA order, read as ztroi reads it:
    upright by its EXIF orientation, and refused (a PictureError of the failure's kind, see the
    module's documentation) when it cannot be read, is of another format than input_formats (default: jpeg, png, gif, bmp, webp, tiff), has
    more than max_pixels pixels or needs more than memory megabytes to decode."""
    options = dict(max_pixels=max_pixels, input_formats=input_formats, memory=memory)
    return _call(_read_image, os.fsencode(path), _keywords(options))


_Image = Union[np.ndarray, bytes, bytearray, memoryview, "os.PathLike[str]", str, Any]

# Options that write files, which need a name for a picture that has none.
_WRITING_OPTIONS = ("write_map", "write_crops", "maps", "overlay")


def _is_pil_image(image: Any) -> bool:
    return all(hasattr(image, name) for name in ("mode", "size", "tobytes", "convert"))


def _pil_pixels(image: Any) -> Tuple[np.ndarray, str]:
    """A Pillow image's pixels as an array and its channel order: grey, RGB and RGBA as they
    are, every other mode converted to RGBA where it has transparency, else to RGB."""
    if image.mode not in ("L", "RGB", "RGBA"):
        transparent = "A" in image.mode or "transparency" in getattr(image, "info", {})
        image = image.convert("RGBA" if transparent else "RGB")
    width, height = image.size
    pixels = np.frombuffer(image.tobytes(), dtype=np.uint8)
    if image.mode == "L":
        return pixels.reshape(height, width), ""
    return pixels.reshape(height, width, len(image.mode)), image.mode


def _read_stream(stream: Any) -> bytes:
    """A binary file object's bytes from its position on; one byte more than a picture file may
    have is enough to refuse it."""
    data = stream.read(_max_file_bytes + 1)
    if not isinstance(data, (bytes, bytearray)):
        raise TypeError(
            f"image: expected a file opened in binary mode ('rb'), got one that reads "
            f"{type(data).__name__}"
        )
    return data


def _source(image: Any, channels: Optional[str]) -> Tuple[str, Any, str, str]:
    """(kind, picture, name, channel order) of an image for the extension, which reads a
    "path", encoded "data" or an "array"."""
    if channels is not None and not isinstance(channels, str):
        raise TypeError(f"channels: expected a string, got {type(channels).__name__}")
    if isinstance(image, np.ndarray):
        return "array", image, "<array>", channels or ""
    if channels is not None:
        raise ValueError("channels: only an array's channel order can be given")
    if isinstance(image, (str, os.PathLike)):
        path = os.fsdecode(image)
        return "path", os.fsencode(path), path, ""
    if isinstance(image, (bytes, bytearray, memoryview)):
        view = memoryview(image)
        if not view.c_contiguous:
            view = memoryview(view.tobytes())
        return "data", view.cast("B"), "<bytes>", ""
    if _is_pil_image(image):
        pixels, order = _pil_pixels(image)
        return "array", pixels, "<image>", order
    if callable(getattr(image, "read", None)):
        name = getattr(image, "name", None)
        return "data", _read_stream(image), name if isinstance(name, str) else "<file>", ""
    raise TypeError(
        "image: expected a NumPy array, a PIL image, bytes, a binary file object or a path, "
        f"got {type(image).__name__}"
    )


def analyze(
    image: _Image,
    *,
    crops: Union[str, Sequence[str]] = (),
    faces: Optional[bool] = None,
    grid: Optional[_Pair] = None,
    channels: Optional[str] = None,
    pixels: bool = False,
    name: Optional[str] = None,
    size: Optional[_Pair] = None,
    weights: Optional[Mapping[str, int]] = None,
    disable: Union[str, Iterable[str]] = (),
    areas: Iterable[_Rect] = (),
    pixel_weight: Optional[Literal["linear", "threshold"]] = None,
    write_map: bool = False,
    **options: Any,
) -> Analysis:
    """Analyses one picture as ztroi does: its salience, crops, focal point and, on request,
    faces and grid scores.

    image is an array, a PIL image, encoded bytes, a binary file or a path (see the module's
    documentation); channels gives an array's channel order ("RGB", the default, or "BGR" for
    3 channels; "RGBA" or "BGRA" for 4). crops are aspect ratios ("16:9") or output sizes
    ("1080x1350"), by default 1:1, 4:5 and 16:9; crops keep faces whole where the face
    module and its model are installed (faces=None, as ztroi does), always with faces=True
    (falling back to the cascades without the model), never with faces=False;
    grid=(columns, rows) scores a grid. The other keyword arguments are those of
    analyze_file().

    With pixels=True each crop's pixels come back as an array at the crop's output size (the
    written crop's pixels, before encoding), in the channel order of the input.

    The result's to_dict() is the record of ztroi's JSON line for the picture; its "input" is
    the path, name, a file object's name, or "<array>", "<bytes>", "<image>". Writing files
    (write_map, write_crops, ...) of a picture from memory needs a name, which names them.

    Raises TypeError for an image of another type and for unknown keywords, ValueError for a
    malformed value (naming its keyword argument) and, for a picture that cannot be read or
    analysed, the PictureError of its kind: FileNotFoundError, PermissionError, ValueError
    (unsupported format, damaged, too large) or MemoryError (over the memory budget).
    """
    kind, picture, default_name, order = _source(image, channels)
    if name is not None and kind == "path":
        raise ValueError("name: a picture file is named by its path")
    options.update(
        crops=crops,
        faces=faces,
        grid=grid,
        size=size,
        weights=weights or {},
        disable=disable,
        areas=areas,
        pixel_weight=pixel_weight,
        write_map=write_map,
    )
    if name is None and kind != "path" and any(options.get(key) for key in _WRITING_OPTIONS):
        raise ValueError("name: files are written of a picture from memory only under a name")
    options["no_map"] = not options.pop("write_map")
    record, extras = _call(
        _analyze, kind, picture, os.fsencode(name or default_name), order, _keywords(options),
        bool(pixels)
    )
    if "error" in record:
        failure = record["error"]
        raise _picture_error(failure["kind"], failure["message"], record["input"], record)
    return Analysis._from(record, extras)


def crop(image: _Image, aspect: str, *, pixels: bool = True, **options: Any) -> Crop:
    """The best crop of a picture for one aspect ratio ("16:9") or output size ("1080x1350"),
    with its pixels as an array unless pixels=False.

    ``ztroi.crop(photo, "4:5").pixels`` is the crop's picture; its rect is where it lies in the
    picture. The other keyword arguments are those of analyze(), which tells the image's types
    and the errors raised.
    """
    if not isinstance(aspect, str):
        raise TypeError(f"aspect: expected a string such as '16:9', got {type(aspect).__name__}")
    return analyze(image, crops=[aspect], pixels=pixels, **options).crops[0]
