// What the C API's translation units share: the record handles, the last-error slot, argument
// checks and the guard that keeps exceptions on this side of the C boundary.
#pragma once

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "orv/client.h"
#include "orv/error.h"
#include "orv/geocode_res.h"
#include "orv/geofence.h"
#include "orv/location.h"
#include "orv/location_provider.h"
#include "orv/location_res.h"
#include "orv/orv_c.h"

// A lazily written JSON text, computed once even when retained handles are read from several
// threads.
struct OrvJsonText {
  template <class Encode>
  const char* get(Encode&& encode) const {
    std::call_once(once, [&] {
      try {
        text = encode();
      } catch (...) {
        text.reset();  // no memory for the text: report "cannot be written"
      }
    });
    return text ? text->c_str() : nullptr;
  }
  mutable std::once_flag once;
  mutable std::optional<std::string> text;
};

struct orv_location_res {
  explicit orv_location_res(std::shared_ptr<orv::LocationRes> r) : record(std::move(r)) {}
  mutable std::atomic<size_t> refs{1};
  std::shared_ptr<orv::LocationRes> record;  // never empty
  OrvJsonText json;
};

struct orv_geocode_res {
  explicit orv_geocode_res(std::shared_ptr<orv::GeocodeRes> r) : record(std::move(r)) {}
  std::shared_ptr<orv::GeocodeRes> record;  // never empty
  OrvJsonText json;
};

struct orv_geocode_list {
  explicit orv_geocode_list(const std::vector<std::shared_ptr<orv::GeocodeRes>>& records);
  mutable std::atomic<size_t> refs{1};
  std::vector<std::unique_ptr<orv_geocode_res>> hits;
  OrvJsonText json;
};

// A monitor shared with the clients monitoring with it, and the host's event callback.
struct orv_geofence {
  std::shared_ptr<orv::GeofenceMonitor> monitor;  // never empty
  void (*callback)(void* user, const orv_geofence_event* event) = nullptr;
  void* user = nullptr;
};

namespace orv::capi {

// The integer a host passed as an enum. Read through its underlying type: a value outside the
// enumerators may come from C, and loading it as the C++ enum would be undefined.
template <class Enum>
std::underlying_type_t<Enum> rawValue(const Enum& e) {
  std::underlying_type_t<Enum> v;
  std::memcpy(&v, &e, sizeof v);
  return v;
}

orv_error_code errorCode(ErrorCode code);

// Records the message for orv_last_error_message() and returns `status`.
orv_status fail(orv_status status, std::string_view message);

// Present and UTF-8, or the matching failure naming `what`.
orv_status checkText(const char* text, std::string_view what);
// A text that may be NULL; when present it must be UTF-8.
orv_status checkOptionalText(const char* text, std::string_view what);
// A finite latitude in [-90, 90] and longitude in [-180, 180].
orv_status checkCoordinate(double latitude, double longitude);
// The host's fix as the library's, refused when its coordinate or timestamp is out of range.
orv_status toLocation(const orv_location& in, Location& out);
// Fixes from the host (NULL only with `count` 0); nothing is kept when one is refused.
orv_status toLocations(const orv_location* in, size_t count, std::vector<Location>& out);
// A status the host passed, refused when it is not one of the enumerators.
orv_status toAuthorization(const orv_authorization_status& status, AuthorizationStatus& out);

// The library's fix as the host's record.
orv_location fromLocation(const Location& in);
// Hands `event` to `deliver` as the C record, valid during the call.
template <class Deliver>
void withCEvent(const GeofenceEvent& event, Deliver&& deliver) {
  const orv_geofence_event e{static_cast<orv_geofence_event_kind>(event.kind),
                             event.fenceId.c_str(), fromLocation(event.fix)};
  deliver(&e);
}

// The client's C++ object (`client` not NULL).
OrvClientLocation* cppClient(orv_client* client);

// Runs `body` on the client's C++ object once `client` has been checked.
template <class Body>
orv_status withClient(orv_client* client, Body&& body);

// Runs `body` (returning orv_status); exceptions become statuses.
template <class Body>
orv_status guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return fail(ORV_STATUS_NO_MEMORY, "out of memory");
  } catch (...) {
    return fail(ORV_STATUS_INTERNAL, "unexpected failure inside the library");
  }
}

template <class Body>
orv_status withClient(orv_client* client, Body&& body) {
  return guarded([&] {
    if (!client) return fail(ORV_STATUS_NULL_ARGUMENT, "client is NULL");
    return body(*cppClient(client));
  });
}

// For functions that return a value: `fallback` when `body` throws.
template <class T, class Body>
T guardedValue(T fallback, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

}  // namespace orv::capi
