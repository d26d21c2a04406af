"""The library's classes from Python: maps equal ztroi's to the bit, arrays of any layout are read
right, bad input raises, and analyses run without the GIL."""

import threading
import time
import tracemalloc

import numpy as np
import pytest

import ztroi
from conftest import COFFEE, scene, tool_map, write_png


@pytest.fixture(scope="module")
def coffee_map(tmp_path_factory):
    return tool_map(COFFEE, tmp_path_factory.mktemp("maps"))


@pytest.fixture(scope="module")
def coffee_rgba():
    return ztroi.read_image(COFFEE)


@pytest.mark.parametrize(
    "channels, layout",
    [
        ("RGBA", lambda rgba: rgba),
        ("BGRA", lambda rgba: rgba[:, :, [2, 1, 0, 3]]),
        ("RGB", lambda rgba: rgba[:, :, :3]),
        ("BGR", lambda rgba: rgba[:, :, 2::-1]),
        (None, lambda rgba: rgba[:, :, :3]),
    ],
    ids=["rgba", "bgra", "rgb", "bgr", "three channels default to rgb"],
)
def test_map_of_the_photograph_equals_the_tools(coffee_map, coffee_rgba, channels, layout):
    pixels = np.ascontiguousarray(layout(coffee_rgba))
    assert np.array_equal(ztroi.Mixer().analyze(pixels, channels), coffee_map)


def test_map_of_the_photograph_file_equals_the_tools(coffee_map):
    assert ztroi.Mixer().analyze(COFFEE).dtype == np.uint8
    assert np.array_equal(ztroi.Mixer().analyze(COFFEE), coffee_map)


@pytest.mark.parametrize(
    "options, arguments",
    [
        (dict(size=(200, 150)), ["--size", "200x150"]),
        (
            dict(weights={"sobel": 5, "contrast": 40}, disable=["center"]),
            ["--weight", "sobel=5", "--weight", "contrast=40", "--disable", "center"],
        ),
        (dict(areas=[(20, 30, 50, 40)]), ["--area", "20,30,50,40"]),
        (
            dict(hist_bins=(8, 16), hist_blocks=(6, 5), hist_threshold=0.9, hist_min=(0.2, 0.1)),
            ["--hist-bins", "8,16", "--hist-blocks", "6x5", "--hist-threshold", "0.9",
             "--hist-min", "0.2,0.1"],
        ),
    ],
    ids=["analysis size", "weights and a disabled method", "very important area", "histogram"],
)
@pytest.mark.parametrize("grey", [False, True], ids=["rgb", "grey"])
def test_mixer_options_act_as_the_tools(tmp_path, options, arguments, grey):
    picture = scene(120, 200)[:, :, 1] if grey else scene(120, 200)
    path = write_png(tmp_path / "scene.png", picture)
    expected = tool_map(path, tmp_path, *arguments)
    mixer = ztroi.Mixer(**options)
    assert np.array_equal(mixer.analyze(picture), expected)
    assert np.array_equal(mixer.analyze(path), expected)


@pytest.mark.parametrize(
    "view",
    [
        lambda a: a[::-1],
        lambda a: a[:, ::-1],
        lambda a: a[10:90, 20:150],
        lambda a: a[::2, ::3],
        lambda a: np.asfortranarray(a),
        lambda a: np.broadcast_to(a[5], a.shape),
        lambda a: a[:1],
        lambda a: a[:, :1],
    ],
    ids=["flipped rows", "flipped columns", "crop", "every other pixel", "fortran order",
         "broadcast row", "one row", "one column"],
)
@pytest.mark.parametrize("channels", [3, 4])
def test_views_give_the_map_of_their_contiguous_copy(view, channels):
    picture = np.dstack([scene(100, 160), np.full((100, 160), 255, np.uint8)])[:, :, :channels]
    pixels = view(picture)
    pixels.flags.writeable = False
    mixer = ztroi.Mixer((64, 64))
    assert np.array_equal(mixer.analyze(pixels), mixer.analyze(np.ascontiguousarray(pixels)))


@pytest.mark.parametrize(
    "view, copied",
    [(lambda a: a, False), (lambda a: a[100:900, 200:800], False), (lambda a: a[:, ::-1], True)],
    ids=["contiguous", "crop", "flipped"],
)
def test_packed_rgba_rows_are_read_in_place(view, copied):
    pixels = view(np.zeros((1000, 1000, 4), np.uint8))
    mixer = ztroi.Mixer((32, 32))
    tracemalloc.start()
    mixer.analyze(pixels)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    assert (peak >= pixels.shape[0] * pixels.shape[1] * 4) == copied


@pytest.mark.parametrize(
    "picture, channels, error",
    [
        ([[1, 2], [3, 4]], None, TypeError),
        (42, None, TypeError),
        (np.zeros((8, 8, 3), np.float32), None, TypeError),
        (np.zeros((8, 8, 3), np.int8), None, TypeError),
        (np.zeros((8, 8, 3), bool), None, TypeError),
        (np.zeros(8, np.uint8), None, ValueError),
        (np.zeros((8, 8, 2), np.uint8), None, ValueError),
        (np.zeros((8, 8, 5), np.uint8), None, ValueError),
        (np.zeros((2, 8, 8, 3), np.uint8), None, ValueError),
        (np.zeros((0, 8, 3), np.uint8), None, ValueError),
        (np.zeros((8, 0, 4), np.uint8), None, ValueError),
        (np.zeros((8, 8, 3), np.uint8), "RGBA", ValueError),
        (np.zeros((8, 8, 4), np.uint8), "ARGB", ValueError),
        (np.zeros((8, 8), np.uint8), "RGB", ValueError),
        (np.broadcast_to(np.uint8(0), (100000, 100000, 4)), None, ValueError),
        (np.broadcast_to(np.uint8(0), (50000, 50000)), None, ValueError),
    ],
    ids=["list", "int", "float32", "int8", "bool", "one axis", "two channels", "five channels",
         "four axes", "no rows", "no columns", "rgba order of three channels",
         "unknown order", "order of a grey array", "huge rgba", "huge grey"],
)
def test_bad_arrays_raise(picture, channels, error):
    with pytest.raises(error):
        ztroi.Mixer().analyze(picture, channels)


def test_unreadable_files_raise_picture_errors(unreadable):
    for path in unreadable:
        with pytest.raises(ztroi.PictureError) as caught:
            ztroi.Mixer().analyze(path)
        assert path in str(caught.value) and caught.value.record is None
        with pytest.raises(OSError):
            ztroi.read_image(path)
    with pytest.raises(OSError, match="more than 100 pixels"):
        ztroi.Mixer(max_pixels=100).analyze(COFFEE)


@pytest.mark.parametrize(
    "options, message",
    [
        (dict(size=(0, 10)), "size 0x10"),
        (dict(size=(10,)), "size 10"),
        (dict(weights={"colour": 3}), "weights colour=3"),
        (dict(weights={"sobel": 2000}), "weights sobel=2000"),
        (dict(disable=["sobel", "center", "histogram", "contrast"]), "every method is disabled"),
        (dict(areas=[(1, 2, 3)]), "areas 1,2,3"),
        (dict(hist_min=1.5), "hist_min 1.5"),
        (dict(hist_threshold=float("nan")), "hist_threshold nan"),
    ],
    ids=["empty size", "one side", "unknown method", "weight out of range", "all disabled",
         "three numbers for an area", "share above 1", "nan"],
)
def test_bad_mixer_options_raise_value_errors_naming_the_keyword(options, message):
    with pytest.raises(ValueError, match=message):
        ztroi.Mixer(**options)


def test_mixer_reports_its_configuration():
    mixer = ztroi.Mixer((320, 240), weights={"centre": 7}, disable="histogram",
                        areas=[(0, 0, 5, 5)])
    assert mixer.size == (320, 240)
    assert [(m["name"], m["enabled"], m["weight"]) for m in mixer.methods] == [
        ("sobel", True, 20), ("center", True, 7), ("histogram", False, 10), ("areas", True, 20),
        ("contrast", True, 10)]


def test_clusterer_scores_are_the_tools_grid(coffee_map):
    record = ztroi.analyze_file(COFFEE, grid=(4, 3))
    cells = ztroi.Clusterer(columns=4, rows=3).cluster(coffee_map)
    height, width = coffee_map.shape[0] // 3, coffee_map.shape[1] // 4
    assert cells[: 3 * height : height, : 4 * width : width].tolist() == record["grid"]["scores"]
    assert ztroi.Clusterer().total_salience(coffee_map) == int(coffee_map.sum())


def best_range_reference(sums, length):
    """The earliest start 1 ... n - length - 1 of the window with the largest positive sum."""
    n = len(sums)
    if n < length:
        return 0
    windows = [(sum(sums[s : s + length]), -s) for s in range(1, n - length)]
    best = max(windows, default=(0, 0))
    return -best[1] if best[0] > 0 and length > 0 else -1


@pytest.mark.parametrize("pixel_weight", ["linear", "threshold"])
@pytest.mark.parametrize("axis", [0, 1])
def test_maximizers_match_a_plain_reference(coffee_map, pixel_weight, axis):
    maximizer = (ztroi.HorizontalMaximizer, ztroi.VerticalMaximizer)[axis](pixel_weight)
    weighted = coffee_map.astype(np.int64)
    if pixel_weight == "threshold":
        weighted[weighted <= 153] = 0
    sums = weighted.sum(axis=axis)
    assert maximizer.sums(coffee_map).tolist() == sums.tolist()
    running = maximizer.running_sums(sums)
    assert running.tolist() == np.cumsum(sums).tolist()
    for length in [0, 1, 100, len(sums) - 2, len(sums) - 1, len(sums) + 1]:
        assert maximizer.best_range(running, length) == best_range_reference(sums, length)
    assert maximizer.best_start(coffee_map, 100) == best_range_reference(sums, 100)


@pytest.mark.parametrize(
    "values",
    [[2**63 - 1, 1], [-(2**63), -1], [2**62, 2**62, -5], [2**63 - 1, 1, -1]],
    ids=["past the largest", "past the smallest", "two halves", "back in range afterwards"],
)
def test_running_sums_outside_64_bits_raise_rather_than_wrap(values):
    with pytest.raises(OverflowError):
        ztroi.HorizontalMaximizer().running_sums(values)


def test_running_sums_reach_the_64_bit_edges_exactly():
    maximizer = ztroi.VerticalMaximizer()
    assert maximizer.running_sums([2**63 - 2, 1]).tolist() == [2**63 - 2, 2**63 - 1]
    assert maximizer.running_sums([-(2**63) + 1, -1]).tolist() == [-(2**63) + 1, -(2**63)]


@pytest.mark.parametrize(
    "make",
    [lambda: ztroi.Clusterer(0, 3), lambda: ztroi.HorizontalMaximizer("square"),
     lambda: ztroi.Clusterer().cluster(np.zeros((4, 4, 3), np.uint8)),
     lambda: ztroi.VerticalMaximizer().sums(np.zeros((4, 0), np.uint8))],
    ids=["no columns", "unknown pixel weight", "picture for a map", "empty map"],
)
def test_bad_arguments_of_the_post_analysis_raise(make):
    with pytest.raises(ValueError):
        make()


@pytest.mark.parametrize(
    "analysis",
    [
        lambda: ztroi.Mixer((1600, 1600)).analyze(scene(1600, 1600)),
        lambda: ztroi.analyze_file(COFFEE, size=(1600, 1600)),
    ],
    ids=["mixer", "analyze_file"],
)
def test_analyses_release_the_gil(analysis):
    # Holding the GIL, an analysis would stop this thread for all of its run: the longest pause
    # between two of its time stamps would be as long as the analysis.
    start = time.perf_counter()
    analysis()
    duration = time.perf_counter() - start
    worker = threading.Thread(target=analysis)
    stamps = [time.perf_counter()]
    worker.start()
    while worker.is_alive():
        time.sleep(0.001)
        stamps.append(time.perf_counter())
    longest_pause = max(np.diff(stamps), default=0.0)
    assert longest_pause < duration / 2
