"""ztroi.analyze() and ztroi.crop() on every kind of picture: the tool's record for the same
picture, as typed objects, with the crops' pixels equal to the crops that the tool writes."""

import errno
import io
import os
import pathlib

import numpy as np
import pytest

import ztroi
from conftest import run_tool, scene, tool_records, write_png

CROPS = ["16:9", "40x60"]
TOOL_OPTIONS = ["--crop", "16:9", "--crop", "40x60", "--grid", "3x2"]


def rgb():
    return scene(90, 160)


def grey():
    return scene(64, 80, seed=3)[:, :, 1].copy()


def rgba():
    """A picture whose left third is fully transparent and the middle half transparent."""
    picture = np.dstack([scene(72, 96, seed=4), np.full((72, 96), 255, np.uint8)])
    picture[:, :32, 3] = 0
    picture[:, 32:64, 3] = 128
    return picture


def grey_alpha():
    picture = rgba()
    picture[:, :, 0] = picture[:, :, 2] = picture[:, :, 1]
    return picture


class DuckImage:
    """What analyze() reads of a Pillow image, for a build without Pillow: mode "RGB", or "LA"
    (grey and alpha), which must be converted."""

    def __init__(self, picture, mode):
        self.mode = mode
        self.size = picture.shape[1], picture.shape[0]
        self.info = {}
        self._picture = picture if mode == "RGB" else picture[:, :, 1::2]

    def tobytes(self):
        return np.ascontiguousarray(self._picture).tobytes()

    def convert(self, mode):
        assert (self.mode, mode) == ("LA", "RGBA"), (self.mode, mode)
        grey, alpha = self._picture[:, :, 0], self._picture[:, :, 1]
        return DuckImage(np.dstack([grey, grey, grey, alpha]), "RGB")._as("RGBA")

    def _as(self, mode):
        self.mode = mode
        return self


def pil_image(picture, mode):
    image_module = pytest.importorskip("PIL.Image")
    return image_module.fromarray(picture).convert(mode)


# (picture, how the picture reaches analyze(), the record's "input"); None: the PNG file's path.
INPUTS = [
    pytest.param(rgb, lambda a, path: (a, {}), "<array>", id="RGB array"),
    pytest.param(rgb, lambda a, path: (a[:, :, ::-1], dict(channels="BGR")), "<array>",
                 id="BGR array, reversed in memory"),
    pytest.param(grey, lambda a, path: (a, {}), "<array>", id="grey array"),
    pytest.param(rgba, lambda a, path: (a, {}), "<array>", id="RGBA array"),
    pytest.param(rgb, lambda a, path: (DuckImage(a, "RGB"), {}), "<image>",
                 id="Pillow-like RGB image"),
    pytest.param(grey_alpha, lambda a, path: (DuckImage(a, "LA"), {}), "<image>",
                 id="Pillow-like grey and alpha image, converted"),
    pytest.param(rgb, lambda a, path: (pil_image(a, "P"), {}), "<image>",
                 id="Pillow palette image, converted"),
    pytest.param(rgb, lambda a, path: (pathlib.Path(path).read_bytes(), {}), "<bytes>",
                 id="bytes"),
    pytest.param(rgba, lambda a, path: (memoryview(bytearray(pathlib.Path(path).read_bytes())),
                                        {}), "<bytes>", id="memoryview of a bytearray"),
    pytest.param(grey, lambda a, path: (open(path, "rb"), {}), None, id="open binary file"),
    pytest.param(rgb, lambda a, path: (pathlib.Path(path), {}), None, id="path"),
]


@pytest.mark.parametrize("make, given, name", INPUTS)
def test_every_input_gives_the_tools_record_of_its_png(tmp_path, make, given, name):
    picture = make()
    path = write_png(tmp_path / "picture.png", picture)
    image, options = given(picture, path)
    if name == "<image>" and not isinstance(image, DuckImage):
        # A palette keeps fewer colours: the tool reads the picture that Pillow holds.
        picture = np.asarray(image.convert("RGB"))
        path = write_png(tmp_path / "picture.png", picture)

    result = ztroi.analyze(image, crops=CROPS, grid=(3, 2), **options)

    expected = tool_records([path], *TOOL_OPTIONS)[0]
    expected["input"] = path if name is None else name
    assert result.to_dict() == expected


def test_typed_result_matches_its_record(tmp_path):
    picture = rgb()
    result = ztroi.analyze(picture, crops=CROPS, grid=(3, 2))
    record = result.to_dict()
    assert result.size == (160, 90) and result.analysis_size == (480, 270)
    assert [crop.request for crop in result.crops] == CROPS
    for crop, entry in zip(result.crops, record["crops"]):
        assert crop.to_dict() == entry
        assert crop.rect == ztroi.Rect(**entry["rect"])
        assert picture[crop.rect.slices].shape[:2] == (entry["rect"]["height"],
                                                       entry["rect"]["width"])
        assert crop.salience_kept == entry["salienceKept"] and crop.pixels is None
        assert isinstance(crop.scale, float) and isinstance(crop.warnings, tuple)
    assert result.crops[1].output_size == (40, 60)
    assert (result.focus.x, result.focus.y, result.focus.css) == (
        record["focus"]["x"], record["focus"]["y"], record["focus"]["css"])
    assert result.grid.scores == tuple(map(tuple, record["grid"]["scores"]))
    assert [method.name for method in result.methods] == [m["name"] for m in record["methods"]]
    # Faces are looked for by default where the face model is installed; none are on this one.
    assert result.faces in (None, ()) and result.files == {}
    assert result.face_detector == record.get("faceDetector")


# (picture, crop, channels, whether the array has an alpha channel)
PIXELS = [
    pytest.param(rgb, "16:9", None, False, id="RGB crop at its own size"),
    pytest.param(rgb, "400x300", None, False, id="RGB crop enlarged to an output size"),
    pytest.param(rgb, "30x20", "BGR", False, id="BGR in, BGR out"),
    pytest.param(grey, "1:1", None, False, id="grey picture, RGB crop"),
    pytest.param(rgba, "4:5", None, True, id="transparent picture keeps its alpha"),
    pytest.param(rgba, "50x50", "BGRA", True, id="BGRA in, BGRA out"),
]


@pytest.mark.parametrize("make, request_text, channels, alpha", PIXELS)
def test_crop_pixels_equal_the_tools_written_png(tmp_path, make, request_text, channels, alpha):
    picture = make()
    path = write_png(tmp_path / "picture.png", picture)
    given = picture
    if channels:
        given = picture[:, :, [2, 1, 0, 3][: picture.shape[2]]]

    crop = ztroi.crop(given, request_text, channels=channels)

    run_tool("--no-map", "--write-crops", "--crop", request_text, "--out", tmp_path / "out",
             "--", path)
    written = ztroi.read_image(next((tmp_path / "out").glob("picture.crop-*.png")))
    expected = written if alpha else written[:, :, :3]
    if not alpha:
        assert (written[:, :, 3] == 255).all()
    if channels:
        expected = expected[:, :, [2, 1, 0, 3][: expected.shape[2]]]
    assert crop.pixels.dtype == np.uint8
    np.testing.assert_array_equal(crop.pixels, expected)
    assert crop.to_dict() == tool_records([path], "--crop", request_text)[0]["crops"][0]


def _missing(folder):
    return folder / "missing.png", {}


def _refused_folder(folder):
    if os.geteuid() == 0:
        if not os.path.ismount("/sys"):
            pytest.skip("root may write anywhere, and there is no sysfs that refuses it")
        out = "/sys/ztroi-test-output"  # refused even to root
    else:
        (folder / "locked").mkdir(mode=0o500)
        out = str(folder / "locked" / "out")
    return rgb(), dict(write_map=True, name="picture", out=out)


def _truncated_bytes(folder):
    data = pathlib.Path(write_png(folder / "p.png", rgb())).read_bytes()
    return data[: len(data) // 2], {}


# (image and keyword arguments made in a folder, exception, text of its message, kind)
ERRORS = [
    pytest.param(lambda f: (42, {}), TypeError, "image: expected", None, id="number as image"),
    pytest.param(lambda f: (io.StringIO("text"), {}), TypeError, "binary mode", None,
                 id="file opened in text mode"),
    pytest.param(lambda f: (rgb(), dict(colour=True)), TypeError, "'colour'", None,
                 id="unknown keyword"),
    pytest.param(lambda f: (rgb(), dict(channels="RGBA")), ValueError, "channels 'RGBA'", None,
                 id="RGBA order of three channels"),
    pytest.param(lambda f: (rgb(), dict(crops=["0:9"])), ValueError, "^crops 0:9", None,
                 id="zero aspect, named as the keyword"),
    pytest.param(lambda f: (rgb(), dict(write_map=True)), ValueError, "name:", None,
                 id="files of an array without a name"),
    pytest.param(_missing, FileNotFoundError, "no such file", "not-found", id="missing file"),
    pytest.param(_refused_folder, PermissionError, "", "permission",
                 id="output folder refused"),
    pytest.param(lambda f: (b"not a picture", {}), ValueError, "", "unsupported-format",
                 id="bytes of no picture"),
    pytest.param(_truncated_bytes, ValueError, "", "damaged", id="truncated bytes"),
    pytest.param(lambda f: (rgb(), dict(max_pixels=100)), ValueError, "more than 100 pixels",
                 "too-large", id="array over the pixel limit"),
    pytest.param(lambda f: (rgb(), dict(memory=1)), MemoryError, "memory budget of 1 MB",
                 "over-budget", id="array over the memory budget"),
    pytest.param(lambda f: (rgb(), dict(crops=["100000x100000"], pixels=True)), MemoryError,
                 "crops' pixels", "over-budget", id="crop pixels over the memory budget"),
]


@pytest.mark.parametrize("make, exception, message, kind", ERRORS)
def test_every_failure_raises_pythons_exception(tmp_path, make, exception, message, kind):
    image, options = make(tmp_path)
    with pytest.raises(exception, match=message) as caught:
        ztroi.analyze(image, **options)
    error = caught.value
    assert "--" not in str(error)
    if kind is None:
        assert not isinstance(error, ztroi.PictureError)
        return
    assert isinstance(error, ztroi.PictureError) and error.kind == kind
    if exception in (FileNotFoundError, PermissionError):
        expected = {FileNotFoundError: errno.ENOENT, PermissionError: errno.EACCES}[exception]
        assert error.errno == expected and error.filename in (str(image), options.get("out"))


def test_named_picture_from_memory_writes_its_files(tmp_path):
    picture = rgb()
    result = ztroi.analyze(picture, crops=["1:1"], name="holiday", write_crops=True,
                           out=str(tmp_path))
    assert result.input == "holiday"
    written = ztroi.read_image(tmp_path / "holiday.crop-1x1.png")[:, :, :3]
    np.testing.assert_array_equal(
        ztroi.crop(picture, "1:1").pixels, written)
