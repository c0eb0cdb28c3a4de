"""Signals while the library's loop blocks, and log sinks that call back into the library.

Each case runs in a child interpreter: what it guards against is a hang, which the child's
time-out turns into a failure instead of stalling the suite."""

import signal
import subprocess
import sys
import textwrap

import pytest

# The child says "ready" once its main thread has left Python code for the blocking run: a
# helper thread waits for the run to begin and then for the GIL, which the main thread gives up
# only there (the switch interval is far too long to hand it over earlier).
PREAMBLE = """\
import os, signal, sys, threading
import orvlib

sys.setswitchinterval(1000)
began = threading.Event()

def announce():
    began.wait()
    print("ready", flush=True)

threading.Thread(target=announce, daemon=True).start()

def ready(then=lambda: False):
    began.set()
    return then()
"""


def run_child(body, send=None):
    code = PREAMBLE + textwrap.dedent(body)
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        if send is not None:
            assert child.stdout.readline() == "ready\n", child.communicate(timeout=30)
            child.send_signal(send)
        out, err = child.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        pytest.fail("the child hung")
    return child.returncode, out, err


INTERRUPT_CASES = {
    # Ctrl-C during a wait that never ends by itself.
    "run_until_sigint": (signal.SIGINT, """\
        try:
            orvlib.run_until(ready)
        except KeyboardInterrupt:
            print("KeyboardInterrupt")
        """, 0, "KeyboardInterrupt\n"),
    "run_for_sigint": (signal.SIGINT, """\
        try:
            ready()
            orvlib.run_for(1e9)
        except KeyboardInterrupt:
            print("KeyboardInterrupt")
        """, 0, "KeyboardInterrupt\n"),
    # The host's own handler runs at once; what it raises ends the run.
    "handler_raises": (signal.SIGTERM, """\
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
        orvlib.run_until(ready)
        """, 3, ""),
    # A handler that returns lets the run go on; the predicate sees what it did. The wakeup
    # descriptor the host had set gets the signal too, and is back in place after the run.
    "handler_returns": (signal.SIGUSR1, """\
        r, w = os.pipe()
        os.set_blocking(w, False)
        signal.set_wakeup_fd(w)
        hit = []
        signal.signal(signal.SIGUSR1, lambda *_: hit.append(1))
        print(orvlib.run_until(lambda: ready(lambda: bool(hit))))
        print(signal.set_wakeup_fd(-1) == w, os.read(r, 1) == bytes([signal.SIGUSR1]))
        """, 0, "True\nTrue True\n"),
}


@pytest.mark.parametrize("name", INTERRUPT_CASES)
def test_signals_reach_python_while_the_loop_blocks(name):
    sent, body, code, out = INTERRUPT_CASES[name]
    returncode, stdout, stderr = run_child(body, send=sent)
    assert (returncode, stdout) == (code, out), stderr


# A sink that calls back into the library from inside a call, on the main thread.
SINK_SETUP = """\
orvlib.set_bundle_object("NSLocationWhenInUseUsageDescription", "test")
provider = orvlib.use_simulated()
orvlib.set_service("https://255.255.255.255")  # never reachable: nothing leaves the machine
client = orvlib.Client()
client.init_key("k")
client.set_agree_privacy(True)
client.locate_once = False
orvlib.set_log_enabled(True)
lines = []
"""
SINK_CASES = {
    # Later lines go to standard output, never to the removed sink.
    "removes_itself": ("""\
        def sink(line):
            lines.append(line)
            orvlib.set_log_sink(None)
        orvlib.set_log_sink(sink)
        client.start_location()
        client.stop_location()
        print(len(lines))
        """, "1"),
    # Stops the run at the line of the first fix; the stop's own line follows.
    "stops_the_run": ("""\
        def sink(line):
            lines.append(line)
            if line.startswith("纬度"):
                client.stop_location()
        orvlib.set_log_sink(sink)
        client.start_location()
        provider.push(31.2281, 121.4656, horizontal_accuracy=5)
        print(orvlib.run_until(lambda: not provider.is_updating, 10), "stopLocation" in lines)
        """, "True True"),
}


@pytest.mark.parametrize("name", SINK_CASES)
def test_log_sink_may_call_back_into_the_library(name):
    body, last = SINK_CASES[name]
    returncode, stdout, stderr = run_child(SINK_SETUP + textwrap.dedent(body))
    assert returncode == 0, stderr
    assert stdout.splitlines()[-1:] == [last], stdout + stderr
