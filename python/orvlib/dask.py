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


# Through the service: columns added partition by partition, under one rate for the whole cluster.

# A lease is given back this long after its request's answer came. The request had reached the
# service by then, so two requests on one lease arrive more than a second apart, and no one-second
# window at the service sees more requests than there are leases, however late each arrives.
_HOLD = 1.01


class _SharedRate:
    """A semaphore of `rate` leases shared by every partition (a ``distributed.Semaphore`` across
    a cluster, a ``threading.Semaphore`` in one process), each lease given back _HOLD seconds
    after its request's answer came. A worker that is done takes no more leases, so the others get its
    share."""

    def __init__(self, semaphore):
        import concurrent.futures
        import queue
        import threading

        self.semaphore = semaphore
        self.asks = concurrent.futures.ThreadPoolExecutor(thread_name_prefix="orvlib-rate")
        self._due = queue.SimpleQueue()
        threading.Thread(target=self._give_back, name="orvlib-rate-release", daemon=True).start()

    def give_back(self, count=1):
        import time

        due = time.monotonic() + _HOLD
        for _ in range(count):
            self._due.put(due)

    def _give_back(self):
        import time

        while True:
            due = self._due.get()
            time.sleep(max(0.0, due - time.monotonic()))
            self.semaphore.release()


class _BatchLeases:
    """One batch's permit and on_answer hooks over a _SharedRate; close() gives back the
    leases granted but never answered (the batch ended first)."""

    def __init__(self, rate):
        import threading

        self._rate = rate
        self._lock = threading.Lock()
        self._granted = self._answered = 0
        self._closed = False

    def permit(self, grant):
        self._rate.asks.submit(self._ask, grant)

    def _ask(self, grant):
        self._rate.semaphore.acquire()
        with self._lock:
            if self._closed:
                self._rate.give_back()
                return
            self._granted += 1
        grant()

    def on_answer(self):
        with self._lock:
            self._answered += 1
        self._rate.give_back()

    def close(self):
        with self._lock:
            self._closed = True
            unused = self._granted - self._answered
        self._rate.give_back(unused)


_rates = {}


def _rate_for(spec):
    """The process's _SharedRate for the limit `spec` = (name, leases, on a cluster)."""
    import threading

    name, leases, cluster = spec
    if name not in _rates:
        if cluster:
            import distributed

            semaphore = distributed.Semaphore(max_leases=leases, name=name)
        else:
            semaphore = threading.Semaphore(leases)
        _rates.setdefault(name, _SharedRate(semaphore))
    return _rates[name]


_RESULTS = {
    "reverse": {"address": object, "place": object, "distance": np.float64},
    "geocode": {"name": object, "lat": np.float64, "lng": np.float64},
}
_ERRORS = {"error": object, "message": object, "status": np.int64, "attempts": np.int32}


def _ask_partition(frame, kind, columns, spec, options):
    from . import batch

    if len(frame) == 0:
        return _empty_answer(frame, kind)
    leases = _BatchLeases(_rate_for(spec)) if spec else None
    if leases:
        options = dict(options, permit=leases.permit, on_answer=leases.on_answer)
    try:
        if kind == "reverse":
            got = batch.reverse_geocode(_column(frame, columns[0]), _column(frame, columns[1]),
                                        **options)
        else:
            cities = frame[columns[1]] if columns[1] in frame.columns else columns[1]
            got = batch.geocode(list(frame[columns[0]]), cities if isinstance(cities, str)
                                else list(cities), **options)
    finally:
        if leases:
            leases.close()
    out = frame.copy(deep=False)
    for name in got.columns:
        out[name] = got[name].to_numpy()
    return out


def _empty_answer(frame, kind):
    out = frame.copy(deep=False)
    for name, dtype in {**_RESULTS[kind], **_ERRORS}.items():
        out[name] = pd.Series(dtype=dtype, index=frame.index)
    return out


def _through_service(frame, kind, columns, key, service, ca_file, rate, concurrency, options):
    options = dict(options, key=key, service=service, ca_file=ca_file, concurrency=concurrency)
    if isinstance(frame, pd.DataFrame):
        _check_columns(frame, columns[0])
        return _ask_partition(frame, kind, columns, None, dict(options, rate=rate))
    import dask.dataframe as dd

    if not isinstance(frame, dd.DataFrame):
        raise TypeError(f"expected a pandas or Dask DataFrame, not {type(frame).__name__}")
    _check_columns(frame, columns[0])
    spec = None
    if rate:
        import uuid

        leases = int(rate)
        if leases < 1:
            raise ValueError("a cluster-wide rate must be at least 1 request per second")
        try:
            import distributed

            distributed.default_client()
            cluster = True
        except (ImportError, ValueError):
            cluster = False
        spec = (f"orvlib-rate-{uuid.uuid4().hex}", leases, cluster)
        if cluster:  # registered with its size before any worker asks for a lease
            distributed.Semaphore(max_leases=leases, name=spec[0])
    return frame.map_partitions(_ask_partition, kind, columns, spec, dict(options, rate=0),
                                meta=_empty_answer(frame._meta, kind))


def reverse_geocode(frame, lat="lat", lng="lng", *, key, service=None, ca_file=None, rate=0,
                    concurrency=8, **options):
    """Adds columns address, place, distance, error, message, status, attempts (those of
    ``orvlib.batch.reverse_geocode``) to a pandas or Dask frame of GCJ-02 points. A Dask frame is
    answered partition by partition on its workers, and `rate` (requests per second, 0 for none)
    holds for all of them together: no one-second window at the service sees more. `service` and
    `ca_file` are set in each worker process; `concurrency` is per partition; other options
    (attempts, burst, timeout, agree) go to ``orvlib.batch``."""
    return _through_service(frame, "reverse", (lat, lng), key, service, ca_file, rate,
                            concurrency, options)


def geocode(frame, address="address", city="city", *, key, service=None, ca_file=None, rate=0,
            concurrency=8, **options):
    """Adds columns name, lat, lng (the first hit) and error, message, status, attempts to a
    pandas or Dask frame of addresses; `city` is a column's name or, when the frame has no such
    column, the city of every row. Otherwise as ``reverse_geocode``."""
    return _through_service(frame, "geocode", (address, city), key, service, ca_file, rate,
                            concurrency, options)
