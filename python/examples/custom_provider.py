"""A location provider written in Python: a thread of its own pushes fixes (here from a list; a
real one would read a receiver) into the sink the library hands to start().

    PYTHONPATH=build/python /usr/bin/python3 python/examples/custom_provider.py
"""

import threading

import orvlib
from orvlib.emulator import DEMO_KEY, Emulator


class ListProvider:
    def __init__(self, fixes, period=0.1):
        self.fixes, self.period = fixes, period
        self.stopped = threading.Event()

    def start(self, sink):
        self.stopped.clear()
        threading.Thread(target=self.run, args=(sink,), daemon=True).start()

    def stop(self, sink):
        self.stopped.set()

    def run(self, sink):
        for lat, lng in self.fixes:
            if self.stopped.wait(self.period):
                return
            sink.push(lat, lng, horizontal_accuracy=5.0)


orvlib.set_bundle_object("NSLocationWhenInUseUsageDescription", "Shows where you are")
orvlib.use_provider(ListProvider([(31.2304, 121.4737), (31.2310, 121.4740), (31.2316, 121.4744)]))
with Emulator() as service:
    orvlib.set_service(service.base_url, ca_file=service.ca_file)
    answers = []
    client = orvlib.Client(on_location=answers.append, on_error=print)
    client.init_key(DEMO_KEY)
    client.set_agree_privacy(True)
    client.start_location()  # one fix
    orvlib.run_until(lambda: answers, timeout=10)
    for res in answers:
        print(f"fix {res.latitude:.6f},{res.longitude:.6f}: {res.location.address.name}")
