#!/usr/bin/python3
"""Interrupts `orvloc locate` with SIGINT, again and again, while a long replay is played at full
pace (the replay posts fixes to the main loop without pause, so the signal lands anywhere in it,
inside the loop's own locking included). Every run must end cleanly (exit 0) within --bound
seconds of its signal.

    scripts/interrupt_locate.py [--orvloc build/orvloc] [--runs 50] [--bound 1]

Prints one line per failed run and a summary with the slowest end; exits 1 on any failure.
"""

import argparse
import os
import random
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time


def write_track(path, rows):
    with open(path, "w") as f:
        f.write("time,lat,lng,alt,hacc,vacc,speed\n")
        f.writelines(f"{i},{31.2 + i * 1e-7:.7f},121.4680549,4.0,4.8,6.0,1.35\n"
                     for i in range(rows))


def interrupt_once(command, bound, delay):
    """Returns (seconds from the signal to the end or None when still running, exit code)."""
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    pidfd = os.pidfd_open(child.pid)
    try:
        child.stdout.readline()  # its first sample: the run is under way
        # Keep reading, so the child never waits on a full pipe.
        drain = threading.Thread(target=child.stdout.read, daemon=True)
        drain.start()
        time.sleep(delay)  # lands the signal at a different point of the run each time
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        ended = bool(select.select([pidfd], [], [], bound)[0])
        elapsed = time.monotonic() - sent
        if not ended:
            child.kill()
        code = child.wait()
        drain.join()
        return (elapsed if ended else None), code
    finally:
        os.close(pidfd)
        child.stdout.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orvloc", default="build/orvloc")
    parser.add_argument("--runs", type=int, default=50)
    parser.add_argument("--bound", type=float, default=1.0,
                        help="seconds a run may take to end after its signal")
    parser.add_argument("--rows", type=int, default=200_000, help="rows of the replayed track")
    args = parser.parse_args()

    failures, slowest = 0, 0.0
    with tempfile.TemporaryDirectory() as work:
        track = os.path.join(work, "track.csv")
        write_track(track, args.rows)
        # A service that is never reachable: each sample is answered on the device.
        command = [args.orvloc, "locate", "--count", "0", "--interval", "0.01", "--speed", "0",
                   "--replay", track, "--service", "https://255.255.255.255", "--key", "k",
                   "--agree"]
        for run in range(1, args.runs + 1):
            elapsed, code = interrupt_once(command, args.bound, random.uniform(0, 0.05))
            if elapsed is None:
                failures += 1
                print(f"run {run}: still running {args.bound} s after SIGINT (killed)")
                continue
            slowest = max(slowest, elapsed)
            if code != 0:
                failures += 1
                print(f"run {run}: exit {code} after SIGINT")
    print(f"{args.runs} runs interrupted, {failures} failed; slowest end {slowest:.3f} s "
          f"after the signal")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
