import numpy as np
import pandas as pd
import pytest

import orvlib
import orvlib.dask

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")


def track(n, seed=3, start=10):
    rng = np.random.default_rng(seed)
    return pd.DataFrame({"id": np.arange(n), "lat": rng.uniform(18, 53, n),
                         "lng": rng.uniform(73, 135, n)}, index=pd.RangeIndex(start, start + n))


BAD = pd.DataFrame({
    "lat": [np.nan, 31.2, 95.0, -400.0, np.inf, 31.2],
    "lng": [121.4, np.nan, 121.4, 1e6, 121.4, 121.4],
})


def test_bad_values_nullable_columns_and_bad_calls():
    out = orvlib.dask.convert(BAD)
    want = orvlib.convert(BAD["lat"].to_numpy(), BAD["lng"].to_numpy())
    np.testing.assert_array_equal(out["lat"].to_numpy(), want[0])
    # Missing values of a nullable column convert as not-a-number.
    nullable = BAD.astype("Float64")
    nullable.loc[0, "lat"] = pd.NA
    np.testing.assert_array_equal(orvlib.dask.convert(nullable)["lat"].to_numpy(),
                                  out["lat"].to_numpy())
    # Refused before any partition runs.
    for frame, kwargs, error in ((dd.from_pandas(BAD, npartitions=2), dict(src="utm"), ValueError),
                                 (dd.from_pandas(BAD, npartitions=2), dict(lat="x"), KeyError),
                                 (BAD.to_numpy(), {}, TypeError)):
        with pytest.raises(error):
            orvlib.dask.convert(frame, **kwargs)


def partition(i):
    """Partition i, made where it is needed; the last holds bad values."""
    if i == 4:
        return BAD.set_index(pd.RangeIndex(-6, 0)).assign(id=-1)[["id", "lat", "lng"]]
    return track(50_000, seed=i, start=i * 50_000)


# Debian 12's distributed starts tornado's loop in a way tornado 6.2 deprecates; not ours to fix.
@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
def test_two_worker_cluster_converts_the_columns_and_keeps_the_rest():
    whole = pd.concat([partition(i) for i in range(5)])
    lat, lng = orvlib.convert(whole["lat"].to_numpy(), whole["lng"].to_numpy(), "wgs84", "bd09")
    want = whole.assign(lat=lat, lng=lng)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        frame = dd.from_map(partition, range(5), meta=partition(0).iloc[:0])
        got = orvlib.dask.convert(frame, src="wgs84", dst="bd09").compute()
    pd.testing.assert_frame_equal(got, want)
