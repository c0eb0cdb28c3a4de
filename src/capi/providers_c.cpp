// The choice of location provider: the library's sources, the simulated provider's handle, and
// the failures a host's sink pushes with their kind.
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capi/capi_internal.h"
#include "capi/sink_c.h"
#include "orv/location_service.h"

struct orv_simulated_provider {
  std::shared_ptr<orv::SimulatedLocationProvider> provider;  // never empty
};

namespace orv::capi {

orv_status toAuthorization(const orv_authorization_status& status, AuthorizationStatus& out) {
  const auto raw = rawValue(status);
  if (raw < ORV_AUTHORIZATION_NOT_DETERMINED || raw > ORV_AUTHORIZATION_AUTHORIZED_WHEN_IN_USE) {
    return fail(ORV_STATUS_OUT_OF_RANGE, "authorization status must be in [0, 4]");
  }
  out = static_cast<AuthorizationStatus>(raw);
  return ORV_STATUS_OK;
}

}  // namespace orv::capi

namespace {

using orv::capi::fail;
using orv::capi::guarded;

// An optional status from the host: NULL means none.
orv_status optionalStatus(const orv_authorization_status* status,
                          std::optional<orv::AuthorizationStatus>& out) {
  if (!status) return ORV_STATUS_OK;
  orv::AuthorizationStatus value{};
  if (auto s = orv::capi::toAuthorization(*status, value)) return s;
  out = value;
  return ORV_STATUS_OK;
}

// A choice that may be refused: nothing changes then.
orv_status installed(const orv::Result<bool>& used) {
  return used ? ORV_STATUS_OK : fail(ORV_STATUS_FAILED, used.error().message);
}

template <class Body>
orv_status withSimulated(orv_simulated_provider* provider, Body&& body) {
  return guarded([&] {
    if (!provider) return fail(ORV_STATUS_NULL_ARGUMENT, "provider is NULL");
    return body(*provider->provider);
  });
}

}  // namespace

extern "C" {

orv_status orv_use_geoclue(const char* desktop_id, double desired_accuracy,
                           double distance_filter) {
  return guarded([&] {
    if (auto s = orv::capi::checkText(desktop_id, "desktop_id")) return s;
    if (!std::isfinite(desired_accuracy)) {
      return fail(ORV_STATUS_OUT_OF_RANGE, "desired_accuracy must be finite");
    }
    if (!(distance_filter >= 0.0 && std::isfinite(distance_filter))) {
      return fail(ORV_STATUS_OUT_OF_RANGE, "distance_filter must be a finite number >= 0");
    }
    orv::GeoClueOptions options;
    options.desktopId = desktop_id;
    options.desiredAccuracy = desired_accuracy;
    options.distanceFilter = distance_filter;
    return installed(orv::LocationService::useGeoClue(options));
  });
}

orv_status orv_use_replay(const char* path, double speed, bool loop) {
  return guarded([&] {
    if (auto s = orv::capi::checkText(path, "path")) return s;
    if (!std::isfinite(speed)) return fail(ORV_STATUS_OUT_OF_RANGE, "speed must be finite");
    orv::ReplayOptions options;
    options.path = path;
    options.speed = speed;
    options.loop = loop;
    return installed(orv::LocationService::useReplay(options));
  });
}

orv_status orv_use_gpsd(const char* host, int port) {
  return guarded([&] {
    if (auto s = orv::capi::checkOptionalText(host, "host")) return s;
    if (port < 1 || port > 65535)
      return fail(ORV_STATUS_OUT_OF_RANGE, "port must be in [1, 65535]");
    orv::GpsdOptions options;
    if (host) options.host = host;
    options.port = static_cast<uint16_t>(port);
    orv::LocationService::useGpsd(options);
    return ORV_STATUS_OK;
  });
}

orv_status orv_use_nmea(const char* source, int baud_rate) {
  return guarded([&] {
    if (auto s = orv::capi::checkText(source, "source")) return s;
    return installed(orv::LocationService::useNmea({source, baud_rate}));
  });
}

void orv_use_system_default(void) {
  try {
    orv::LocationService::useSystemDefault();
  } catch (...) {
  }
}

void orv_use_none(void) {
  try {
    orv::LocationService::useNone();
  } catch (...) {
  }
}

orv_simulated_provider* orv_use_simulated(void) {
  orv_simulated_provider* handle = nullptr;
  guarded([&] {
    auto owned = std::make_unique<orv_simulated_provider>();
    owned->provider = orv::LocationService::useSimulated();
    handle = owned.release();
    return ORV_STATUS_OK;
  });
  return handle;
}

void orv_simulated_provider_free(orv_simulated_provider* provider) { delete provider; }

orv_status orv_simulated_push_locations(orv_simulated_provider* provider,
                                        const orv_location* locations, size_t count) {
  return withSimulated(provider, [&](orv::SimulatedLocationProvider& p) {
    return orv::capi::pushLocations(locations, count,
                                    [&](auto fixes) { p.pushLocations(std::move(fixes)); });
  });
}

orv_status orv_simulated_push_error(orv_simulated_provider* provider, const char* message) {
  return withSimulated(provider, [&](orv::SimulatedLocationProvider& p) {
    return orv::capi::pushError(ORV_LOCATION_FAILURE_UNSPECIFIED, message,
                                [&](auto, const char* text) { p.pushError(text); });
  });
}

orv_status orv_simulated_set_authorization_status(orv_simulated_provider* provider,
                                                  orv_authorization_status status) {
  return withSimulated(provider, [&](orv::SimulatedLocationProvider& p) {
    orv::AuthorizationStatus value{};
    if (auto s = orv::capi::toAuthorization(status, value)) return s;
    p.setAuthorizationStatus(value);
    return ORV_STATUS_OK;
  });
}

orv_status orv_simulated_set_status_after_request(orv_simulated_provider* provider,
                                                  const orv_authorization_status* when_in_use,
                                                  const orv_authorization_status* always) {
  return withSimulated(provider, [&](orv::SimulatedLocationProvider& p) {
    std::optional<orv::AuthorizationStatus> whenInUseAfter, alwaysAfter;
    if (auto s = optionalStatus(when_in_use, whenInUseAfter)) return s;
    if (auto s = optionalStatus(always, alwaysAfter)) return s;
    p.setStatusAfterRequest(whenInUseAfter, alwaysAfter);
    return ORV_STATUS_OK;
  });
}

bool orv_simulated_is_updating(const orv_simulated_provider* provider) {
  return orv::capi::guardedValue(false,
                                 [&] { return provider && provider->provider->isUpdating(); });
}

}  // extern "C"
