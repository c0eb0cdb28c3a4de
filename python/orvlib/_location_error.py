"""orvlib.LocationError: a failure the client reports, typed."""

from typing import Optional


class LocationError(str):
    """A failure as the client reports it: the text itself (so a callback written for the text
    keeps working) with what it is as attributes.

    code: the error code's stable name ("keyMissing", "httpStatus", "timedOut", ...);
    domain: where it arose ("orv.client", "orv.location", "NetworkClient", ...);
    status: the HTTP status when an answer arrived, otherwise -1;
    message: the text (equal to the string itself);
    retry_after: seconds from a 429 answer's Retry-After, or None.
    """

    code: str
    domain: str
    status: int
    retry_after: Optional[int]
    _fields = ("code", "domain", "status", "message", "retry_after")

    def __new__(cls, message, code, domain="", status=-1, retry_after=None):
        self = super().__new__(cls, message)
        self.code, self.domain, self.status = code, domain, status
        self.retry_after = retry_after
        return self

    @property
    def message(self):
        return str(self)

    def to_dict(self):
        return {name: getattr(self, name) for name in self._fields}

    def __repr__(self):
        fields = ", ".join(f"{name}={getattr(self, name)!r}" for name in self._fields)
        return f"LocationError({fields})"

    def __reduce__(self):
        return (LocationError, (str(self), self.code, self.domain, self.status, self.retry_after))
