"""The Dask example on a local cluster of two worker processes: the lines of ztroi --json for the
folder's pictures, in name order, with the unreadable ones as error records."""

import importlib.util
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


class _Future:
    def __init__(self, key, record):
        self.key = key
        self._record = record

    def result(self):
        return self._record

    def release(self):
        pass


class _Client:
    def map(self, function, items, pure):
        return [_Future(f"task-{index}", {"input": item}) for index, item in enumerate(items)]


def test_records_stream_in_input_order_as_soon_as_they_can(monkeypatch):
    loader_spec = importlib.util.spec_from_file_location("ztroi_dask", EXAMPLE)
    example = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(example)
    events = []

    def finishing(order):
        def as_completed(futures):
            for index in order:
                events.append(f"done {index}")
                yield futures[index]
        return as_completed

    monkeypatch.setattr(example, "as_completed", finishing([2, 0, 3, 1, 4]))
    for record in example.analyze_paths(_Client(), ["a", "b", "c", "d", "e"]):
        events.append(f"got {record['input']}")

    assert events == ["done 2", "done 0", "got a", "done 3", "done 1", "got b", "got c",
                      "got d", "done 4", "got e"]
