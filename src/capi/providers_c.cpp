// Providers the host drives: GeoClue's options, and the simulated provider's handle.
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capi/capi_internal.h"
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
    auto used = orv::LocationService::useGeoClue(options);
    if (!used) return fail(ORV_STATUS_FAILED, used.error().message);
    return ORV_STATUS_OK;
  });
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
    std::vector<orv::Location> fixes;
    if (auto s = orv::capi::toLocations(locations, count, fixes)) return s;
    p.pushLocations(std::move(fixes));
    return ORV_STATUS_OK;
  });
}

orv_status orv_simulated_push_error(orv_simulated_provider* provider, const char* message) {
  return withSimulated(provider, [&](orv::SimulatedLocationProvider& p) {
    if (auto s = orv::capi::checkText(message, "message")) return s;
    p.pushError(message);
    return ORV_STATUS_OK;
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
