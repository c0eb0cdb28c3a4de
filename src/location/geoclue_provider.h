// Fixes from GeoClue2, the desktop's location service on the system bus (Wi-Fi, cell and IP
// based positions), over sd-bus. The managers streaming from one provider share one bus connection
// and GeoClue client (location/shared_upstream.h), driven on a run loop through the connection's
// descriptor and timeout.
//
// GeoClue decides who may position: an access-denied answer makes the status "denied" (so the
// controller's own refusal follows at the next start). GeoClue 2.6 holds GetClient until the
// user's authorization agent answers; without an agent it never does, so GetClient gets a short
// timeout and ends in a clear failure instead of the bus's 25 s default. A lost bus connection is
// one failure that says so; GeoClue leaving the bus is one when it is not back within the grace
// period (a new client is asked for when it returns).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "location/location_stream.h"
#include "location/provider_registry.h"
#include "location/shared_upstream.h"
#include "location/system_provider.h"
#include "orv/location_provider.h"
#include "orv/location_sources.h"

namespace orv::detail {

// GeoClue's accuracy levels.
enum class GeoClueAccuracy : uint32_t {
  country = 1,
  city = 4,
  neighborhood = 5,
  street = 6,
  exact = 8
};

// The level for a desired accuracy in metres (negative: best): up to 10 m exact, 100 m street,
// 1 km neighborhood, beyond that city.
GeoClueAccuracy geoClueAccuracyFor(double desiredAccuracy);

// GeoClue as a system source: answers when its name has an owner on the system bus or can be
// activated there; the desktop id is the program's name.
SystemCandidate geoClueSystemCandidate();

class GeoClueProvider final : public OpenOnlyProvider {
 public:
  // `grace`: how long GeoClue may be away from the bus before that is a failure.
  explicit GeoClueProvider(GeoClueOptions options,
                           std::chrono::milliseconds getClientTimeout = std::chrono::seconds(3),
                           std::chrono::milliseconds grace = std::chrono::seconds(10));

  AuthorizationStatus authorizationStatus() const override { return status_.load(); }
  // Every stream shares one bus connection and GeoClue client.
  std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink) override {
    return upstream_->open(sink);
  }

  class Session;

 private:
  GeoClueOptions options_;
  std::chrono::milliseconds getClientTimeout_;
  std::chrono::milliseconds grace_;
  std::atomic<AuthorizationStatus> status_{AuthorizationStatus::notDetermined};
  std::shared_ptr<SharedUpstream> upstream_;  // last: its sessions refer to the members above
};

}  // namespace orv::detail
