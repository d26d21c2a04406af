"""analyze_file() against the ztroi program: the same records for the same options, the same
files written under the same names."""

import json
import os
import shutil

import pytest

import ztroi
from conftest import COFFEE, run_tool, tool_records


@pytest.mark.parametrize(
    "options, arguments",
    [
        ({}, []),
        (dict(crops=["16:9", "1080x1350"], grid=(4, 3), size=(160, 120), weights={"sobel": 3},
              disable=["histogram"], areas=[(5, 5, 30, 20), (40, 10, 10, 10)],
              pixel_weight="threshold", hist_bins=12, hist_blocks=(9, 7), hist_threshold=-0.5,
              fast_decode=True),
         ["--crop", "16:9", "--crop", "1080x1350", "--grid", "4x3", "--size", "160x120",
          "--weight", "sobel=3", "--disable", "histogram", "--area", "5,5,30,20", "--area",
          "40,10,10,10", "--pixel-weight", "threshold", "--hist-bins", "12", "--hist-blocks",
          "9x7", "--hist-threshold=-0.5", "--fast-decode"]),
        (dict(crops="4:5", faces=False), ["--crop", "4:5", "--no-faces"]),
    ],
    ids=["defaults", "options of every kind", "no faces, even where the model is installed"],
)
def test_records_equal_the_tools_json(pictures, options, arguments):
    expected = tool_records(pictures, *arguments)
    assert [ztroi.analyze_file(path, **options) for path in pictures] == expected


def test_any_file_name_is_read_and_reported_as_the_tool_does(tmp_path):
    path = os.fsencode(tmp_path) + b"/caf\xe9 -x.jpg"
    shutil.copy(COFFEE, path)
    record = ztroi.analyze_file(path, crops=["1:1"])
    assert record == tool_records([path], "--crop", "1:1")[0]
    assert os.fsencode(record["input"]) == path


def test_files_are_written_only_when_asked(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert ztroi.analyze_file(COFFEE, grid=(2, 2))["files"] == {} and os.listdir(tmp_path) == []

    record = ztroi.analyze_file(COFFEE, crops=["1:1", "90x60"], write_map=True, write_crops=True,
                                maps=True, overlay=True, out="module")
    expected = json.loads(run_tool("--json", "--crop", "1:1", "--crop", "90x60", "--write-crops",
                                   "--maps", "--overlay", "--out", "tool", COFFEE))
    assert json.loads(json.dumps(record).replace("module/", "tool/")) == expected
    assert sorted(os.listdir("module")) == sorted(os.listdir("tool"))


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
        assert first["files"]["salience"] == "ztroi-out/c.salience.png" and "renamed" not in first
        assert second["files"] == again["files"] == {"salience": "ztroi-out/c-2.salience.png"}
        assert second["renamed"] == again["renamed"] == [{"path": "ztroi-out/c-2.salience.png",
            "wanted": "ztroi-out/c.salience.png", "reason": "written by ztroi for another input"}]
    assert sorted(os.listdir("ztroi-out")) == [".ztroi-record", "c-2.salience.png",
                                               "c.salience.png"]

