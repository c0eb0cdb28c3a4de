// Positioning runs: single, fast single and continuous, over the client's LocationController.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "client/client_state.h"
#include "network/network_checker.h"
#include "orv/coord_transform.h"
#include "platform/log.h"

namespace orv {

void OrvClientLocation::startLocation() { state_->beginLocating(); }

void OrvClientLocation::startFastLocation() {
  state_->isLocateOnce = true;
  state_->isFastLocation = true;
  state_->beginLocating();
}

void OrvClientLocation::stopLocation() { state_->stopLocation(); }

void OrvClientLocation::State::beginLocating() {
  // The host may let go of the client inside any callback this start causes (a refusal is
  // reported before the controller's start call returns).
  const std::shared_ptr<State> self = shared_from_this();
  if (!checkConsentAndKey()) return;
  if (isLocating) return;
  if (!isLocateOnce && !detail::isValidInterval(interval)) {
    // A timer of no period would sample (and send) as fast as the loop turns.
    refuse(detail::kInvalidIntervalMessage);
    return;
  }
  // The run keeps the kind it started as: flags the host changes meanwhile apply to the next one.
  runIsOnce = isLocateOnce;
  runInterval = interval;
  ++runNumber;
  isLocating = true;
  const std::shared_ptr<detail::LocationController> controller = locateDelegate;
  starting = true;
  if (runIsOnce) {
    controller->requestOnceLocation(isFastLocation);
  } else {
    controller->startContinuousLocation();
  }
  starting = false;
}

void OrvClientLocation::State::stopLocation() {
  if (!isLocating) return;
  detail::sdkLog("stopLocation");
  haltUpdates();
  isLocating = false;
}

void OrvClientLocation::State::haltUpdates() {
  if (timerSchedule) {
    timerSchedule->invalidate();
    timerSchedule.reset();
  }
  if (locateDelegate) locateDelegate->stopUpdating();
}

void OrvClientLocation::State::locationSuccessWithLocation(const Location& location) {
  // The delegate may let go of the client from inside a callback.
  const std::shared_ptr<State> self = shared_from_this();
  if (!isLocating || released) return;
  if (runIsOnce) {
    const uint64_t run = runNumber;
    handleLocationFix(&location);
    // The host may already have stopped the run, or started another, from inside its callback.
    if (!isLocating || runNumber != run) return;
    isLocating = false;
    if (locateDelegate) locateDelegate->stopUpdating();
    return;
  }
  if (timerSchedule) return;  // the timer samples the controller from now on
  const uint64_t run = runNumber;
  handleLocationFix(&location);
  if (isLocating && !released && runNumber == run) startSampleTimer();
}

void OrvClientLocation::State::startSampleTimer() {
  // The interval accepted at the start stands in for one made invalid since.
  const double period = std::max(detail::isValidInterval(interval) ? interval : runInterval,
                                 detail::kMinSamplePeriod);
  std::weak_ptr<State> weak = shared_from_this();
  timerSchedule = Timer::scheduled(std::chrono::duration<double>(period), true, [weak](Timer& t) {
    const std::shared_ptr<State> state = weak.lock();
    if (!state || state->released) {
      // Nothing is left to sample for; stop waking the loop.
      t.invalidate();
      return;
    }
    state->handleLocationFix(state->locateDelegate ? &state->locateDelegate->locationPoint()
                                                   : nullptr);
  });
}

void OrvClientLocation::State::locationFailedWithErrorMsg(const std::string& text) {
  const std::shared_ptr<State> self = shared_from_this();
  // A failure ends the run under way for good, whatever its kind: a continuous run's timer would
  // go on sending requests that stopLocation (idle once isLocating is false) could never stop,
  // and a fast window left armed would later stop the next run's updates. A refused start has
  // nothing running to stop.
  const bool underWay = isLocating && !starting;
  isLocating = false;
  if (underWay) haltUpdates();
  reportError("定位失败：" + text);
}

void OrvClientLocation::State::handleLocationFix(const Location* location) {
  if (location == nullptr || location->coordinate.latitude == 0.0 ||
      location->coordinate.longitude == 0.0) {
    detail::sdkLog("定位数据为空/无效");
    return;
  }
  if (detail::NetworkChecker::isNetworkReachable()) {
    getTrackLocation(*location);
    return;
  }
  // Without network the answer is made here: the fix in GCJ-02, stamped now, nothing else.
  const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ(location->coordinate);
  auto answer = std::make_shared<LocationRes>();
  answer->location()->position()->point()->setLatitude(gcj.latitude);
  answer->location()->position()->point()->setLongitude(gcj.longitude);
  answer->location()->setTimestamp(detail::currentMilliStamp());
  if (const std::shared_ptr<LocationDelegate> delegate = callDelegate) {
    delegate->onReceivedLocationWithOrvLocation(std::move(answer));
  }
}

}  // namespace orv
