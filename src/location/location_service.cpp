#include "orv/location_service.h"

#include <fstream>
#include <sstream>
#include <utility>

#if ORV_WITH_GEOCLUE
#include "location/geoclue_provider.h"
#endif
#include "location/gpsd_provider.h"
#include "location/nmea_provider.h"
#include "location/provider_registry.h"
#include "location/replay_provider.h"
#include "location/simulated_provider.h"
#include "location/system_provider.h"

namespace orv {

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
