#include "location/provider_registry.h"

#include <mutex>
#include <utility>

#include "location/system_provider.h"

namespace orv {
namespace detail {

const char* const kNoLocationProviderMessage =
    "No location provider is configured: call orv::LocationService::use(), "
    "orv::LocationService::useSimulated() or orv::LocationService::useReplay() before starting "
    "location updates";

const char* const kGeoClueNoAgentMessage =
    "GeoClue has no authorization agent for this user (GetClient was not answered in time): "
    "run the desktop session's location agent, or choose another location provider";

namespace {

// No provider: nothing is authorized and every start fails with a message saying what to do.
class NoProvider final : public OpenOnlyProvider {
 public:
  AuthorizationStatus authorizationStatus() const override {
    return AuthorizationStatus::notDetermined;
  }
  std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink) override {
    sink->deliverError(LocationFailure::noSourceConfigured, kNoLocationProviderMessage);
    return std::make_unique<LocationStream>();
  }
};

struct Registry {
  std::mutex mutex;
  std::shared_ptr<LocationProvider> provider = std::make_shared<SystemProvider>();
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

std::shared_ptr<LocationProvider> currentLocationProvider() {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.provider;
}

void setLocationProvider(std::shared_ptr<LocationProvider> provider) {
  if (!provider) provider = std::make_shared<NoProvider>();
  auto& r = registry();
  std::shared_ptr<LocationProvider> previous;
  std::lock_guard lock(r.mutex);
  previous = std::exchange(r.provider, std::move(provider));
}

}  // namespace detail

}  // namespace orv
