"""Drives orvLib's main loop from an asyncio event loop.

    attachment = orvlib.asyncio.attach()     # inside a coroutine on the main thread
    ...                                      # callbacks now run between asyncio tasks
    attachment.detach()

The loop's poll descriptor is watched with ``loop.add_reader`` and its next timer with
``loop.call_later``, so nothing polls: the asyncio loop sleeps until there is work.
"""

import asyncio as _asyncio

from . import _orvlib


class Attachment:
    """orvLib's main loop running inside an asyncio loop; also a context manager."""

    def __init__(self, loop):
        self._loop = loop
        self._fd = _orvlib.poll_fd()
        self._timer = None
        loop.add_reader(self._fd, self._pump)
        self._arm()

    def _pump(self):
        try:
            _orvlib.process_pending()
        finally:
            self._arm()

    def _arm(self):
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        due = _orvlib.time_until_next_timer()
        if due is not None:
            self._timer = self._loop.call_later(due, self._pump)

    def detach(self):
        if self._fd is None:
            return
        self._loop.remove_reader(self._fd)
        if self._timer is not None:
            self._timer.cancel()
        self._fd = self._timer = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.detach()


def attach(loop=None):
    """Runs orvLib's callbacks and timers on `loop` (default: the running loop), which must run
    on the main thread. Returns an Attachment; detach() ends it."""
    return Attachment(loop or _asyncio.get_running_loop())
