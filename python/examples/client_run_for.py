"""A continuous positioning run over a replayed walk, enriched by the local service emulator;
the main loop is driven with orvlib.run_for / run_until.

    PYTHONPATH=build/python /usr/bin/python3 python/examples/client_run_for.py
"""

import pathlib

import orvlib
from orvlib.emulator import DEMO_KEY, Emulator


class Printer:
    """A delegate object: methods named after the callbacks."""

    def __init__(self):
        self.count = 0

    def on_location(self, res):
        self.count += 1
        place = res.location.place
        print(f"{res.latitude:.6f},{res.longitude:.6f}  {res.location.address.name}"
              f"  near {place.name} ({place.distance.line:.0f} m)")

    def on_error(self, error):  # an orvlib.LocationError: the text, typed
        print(f"error {error.code} (HTTP {error.status}): {error}")


walk = pathlib.Path(__file__).parents[2] / "data/demo-walk.csv"
orvlib.set_bundle_object("NSLocationWhenInUseUsageDescription", "Shows where you are")
orvlib.use_replay(str(walk), speed=40)

with Emulator() as service:
    orvlib.set_service(service.base_url, ca_file=service.ca_file)
    printer = Printer()
    client = orvlib.Client(printer)
    client.init_key(DEMO_KEY)
    client.set_agree_privacy(True)
    client.locate_once = False
    client.interval = 0.5
    client.start_location()
    orvlib.run_until(lambda: printer.count >= 5, timeout=20)
    client.stop_location()
    orvlib.run_for(0.2)  # answers still in flight
