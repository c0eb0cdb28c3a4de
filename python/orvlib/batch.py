"""Whole columns through the location web service, as pandas frames.

    frame = orvlib.batch.reverse_geocode(lat, lng, key=KEY, rate=49)
    frame = orvlib.batch.geocode(addresses, cities, key=KEY)
    frame = orvlib.batch.track(lat, lng, time, accuracy=acc, key=KEY)

Each runs the C++ batch engine on the calling thread's run loop (the main loop on the main thread)
until every input has its outcome: bounded concurrency, a client-side rate limit, retries with
backoff, a pause on 429, equal inputs requested once. The frame has one row per input, in input
order (index 0..n-1): the answer's columns, ``error`` (the error code's name, e.g. ``httpStatus``,
``cancelled``; None when answered), ``message``, ``status`` (the HTTP status, -1 without an
answer) and ``attempts``. Ctrl-C cancels the batch (the transfers in flight are aborted) and
raises KeyboardInterrupt. ``service``/``ca_file`` set the process-wide service first
(``orvlib.set_service``). ``agree`` is the privacy consent the requests are made under.

``permit``, when given, is called as ``permit(grant)`` before every request (retries included);
the request goes out once ``grant()`` has been called, from any thread. ``on_send()``, when given,
is called as each request goes out, ``on_answer()`` as each request sent ends (answered or
failed). ``orvlib.dask`` shares one rate among a cluster's workers with them.
"""

import numpy as np
import pandas as pd

from . import _orvlib, set_service

_LOCATION = ("address", "place", "distance")
_TAIL = ("error", "message", "status", "attempts")


def _options(key, service, ca_file, agree, rate, burst, concurrency, attempts, timeout, permit,
             on_send, on_answer):
    if service is not None:
        set_service(service, ca_file=ca_file or "")
    return dict(key=key, agree=agree, rate=float(rate), burst=float(burst),
                concurrency=int(concurrency), attempts=int(attempts), timeout=float(timeout),
                permit=permit, on_send=on_send, on_answer=on_answer)


def _column(values):
    return np.ascontiguousarray(np.asarray(values, dtype=np.float64).reshape(-1))


def _frame(columns, names):
    # The native part names a reverse answer's address "name", like a geocode hit's.
    return pd.DataFrame({n: columns["name" if n == "address" else n] for n in (*names, *_TAIL)})


def reverse_geocode(lat, lng, *, key, service=None, ca_file=None, agree=True, rate=0, burst=2,
                    concurrency=8, attempts=4, timeout=30.0, permit=None,
        on_send=None, on_answer=None):
    """Reverse geocodes each (lat, lng) (GCJ-02): columns address, place, distance (metres to the
    place; NaN without one), then error, message, status, attempts."""
    columns = _orvlib._batch_reverse(
        _column(lat), _column(lng),
        **_options(key, service, ca_file, agree, rate, burst, concurrency, attempts, timeout,
                   permit, on_send, on_answer))
    return _frame(columns, _LOCATION)


def geocode(addresses, cities, *, key, service=None, ca_file=None, agree=True, rate=0, burst=2,
            concurrency=8, attempts=4, timeout=30.0, permit=None,
        on_send=None, on_answer=None):
    """Geocodes each address within its city: columns name, lat, lng of the first hit (None and
    NaN without a hit), then error, message, status, attempts."""
    if isinstance(cities, str):
        cities = [cities] * len(addresses)
    columns = _orvlib._batch_geocode(
        [str(a) for a in addresses], [str(c) for c in cities],
        **_options(key, service, ca_file, agree, rate, burst, concurrency, attempts, timeout,
                   permit, on_send, on_answer))
    return _frame(columns, ("name", "lat", "lng"))


def track(lat, lng, time, *, accuracy=None, key, service=None, ca_file=None, agree=True, rate=0,
          burst=2, concurrency=8, attempts=4, timeout=30.0, permit=None,
        on_send=None, on_answer=None):
    """Fusion location of each recorded fix (WGS-84 lat, lng; time in seconds since the epoch;
    accuracy in metres, -1 when unknown): columns lat, lng of the answer, address, place,
    distance, then error, message, status, attempts."""
    lat = _column(lat)
    accuracy = np.full(lat.shape, -1.0) if accuracy is None else _column(accuracy)
    columns = _orvlib._batch_track(
        lat, _column(lng), accuracy, _column(time),
        **_options(key, service, ca_file, agree, rate, burst, concurrency, attempts, timeout,
                   permit, on_send, on_answer))
    return _frame(columns, ("lat", "lng", *_LOCATION))
