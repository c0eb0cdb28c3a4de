#include "orv/location_service.h"

#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>

#if ORV_WITH_GEOCLUE
#include "platform/location/geoclue_provider.h"
#endif
#include "platform/location/gpsd_provider.h"
#include "platform/location/location_provider.h"
#include "platform/location/nmea_provider.h"
#include "platform/location/replay_provider.h"
#include "platform/location/simulated_provider.h"
#include "platform/location/system_provider.h"

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
class NoProvider final : public LocationProvider {
 public:
  AuthorizationStatus authorizationStatus() const override {
    return AuthorizationStatus::notDetermined;
  }
  void start(const std::shared_ptr<LocationSink>& sink) override {
    sink->deliverError(kNoLocationProviderMessage);
  }
  void stop(const LocationSink&) override {}
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

void LocationService::use(std::shared_ptr<LocationProvider> provider) {
  detail::setLocationProvider(std::move(provider));
}

std::shared_ptr<SimulatedLocationProvider> LocationService::useSimulated() {
  auto provider = std::make_shared<detail::SimulatedProvider>();
  detail::setLocationProvider(provider);
  return provider;
}

Result<bool> LocationService::useReplay(const ReplayOptions& options) {
  std::ifstream in(options.path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    return Error{"orv.location.replay", 0, "cannot read replay track " + options.path};
  }
  auto rows = detail::parseTrack(text.str(), options.path);
  if (!rows) return rows.error();
  detail::setLocationProvider(
      std::make_shared<detail::ReplayProvider>(std::move(rows).value(), options));
  return true;
}

void LocationService::useGpsd(const GpsdOptions& options) {
  detail::setLocationProvider(std::make_shared<detail::GpsdProvider>(options));
}

void LocationService::useSystemDefault() {
  detail::setLocationProvider(std::make_shared<detail::SystemProvider>());
}

Result<bool> LocationService::useNmea(const NmeaOptions& options) {
  auto endpoint = detail::NmeaEndpoint::parse(options.source, options.baudRate);
  if (!endpoint) return endpoint.error();
  detail::setLocationProvider(std::make_shared<detail::NmeaProvider>(std::move(endpoint).value()));
  return true;
}

Result<bool> LocationService::useGeoClue(const GeoClueOptions& options) {
#if ORV_WITH_GEOCLUE
  if (options.desktopId.empty()) {
    return Error{"orv.location.geoclue", 0, "GeoClue needs the host's desktop id"};
  }
  detail::setLocationProvider(std::make_shared<detail::GeoClueProvider>(options));
  return true;
#else
  (void)options;
  return Error{"orv.location.geoclue", 0, "this build of orvLib has no GeoClue support"};
#endif
}

void LocationService::useNone() { detail::setLocationProvider(nullptr); }

}  // namespace orv
