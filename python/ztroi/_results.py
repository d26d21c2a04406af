"""The results of ztroi.analyze() and ztroi.crop() as typed objects.

Every object keeps the part of the tool's JSON record that it was made from: to_dict() gives it
back, equal to what ``ztroi --json`` prints for the same picture and options.
"""

from __future__ import annotations

import copy
from dataclasses import dataclass, field
from typing import Any, Optional, Tuple

import numpy as np


@dataclass(frozen=True)
class Rect:
    """A rectangle in pixels of the picture (after its EXIF orientation)."""

    x: int
    y: int
    width: int
    height: int

    @property
    def slices(self) -> Tuple[slice, slice]:
        """(rows, columns) to index an H x W (x C) array of the picture with."""
        return slice(self.y, self.y + self.height), slice(self.x, self.x + self.width)

    @classmethod
    def _from(cls, record: dict) -> "Rect":
        return cls(record["x"], record["y"], record["width"], record["height"])


@dataclass(frozen=True)
class FocalPoint:
    """The picture's focal point in its pixels, and as CSS object-position ("41.3% 52.0%")."""

    x: int
    y: int
    css: str


@dataclass(frozen=True)
class Method:
    """One salience method as the analysis ran it."""

    name: str
    enabled: bool
    weight: int


@dataclass(frozen=True)
class Grid:
    """Scores 0 ... 255 of a grid of cells over the salience map, row by row."""

    columns: int
    rows: int
    scores: Tuple[Tuple[int, ...], ...]


@dataclass(frozen=True, eq=False)
class Crop:
    """One crop: where it lies in the picture and how much of the salience it keeps.

    pixels is the crop's picture at its output size as ztroi writes it (before encoding), an
    H x W x 3 array (H x W x 4 where the crop has transparency) in the channel order of the
    input (RGB unless BGR was given), or None unless pixels were asked for.
    """

    request: str
    aspect: str
    rect: Rect
    salience_kept: float
    centred: bool
    output_size: Optional[Tuple[int, int]]
    areas_kept: Optional[int]
    written_size: Optional[Tuple[int, int]]
    scale: float
    warnings: Tuple[str, ...]
    pixels: Optional[np.ndarray] = field(default=None, repr=False)
    _record: dict = field(default_factory=dict, repr=False)

    def to_dict(self) -> dict[str, Any]:
        """The crop's entry of the tool's JSON record."""
        return copy.deepcopy(self._record)

    @classmethod
    def _from(cls, record: dict, scale: float, warnings: list, pixels) -> "Crop":
        size = record.get("outputSize")
        written = record.get("writtenSize")
        return cls(
            request=record["request"],
            aspect=record["aspect"],
            rect=Rect._from(record["rect"]),
            salience_kept=record["salienceKept"],
            centred=record["centred"],
            output_size=(size["width"], size["height"]) if size else None,
            areas_kept=record.get("areasKept"),
            written_size=(written["width"], written["height"]) if written else None,
            # Unrounded: the record holds it to four decimals.
            scale=float(scale),
            warnings=tuple(warnings),
            pixels=pixels,
            _record=record,
        )


@dataclass(frozen=True, eq=False)
class Analysis:
    """One picture analysed: its size, the methods that ran, crops, focal point, grid scores,
    faces and the files written. to_dict() is the tool's JSON record."""

    input: str
    size: Tuple[int, int]
    analysis_size: Tuple[int, int]
    methods: Tuple[Method, ...]
    crops: Tuple[Crop, ...]
    focus: FocalPoint
    grid: Optional[Grid]
    faces: Optional[Tuple[Rect, ...]]
    faces_found: Optional[int]
    face_detector: Optional[str]
    files: dict = field(repr=False)
    _record: dict = field(default_factory=dict, repr=False)

    def to_dict(self) -> dict[str, Any]:
        """The record of the picture's line of ``ztroi --json``."""
        return copy.deepcopy(self._record)

    @classmethod
    def _from(cls, record: dict, extras: list) -> "Analysis":
        def pair(size):
            return size["width"], size["height"]

        grid = record.get("grid")
        faces = record.get("faces")
        return cls(
            input=record["input"],
            size=pair(record["size"]),
            analysis_size=pair(record["analysisSize"]),
            methods=tuple(Method(**method) for method in record["methods"]),
            crops=tuple(Crop._from(crop, *extra) for crop, extra in zip(record["crops"], extras)),
            focus=FocalPoint(**record["focus"]),
            grid=Grid(grid["columns"], grid["rows"], tuple(map(tuple, grid["scores"])))
            if grid else None,
            faces=tuple(Rect._from(face) for face in faces) if faces is not None else None,
            faces_found=record.get("facesFound"),
            face_detector=record.get("faceDetector"),
            files=copy.deepcopy(record["files"]),
            _record=record,
        )
