"""A cluster-wide rate through orvlib.dask: reverse geocodes distinct points on a local Dask
cluster against the in-process emulator (which counts arrivals without refusing any) and prints
the highest number of requests the service saw within any one second, against the rate asked.

    PYTHONPATH=build/python /usr/bin/python3 bench/dask_rate.py [--rows 1000] [--rate 50] \\
        [--workers 2] [--partitions 8]
"""

import argparse
import time

import numpy as np
import pandas as pd

import dask.dataframe as dd
import distributed

import orvlib.dask
from orvlib.emulator import DEMO_KEY, Emulator


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--rows", type=int, default=1000)
    p.add_argument("--rate", type=int, default=50)
    p.add_argument("--workers", type=int, default=2)
    p.add_argument("--partitions", type=int, default=8)
    a = p.parse_args()
    frame = pd.DataFrame({"lat": 30.0 + np.arange(a.rows) * 1e-4,
                          "lng": 120.0 + np.arange(a.rows) * 1e-4})
    with Emulator() as service, \
            distributed.LocalCluster(n_workers=a.workers, threads_per_worker=2, processes=True,
                                     dashboard_address=None) as cluster, \
            distributed.Client(cluster):
        start = time.monotonic()
        got = orvlib.dask.reverse_geocode(
            dd.from_pandas(frame, npartitions=a.partitions), rate=a.rate, key=DEMO_KEY,
            service=service.base_url, ca_file=service.ca_file).compute()
        elapsed = time.monotonic() - start
        busiest, requests = service.busiest_second, service.requests
    failed = int(got["error"].notna().sum())
    print(f"{a.workers} workers, {a.partitions} partitions, rate {a.rate}/s: {requests} requests "
          f"in {elapsed:.1f} s ({requests / elapsed:.1f}/s), {failed} failed; busiest second "
          f"{busiest} ({busiest / a.rate:.2f} x rate)")


if __name__ == "__main__":
    main()
