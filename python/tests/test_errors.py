"""Every failure raises its exception: a PictureError of the tool's kind that is also the built-in
exception of the kind, or TypeError or ValueError naming the malformed keyword argument."""

import errno
import io
import os
import pathlib
import re

import numpy as np
import pytest

import ztroi
from conftest import COFFEE, scene, tool_records


def _refused_folder(folder):
    """An output folder that cannot be made."""
    if os.geteuid() != 0:
        (folder / "locked").mkdir(mode=0o500)
        return str(folder / "locked" / "out")
    if not os.path.ismount("/sys"):
        pytest.skip("root may write anywhere, and there is no sysfs that refuses it")
    return "/sys/ztroi-test-output"  # refused even to root


PICTURE = scene(30, 40)


def analyzing(image=PICTURE, **options):
    return lambda folder: ztroi.analyze(image, **options)


def mixing(shape, dtype=np.uint8, channels=None):
    return lambda folder: ztroi.Mixer().analyze(np.zeros(shape, dtype), channels)


# (call in a folder, exception, the PictureError's kind or else a pattern of the message)
FAILURES = [
    ("missing file", lambda f: ztroi.analyze(f / "missing.png"), FileNotFoundError, "not-found"),
    ("output folder refused", lambda f: ztroi.analyze(
        PICTURE, write_map=True, name="p", out=_refused_folder(f)), PermissionError, "permission"),
    ("truncated bytes", analyzing(pathlib.Path(COFFEE).read_bytes()[:5000]), ValueError, "damaged"),
    ("over the pixel limit", analyzing(max_pixels=100), ValueError, "too-large"),
    ("over the memory budget", analyzing(memory=1), MemoryError, "over-budget"),
    ("crop pixels over the memory budget", lambda f: ztroi.crop(PICTURE, "100000x100000"),
     MemoryError, "over-budget"),
    ("file opened in text mode", analyzing(io.StringIO("")), TypeError, "binary mode"),
    ("files of an array without a name", analyzing(write_map=True), ValueError, "^name:"),
    # The tool's option table checks the keyword arguments; its messages must name them as
    # Python does, never as "--option".
    ("unknown keyword", lambda f: ztroi.analyze_file(COFFEE, colour=1), TypeError, "'colour'"),
    ("the tool's help", analyzing(help=True), TypeError, "'help'"),
    ("flag as weight", analyzing(weights={"sobel": True}), TypeError, "weights"),
    ("zero aspect", analyzing(crops="0:9"), ValueError, "^crops 0:9"),
    ("pixel weight", analyzing(pixel_weight="x"), ValueError, "^pixel_weight x"),
    ("review page", lambda f: ztroi.analyze_file(COFFEE, report="r.html"), ValueError, "review"),
    ("mixer size of one side", lambda f: ztroi.Mixer(size=(10,)), ValueError, "^size 10"),
    ("picture for a map", lambda f: ztroi.Clusterer().cluster(PICTURE), ValueError, "H x W map"),
    # Arrays: uint8 of two or three axes, of one, three or four channels, not empty, that fit
    # QImage's int counts.
    ("uint16 array", mixing((8, 8, 3), np.uint16), TypeError, "uint8"),
    ("int8 array", mixing((8, 8, 3), np.int8), TypeError, "uint8"),
    ("two channels", mixing((8, 8, 2)), ValueError, "H x W x 3"),
    ("five channels", mixing((8, 8, 5)), ValueError, "H x W x 3"),
    ("four axes", mixing((2, 8, 8, 3)), ValueError, "H x W x 3"),
    ("no rows", mixing((0, 8, 3)), ValueError, "empty"),
    ("RGBA order of three channels", mixing((8, 8, 3), channels="RGBA"), ValueError, "'RGBA'"),
    ("huge broadcast array", lambda f: ztroi.Mixer().analyze(
        np.broadcast_to(np.uint8(0), (100000, 100000, 4))), ValueError, "too large"),
]


@pytest.mark.parametrize("call, exception, expected",
                         [pytest.param(*row, id=name) for name, *row in FAILURES])
def test_every_failure_raises_its_exception(tmp_path, call, exception, expected):
    with pytest.raises(exception) as caught:
        call(tmp_path)
    error = caught.value
    if not isinstance(error, ztroi.PictureError):
        assert re.search(expected, str(error)) and "--" not in str(error)
        return
    assert error.kind == expected
    if expected in ("not-found", "permission"):
        assert error.errno == {"not-found": errno.ENOENT, "permission": errno.EACCES}[expected]
        assert error.filename and error.filename in str(error)


def test_unreadable_files_raise_with_the_tools_error_record(unreadable):
    expected = tool_records(unreadable)
    assert [ztroi.analyze_file(path, errors="record") for path in unreadable] == expected
    for path, record in zip(unreadable, expected):
        with pytest.raises(ztroi.PictureError) as analysed:
            ztroi.analyze_file(path)
        error, message = analysed.value, record["error"]["message"]
        assert error.record == record and error.kind == record["error"]["kind"]
        if error.kind == "not-found":
            assert (error.errno, error.filename, error.strerror) == (errno.ENOENT, path, message)
        else:
            assert str(error) == f"{path}: {message}"
        # Reading alone raises the same class, without a record.
        for read in (ztroi.read_image, ztroi.Mixer().analyze):
            with pytest.raises(type(error)) as caught:
                read(path)
            assert caught.value.record is None and path in str(caught.value)
