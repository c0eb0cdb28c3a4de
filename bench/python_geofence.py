"""Geofencing from Python: a whole track through GeofenceMonitor.evaluate (numpy columns, GIL
released) against a Python loop of update calls on the same monitor and fences.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_geofence.py [--fixes 1000000]
"""

import argparse
import time

import numpy as np

import orvlib


def fences(monitor, n, rng):
    """n circles of 30-200 m with a 60 s dwell, over a city-sized square."""
    for i in range(n):
        monitor.add_circle(f"c{i}", 31.1 + rng.uniform(0, 0.3), 121.3 + rng.uniform(0, 0.3),
                           rng.uniform(30, 200), dwell=60)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fixes", type=int, default=1_000_000)
    parser.add_argument("--fences", type=int, default=1000)
    args = parser.parse_args()
    rng = np.random.default_rng(1)
    n = args.fixes
    # A random walk folded into the square, 3-30 m accuracy, one fix a second.
    lat = 31.1 + np.cumsum(rng.normal(0, 1e-4, n)) % 0.3
    lng = 121.3 + np.cumsum(rng.normal(0, 1e-4, n)) % 0.3
    acc = rng.uniform(3, 30, n)
    t = np.arange(n, dtype=np.float64)

    best, events = float("inf"), None
    for _ in range(3):
        monitor = orvlib.GeofenceMonitor()
        fences(monitor, args.fences, np.random.default_rng(2))
        start = time.perf_counter()
        events = monitor.evaluate(t, lat, lng, acc)
        best = min(best, time.perf_counter() - start)
    print(f"evaluate: {n} fixes, {args.fences} fences, {len(events)} events: "
          f"{best / n * 1e6:.2f} us per fix (best of 3)")

    monitor = orvlib.GeofenceMonitor()
    fences(monitor, args.fences, np.random.default_rng(2))
    k = min(n, 100_000)
    start = time.perf_counter()
    for i in range(k):
        monitor.update(lat[i], lng[i], accuracy=acc[i], time=t[i])
    loop = (time.perf_counter() - start) / k
    print(f"update loop: {k} fixes: {loop * 1e6:.2f} us per fix, "
          f"{loop / (best / n):.1f}x evaluate")


if __name__ == "__main__":
    main()
