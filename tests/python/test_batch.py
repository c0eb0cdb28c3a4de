import os
import signal
import threading

import numpy as np
import pandas as pd
import pytest

import orvlib
import orvlib.batch
import orvlib.dask
from orvlib.emulator import DEMO_KEY, Emulator

# GCJ-02 points around People's Square, each twice.
LAT = np.repeat(31.20 + np.arange(12) * 0.01, 2)
LNG = np.repeat(121.40 + np.arange(12) * 0.01, 2)


@pytest.fixture
def faulty():
    """A service answering 500 to a share of the requests, the same ones each run."""
    with Emulator(fail_rate=0.3) as emulator:
        yield emulator
    orvlib.set_service()


def ask(service, **options):
    return orvlib.batch.reverse_geocode(LAT, LNG, key=DEMO_KEY, service=service.base_url,
                                       ca_file=service.ca_file, **options)


def test_every_row_in_order_errors_typed_and_duplicates_requested_once(service, faulty):
    clean = ask(service)
    assert clean["error"].isna().all() and clean["address"].notna().all()
    assert list(clean.columns) == ["address", "place", "distance", "error", "message", "status",
                                   "attempts"]
    got = ask(faulty, attempts=1, concurrency=3)
    assert faulty.requests == len(LAT) // 2
    failed = got["error"].notna()
    assert 0 < failed.sum() < len(got)
    assert set(got.loc[failed, "error"]) == {"httpStatus"}
    assert (got.loc[failed, "status"] == 500).all()
    assert got.loc[failed, "address"].isna().all()
    # Each row has its own point's answer; a repeat shares its first occurrence's outcome.
    pd.testing.assert_frame_equal(got.loc[~failed, ["address", "place", "distance"]],
                                  clean.loc[~failed, ["address", "place", "distance"]])
    np.testing.assert_array_equal(failed.to_numpy()[::2], failed.to_numpy()[1::2])
    # Retried, every row ends answered.
    again = ask(faulty, attempts=8)
    pd.testing.assert_frame_equal(again.drop(columns="attempts"), clean.drop(columns="attempts"))


STREETS = ["人民大道", "人民大道", "no such street anywhere"]
# Each kind of batch: its call on a few inputs, its answer columns, what an answered frame holds.
KINDS = {
    "reverse": (lambda **o: orvlib.batch.reverse_geocode(LAT[:3], LNG[:3], **o),
                ["address", "place", "distance"], lambda got: got["address"].notna().all()),
    "geocode": (lambda **o: orvlib.batch.geocode(STREETS, "上海市", **o), ["name", "lat", "lng"],
                lambda got: got["name"][0] == got["name"][1] and got["name"][0]
                and 31 < got["lat"][0] < 32 and 121 < got["lng"][0] < 122),
    "track": (lambda **o: orvlib.batch.track(LAT[:3], LNG[:3], 1.7e9 + np.arange(3),
                                             accuracy=[10.0] * 3, **o),
              ["lat", "lng", "address", "place", "distance"],
              lambda got: got["lat"].between(31, 32).all()),
}


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("options, code, status", [
    ({}, None, -1),
    (dict(agree=False), "consentMissing", -1),
    (dict(key="not-a-key"), "httpStatus", 401),
])
def test_each_kind_answers_or_refuses_every_row(service, kind, options, code, status):
    call, columns, answered = KINDS[kind]
    got = call(**dict(dict(key=DEMO_KEY, service=service.base_url, ca_file=service.ca_file),
                      **options))
    assert list(got.columns) == columns + ["error", "message", "status", "attempts"]
    assert list(got["error"].fillna("")) == [code or ""] * 3
    assert list(got["status"]) == [status] * 3
    assert answered(got) if code is None else got[columns[0]].isna().all()


def test_ctrl_c_cancels_the_batch(service):
    # The first request waits for a permission that never comes; SIGINT arrives meanwhile.
    def permit(grant):
        threading.Thread(target=os.kill, args=(os.getpid(), signal.SIGINT)).start()

    with pytest.raises(KeyboardInterrupt):
        ask(service, permit=permit)
    assert ask(service)["error"].isna().all()  # the loop runs again afterwards


distributed = pytest.importorskip("distributed")
dd = pytest.importorskip("dask.dataframe")


# Debian 12's distributed starts tornado's loop in a way tornado 6.2 deprecates; not ours to fix.
@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
def test_cluster_shares_one_rate_and_matches_one_process(service):
    rows = 100
    frame = pd.DataFrame({"lat": 31.0 + np.arange(rows) * 0.005,
                          "lng": 121.0 + np.arange(rows) * 0.005},
                         index=pd.RangeIndex(7, 7 + rows))
    want = orvlib.dask.reverse_geocode(frame, key=DEMO_KEY, service=service.base_url,
                                       ca_file=service.ca_file)
    assert want["error"].isna().all()
    with Emulator(rate=20) as limited, \
            distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True,
                                     dashboard_address=None) as cluster, \
            distributed.Client(cluster):
        got = orvlib.dask.reverse_geocode(dd.from_pandas(frame, npartitions=4), rate=20,
                                          key=DEMO_KEY, service=limited.base_url,
                                          ca_file=limited.ca_file).compute()
        assert limited.busiest_second <= 20
        assert limited.limited == 0
    orvlib.set_service()
    pd.testing.assert_frame_equal(got, want)
