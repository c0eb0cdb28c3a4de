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

``geofence(frame, fences, by="vehicle", time="t", lat="lat", lng="lng", accuracy=None)`` runs a
fleet's history through one ``orvlib.GeofenceMonitor`` per vehicle and returns the events.
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


EVENT_COLUMNS = ["event", "fence", "time", "lat", "lng", "accuracy", "row"]


def _fences_text(fences):
    if isinstance(fences, str) and fences.lstrip().startswith("{"):
        return fences
    with open(fences, encoding="utf-8") as f:
        return f.read()


def _fleet_events(frame, fences, by, time, lat, lng, accuracy, datum):
    """The events of every vehicle in a pandas frame, vehicle by vehicle in sorted order."""
    parts = []
    for _, rows in frame.groupby(by, sort=True):
        # Ties in time keep the frame's order, whatever order the rows arrived in.
        rows = rows.sort_index(kind="stable").sort_values(time, kind="stable")
        monitor = _orvlib.GeofenceMonitor()
        monitor.load_geojson(fences, datum)
        events = monitor.evaluate(
            rows[time].to_numpy(), _column(rows, lat), _column(rows, lng),
            None if accuracy is None else _column(rows, accuracy))
        positions = events["row"].to_numpy()
        events["row"] = rows.index.to_numpy()[positions]
        events.insert(0, by, rows[by].iloc[positions].reset_index(drop=True))
        parts.append(events)
    if not parts:
        return _empty_events(frame, by, time)
    return pd.concat(parts, ignore_index=True)


def _empty_events(frame, by, time):
    monitor = _orvlib.GeofenceMonitor()
    events = monitor.evaluate(frame[time].to_numpy()[:0], np.empty(0), np.empty(0))
    events["row"] = frame.index.to_numpy()[:0]
    events.insert(0, by, frame[by].iloc[:0].reset_index(drop=True))
    return events


def geofence(frame, fences, by="vehicle", time="t", lat="lat", lng="lng", accuracy=None,
             datum="wgs84"):
    """The geofence events of a fleet's history in a pandas or Dask frame.

    Rows are grouped by `by`, ordered by `time` (seconds since the epoch or datetime64) inside
    each group, and fed to one monitor per vehicle holding `fences` (GeoJSON text or a file path,
    read here and sent to the workers as text; `datum` as in ``load_geojson``). The events are a
    frame with columns `by`, event, fence, time, lat, lng, accuracy and row (the fix's index label
    in `frame`), vehicle by vehicle in sorted order, each vehicle's events in time order. A Dask
    frame is shuffled so each vehicle lands whole in one partition and gives a Dask frame of the
    same events, its partitions holding whole vehicles (sort by `by` after compute for the pandas
    order). Bad fences raise orvlib.GeofenceError and missing columns KeyError, at once."""
    text = _fences_text(fences)
    _orvlib.GeofenceMonitor().load_geojson(text, datum)
    columns = [by, time, lat, lng] + ([] if accuracy is None else [accuracy])
    args = (text, by, time, lat, lng, accuracy, datum)
    if isinstance(frame, pd.DataFrame):
        _check_columns(frame, *columns)
        return _fleet_events(frame, *args)
    import dask.dataframe as dd

    if isinstance(frame, dd.DataFrame):
        _check_columns(frame, *columns)
        meta = _empty_events(frame._meta, by, time)
        return frame.shuffle(by).map_partitions(_fleet_events, *args, meta=meta)
    raise TypeError(f"expected a pandas or Dask DataFrame, not {type(frame).__name__}")
