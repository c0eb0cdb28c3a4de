#include "location/location_manager.h"

#include <optional>
#include <utility>

#include "location/provider_registry.h"
#include "orv/run_loop.h"
#include "platform/great_circle.h"
#include "platform/run_loop_impl.h"

namespace orv::detail {
namespace {

double metresBetween(const Coordinate& a, const Coordinate& b) {
  return greatCircleMetres(a.latitude, b.latitude, a.longitude, b.longitude);
}

}  // namespace

// One stream, from the provider's open() until its handle ends. Its deliveries are handled on the
// manager's loop and dropped there once the stream is closed, so nothing of a stopped stream gets
// through; once that loop has ended (a worker thread's), they are dropped on the way.
class ManagerStream final : public LocationSink,
                            public std::enable_shared_from_this<ManagerStream> {
 public:
  ManagerStream(std::shared_ptr<LoopHandle> home, std::weak_ptr<LocationManager::Impl> owner)
      : home_(std::move(home)), owner_(std::move(owner)) {}

  void deliverLocations(std::vector<Location> locations) override;
  void deliverError(std::string description) override {
    deliverError(LocationFailure::unspecified, std::move(description));
  }
  void deliverError(LocationFailure kind, std::string description) override;
  // Owner's loop only.
  void close() { closed_ = true; }

 private:
  static std::shared_ptr<LocationManager::Impl> openOwner(
      const std::weak_ptr<ManagerStream>& weak) {
    auto self = weak.lock();
    return self && !self->closed_ ? self->owner_.lock() : nullptr;
  }

  std::shared_ptr<LoopHandle> home_;
  std::weak_ptr<LocationManager::Impl> owner_;
  bool closed_ = false;  // touched on the owner's loop only
};

struct LocationManager::Impl final : std::enable_shared_from_this<Impl> {
  std::shared_ptr<LoopHandle> home = handleOf(RunLoop::current());
  std::weak_ptr<LocationManagerDelegate> delegate;
  double distanceFilter = -1.0;  // none: every fix
  bool updating = false;
  bool oneShot = false;
  std::optional<Location> lastDelivered;
  std::shared_ptr<LocationProvider> provider;  // the provider feeding `stream`, while it does
  std::shared_ptr<ManagerStream> stream;
  std::unique_ptr<LocationStream> opened;  // the provider's handle of `stream`

  void ensureStreaming() {
    if (stream) return;
    provider = currentLocationProvider();
    stream = std::make_shared<ManagerStream>(home, weak_from_this());
    opened = provider->open(stream);
  }
  void stopStreamingIfIdle() {
    if (updating || oneShot || !stream) return;
    std::exchange(stream, nullptr)->close();
    opened.reset();  // before the provider, which the handle may need
    provider.reset();
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
          metresBetween(lastDelivered->coordinate, fix.coordinate) < distanceFilter) {
        continue;
      }
      passed.push_back(fix);
      lastDelivered = fix;
    }
    if (!passed.empty()) notifyLocations(passed);
  }

  void handleError(LocationFailure kind, const std::string& description) {
    if (!updating && !oneShot) return;
    if (oneShot) {
      oneShot = false;
      stopStreamingIfIdle();
    }
    if (auto d = delegate.lock()) d->didFailWithError(kind, description);
  }

  void notifyLocations(const std::vector<Location>& locations) {
    if (auto d = delegate.lock()) d->didUpdateLocations(locations);
  }
};

// Providers call these from any thread; the work happens on our loop, never inside the call.
void ManagerStream::deliverLocations(std::vector<Location> locations) {
  home_->post([weak = weak_from_this(), locations = std::move(locations)] {
    if (auto owner = openOwner(weak)) owner->handleLocations(locations);
  });
}

void ManagerStream::deliverError(LocationFailure kind, std::string description) {
  home_->post([weak = weak_from_this(), kind, description = std::move(description)] {
    if (auto owner = openOwner(weak)) owner->handleError(kind, description);
  });
}

LocationManager::LocationManager() : impl_(std::make_shared<Impl>()) {}

LocationManager::~LocationManager() {
  impl_->updating = false;
  impl_->oneShot = false;
  impl_->stopStreamingIfIdle();
}

int LocationManager::authorizationStatus() {
  return static_cast<int>(currentLocationProvider()->authorizationStatus());
}

void LocationManager::setDistanceFilter(double metres) { impl_->distanceFilter = metres; }

// Providers deliver what they have, with no notion of pausing or of the background: these
// settings take no effect here.
void LocationManager::setDesiredAccuracy(double) {}
void LocationManager::setPausesLocationUpdatesAutomatically(bool) {}
void LocationManager::setAllowsBackgroundLocationUpdates(bool) {}

void LocationManager::setDelegate(std::weak_ptr<LocationManagerDelegate> delegate) {
  impl_->delegate = std::move(delegate);
}

void LocationManager::requestWhenInUseAuthorization() {
  currentLocationProvider()->requestAuthorization(false);
}

void LocationManager::requestAlwaysAuthorization() {
  currentLocationProvider()->requestAuthorization(true);
}

void LocationManager::startUpdatingLocation() {
  if (!impl_->updating) impl_->lastDelivered.reset();
  impl_->updating = true;
  impl_->ensureStreaming();
}

void LocationManager::stopUpdatingLocation() {
  impl_->updating = false;
  impl_->oneShot = false;
  impl_->stopStreamingIfIdle();
}

void LocationManager::requestLocation() {
  impl_->oneShot = true;
  impl_->ensureStreaming();
}

}  // namespace orv::detail
