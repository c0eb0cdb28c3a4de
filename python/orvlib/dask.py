"""Whole-dataset coordinate conversion for pandas and Dask data frames.

``convert(frame, lat="lat", lng="lng", src="wgs84", dst="gcj02", inverse="iterative")`` returns
a frame with the same columns, index and order, the two coordinate columns converted (float64)
in place of the originals. A Dask frame is converted partition by partition on its workers; each
partition's columns go through ``orvlib.convert`` as numpy arrays, without per-row Python.

Bad values never stop a job: each point converts exactly as ``orvlib.convert`` converts it. NaN
and missing values (``pd.NA``) give NaN; points outside the region of the GCJ-02 offset (which
includes latitudes beyond ±90 and longitudes beyond ±180) pass WGS-84↔GCJ-02 unchanged, while
BD-09, which has no region test, applies its formula to any number. Columns that are not numeric
raise TypeError or ValueError, like any numeric operation on them.

``convert_files(pattern_or_list, out_dir, **options)`` converts whole CSV or GeoJSON files, one
task per file, each through ``orvlib.convert_file`` (the same output as converting it in one
process), and writes each under its own name in `out_dir`.
"""

import glob
import os

import numpy as np
import pandas as pd

from . import _orvlib


def _column(frame, name):
    return frame[name].to_numpy(dtype=np.float64, na_value=np.nan)


def _check_columns(frame, *names):
    missing = [name for name in names if name not in frame.columns]
    if missing:
        raise KeyError(f"no column {missing[0]!r} in the frame (columns: {list(frame.columns)})")


def _convert_frame(frame, lat, lng, src, dst, inverse):
    new_lat, new_lng = _orvlib.convert(_column(frame, lat), _column(frame, lng), src, dst, inverse)
    out = frame.copy(deep=False)
    out[lat] = new_lat
    out[lng] = new_lng
    return out


def convert(frame, lat="lat", lng="lng", src="wgs84", dst="gcj02", inverse="iterative"):
    """Converts the columns `lat` and `lng` of a pandas or Dask data frame from `src` to `dst`
    ("wgs84", "gcj02", "bd09"). Unknown systems raise ValueError and missing columns KeyError at
    once, before any partition runs."""
    _orvlib.convert(0.0, 0.0, src, dst, inverse)
    if isinstance(frame, pd.DataFrame):
        _check_columns(frame, lat, lng)
        return _convert_frame(frame, lat, lng, src, dst, inverse)
    import dask.dataframe as dd

    if isinstance(frame, dd.DataFrame):
        _check_columns(frame, lat, lng)
        meta = _convert_frame(frame._meta, lat, lng, src, dst, inverse)
        return frame.map_partitions(_convert_frame, lat, lng, src, dst, inverse, meta=meta)
    raise TypeError(f"expected a pandas or Dask DataFrame, not {type(frame).__name__}")


def _convert_file(src, dst, options):
    return _orvlib.convert_file(src, dst, **options)


def convert_files(pattern_or_list, out_dir, **options):
    """Converts files named by a glob pattern (or a list of paths) into `out_dir`, under their own
    base names, one Dask task per file (on the active ``distributed.Client`` if there is one).
    `options` are those of ``orvlib.convert_file``; `threads` defaults to 1 per task, as the
    workers already run files side by side. Returns {source path: convert_file's result}."""
    import dask

    if isinstance(pattern_or_list, (str, os.PathLike)):
        sources = sorted(glob.glob(os.fspath(pattern_or_list)))
    else:
        sources = [os.fspath(p) for p in pattern_or_list]
    names = [os.path.basename(s) for s in sources]
    if len(set(names)) != len(names):
        raise ValueError("two sources share a base name; their outputs would collide")
    options.setdefault("threads", 1)
    _orvlib.convert(0.0, 0.0, options.get("src_crs", "wgs84"), options.get("dst_crs", "gcj02"))
    os.makedirs(out_dir, exist_ok=True)
    tasks = [dask.delayed(_convert_file, pure=False)(s, os.path.join(out_dir, n), options)
             for s, n in zip(sources, names)]
    return dict(zip(sources, dask.compute(*tasks)))
