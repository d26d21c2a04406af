"""ztroi.analyze() and ztroi.crop() on every kind of picture: the tool's record for the same
picture, as typed objects, with the crops' pixels equal to the crops that the tool writes."""

import pathlib

import numpy as np
import pytest

import ztroi
from conftest import run_tool, scene, tool_records, write_png

CROPS = ["16:9", "40x60"]
RGB = scene(90, 160)
GREY = scene(64, 80, seed=3)[:, :, 1].copy()
# Fully transparent on the left third, half so on the middle third.
ALPHA = np.repeat(np.uint8([0, 128, 255]), 32)
RGBA = np.dstack([scene(72, 96, seed=4), np.broadcast_to(ALPHA, (72, 96))])


def pillow(pixels):
    return pytest.importorskip("PIL.Image").fromarray(pixels)


# (picture, how the picture reaches analyze() given it and its PNG file, the record's "input");
# None: the PNG file's path.
INPUTS = [
    pytest.param(RGB, lambda a, path: a, "<array>", id="RGB array"),
    pytest.param(RGBA[:, :, [1, 3]], lambda a, path: pillow(a), "<image>",
                 id="Pillow grey and alpha image, converted"),
    pytest.param(RGB, lambda a, path: pillow(a).convert("P"), "<image>",
                 id="Pillow palette image, converted"),
    pytest.param(RGB, lambda a, path: pathlib.Path(path).read_bytes(), "<bytes>", id="bytes"),
    pytest.param(GREY, lambda a, path: open(path, "rb"), None, id="open binary file"),
    pytest.param(RGBA, lambda a, path: pathlib.Path(path), None, id="path"),
]


@pytest.mark.parametrize("picture, given, name", INPUTS)
def test_every_input_gives_the_tools_record_of_its_png(tmp_path, picture, given, name):
    path = write_png(tmp_path / "picture.png", picture)
    image = given(picture, path)
    if getattr(image, "mode", None) == "P":
        # A palette keeps fewer colours: the tool reads the picture that Pillow holds.
        path = write_png(tmp_path / "picture.png", np.asarray(image.convert("RGB")))

    result = ztroi.analyze(image, crops=CROPS, grid=(3, 2))

    expected = tool_records([path], "--crop", CROPS[0], "--crop", CROPS[1], "--grid", "3x2")[0]
    expected["input"] = path if name is None else name
    assert result.to_dict() == expected


def test_typed_result_of_a_named_picture_matches_its_record_and_files(tmp_path):
    result = ztroi.analyze(RGB, crops=CROPS, grid=(3, 2), name="holiday", write_crops=True,
                           out=str(tmp_path))
    record = result.to_dict()
    assert (result.input, result.size, result.analysis_size) == ("holiday", (160, 90), (480, 270))
    for crop, entry in zip(result.crops, record["crops"]):
        assert (crop.request, crop.rect, crop.salience_kept, crop.pixels) == (
            entry["request"], ztroi.Rect(**entry["rect"]), entry["salienceKept"], None)
    assert result.crops[1].output_size == (40, 60)
    assert result.focus == ztroi.FocalPoint(**record["focus"])
    assert result.grid.scores == tuple(map(tuple, record["grid"]["scores"]))
    assert result.methods == tuple(ztroi.Method(**method) for method in record["methods"])
    written = ztroi.read_image(tmp_path / "holiday.crop-16x9.png")[:, :, :3]
    np.testing.assert_array_equal(ztroi.crop(RGB, "16:9").pixels, written)


# (picture, crop, channel order given); the crop has alpha where the picture has.
PIXELS = [
    pytest.param(RGB, "400x300", None, id="RGB by default, crop enlarged"),
    pytest.param(RGB, "30x20", "BGR", id="BGR in, BGR out"),
    pytest.param(GREY, "1:1", None, id="grey picture, RGB crop"),
    pytest.param(RGBA, "4:5", None, id="transparent picture keeps its alpha"),
    pytest.param(RGBA, "50x50", "BGRA", id="BGRA in, BGRA out"),
]


@pytest.mark.parametrize("picture, request_text, channels", PIXELS)
def test_crop_pixels_equal_the_tools_written_png(tmp_path, picture, request_text, channels):
    path = write_png(tmp_path / "picture.png", picture)
    swapped = [2, 1, 0, 3][: picture.shape[2]] if channels else slice(None)

    crop = ztroi.crop(picture[..., swapped], request_text, channels=channels)

    run_tool("--no-map", "--write-crops", "--crop", request_text, "--out", tmp_path / "out",
             "--", path)
    written = ztroi.read_image(next((tmp_path / "out").glob("picture.crop-*.png")))
    if picture.shape[-1] != 4:
        assert (written[:, :, 3] == 255).all()
        written = written[:, :, :3]
    assert crop.pixels.dtype == np.uint8
    np.testing.assert_array_equal(crop.pixels, written[..., swapped])
