"""The Dask example on a local cluster of two worker processes: the lines of ztroi --json for the
folder's pictures, in name order, with the unreadable ones as error records."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

from conftest import run_tool

pytest.importorskip("distributed")
EXAMPLE = pathlib.Path(os.environ["ZTROI_EXAMPLES"]).resolve() / "ztroi_dask.py"


def test_folder_on_two_workers_gives_the_tools_lines(tmp_path, pictures, unreadable):
    for path in pictures + unreadable:
        if os.path.isdir(path):
            (tmp_path / os.path.basename(path)).mkdir()
        elif os.path.exists(path):
            shutil.copy(path, tmp_path)
    (tmp_path / "notes.txt").write_text("not a picture, and not named like one\n")
    names = sorted(name for name in os.listdir(tmp_path) if name != "notes.txt")
    options = ["--crop", "16:9", "--crop", "4:5", "--grid", "3x2"]

    result = subprocess.run(
        [sys.executable, EXAMPLE, tmp_path, "--workers", "2", *options],
        capture_output=True, text=True, timeout=120, check=False)

    assert result.returncode == 1, result.stderr
    expected = run_tool("--json", "--no-map", *options, *[tmp_path / n for n in names], check=False)
    assert result.stdout == expected
