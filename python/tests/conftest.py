"""Shared helpers: the ztroi program, and pictures written with NumPy alone."""

import json
import os
import pathlib
import struct
import subprocess
import zlib

import numpy as np
import pytest

import ztroi

# Empty in a build without the program (-DZTROI_BUILD_TOOLS=OFF): comparisons with it are skipped.
TOOL = os.path.abspath(os.environ["ZTROI_EXECUTABLE"]) if os.environ.get("ZTROI_EXECUTABLE") else None
COFFEE = str(pathlib.Path(os.environ["ZTROI_SAMPLES"]).resolve() / "coffee.jpg")


def run_tool(*arguments, check=True):
    """ztroi's standard output for the arguments."""
    if TOOL is None:
        pytest.skip("this build has no ztroi program to compare with")
    result = subprocess.run([TOOL, "--quiet", *map(os.fsencode, arguments)],
                            capture_output=True, text=True, check=False)
    if check and result.returncode != 0:
        raise AssertionError(f"ztroi {arguments} failed: {result.stderr}")
    return result.stdout


def tool_records(paths, *options):
    """The dicts of ztroi's JSON lines for the pictures, in input order."""
    output = run_tool("--json", "--no-map", *options, "--", *paths, check=False)
    return [json.loads(line) for line in output.splitlines()]


def tool_map(path, folder, *options):
    """The salience map that ztroi writes for the picture, as an H x W array."""
    run_tool("--out", folder, *options, "--", path)
    written = pathlib.Path(folder) / (pathlib.Path(path).stem + ".salience.png")
    return ztroi.read_image(written)[:, :, 0]


def scene(height, width, seed=1):
    """An RGB picture with something to find: a dark textured ground, a bright disc, a bar."""
    rng = np.random.default_rng(seed)
    picture = rng.integers(30, 70, size=(height, width, 3), dtype=np.uint8)
    y, x = np.ogrid[:height, :width]
    disc = (y - height * 0.4) ** 2 + (x - width * 0.65) ** 2 < (min(height, width) / 6) ** 2
    picture[disc] = (230, 170, 40)
    picture[height * 3 // 4 : height * 3 // 4 + 8, width // 8 : width // 3] = (40, 90, 220)
    return picture


def write_png(path, picture):
    """Writes a grey, grey and alpha, RGB or RGBA picture as a PNG file."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    height, width = picture.shape[:2]
    colour_type = {1: 0, 2: 4, 3: 2, 4: 6}[picture.shape[2] if picture.ndim == 3 else 1]
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    rows = b"".join(b"\0" + row.tobytes() for row in np.ascontiguousarray(picture))
    pathlib.Path(path).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                                   + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    return str(path)


@pytest.fixture(scope="session")
def pictures(tmp_path_factory):
    """Readable pictures of several kinds: the bundled photograph, a landscape PNG, a grey one."""
    folder = tmp_path_factory.mktemp("pictures")
    return [COFFEE, write_png(folder / "landscape.png", scene(90, 160)),
            write_png(folder / "grey.png", scene(64, 64, seed=3)[:, :, 1])]


@pytest.fixture(scope="session")
def unreadable(tmp_path_factory):
    """Files that no analysis can read: damaged, of no picture format, a folder, missing."""
    folder = tmp_path_factory.mktemp("unreadable")
    jpeg = pathlib.Path(COFFEE).read_bytes()
    (folder / "truncated.jpg").write_bytes(jpeg[: len(jpeg) // 2])
    (folder / "text.jpg").write_text("not a picture\n")
    (folder / "folder.png").mkdir()
    names = ["truncated.jpg", "text.jpg", "folder.png", "missing.jpg"]
    return [str(folder / name) for name in names]
