"""orvLib location SDK for Python.

Coordinate conversion between WGS-84, GCJ-02 and BD-09 (numbers or numpy arrays), the location
client with callbacks (failures as ``orvlib.LocationError``), the loop that delivers them, location
providers, and on-device geofencing (``orvlib.GeofenceMonitor``). Whole files:
``orvlib.convert_file``; whole datasets: ``orvlib.dask.convert``, ``convert_files`` and
``geofence``. Host event loops: ``orvlib.asyncio.attach``.
"""

import warnings as _warnings

from ._location_error import LocationError  # noqa: F401
from ._orvlib import (  # noqa: F401
    Address,
    AddressInfo,
    Client,
    DistanceInfo,
    GeocodeRes,
    GeofenceError,
    GeofenceEvent,
    GeofenceMonitor,
    Location,
    LocationDetail,
    LocationRes,
    LocationSink,
    OrvCategory,
    OrvPoint,
    PlaceInfo,
    RequestHandle,
    Position,
    SimulatedProvider,
    __version__,
    build_number,
    convert,
    convert_file,
    distance,
    engine_target,
    is_log_enabled,
    poll_fd,
    process_pending,
    run_for,
    run_until,
    set_bundle_object,
    set_log_enabled,
    set_log_sink,
    set_service,
    shared_access_key,
    stop,
    time_until_next_timer,
    use_geoclue,
    use_gpsd,
    use_nmea,
    use_none,
    use_provider,
    use_replay,
    use_simulated,
    use_system_default,
)

SYSTEMS = ("wgs84", "gcj02", "bd09")


def _plain(value):
    if hasattr(type(value), "_fields"):
        return value.to_dict()
    if isinstance(value, list):
        return [_plain(v) for v in value]
    return value


def _to_dict(self):
    """The record as plain dicts, lists and values, keyed like its JSON."""
    return {name: _plain(getattr(self, name)) for name in self._fields}


def _repr(self):
    fields = ", ".join(f"{name}={getattr(self, name)!r}" for name in self._fields)
    return f"{type(self).__name__}({fields})"


for _cls in (Address, AddressInfo, DistanceInfo, GeocodeRes, Location, LocationDetail,
             LocationRes, OrvCategory, OrvPoint, PlaceInfo, Position):
    _cls.to_dict = _to_dict
    _cls.__repr__ = _repr
del _cls


# Names the binding has answered to before it settled on one Pythonic name per operation: they
# still resolve, with a DeprecationWarning, but are not attributes of their own (dir(), the stubs).
_RENAMED = {
    Client: {"initKey": "init_key", "setAgreePrivacy": "set_agree_privacy",
             "startLocation": "start_location", "startFastLocation": "start_fast_location",
             "stopLocation": "stop_location", "getTrackLocation": "track_location",
             "getReverseCode": "reverse_geocode", "getGeocCode": "geocode",
             "poiKeySearch": "poi_search", "poiNearbySearch": "poi_nearby_search",
             "setLocationDelegate": "set_delegate", "callDelegate": "delegate",
             "accesskey": "access_key", "isLocateOnce": "locate_once",
             "isFastLocation": "fast_location", "isAgree": "agree", "milliStamp": "milli_stamp"},
    GeocodeRes: {"geo_point": "geoPoint"},
}


def _renamed(cls, name):
    new = _RENAMED[cls].get(name)
    if new is not None:
        _warnings.warn(f"{cls.__name__}.{name} is now {cls.__name__}.{new}", DeprecationWarning,
                       stacklevel=3)
    return new


def _alias_getattr(self, name):
    new = _renamed(type(self), name)
    if new is None:
        raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")
    return getattr(self, new)


def _alias_setattr(self, name, value):
    object.__setattr__(self, _renamed(type(self), name) or name, value)


for _cls in _RENAMED:
    _cls.__getattr__ = _alias_getattr
Client.__setattr__ = _alias_setattr
del _cls
