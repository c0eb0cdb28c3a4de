"""The client inside an asyncio program: orvlib.asyncio.attach() runs the library's callbacks
and timers on the asyncio loop, and a callback resolves an asyncio future.

    PYTHONPATH=build/python /usr/bin/python3 python/examples/client_asyncio.py
"""

import asyncio

import orvlib
import orvlib.asyncio
from orvlib.emulator import DEMO_KEY, Emulator


async def reverse_geocode(client, futures, lat, lng):
    future = asyncio.get_running_loop().create_future()
    futures.append(future)
    client.reverse_geocode(lat, lng)
    return await future


async def main():
    futures = []

    def settle(outcome):
        future = futures.pop(0)
        if not future.done():
            future.set_result(outcome)

    with Emulator() as service, orvlib.asyncio.attach():
        orvlib.set_service(service.base_url, ca_file=service.ca_file)
        client = orvlib.Client(on_reverse=settle, on_error=settle)
        client.init_key(DEMO_KEY)
        client.set_agree_privacy(True)
        ticker = asyncio.create_task(tick())
        res = await asyncio.wait_for(reverse_geocode(client, futures, 31.23, 121.47), 10)
        print("address:", res.location.address.name)
        ticker.cancel()


async def tick():
    while True:  # other asyncio work goes on meanwhile
        await asyncio.sleep(0.005)


asyncio.run(main())
