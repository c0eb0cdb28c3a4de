#include "location/simulated_provider.h"

#include <algorithm>

#include "location/location_stream.h"

namespace orv::detail {

std::vector<std::shared_ptr<LocationSink>> SimulatedProvider::liveSinks() {
  std::lock_guard lock(fanout_->mutex);
  std::vector<std::shared_ptr<LocationSink>> live;
  std::erase_if(fanout_->taps, [&live](const auto& tap) {
    auto sink = tap->lock();
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
  std::lock_guard lock(fanout_->mutex);
  return std::any_of(fanout_->taps.begin(), fanout_->taps.end(),
                     [](const auto& tap) { return !tap->expired(); });
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

std::unique_ptr<LocationStream> SimulatedProvider::open(const std::shared_ptr<LocationSink>& sink) {
  auto tap = std::make_shared<const std::weak_ptr<LocationSink>>(sink);
  {
    std::lock_guard lock(fanout_->mutex);
    fanout_->taps.push_back(tap);
  }
  return streamEndingWith([fanout = fanout_, tap] {
    std::lock_guard lock(fanout->mutex);
    std::erase(fanout->taps, tap);
  });
}

void SimulatedProvider::start(const std::shared_ptr<LocationSink>& sink) {
  std::lock_guard lock(fanout_->mutex);
  const bool known = std::any_of(fanout_->taps.begin(), fanout_->taps.end(),
                                 [&](const auto& tap) { return tap->lock() == sink; });
  if (!known) fanout_->taps.push_back(std::make_shared<const std::weak_ptr<LocationSink>>(sink));
}

void SimulatedProvider::stop(const LocationSink& sink) {
  std::lock_guard lock(fanout_->mutex);
  std::erase_if(fanout_->taps, [&sink](const auto& tap) {
    auto live = tap->lock();
    return !live || live.get() == &sink;
  });
}

}  // namespace orv::detail
