"""analyze_file() against the ztroi program: the same records for the same options, the same
error records, and the tool's messages for malformed options."""

import json
import os
import pathlib
import shutil

import pytest

import ztroi
from conftest import COFFEE, run_tool, tool_records


@pytest.mark.parametrize(
    "options, arguments",
    [
        ({}, []),
        (dict(crops=["16:9", "1080x1350", "1:1"], grid=(4, 3)),
         ["--crop", "16:9", "--crop", "1080x1350", "--crop", "1:1", "--grid", "4x3"]),
        (dict(crops="4:5", size=(160, 120), weights={"sobel": 3}, disable=["histogram"]),
         ["--crop", "4:5", "--size", "160x120", "--weight", "sobel=3", "--disable", "histogram"]),
        (dict(crops=["2:1"], areas=[(5, 5, 30, 20), (40, 10, 10, 10)], pixel_weight="threshold"),
         ["--crop", "2:1", "--area", "5,5,30,20", "--area", "40,10,10,10",
          "--pixel-weight", "threshold"]),
        (dict(grid=(7, 5), hist_bins=12, hist_blocks=(9, 7), hist_threshold=-0.5, hist_min=0.3),
         ["--grid", "7x5", "--hist-bins", "12", "--hist-blocks", "9x7", "--hist-threshold=-0.5",
          "--hist-min", "0.3"]),
        (dict(crops=["3:2"], fast_decode=True, size=(100, 100)),
         ["--crop", "3:2", "--fast-decode", "--size", "100x100"]),
        (dict(crops=["4:5"], faces=True, areas=[(0, 0, 20, 20)]),
         ["--crop", "4:5", "--faces", "--area", "0,0,20,20"]),
        (dict(crops=["4:5"], faces=False), ["--crop", "4:5", "--no-faces"]),
    ],
    ids=["defaults", "crops and grid", "size, weights, disabled method", "areas and threshold",
         "histogram", "fast decode", "faces", "no faces, even where the model is installed"],
)
def test_records_equal_the_tools_json(pictures, options, arguments):
    expected = tool_records(pictures, *arguments)
    if options.get("faces") and not expected:
        pytest.skip("this build of ztroi has no face detection")
    assert [ztroi.analyze_file(path, **options) for path in pictures] == expected
    assert [ztroi.analyze_file(pathlib.Path(path), **options) for path in pictures] == expected


def test_unreadable_pictures_give_the_tools_error_records(unreadable):
    expected = tool_records(unreadable)
    assert [ztroi.analyze_file(path, errors="record") for path in unreadable] == expected
    for path, record in zip(unreadable, expected):
        with pytest.raises(ztroi.PictureError) as caught:
            ztroi.analyze_file(path)
        assert isinstance(caught.value, OSError) and caught.value.record == record
    assert ztroi.analyze_file(COFFEE, max_pixels=100, errors="record") == tool_records(
        [COFFEE], "--max-pixels", "100")[0]


def test_any_file_name_is_read_and_reported_as_the_tool_does(tmp_path):
    path = os.fsencode(tmp_path) + b"/caf\xe9 -x.jpg"
    shutil.copy(COFFEE, path)
    record = ztroi.analyze_file(path, crops=["1:1"])
    assert record == tool_records([path], "--crop", "1:1")[0]
    assert os.fsencode(record["input"]) == path


def test_files_are_written_only_when_asked(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    ztroi.analyze_file(COFFEE, crops=["1:1"], grid=(2, 2))
    assert os.listdir(tmp_path) == []

    record = ztroi.analyze_file(COFFEE, crops=["1:1", "90x60"], write_map=True, write_crops=True,
                                maps=True, overlay=True, out="module")
    expected = json.loads(run_tool("--json", "--crop", "1:1", "--crop", "90x60", "--write-crops",
                                   "--maps", "--overlay", "--out", "tool", COFFEE))
    assert json.loads(json.dumps(record).replace("module/", "tool/")) == expected
    assert sorted(os.listdir("module")) == sorted(os.listdir("tool"))
    for name in os.listdir("tool"):
        if (tmp_path / "tool" / name).is_file():
            assert (tmp_path / "module" / name).read_bytes() == (
                tmp_path / "tool" / name).read_bytes()


def test_same_named_pictures_keep_their_own_maps_every_time(tmp_path, monkeypatch):
    """Two pictures named c.jpg in two folders get c.salience.png and c-2.salience.png, and each
    call on a picture replaces only its own map, however fast the calls follow each other."""
    monkeypatch.chdir(tmp_path)
    for folder in ("a", "b"):
        (tmp_path / folder).mkdir()
        shutil.copy(COFFEE, tmp_path / folder / "c.jpg")
    for _ in range(20):
        first = ztroi.analyze_file("a/c.jpg", write_map=True)
        second = ztroi.analyze_file("b/c.jpg", write_map=True)
        again = ztroi.analyze_file("b/c.jpg", write_map=True)
        assert first["files"]["salience"] == "ztroi-out/c.salience.png"
        assert "renamed" not in first
        assert second["files"]["salience"] == again["files"]["salience"] == (
            "ztroi-out/c-2.salience.png")
        assert second["renamed"] == again["renamed"] == [{
            "path": "ztroi-out/c-2.salience.png", "wanted": "ztroi-out/c.salience.png",
            "reason": "written by ztroi for another input"}]
    assert sorted(os.listdir("ztroi-out")) == [".ztroi-record", "c-2.salience.png",
                                               "c.salience.png"]


def test_a_users_file_under_an_output_name_stays(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "ztroi-out").mkdir()
    (tmp_path / "ztroi-out" / "coffee.salience.png").write_bytes(b"mine")
    record = ztroi.analyze_file(COFFEE, write_map=True)
    assert record["files"]["salience"] == "ztroi-out/coffee-2.salience.png"
    assert record["renamed"][0]["reason"] == "not written by ztroi"
    assert (tmp_path / "ztroi-out" / "coffee.salience.png").read_bytes() == b"mine"


@pytest.mark.parametrize(
    "options, message",
    [
        (dict(crops=["0:9"]), "crops 0:9"),
        (dict(grid=(0, 3)), "grid 0x3"),
        (dict(size=(10,)), "size 10"),
        (dict(weights={"faces": 1}), "weights faces=1"),
        (dict(pixel_weight="square"), "pixel_weight square"),
        (dict(errors="ignore"), "errors must be"),
        (dict(report="page.html"), "review page"),
    ],
    ids=["zero aspect", "empty grid", "one side", "unknown method", "unknown pixel weight",
         "unknown error handling", "review page"],
)
def test_malformed_options_raise_value_errors(options, message):
    with pytest.raises(ValueError, match=message):
        ztroi.analyze_file(COFFEE, **options)


@pytest.mark.parametrize(
    "options, keyword",
    [(dict(colour=True), "colour"), (dict(help=True), "help"), (dict(jobs=2), "jobs"),
     (dict(s=(8, 8)), "s"), (dict(hist_bins=4, no_such_option="x"), "no_such_option")],
    ids=["unknown option", "help", "an option of the tool alone", "short name", "after a good one"],
)
def test_unknown_keywords_raise_type_errors_naming_them(options, keyword):
    with pytest.raises(TypeError, match=f"'{keyword}'"):
        ztroi.analyze_file(COFFEE, **options)


@pytest.mark.parametrize(
    "options, message",
    [(dict(write_crops="yes"), "write_crops"), (dict(quality=90), "add write_crops"),
     (dict(no_crops=True, crops=["1:1"]), "exclude each other")],
    ids=["value for a flag", "quality without writing crops", "crops and no crops"],
)
def test_options_are_checked_together_as_on_the_command_line(options, message):
    with pytest.raises(ValueError, match=message):
        ztroi.analyze_file(COFFEE, **options)


@pytest.mark.parametrize(
    "path, options",
    [(42, {}), (None, {}), (COFFEE, dict(grid=(4, object()))),
     (COFFEE, dict(weights={"sobel": True}))],
    ids=["number as path", "no path", "object in a pair", "flag as weight"],
)
def test_wrong_types_raise_type_errors(path, options):
    with pytest.raises(TypeError):
        ztroi.analyze_file(path, **options)
