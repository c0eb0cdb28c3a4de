"""Throughput of orvlib's conversions from Python.

1. Binding overhead: orvlib.convert on one pair of numpy columns against the C++ engine alone on
   the same columns (target: within 1.2x).
2. Whole files: points per second converting a CSV (id,lat,lng) to another CSV, with pandas in one
   process and with Dask on a 2-worker LocalCluster (processes, one thread each).

    PYTHONPATH=build/python /usr/bin/python3 bench/python_convert.py [--points 20000000]
"""

import argparse
import os
import pathlib
import shutil
import tempfile
import time

import numpy as np
import pandas as pd

import orvlib
import orvlib.dask
from orvlib import _orvlib


def columns(n, seed=1):
    rng = np.random.default_rng(seed)
    return rng.uniform(18, 53, n), rng.uniform(73, 135, n)


def best_of(repeats, fn):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def binding_overhead(n):
    lat, lng = columns(n)
    out = (np.empty_like(lat), np.empty_like(lng))
    print(f"binding overhead, {n} points, best of 5, ns/point: new arrays out, out= arrays, "
          "engine alone; ratios to the engine")
    for src, dst in [("wgs84", "gcj02"), ("gcj02", "wgs84"), ("gcj02", "bd09")]:
        fresh = best_of(5, lambda: orvlib.convert(lat, lng, src, dst))
        reused = best_of(5, lambda: orvlib.convert(lat, lng, src, dst, out=out))
        engine = _orvlib._engine_seconds(lat, lng, src, dst, repeats=5)
        print(f"  {src}->{dst}: {fresh / n * 1e9:7.1f} {reused / n * 1e9:7.1f} "
              f"{engine / n * 1e9:7.1f}   {fresh / engine:4.2f}x {reused / engine:4.2f}x")


def write_csv(path, n, chunk=2_000_000):
    for i, start in enumerate(range(0, n, chunk)):
        m = min(chunk, n - start)
        lat, lng = columns(m, seed=i)
        pd.DataFrame({"id": np.arange(start, start + m), "lat": lat, "lng": lng}).to_csv(
            path, mode="a" if i else "w", header=not i, index=False)


def pandas_file(src_path, dst_path):
    start = time.perf_counter()
    frame = pd.read_csv(src_path)
    read = time.perf_counter()
    out = orvlib.dask.convert(frame, src="wgs84", dst="gcj02")
    converted = time.perf_counter()
    out.to_csv(dst_path, index=False)
    return time.perf_counter() - start, read - start, converted - read


def dask_file(src_path, dst_dir):
    import dask.dataframe as dd
    import distributed

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        start = time.perf_counter()
        frame = dd.read_csv(src_path, blocksize="64MB")
        orvlib.dask.convert(frame, src="wgs84", dst="gcj02").to_csv(
            os.path.join(dst_dir, "part-*.csv"), index=False)
        return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--points", type=int, default=20_000_000)
    parser.add_argument("--array-points", type=int, default=10_000_000)
    args = parser.parse_args()
    print(f"engine target: {orvlib.engine_target()}")
    binding_overhead(args.array_points)

    work = pathlib.Path(tempfile.mkdtemp(prefix="orvlib-bench-"))
    try:
        src = work / "points.csv"
        start = time.perf_counter()
        write_csv(src, args.points)
        size = src.stat().st_size
        print(f"\n{args.points} points, CSV {size / 1e6:.0f} MB (written in "
              f"{time.perf_counter() - start:.1f} s)")
        total, read, conv = pandas_file(src, work / "pandas-out.csv")
        print(f"  pandas, one process: {args.points / total / 1e6:.2f} M points/s "
              f"({total:.1f} s: read {read:.1f} s, convert {conv:.2f} s "
              f"= {args.points / conv / 1e6:.1f} M points/s, write {total - read - conv:.1f} s)")
        (work / "dask-out").mkdir()
        total = dask_file(str(src), str(work / "dask-out"))
        print(f"  Dask, 2 workers:     {args.points / total / 1e6:.2f} M points/s ({total:.1f} s)")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
