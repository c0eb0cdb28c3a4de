import json

import numpy as np
import pandas as pd
import pytest

import orvlib
import orvlib.dask

C_LAT, C_LNG = 31.23, 121.47
M_LAT = 1 / 110_880  # degrees of latitude per metre near 31°N


def north(metres):
    return C_LAT + metres * M_LAT


# A 100 m circle with a 60 s dwell, and a square about 190 m x 220 m east of it.
YARD = [[(C_LAT - 0.001, 121.475), (C_LAT - 0.001, 121.477), (C_LAT + 0.001, 121.477),
         (C_LAT + 0.001, 121.475)]]
FENCES = json.dumps({"type": "FeatureCollection", "features": [
    {"type": "Feature", "id": "depot", "properties": {"radius": 100, "dwell": 60},
     "geometry": {"type": "Point", "coordinates": [C_LNG, C_LAT]}},
    {"type": "Feature", "id": "yard", "properties": {},
     "geometry": {"type": "Polygon", "coordinates": [[[lng, lat] for lat, lng in YARD[0]]]}},
]})

# time, lat, lng, accuracy
TRACK = np.array([
    (0, north(-500), C_LNG, 5),      # outside from the start: nothing
    (10, C_LAT, C_LNG, 5),           # enter depot
    (20, C_LAT, C_LNG, 5),
    (70, C_LAT, C_LNG, 5),           # dwell: 60 s after the enter
    (80, north(95), C_LNG, 20),      # near the edge, poor accuracy: uncertain
    (90, north(105), C_LNG, 20),     # just outside, still uncertain
    (100, north(500), C_LNG, 5),     # exit depot
    (110, C_LAT, 121.4745, 100),     # jitter across the yard's west edge, all uncertain
    (120, C_LAT, 121.4755, 100),
    (130, C_LAT, 121.4745, 100),
    (140, C_LAT, 121.476, 5),        # enter yard
])
WANT = [("enter", "depot", 10.0, 1), ("dwell", "depot", 70.0, 3), ("exit", "depot", 100.0, 6),
        ("enter", "yard", 140.0, 10)]


def built_monitor(**kwargs):
    m = orvlib.GeofenceMonitor(**kwargs)
    m.add_circle("depot", C_LAT, C_LNG, 100, dwell=60)
    m.add_polygon("yard", YARD)
    return m


def test_known_track_by_update_evaluate_and_geojson():
    m = built_monitor()
    got = [(e.kind, e.fence, e.time, e.lat, e.accuracy)
           for t, lat, lng, acc in TRACK for e in m.update(lat, lng, accuracy=acc, time=t)]
    assert got == [(k, f, t, TRACK[r, 1], TRACK[r, 3]) for k, f, t, r in WANT]

    loaded = orvlib.GeofenceMonitor()
    assert loaded.load_geojson(FENCES) == 2 and len(loaded) == 2
    for monitor in (built_monitor(), loaded):
        frame = monitor.evaluate(TRACK[:, 0], TRACK[:, 1], TRACK[:, 2], TRACK[:, 3])
        assert list(frame.columns) == ["event", "fence", "time", "lat", "lng", "accuracy", "row"]
        assert list(frame[["event", "fence", "time", "row"]].itertuples(index=False)) == WANT
        np.testing.assert_array_equal(frame["lng"], TRACK[frame["row"], 2])

    # datetime64 times come back as they went in; arrays instead of a frame.
    stamps = pd.Timestamp("2026-12-07") + pd.to_timedelta(TRACK[:, 0], unit="s")
    arrays = built_monitor().evaluate(stamps.to_numpy(), TRACK[:, 1], TRACK[:, 2], TRACK[:, 3],
                                      as_frame=False)
    np.testing.assert_array_equal(arrays["time"], stamps.to_numpy()[[1, 3, 6, 10]])
    assert list(arrays["event"]) == [w[0] for w in WANT]


def test_transitions_multipolygon_datum_and_restart(tmp_path):
    m = orvlib.GeofenceMonitor()
    square = [[(0.0, 0.0), (0.0, 0.01), (0.01, 0.01), (0.01, 0.0)]]
    other = [[(0.02, 0.0), (0.02, 0.01), (0.03, 0.01), (0.03, 0.0)]]
    m.add_polygon("two", [square, other], transitions=["exit"])
    assert m.update(0.005, 0.005, time=1) == []          # enter, not reported
    assert m.update(0.025, 0.005, time=2) == []          # inside the other part: no change
    assert [e.kind for e in m.update(0.015, 0.005, time=3)] == ["exit"]
    assert m.remove("two") and not m.remove("two") and len(m) == 0

    # A GCJ-02 circle lands on its WGS-84 place: the WGS-84 centre is inside.
    lat, lng = orvlib.convert(C_LAT, C_LNG, "wgs84", "gcj02")
    m.add_circle("shifted", lat, lng, 30, datum="gcj02")
    assert [e.kind for e in m.update(C_LAT, C_LNG, accuracy=1, time=4)] == ["enter"]

    state = str(tmp_path / "fences.state")
    first = built_monitor(state=state)
    assert [e.kind for e in first.update(C_LAT, C_LNG, time=10)] == ["enter"]
    del first
    again = built_monitor(state=state)  # resumes the stay: no second enter, dwell still due
    assert [e.kind for e in again.update(C_LAT, C_LNG, time=70)] == ["dwell"]


@pytest.mark.parametrize("call, message", [
    (lambda m: m.add_circle("c", 31.0, 121.0, 0), 'fence "c"'),
    (lambda m: m.add_circle("c", 95.0, 121.0, 10), 'fence "c"'),
    (lambda m: m.add_polygon("p", [[(0, 0), (0, 1), (0, 0)]]), 'fence "p"'),
    (lambda m: m.add_polygon("p", [(0, 0), (0, 1)]), "list of rings"),
    (lambda m: m.add_circle("c", 0, 0, 10, datum="utm"), "datum"),
    (lambda m: m.add_circle("c", 0, 0, 10, transitions=["leave"]), "transitions"),
    (lambda m: m.load_geojson('{"type": "FeatureCollection", "features": [{}]}'), "feature 0"),
    (lambda m: m.load_geojson("/nonexistent/fences.geojson"), "cannot read"),
    (lambda m: m.evaluate([0.0, 2.0, 1.0], [0.0] * 3, [0.0] * 3), "row 2 is before"),
    (lambda m: m.evaluate([0.0, np.nan], [0.0] * 2, [0.0] * 2), "row 1 is not finite"),
    (lambda m: m.evaluate([0.0], [0.0] * 2, [0.0] * 2), "one length"),
    (lambda m: orvlib.GeofenceMonitor(state="/nonexistent/dir/state"), "state"),
])
def test_bad_fences_and_tracks_are_refused(call, message):
    m = built_monitor()
    with pytest.raises(ValueError, match=message):
        call(m)
    # Nothing half-done: the fences are as they were, with their state untouched.
    assert len(m) == 2
    assert [e.fence for e in m.update(C_LAT, C_LNG, time=5)] == ["depot"]


def fleet(seed=5):
    """Three vehicles' tracks, interleaved and out of order; vehicle "b" never moves."""
    rng = np.random.default_rng(seed)
    rows = []
    for v, offset in (("a", 0), ("b", 300), ("c", 7)):
        for t, lat, lng, acc in TRACK:
            if v == "b":
                lat, lng = C_LAT, C_LNG
            rows.append((v, t + offset, lat, lng, acc))
    frame = pd.DataFrame(rows, columns=["vehicle", "t", "lat", "lng", "acc"])
    return frame.iloc[rng.permutation(len(frame))]


def test_fleet_in_pandas_is_one_monitor_per_vehicle(tmp_path):
    frame = fleet()
    path = tmp_path / "fences.geojson"
    path.write_text(FENCES)
    got = orvlib.dask.geofence(frame, str(path), accuracy="acc")
    want = []
    for v, rows in frame.sort_values("t").groupby("vehicle"):
        e = built_monitor().evaluate(rows["t"], rows["lat"], rows["lng"], rows["acc"])
        want.append(e.assign(row=rows.index.to_numpy()[e["row"]]).assign(vehicle=v))
    want = pd.concat(want, ignore_index=True)[["vehicle"] + list(want[0].columns[:-1])]
    pd.testing.assert_frame_equal(got, want)
    assert list(got.loc[got["vehicle"] == "b", "event"]) == ["enter", "dwell"]
    with pytest.raises(KeyError):
        orvlib.dask.geofence(frame, FENCES, accuracy="accuracy")
    with pytest.raises(orvlib.GeofenceError, match="feature 0"):
        orvlib.dask.geofence(frame, '{"type": "FeatureCollection", "features": [{}]}')


# Debian 12's distributed starts tornado's loop in a way tornado 6.2 deprecates; not ours to fix.
@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
@pytest.mark.filterwarnings("ignore:Port 8787 is already in use")  # another cluster on the host
def test_fleet_on_a_two_worker_cluster_equals_pandas():
    dd = pytest.importorskip("dask.dataframe")
    distributed = pytest.importorskip("distributed")
    frame = fleet()
    want = orvlib.dask.geofence(frame, FENCES, accuracy="acc")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        lazy = orvlib.dask.geofence(dd.from_pandas(frame, npartitions=3), FENCES, accuracy="acc")
        got = lazy.compute()
    got = got.sort_values("vehicle", kind="stable").reset_index(drop=True)
    pd.testing.assert_frame_equal(got, want)
