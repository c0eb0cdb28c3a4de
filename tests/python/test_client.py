import asyncio
import concurrent.futures
import sys
import threading

import pytest

import orvlib
import orvlib.asyncio
from orvlib.emulator import DEMO_KEY

PEOPLES_SQUARE = (31.23, 121.47)  # GCJ-02


def test_every_request_under_both_names(client, outcomes):
    client.reverse_geocode(*PEOPLES_SQUARE)
    client.getReverseCode(*PEOPLES_SQUARE)
    client.getGeocCode(address="人民大道", city="上海市")
    client.poi_search("人民", "310000", "上海市", page_size=3)
    client.poiNearbySearch("人民", "121.47,31.23", 1000, "", "", 1, 3)
    client.track_location(orvlib.Location(31.2281, 121.4656, horizontal_accuracy=8))
    for kind, count in (("reverse", 2), ("geocode", 1), ("poi", 2), ("location", 1)):
        outcomes.wait(kind, count)
    res, hit = outcomes.reverse[0], outcomes.geocode[0][0]
    assert (res.latitude, res.longitude) == PEOPLES_SQUARE and hit.geo_point == hit.geoPoint
    assert all(len(hits) <= 3 for hits in outcomes.poi)
    # Records are read-only and convert to dicts and JSON.
    with pytest.raises(AttributeError):
        res.id = "x"
    assert res.to_dict()["location"]["position"]["point"] == {"longitude": 121.47, "latitude": 31.23}
    assert res.to_json().startswith('{"id":')


def test_gate_failures_arrive_at_once_on_the_calling_thread(service):
    errors = []
    c = orvlib.Client(on_error=lambda m: errors.append((m, threading.current_thread())))
    c.geocode("人民大道", "上海市")
    assert errors == [("您未同意隐私政策", threading.main_thread())]
    c.accesskey, c.agree = "k", True
    assert c.access_key == "k" and c.isAgree and c.locate_once and c.interval == 1.0
    with pytest.raises(TypeError, match="unknown callback keyword"):
        orvlib.Client(on_nothing=print)


@pytest.mark.parametrize("name", ["on_reverse", "onReceivedReverseCodeWithOrvLocation"])
def test_delegate_objects_get_callbacks_on_the_loop_thread(service, name):
    got = []
    delegate = type("Delegate", (), {name: lambda _, r: got.append(threading.current_thread())})()
    c = orvlib.Client(delegate)
    assert c.delegate is delegate
    c.init_key(DEMO_KEY)
    c.set_agree_privacy(True)
    c.reverse_geocode(*PEOPLES_SQUARE)
    assert orvlib.run_until(lambda: got, timeout=10)
    assert got == [threading.main_thread()]


def test_callback_exceptions_are_reported_and_interrupts_end_the_run(client, outcomes, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)

    def broken(res):
        raise RuntimeError("broken callback")

    client.set_delegate(on_reverse=broken, on_geocode=outcomes.geocode.append)
    client.reverse_geocode(*PEOPLES_SQUARE)
    client.geocode("人民大道", "上海市")
    outcomes.wait("geocode")
    orvlib.run_until(lambda: reported, timeout=10)
    assert len(reported) == 1 and isinstance(reported[0].exc_value, RuntimeError)
    assert reported[0].exc_traceback is not None and reported[0].object is broken

    def interrupt(res):
        raise KeyboardInterrupt

    client.set_delegate(on_reverse=interrupt)
    client.reverse_geocode(*PEOPLES_SQUARE)
    with pytest.raises(KeyboardInterrupt):  # ends the run instead
        orvlib.run_for(10)
    with pytest.raises(ZeroDivisionError):  # the caller's predicate raises to the caller
        orvlib.run_until(lambda: 1 / 0, timeout=1)


def test_loop_calls_off_the_main_thread_are_refused():
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        with pytest.raises(RuntimeError, match="main thread"):
            pool.submit(orvlib.run_for, 0.01).result()
    with pytest.raises(ValueError):
        orvlib.run_for(-1)


@pytest.fixture
def provider():
    orvlib.set_bundle_object("NSLocationWhenInUseUsageDescription", "Shows where you are")
    yield orvlib.use_simulated()
    orvlib.use_none()
    orvlib.set_bundle_object("NSLocationWhenInUseUsageDescription", None)


def test_asyncio_attachment_runs_callbacks_and_timers(client, outcomes, provider):
    async def main():
        done = asyncio.Event()

        def note(kind):
            def add(value):
                getattr(outcomes, kind).append(value)
                if len(outcomes.location) >= 3 and outcomes.reverse or outcomes.error:
                    done.set()
            return add

        client.set_delegate(**{"on_" + k: note(k) for k in ("location", "reverse", "error")})
        with orvlib.asyncio.attach():
            client.reverse_geocode(*PEOPLES_SQUARE)
            client.locate_once = False
            client.interval = 0.05
            client.start_location()  # its sampling timer must wake the asyncio loop
            provider.push(31.2281, 121.4656, horizontal_accuracy=5)
            await done.wait()
            client.stop_location()

    asyncio.run(asyncio.wait_for(main(), 10))
    assert not outcomes.error and not provider.is_updating
    assert outcomes.location[0].location.address.name


class ThreadProvider:  # pushes one fix from a thread of its own when a stream starts
    def __init__(self):
        self.events = []

    def start(self, sink):
        self.events.append("start")
        threading.Thread(target=sink.push, args=(31.2281, 121.4656),
                         kwargs=dict(horizontal_accuracy=5)).start()

    def stop(self, sink):
        self.events.append("stop")
        sink.push(0, 0)  # after stop: dropped


class RaisingProvider:  # its source cannot be opened
    def start(self, sink):
        raise RuntimeError("no receiver on /dev/ttyUSB0")

    def stop(self, sink):
        pass


def test_provider_whose_start_raises_fails_the_run(client, outcomes, provider):
    orvlib.use_provider(RaisingProvider())
    client.start_location()
    assert outcomes.wait("error")[0].endswith(
        "provider start() raised RuntimeError: no receiver on /dev/ttyUSB0")


def test_provider_written_in_python_and_bad_choices(client, outcomes, provider, tmp_path):
    mine = ThreadProvider()
    orvlib.use_provider(mine)
    client.start_location()  # single run: one fix, then the stream stops
    outcomes.wait("location")
    orvlib.run_for(0.1)
    assert mine.events == ["start", "stop"] and len(outcomes.location) == 1
    for choose, error in ((lambda: orvlib.use_provider(object()), TypeError),
                          (lambda: orvlib.use_provider(mine, authorization_status=7), ValueError),
                          (lambda: orvlib.use_replay(str(tmp_path / "missing.csv")), ValueError),
                          (lambda: orvlib.use_nmea("/dev/ttyUSB0", baud_rate=1234), ValueError)):
        with pytest.raises(error):
            choose()
