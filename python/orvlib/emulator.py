"""The local emulator of the location web service, in this process (examples, tests).

    with Emulator() as service:
        orvlib.set_service(service.base_url, ca_file=service.ca_file)
        client.init_key(DEMO_KEY)
"""

from ._emulator import DEMO_KEY, Emulator  # noqa: F401
