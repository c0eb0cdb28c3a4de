#include "location/system_provider.h"

#include <utility>

#if ORV_WITH_GEOCLUE
#include "location/geoclue_provider.h"
#endif
#include "location/gpsd_provider.h"

namespace orv::detail {

std::vector<SystemCandidate> systemCandidates() {
  const GpsdOptions gpsd;  // 127.0.0.1:2947
  std::vector<SystemCandidate> candidates{SystemCandidate{
      "gpsd at " + gpsdAddress(gpsd),
      [gpsd] { return probeTcp(gpsd, std::chrono::milliseconds(500)); },
      [gpsd] { return std::make_shared<GpsdProvider>(gpsd); },
  }};
#if ORV_WITH_GEOCLUE
  candidates.push_back(geoClueSystemCandidate());
#endif
  return candidates;
}

SystemProvider::SystemProvider(std::vector<SystemCandidate> candidates) {
  for (auto& c : candidates) entries_.push_back({std::move(c), nullptr});
}

AuthorizationStatus SystemProvider::authorizationStatus() const {
  std::lock_guard lock(mutex_);
  return lastChosen_ ? lastChosen_->authorizationStatus() : AuthorizationStatus::notDetermined;
}

void SystemProvider::requestAuthorization(bool always) {
  std::shared_ptr<LocationProvider> chosen;
  {
    std::lock_guard lock(mutex_);
    chosen = lastChosen_;
  }
  if (chosen) chosen->requestAuthorization(always);
}

// Probes run outside the lock: a slow one must not hold up other managers' stops.
std::shared_ptr<LocationProvider> SystemProvider::choose(std::string& tried) {
  std::vector<SystemCandidate> candidates;
  {
    std::lock_guard lock(mutex_);
    for (const auto& e : entries_) candidates.push_back(e.candidate);
  }
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (const auto why = candidates[i].probe()) {
      tried += (tried.empty() ? "" : "; ") + candidates[i].name + " (" + *why + ")";
      continue;
    }
    std::lock_guard lock(mutex_);
    auto& provider = entries_[i].provider;
    if (!provider) provider = candidates[i].make();
    lastChosen_ = provider;
    return provider;
  }
  return nullptr;
}

std::unique_ptr<LocationStream> SystemProvider::open(const std::shared_ptr<LocationSink>& sink) {
  std::string tried;
  const auto provider = choose(tried);
  if (!provider) {
    sink->deliverError(LocationFailure::sourceUnreachable,
                       "No system location source answered (tried " + tried +
                           "). Start gpsd (or GeoClue on a desktop), or choose a provider with "
                           "orv::LocationService::use(), useGpsd(), useNmea(), useGeoClue(), "
                           "useReplay() or useSimulated() before starting location updates");
    return std::make_unique<LocationStream>();
  }
  // The chosen provider lives as long as the stream it feeds.
  std::shared_ptr<LocationStream> inner = provider->open(sink);
  return streamEndingWith([provider, inner]() mutable { inner.reset(); });
}

}  // namespace orv::detail
