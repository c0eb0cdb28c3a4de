import numpy as np
import pytest

import orvlib

DIRECTIONS = [(s, d) for s in orvlib.SYSTEMS for d in orvlib.SYSTEMS if s != d]
RNG = np.random.default_rng(7)
LAT = RNG.uniform(18, 53, 1001)  # odd length: the engine's tail
LNG = RNG.uniform(73, 135, 1001)
SHARED = np.empty(LAT.size + 1)  # room for two outputs one element apart


@pytest.mark.parametrize("src,dst", DIRECTIONS)
def test_arrays_convert_like_numbers(src, dst):
    got = orvlib.convert(LAT, LNG, src, dst)
    want = np.array([orvlib.convert(float(a), float(b), src, dst) for a, b in zip(LAT, LNG)])
    np.testing.assert_array_equal(np.stack(got, axis=1), want)


@pytest.mark.parametrize("make", [
    lambda a: a[::2][:200],
    lambda a: a[:400].reshape(20, 20).T,  # 2-d, not contiguous
    lambda a: list(a[:200]),
    lambda a: a[:200].astype(">f8"),
    lambda a: a[:200].astype(np.float32),
], ids=["strided", "2-d", "list", "big-endian", "float32"])
def test_input_layouts_give_the_contiguous_result(make):
    a, b = make(LAT), make(LNG)
    before = np.array(a, copy=True)
    got_lat, got_lng = orvlib.convert(a, b, "wgs84", "gcj02")
    want_lat, want_lng = orvlib.convert(np.ravel(np.array(a, np.float64)),
                                        np.ravel(np.array(b, np.float64)), "wgs84", "gcj02")
    assert got_lat.dtype == np.float64 and got_lat.shape == np.shape(a)
    np.testing.assert_array_equal(np.ravel(got_lat), want_lat)
    np.testing.assert_array_equal(np.ravel(got_lng), want_lng)
    np.testing.assert_array_equal(np.asarray(a), before)  # input untouched


def test_numbers_empty_and_nan():
    out = orvlib.convert(0.5, 121.0)  # outside the region: unchanged
    assert out == (0.5, 121.0) and all(type(v) is float for v in out)
    assert orvlib.convert(np.array([]), np.array([]))[0].shape == (0,)
    lat, lng = orvlib.convert(np.array([np.nan, 31.0]), np.array([121.0, np.nan]))
    assert np.isnan(lat).all() and np.isnan(lng).all()


@pytest.mark.parametrize("args,kwargs,error,text", [
    ((1.0, 2.0), dict(src="wgs"), ValueError, "unknown coordinate system for src: 'wgs'"),
    ((1.0, 2.0), dict(inverse="newton"), ValueError, "unknown inverse method"),
    ((np.zeros(3), np.zeros(4)), {}, ValueError, "different shapes: (3,) and (4,)"),
    ((np.zeros(3), 1.0), {}, ValueError, "must both be numbers or both arrays"),
    ((np.array(["a"]), np.array(["b"])), {}, TypeError, "must hold numbers"),
    ((LAT, LNG), dict(out=(np.empty(3), np.empty(3))), ValueError, "shape"),
    ((LAT, LNG), dict(out=(np.empty(LAT.size, np.float32), np.empty(LAT.size))), ValueError,
     "float64"),
    ((LAT, LNG), dict(out=(LNG, LAT)), ValueError, "overlap"),
    ((LAT, LNG), dict(out=(SHARED[1:], SHARED[1:])), ValueError, "overlap each other"),
    ((LAT, LNG), dict(out=(SHARED[:-1], SHARED[1:])), ValueError, "overlap each other"),
    ((LAT, LNG), dict(out=(np.empty(2 * LAT.size)[::2], np.empty(LAT.size))), ValueError,
     "C-contiguous"),
])
def test_bad_arguments(args, kwargs, error, text):
    with pytest.raises(error) as raised:
        orvlib.convert(*args, **kwargs)
    assert text in str(raised.value)


def test_distance_numbers_arrays_and_broadcast():
    assert orvlib.distance(39.9, 116.4, 31.2, 121.5) == pytest.approx(1071286, abs=1)
    lat2, lng2 = np.array([31.2, 39.9]), np.array([121.5, 116.4])
    d = orvlib.distance(39.9, 116.4, lat2, lng2)
    np.testing.assert_allclose(d, [1071286, 0], atol=1)
    assert (orvlib.distance(lat2, lng2, lat2, lng2) < 1).all()  # chord form: rounding, not 0
    with pytest.raises(ValueError, match="different shapes"):
        orvlib.distance(lat2, lng2, np.zeros(3), 0.0)


def test_out_arrays_are_filled_in_place_or_beside():
    want = orvlib.convert(LAT, LNG, "wgs84", "bd09")
    out = (np.empty_like(LAT), np.empty_like(LNG))
    orvlib.convert(LAT, LNG, "wgs84", "bd09", out=out)
    np.testing.assert_array_equal(out[0], want[0])
    lat, lng = LAT.copy(), LNG.copy()
    got = orvlib.convert(lat, lng, "wgs84", "bd09", out=(lat, lng))
    assert got[0] is lat and got[1] is lng
    np.testing.assert_array_equal(lng, want[1])
