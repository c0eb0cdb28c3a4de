"""orvlib.convert_file and orvlib.dask.convert_files: the C++ file converter from Python."""

import numpy as np
import pandas as pd
import pytest

import orvlib
import orvlib.dask


def write_csv(path, n, seed):
    rng = np.random.default_rng(seed)
    lat, lng = rng.uniform(18, 53, n), rng.uniform(73, 135, n)
    rows = [f"{i},{a:.7f},{b:.7f}" for i, (a, b) in enumerate(zip(lat, lng))]
    rows[3] = "3,not a number,121.5"
    path.write_text("id,y,x\n" + "\n".join(rows) + "\n")


def test_csv_converts_like_arrays_and_reports_bad_rows(tmp_path):
    write_csv(tmp_path / "in.csv", 20_000, seed=1)
    single, threaded = tmp_path / "single.csv", tmp_path / "threaded.csv"
    kw = dict(src_crs="wgs84", dst_crs="bd09", lat="y", lng="x", precision=9)
    report = orvlib.convert_file(tmp_path / "in.csv", single, threads=1, **kw)
    assert report == {"bad": 1, "bad_lines": [5]}
    assert orvlib.convert_file(str(tmp_path / "in.csv"), threaded, threads=2, **kw) == report
    assert single.read_bytes() == threaded.read_bytes()

    given, got = pd.read_csv(tmp_path / "in.csv").drop(3), pd.read_csv(single)
    want_lat, want_lng = orvlib.convert(given["y"].astype(float).to_numpy(),
                                        given["x"].to_numpy(), "wgs84", "bd09")
    np.testing.assert_allclose(got["y"].drop(3).astype(float), want_lat, rtol=0, atol=6e-10)
    np.testing.assert_allclose(got["x"].drop(3), want_lng, rtol=0, atol=6e-10)
    assert got["y"][3] == "not a number"


def test_geojson_precision_and_refusals(tmp_path):
    src = tmp_path / "in.geojson"
    src.write_text('{"type":"Point","coordinates":[121.5,31.25]}\n')
    orvlib.convert_file(src, tmp_path / "a.json", src_crs="gcj02", dst_crs="gcj02", precision=2)
    assert (tmp_path / "a.json").read_text() == '{"type":"Point","coordinates":[121.50,31.25]}\n'
    orvlib.convert_file(src, tmp_path / "b.json", dst_crs="wgs84", src_crs="wgs84",
                        precision="shortest")
    assert (tmp_path / "b.json").read_text() == src.read_text()
    for kwargs, error in ((dict(precision=18), ValueError), (dict(precision="7"), ValueError),
                          (dict(src_crs="utm"), ValueError), (dict(format="xml"), ValueError)):
        with pytest.raises(error):
            orvlib.convert_file(src, tmp_path / "c.json", **kwargs)
    with pytest.raises(OSError):
        orvlib.convert_file(tmp_path / "missing.csv", tmp_path / "c.csv")
    (tmp_path / "bad.csv").write_text("a,b\n1,2\n")
    with pytest.raises(ValueError, match="no latitude column"):
        orvlib.convert_file(tmp_path / "bad.csv", tmp_path / "c.csv")
    assert not (tmp_path / "c.csv").exists() and not (tmp_path / "c.json").exists()


distributed = pytest.importorskip("distributed")


@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
def test_dask_converts_each_file_as_one_process_would(tmp_path):
    (tmp_path / "in").mkdir()
    for i in range(4):
        write_csv(tmp_path / "in" / f"part{i}.csv", 5_000, seed=i)
    for i in range(4):
        orvlib.convert_file(tmp_path / "in" / f"part{i}.csv", tmp_path / f"want{i}.csv",
                            dst_crs="gcj02", lat="y", lng="x")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        reports = orvlib.dask.convert_files(str(tmp_path / "in" / "*.csv"), tmp_path / "out",
                                            dst_crs="gcj02", lat="y", lng="x")
    assert sorted(reports) == [str(tmp_path / "in" / f"part{i}.csv") for i in range(4)]
    assert all(r == {"bad": 1, "bad_lines": [5]} for r in reports.values())
    for i in range(4):
        assert (tmp_path / "out" / f"part{i}.csv").read_bytes() == \
            (tmp_path / f"want{i}.csv").read_bytes()
