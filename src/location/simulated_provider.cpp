#include "location/simulated_provider.h"

#include <algorithm>

namespace orv::detail {

std::vector<std::shared_ptr<LocationSink>> SimulatedProvider::liveSinks() {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<LocationSink>> live;
  std::erase_if(sinks_, [&live](const std::weak_ptr<LocationSink>& weak) {
    auto sink = weak.lock();
    if (!sink) return true;
    live.push_back(std::move(sink));
    return false;
  });
  return live;
}

void SimulatedProvider::pushLocations(std::vector<Location> locations) {
  if (locations.empty()) return;
  for (const auto& sink : liveSinks()) sink->deliverLocations(locations);
}

void SimulatedProvider::pushError(std::string localizedDescription) {
  for (const auto& sink : liveSinks()) sink->deliverError(localizedDescription);
}

void SimulatedProvider::setAuthorizationStatus(AuthorizationStatus status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}

void SimulatedProvider::setStatusAfterRequest(std::optional<AuthorizationStatus> whenInUse,
                                              std::optional<AuthorizationStatus> always) {
  std::lock_guard lock(mutex_);
  afterWhenInUse_ = whenInUse;
  afterAlways_ = always;
}

bool SimulatedProvider::isUpdating() const {
  std::lock_guard lock(mutex_);
  return std::any_of(sinks_.begin(), sinks_.end(),
                     [](const std::weak_ptr<LocationSink>& s) { return !s.expired(); });
}

AuthorizationStatus SimulatedProvider::authorizationStatus() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void SimulatedProvider::requestAuthorization(bool always) {
  std::lock_guard lock(mutex_);
  // A prompt answers only an open question: "not determined", or for the upgrade, "when in use".
  if (always) {
    if (afterAlways_ && (status_ == AuthorizationStatus::notDetermined ||
                         status_ == AuthorizationStatus::authorizedWhenInUse)) {
      status_ = *afterAlways_;
    }
  } else if (afterWhenInUse_ && status_ == AuthorizationStatus::notDetermined) {
    status_ = *afterWhenInUse_;
  }
}

void SimulatedProvider::start(const std::shared_ptr<LocationSink>& sink) {
  std::lock_guard lock(mutex_);
  const bool known =
      std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.lock() == sink; });
  if (!known) sinks_.push_back(sink);
}

void SimulatedProvider::stop(const LocationSink& sink) {
  std::lock_guard lock(mutex_);
  std::erase_if(sinks_, [&sink](const std::weak_ptr<LocationSink>& s) {
    auto live = s.lock();
    return !live || live.get() == &sink;
  });
}

}  // namespace orv::detail
