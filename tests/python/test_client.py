import asyncio
import concurrent.futures
import contextlib
import socket
import sys
import threading

import pytest

import orvlib
import orvlib.asyncio
from orvlib.emulator import DEMO_KEY, Emulator

PEOPLES_SQUARE = (31.23, 121.47)  # GCJ-02


def test_every_request(client, outcomes):
    client.reverse_geocode(*PEOPLES_SQUARE)
    client.geocode(address="人民大道", city="上海市")
    client.poi_search("人民", "310000", "上海市", page_size=3)
    client.poi_nearby_search("人民", "121.47,31.23", 1000, "", "", 1, 3)
    client.track_location(orvlib.Location(31.2281, 121.4656, horizontal_accuracy=8))
    for kind, count in (("reverse", 1), ("geocode", 1), ("poi", 2), ("location", 1)):
        outcomes.wait(kind, count)
    res, hit = outcomes.reverse[0], outcomes.geocode[0][0]
    assert (res.latitude, res.longitude) == PEOPLES_SQUARE and hit.geoPoint
    assert all(len(hits) <= 3 for hits in outcomes.poi)
    # Records are read-only and convert to dicts and JSON.
    with pytest.raises(AttributeError):
        res.id = "x"
    assert res.to_dict()["location"]["position"]["point"] == {"longitude": 121.47, "latitude": 31.23}
    assert res.to_json().startswith('{"id":')
    with pytest.warns(DeprecationWarning, match="geo_point is now GeocodeRes.geoPoint"):
        assert hit.geo_point == hit.geoPoint


def test_former_names_resolve_to_the_pythonic_ones_with_a_warning(service):
    c = orvlib.Client(print)
    for cls, renamed in orvlib._RENAMED.items():
        for old, new in renamed.items():
            assert old not in dir(cls)
            if cls is orvlib.Client:
                with pytest.warns(DeprecationWarning, match=f"Client.{old} is now Client.{new}"):
                    assert getattr(c, old) == getattr(c, new)
    with pytest.warns(DeprecationWarning):
        c.isAgree, c.accesskey = True, "k"
    assert c.agree and c.access_key == "k"
    with pytest.raises(AttributeError):
        c.no_such_name  # noqa: B018
    with pytest.raises(AttributeError):
        c.no_such_name = 1


@pytest.mark.parametrize("receiver", ["on_error", "onLocationError", "onLocationErrorWithMsg"])
@pytest.mark.parametrize("key, agree, rate, want", [
    (DEMO_KEY, False, 0, ("consentMissing", "orv.client", -1)),
    ("not-a-key", True, 0, ("httpStatus", "NetworkClient", 401)),
    (DEMO_KEY, True, 1, ("httpStatus", "NetworkClient", 429)),  # the second and third request
])
def test_failures_arrive_typed_under_every_name(service, receiver, key, agree, rate, want):
    got = []
    if receiver == "on_error":
        c = orvlib.Client(on_error=got.append)
    else:  # a delegate object; the typed callback wins over the text one
        methods = {"onLocationErrorWithMsg": lambda _, text: got.append(("text", text)),
                   receiver: lambda _, error: got.append(error)}
        c = orvlib.Client(type("Delegate", (), methods)())
    with Emulator(rate=rate) if rate else contextlib.nullcontext(service) as server:
        orvlib.set_service(server.base_url, ca_file=server.ca_file)
        c.init_key(key)
        c.set_agree_privacy(agree)
        for _ in range(3):
            c.reverse_geocode(*PEOPLES_SQUARE)
        orvlib.run_until(lambda: len(got) >= 3 - bool(rate), timeout=10)
    orvlib.set_service(service.base_url, ca_file=service.ca_file)
    assert len(got) == 3 - bool(rate)
    for error in got:
        assert isinstance(error, orvlib.LocationError) and isinstance(error, str)
        assert (error.code, error.domain, error.status) == want
        assert error.message == str(error) and error.to_dict()["status"] == want[2]
        assert (error.retry_after is not None) == bool(rate)


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
                          (lambda: orvlib.use_nmea("/dev/ttyUSB0", baud_rate=1234), ValueError),
                          (lambda: orvlib.use_geoclue(""), ValueError)):
        with pytest.raises(error):
            choose()
    try:  # nothing talks to the bus before a start
        orvlib.use_geoclue("org.example.Tracker", desired_accuracy=100, distance_filter=10)
    except RuntimeError as e:
        assert "no GeoClue support" in str(e)


def test_requests_cancel_once_from_their_handle(outcomes):
    # A service that accepts and never answers: only the cancel can end the request.
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen()
        orvlib.set_service(f"http://127.0.0.1:{silent.getsockname()[1]}")
        c = orvlib.Client(on_error=outcomes.error.append, on_reverse=outcomes.reverse.append)
        c.init_key(DEMO_KEY)
        c.set_agree_privacy(True)
        handle = c.reverse_geocode(*PEOPLES_SQUARE)
        assert isinstance(handle, orvlib.RequestHandle) and not handle.finished
        threading.Thread(target=handle.cancel).start()
        orvlib.run_until(lambda: outcomes.error, timeout=10)
        handle.cancel()  # a second cancel changes nothing
        orvlib.run_for(0.05)
    orvlib.set_service()
    assert [e.code for e in outcomes.error] == ["cancelled"] and not outcomes.reverse
    assert handle.finished
