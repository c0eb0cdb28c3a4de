// Geofence monitoring: every fix of a stream of the client's own, fed to the host's monitor.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/client_state.h"
#include "client/location_error.h"
#include "platform/log.h"

namespace orv {
namespace {

// The monitoring stream's delegate. Weak: the stream never keeps the client's state alive.
class FenceFeed final : public detail::LocationControllerDelegate {
 public:
  explicit FenceFeed(std::weak_ptr<OrvClientLocation::State> state) : state_(std::move(state)) {}
  void locationsDelivered(const std::vector<Location>& locations) override {
    if (auto s = state_.lock()) s->feedFences(locations);
  }
  void locationSuccessWithLocation(const Location&) override {}  // every fix came above
  void locationFailedWithErrorMsg(const std::string& text, ErrorCode code) override {
    if (auto s = state_.lock()) s->fenceStreamFailed(text, code);
  }

 private:
  std::weak_ptr<OrvClientLocation::State> state_;
};

}  // namespace

void OrvClientLocation::startGeofenceMonitoring(std::shared_ptr<GeofenceMonitor> monitor) {
  state_->checkThread();
  state_->startFenceMonitoring(std::move(monitor));
}

void OrvClientLocation::stopGeofenceMonitoring() {
  state_->checkThread();
  state_->stopFenceMonitoring();
}

bool OrvClientLocation::isGeofenceMonitoring() const {
  state_->checkThread();
  return state_->fenceStream != nullptr;
}

void OrvClientLocation::State::startFenceMonitoring(std::shared_ptr<GeofenceMonitor> monitor) {
  const std::shared_ptr<State> self = shared_from_this();
  if (!monitor) return stopFenceMonitoring();
  if (!checkConsentAndKey()) return;
  ++fenceNumber;
  fenceMonitor = std::move(monitor);
  if (fenceStream) return;  // the stream goes on, into the new monitor
  detail::sdkLog("startGeofenceMonitoring");
  fenceFeed = std::make_shared<FenceFeed>(weak_from_this());
  const auto stream = detail::LocationController::create();
  fenceStream = stream;
  stream->initOption();
  stream->setDelegate(fenceFeed);
  // A refused start reports inside this call, which has then already ended monitoring.
  stream->startEveryFixUpdates();
}

void OrvClientLocation::State::stopFenceMonitoring() {
  ++fenceNumber;
  fenceMonitor.reset();
  if (const auto stream = std::exchange(fenceStream, nullptr)) {
    detail::sdkLog("stopGeofenceMonitoring");
    stream->stopUpdating();
  }
  fenceFeed.reset();
}

void OrvClientLocation::State::feedFences(const std::vector<Location>& fixes) {
  // The host may stop monitoring, replace the monitor or let go of the client in any callback.
  const std::shared_ptr<State> self = shared_from_this();
  const std::shared_ptr<GeofenceMonitor> monitor = fenceMonitor;
  const uint64_t number = fenceNumber;
  const auto current = [&] { return !released && fenceNumber == number; };
  for (const Location& fix : fixes) {
    if (!monitor || !current()) return;
    if (fix.coordinate.latitude == 0.0 || fix.coordinate.longitude == 0.0) continue;
    const auto events = monitor->update(fix);
    if (!events) {
      detail::sdkLog(events.error().message);
      reportError(detail::makeLocationError(ErrorCode::geofenceFailure, kGeofenceErrorDomain,
                                            events.error().message));
      continue;
    }
    for (const GeofenceEvent& event : *events) {
      if (!current()) return;
      if (const std::shared_ptr<LocationDelegate> delegate = callDelegate) {
        delegate->onGeofenceEvent(event);
      }
    }
  }
}

void OrvClientLocation::State::fenceStreamFailed(const std::string& text, ErrorCode code) {
  const std::shared_ptr<State> self = shared_from_this();
  // Ends monitoring for good, as a failure ends a run: reported once, restarted by the host.
  stopFenceMonitoring();
  reportError(detail::makeLocationError(code, detail::kLocationDomain, "定位失败：" + text));
}

}  // namespace orv
