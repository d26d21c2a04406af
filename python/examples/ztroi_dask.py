#!/usr/bin/env python3
"""Analyses every picture of a folder on a Dask cluster, one task per picture, and prints one
JSON line per picture as `ztroi --json --no-map` does, in the order of the sorted file names. Each
line is printed as soon as its picture and every one before it are done, so results stream while
the cluster works. A picture that cannot be analysed gives the tool's error record, and the run
goes on.

    ztroi_dask.py photos --crop 16:9 --grid 4x3                    # two local worker processes
    ztroi_dask.py /shared/photos --scheduler tcp://host:8786 ...   # a running cluster

On a cluster, every worker needs the ztroi module and must see the pictures under the same path.
"""

import argparse
import functools
import json
import os
import re
import sys
import time

from dask.distributed import Client, as_completed

import ztroi

# The formats that ztroi reads by default.
PICTURE_SUFFIXES = {".bmp", ".gif", ".jpeg", ".jpg", ".png", ".tif", ".tiff", ".webp"}


def picture_paths(folder):
    """The picture files of folder (not of its subfolders), sorted by name."""
    names = sorted(os.listdir(folder))
    return [os.path.join(folder, name) for name in names
            if os.path.splitext(name)[1].lower() in PICTURE_SUFFIXES]


def analyze_paths(client, paths, **options):
    """Yields analyze_file(path, **options) of every path, analysed on the client's cluster, in
    input order: each record as soon as it and all before it are done. A picture that cannot be
    analysed gives its error record."""
    analyze = functools.partial(ztroi.analyze_file, errors="record", **options)
    futures = client.map(analyze, paths, pure=False)
    position = {future.key: index for index, future in enumerate(futures)}
    # Records that finished before an earlier one wait here; at most the run's stragglers do.
    waiting = {}
    next_index = 0
    for future in as_completed(futures):
        waiting[position[future.key]] = future.result()
        future.release()
        while next_index in waiting:
            yield waiting.pop(next_index)
            next_index += 1


def connect(scheduler, workers):
    """A client of the scheduler at that address, or of a local cluster of its own with that many
    worker processes of one thread each."""
    if scheduler:
        return Client(scheduler)
    return Client(n_workers=workers, threads_per_worker=1, dashboard_address=None)


def json_line(record):
    """The record as ztroi prints it: keys sorted, no spaces, text in UTF-8 except the bytes of a
    file name that are not UTF-8 (os.fsdecode's lone surrogates), which are escaped as \\udcXX."""
    text = json.dumps(record, ensure_ascii=False, separators=(",", ":"), sort_keys=True)
    return re.sub("[\udc80-\udcff]", lambda match: f"\\u{ord(match[0]):04x}", text)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--scheduler", help="address of a running scheduler, e.g. tcp://host:8786")
    parser.add_argument("--workers", type=int, default=2, help="local worker processes (default 2)")
    parser.add_argument("--crop", action="append", default=[], help="W:H or WxH; repeatable")
    parser.add_argument("--grid", help="CxR")
    parser.add_argument("--size", help="analysis size WxH")
    args = parser.parse_args(argv)

    paths = picture_paths(args.folder)
    failed = 0
    with connect(args.scheduler, args.workers) as client:
        start = time.perf_counter()
        for record in analyze_paths(client, paths, crops=args.crop, grid=args.grid,
                                    size=args.size):
            print(json_line(record), flush=True)
            failed += "error" in record
        seconds = time.perf_counter() - start
    print(f"{len(paths)} pictures in {seconds:.2f} s", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
