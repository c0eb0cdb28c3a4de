#include "platform/location/location_manager.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <utility>

#include "orv/run_loop.h"
#include "platform/location/location_provider.h"

namespace orv::detail {
namespace {

// Great-circle metres. The coordinate layer sits above this one, hence a local copy.
double haversineMetres(const Coordinate& a, const Coordinate& b) {
  constexpr double kEarthRadius = 6371004.0;
  constexpr double kRad = 3.14159265358979323846 / 180.0;
  const double dLat = (b.latitude - a.latitude) * kRad;
  const double dLng = (b.longitude - a.longitude) * kRad;
  const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                   std::cos(a.latitude * kRad) * std::cos(b.latitude * kRad) * std::sin(dLng / 2) *
                       std::sin(dLng / 2);
  return 2.0 * kEarthRadius * std::asin(std::sqrt(std::min(1.0, h)));
}

std::string numberText(double v) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc{} ? std::string(buf, end) : std::string("nan");
}

void record(const std::string& call) { currentLocationProvider()->recordCall(call); }

}  // namespace

struct LocationManager::Impl final : LocationSink, std::enable_shared_from_this<Impl> {
  RunLoop& loop = RunLoop::current();
  std::weak_ptr<LocationManagerDelegate> delegate;
  double distanceFilter = -1.0;  // none: every fix
  bool updating = false;
  bool oneShot = false;
  std::optional<Location> lastDelivered;
  std::shared_ptr<LocationProvider> streaming;  // the provider feeding us, while it does

  // Providers call these from any thread; the work happens on our loop, never inside the call.
  void deliverLocations(std::vector<Location> locations) override {
    loop.post([weak = weak_from_this(), locations = std::move(locations)] {
      if (auto self = weak.lock()) self->handleLocations(locations);
    });
  }
  void deliverError(std::string description) override {
    loop.post([weak = weak_from_this(), description = std::move(description)] {
      if (auto self = weak.lock()) self->handleError(description);
    });
  }

  void ensureStreaming() {
    if (streaming) return;
    streaming = currentLocationProvider();
    streaming->start(shared_from_this());
  }
  void stopStreamingIfIdle() {
    if (updating || oneShot || !streaming) return;
    std::exchange(streaming, nullptr)->stop(this);
  }

  void handleLocations(const std::vector<Location>& locations) {
    if (locations.empty()) return;
    if (oneShot) {
      // A one-shot answer is the newest fix, whatever the distance filter says.
      oneShot = false;
      lastDelivered = locations.back();
      stopStreamingIfIdle();
      notifyLocations({locations.back()});
      return;
    }
    if (!updating) return;
    std::vector<Location> passed;
    for (const auto& fix : locations) {
      if (distanceFilter > 0 && lastDelivered &&
          haversineMetres(lastDelivered->coordinate, fix.coordinate) < distanceFilter) {
        continue;
      }
      passed.push_back(fix);
      lastDelivered = fix;
    }
    if (!passed.empty()) notifyLocations(passed);
  }

  void handleError(const std::string& description) {
    if (!updating && !oneShot) return;
    if (oneShot) {
      oneShot = false;
      stopStreamingIfIdle();
    }
    if (auto d = delegate.lock()) d->didFailWithError(description);
  }

  void notifyLocations(const std::vector<Location>& locations) {
    if (auto d = delegate.lock()) d->didUpdateLocations(locations);
  }
};

LocationManager::LocationManager() : impl_(std::make_shared<Impl>()) {}

LocationManager::~LocationManager() {
  impl_->updating = false;
  impl_->oneShot = false;
  impl_->stopStreamingIfIdle();
}

int LocationManager::authorizationStatus() {
  return currentLocationProvider()->authorizationStatus();
}

void LocationManager::setDistanceFilter(double metres) {
  record("setDistanceFilter:" + numberText(metres));
  impl_->distanceFilter = metres;
}

void LocationManager::setDesiredAccuracy(double accuracy) {
  // Providers deliver what they have; the setting is recorded, not acted upon.
  record("setDesiredAccuracy:" + numberText(accuracy));
}

void LocationManager::setDelegate(std::weak_ptr<LocationManagerDelegate> delegate) {
  record("setDelegate");
  impl_->delegate = std::move(delegate);
}

void LocationManager::setPausesLocationUpdatesAutomatically(bool pauses) {
  record(std::string("setPausesLocationUpdatesAutomatically:") + (pauses ? "true" : "false"));
}

void LocationManager::setAllowsBackgroundLocationUpdates(bool allows) {
  record(std::string("setAllowsBackgroundLocationUpdates:") + (allows ? "true" : "false"));
}

void LocationManager::requestWhenInUseAuthorization() {
  record("requestWhenInUseAuthorization");
  currentLocationProvider()->requestAuthorization(false);
}

void LocationManager::requestAlwaysAuthorization() {
  record("requestAlwaysAuthorization");
  currentLocationProvider()->requestAuthorization(true);
}

void LocationManager::startUpdatingLocation() {
  record("startUpdatingLocation");
  if (!impl_->updating) impl_->lastDelivered.reset();
  impl_->updating = true;
  impl_->ensureStreaming();
}

void LocationManager::stopUpdatingLocation() {
  record("stopUpdatingLocation");
  impl_->updating = false;
  impl_->oneShot = false;
  impl_->stopStreamingIfIdle();
}

void LocationManager::requestLocation() {
  record("requestLocation");
  impl_->oneShot = true;
  impl_->ensureStreaming();
}

}  // namespace orv::detail
