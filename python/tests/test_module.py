"""The library's classes from Python: maps equal ztroi's to the bit, arrays of any layout are read
right, and analyses run without the GIL."""

import threading
import time
import tracemalloc

import numpy as np
import pytest

import ztroi
from conftest import COFFEE, scene, tool_map, write_png


def test_mixer_options_act_as_the_tools(tmp_path):
    picture = scene(120, 200)
    path = write_png(tmp_path / "scene.png", picture)
    expected = tool_map(path, tmp_path, "--size", "200x150", "--weight", "sobel=5", "--disable",
                        "center", "--area", "20,30,50,40", "--hist-bins", "8,16", "--hist-blocks",
                        "6x5", "--hist-threshold", "0.9", "--hist-min", "0.2,0.1")
    mixer = ztroi.Mixer((200, 150), weights={"sobel": 5}, disable=["center"],
                        areas=[(20, 30, 50, 40)], hist_bins=(8, 16), hist_blocks=(6, 5),
                        hist_threshold=0.9, hist_min=(0.2, 0.1))
    assert np.array_equal(mixer.analyze(picture), expected)
    assert np.array_equal(mixer.analyze(path), expected)


# Each view strays from packed rows in its own way: a negative, a padded or a zero row stride,
# pixels or channels apart, a single row whose stride NumPy may report as anything.
@pytest.mark.parametrize(
    "view",
    [lambda a: a[::-1], lambda a: a[10:90, 20:150], lambda a: a[::2, ::3],
     lambda a: np.asfortranarray(a), lambda a: np.broadcast_to(a[5], a.shape), lambda a: a[:1]],
    ids=["flipped rows", "crop", "every other pixel", "fortran order", "broadcast row",
         "one row"],
)
@pytest.mark.parametrize("channels", [3, 4])
def test_views_give_the_map_of_their_contiguous_copy(view, channels):
    picture = np.dstack([scene(100, 160), np.full((100, 160), 255, np.uint8)])[:, :, :channels]
    pixels = view(picture)
    pixels.flags.writeable = False
    mixer = ztroi.Mixer((64, 64))
    assert np.array_equal(mixer.analyze(pixels), mixer.analyze(np.ascontiguousarray(pixels)))


@pytest.mark.parametrize(
    "view, copied", [(lambda a: a[100:900, 200:800], False), (lambda a: a[:, ::-1], True)],
    ids=["crop", "flipped"],
)
def test_packed_rgba_rows_are_read_in_place(view, copied):
    pixels = view(np.zeros((1000, 1000, 4), np.uint8))
    mixer = ztroi.Mixer((32, 32))
    tracemalloc.start()
    mixer.analyze(pixels)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    assert (peak >= pixels.shape[0] * pixels.shape[1] * 4) == copied


def test_post_analysis_of_the_tools_map(tmp_path):
    coffee_map = tool_map(COFFEE, tmp_path)
    record = ztroi.analyze_file(COFFEE, grid=(4, 3))
    cells = ztroi.Clusterer(columns=4, rows=3).cluster(coffee_map)
    height, width = coffee_map.shape[0] // 3, coffee_map.shape[1] // 4
    assert cells[: 3 * height : height, : 4 * width : width].tolist() == record["grid"]["scores"]
    assert ztroi.Clusterer().total_salience(coffee_map) == int(coffee_map.sum())
    # The horizontal maximizer places a window along the columns' sums, the vertical one along
    # the rows'; "threshold" counts only the pixels above 153.
    columns = ztroi.HorizontalMaximizer().sums(coffee_map)
    assert columns.tolist() == coffee_map.sum(axis=0, dtype=np.int64).tolist()
    bright = np.where(coffee_map > 153, coffee_map, 0).sum(axis=1, dtype=np.int64)
    assert ztroi.VerticalMaximizer("threshold").sums(coffee_map).tolist() == bright.tolist()


def test_running_sums_are_exact_or_raise_rather_than_wrap():
    maximizer = ztroi.HorizontalMaximizer()
    assert maximizer.running_sums([-(2**63) + 1, -1]).tolist() == [-(2**63) + 1, -(2**63)]
    # Checked at every step: a sum back in range afterwards does not undo the overflow.
    with pytest.raises(OverflowError):
        maximizer.running_sums([2**63 - 1, 1, -1])


@pytest.mark.parametrize(
    "analysis",
    [lambda: ztroi.Mixer((1600, 1600)).analyze(scene(1600, 1600)),
     lambda: ztroi.analyze_file(COFFEE, size=(1600, 1600))],
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
    assert max(np.diff(stamps), default=0.0) < duration / 2
