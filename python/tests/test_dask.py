"""The Dask example: a folder's records on two worker processes, streamed in input order."""

import importlib
import os
import pathlib
import shutil
import subprocess
import sys
from types import SimpleNamespace

import pytest

from conftest import run_tool

pytest.importorskip("distributed")
EXAMPLE = pathlib.Path(os.environ["ZTROI_EXAMPLES"]).resolve() / "ztroi_dask.py"


def test_folder_on_two_workers_gives_the_tools_lines(tmp_path, pictures, unreadable):
    for path in pictures + unreadable[:2]:
        shutil.copy(path, tmp_path)
    (tmp_path / "folder.png").mkdir()
    (tmp_path / "notes.txt").write_text("not a picture, and not named like one\n")
    options = ["--crop", "16:9", "--crop", "4:5", "--grid", "3x2"]

    result = subprocess.run([sys.executable, EXAMPLE, tmp_path, "--workers", "2", *options],
                            capture_output=True, text=True, timeout=120, check=False)

    # The unreadable pictures give error records, and the exit status 1.
    assert result.returncode == 1, result.stderr
    names = sorted(name for name in os.listdir(tmp_path) if name != "notes.txt")
    expected = run_tool("--json", "--no-map", *options, *[tmp_path / n for n in names], check=False)
    assert result.stdout == expected


def _client():
    """A client whose map() gives futures that are done at once, keyed by their position."""
    def submit_all(function, items, pure):
        return [SimpleNamespace(key=f"task-{index}", result=lambda item=item: {"input": item},
                                release=lambda: None) for index, item in enumerate(items)]
    return SimpleNamespace(map=submit_all)


def test_records_stream_in_input_order_as_soon_as_they_can(monkeypatch):
    monkeypatch.syspath_prepend(str(EXAMPLE.parent))
    example = importlib.import_module("ztroi_dask")
    events = []

    def as_completed(futures):
        for index in [2, 0, 3, 1, 4]:
            events.append(f"done {index}")
            yield futures[index]

    monkeypatch.setattr(example, "as_completed", as_completed)
    for record in example.analyze_paths(_client(), ["a", "b", "c", "d", "e"]):
        events.append(f"got {record['input']}")

    assert events == ["done 2", "done 0", "got a", "done 3", "done 1", "got b", "got c",
                      "got d", "done 4", "got e"]
