// The host's sink handle and the checked pushes shared by the simulated provider and the sinks of
// host-written providers.
#pragma once

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include "capi/capi_internal.h"
#include "orv/location_provider.h"

struct orv_location_sink {
  explicit orv_location_sink(std::shared_ptr<orv::LocationSink> s) : sink(std::move(s)) {}
  std::atomic<size_t> refs{1};
  std::shared_ptr<orv::LocationSink> sink;  // never empty
};

namespace orv::capi {

// The host's fixes, checked as one batch (nothing is delivered when one is refused).
template <class Deliver>
orv_status pushLocations(const orv_location* locations, size_t count, Deliver&& deliver) {
  std::vector<Location> fixes;
  if (auto s = toLocations(locations, count, fixes)) return s;
  deliver(std::move(fixes));
  return ORV_STATUS_OK;
}

// The host's failure text, checked, with its kind.
template <class Deliver>
orv_status pushError(orv_location_failure kind, const char* message, Deliver&& deliver) {
  const auto raw = rawValue(kind);
  if (raw < ORV_LOCATION_FAILURE_UNSPECIFIED || raw > ORV_LOCATION_FAILURE_NO_SOURCE_CONFIGURED) {
    return fail(ORV_STATUS_OUT_OF_RANGE, "failure kind must be in [0, 6]");
  }
  if (auto s = checkText(message, "message")) return s;
  deliver(static_cast<LocationFailure>(raw), message);
  return ORV_STATUS_OK;
}

}  // namespace orv::capi
