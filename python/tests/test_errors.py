"""Every kind of failure raises its exception: a PictureError that is also the matching built-in
exception, with the kind, and errno and filename where the system gave one."""

import errno
import os
import pathlib

import numpy as np
import pytest

import ztroi
from conftest import COFFEE, scene, write_png


def _missing(folder):
    return folder / "missing.jpg"


def _not_a_folder(folder):
    write_png(folder / "photo.png", scene(30, 40))
    return folder / "photo.png" / "missing.png"


def _text(folder):
    (folder / "text.jpg").write_text("not a picture\n")
    return folder / "text.jpg"


def _truncated(folder):
    jpeg = pathlib.Path(COFFEE).read_bytes()
    (folder / "truncated.jpg").write_bytes(jpeg[: len(jpeg) // 2])
    return folder / "truncated.jpg"


def _large(folder):
    return write_png(folder / "large.png", np.zeros((3000, 3000), dtype=np.uint8))


def _folder(folder):
    (folder / "folder.png").mkdir()
    return folder / "folder.png"


FAILURES = [
    pytest.param(_missing, {}, ztroi.PictureNotFoundError, FileNotFoundError, "not-found",
                 errno.ENOENT, id="missing file"),
    pytest.param(_not_a_folder, {}, ztroi.PictureNotFoundError, FileNotFoundError, "not-found",
                 errno.ENOENT, id="file on the path"),
    pytest.param(_text, {}, ztroi.PictureValueError, ValueError, "unsupported-format", None,
                 id="unsupported format"),
    pytest.param(_truncated, {}, ztroi.PictureValueError, ValueError, "damaged", None,
                 id="damaged"),
    pytest.param(lambda folder: COFFEE, dict(max_pixels=100), ztroi.PictureValueError,
                 ValueError, "too-large", None, id="too large"),
    pytest.param(_large, dict(memory=1), ztroi.PictureMemoryError, MemoryError, "over-budget",
                 None, id="over the memory budget"),
    pytest.param(_folder, {}, ztroi.PictureError, OSError, "not-a-file", None, id="folder"),
]


@pytest.mark.parametrize("make, options, cls, builtin, kind, number", FAILURES)
def test_analyze_file_raises_the_exception_of_the_kind(
    tmp_path, make, options, cls, builtin, kind, number
):
    path = str(make(tmp_path))
    record = ztroi.analyze_file(path, errors="record", **options)
    assert record["error"]["kind"] == kind
    with pytest.raises(builtin) as caught:
        ztroi.analyze_file(path, **options)
    error = caught.value
    # Handlers written for OSError or PictureError still catch every kind.
    assert type(error) is cls and isinstance(error, ztroi.PictureError)
    assert isinstance(error, OSError)
    assert error.kind == kind and error.record == record
    if number is not None:
        assert (error.errno, error.filename) == (number, path)
        assert error.strerror == record["error"]["message"]
    else:
        assert str(error) == f"{path}: {record['error']['message']}"


@pytest.mark.parametrize("make, options, cls, builtin, kind, number", FAILURES)
def test_read_image_raises_the_exception_of_the_kind(
    tmp_path, make, options, cls, builtin, kind, number
):
    path = str(make(tmp_path))
    options = {name: value for name, value in options.items() if name != "memory"}
    if kind == "over-budget":
        options["memory"] = 1
    with pytest.raises(builtin) as caught:
        ztroi.read_image(path, **options)
    assert type(caught.value) is cls and caught.value.kind == kind
    assert caught.value.record is None
    if number is not None:
        assert (caught.value.errno, caught.value.filename) == (number, path)


def test_unreadable_file_raises_permission_error(tmp_path):
    if os.geteuid() == 0:
        pytest.skip("root reads every file; the output folder row of test_analyze covers permission")
    path = pathlib.Path(write_png(tmp_path / "locked.png", scene(30, 40)))
    path.chmod(0o200)
    with pytest.raises(PermissionError) as caught:
        ztroi.analyze_file(path)
    assert type(caught.value) is ztroi.PicturePermissionError
    assert (caught.value.errno, caught.value.filename) == (errno.EACCES, str(path))


def test_analysis_alone_writes_nothing(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    record = ztroi.analyze_file(COFFEE, crops=["1:1"])
    assert "error" not in record and record["files"] == {}
    assert os.listdir(tmp_path) == []
