#include "orv/client.h"

#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <utility>

#include "client/client_state.h"
#include "client/location_error.h"
#include "orv/version.h"
#include "platform/log.h"

namespace orv {
namespace {

// Written only by initKey (of any client); read by every request. Clients may live on different
// threads, so the process-wide key is guarded.
struct SharedKey {
  std::mutex mutex;
  std::string key;
};
SharedKey& sharedKey() {
  static SharedKey shared;
  return shared;
}

using detail::kNoConsentMessage;
using detail::kNoKeyMessage;

}  // namespace

namespace detail {

int64_t milliStampFromSeconds(double secondsSince1970) {
  return static_cast<int64_t>(std::round(secondsSince1970 * 1000.0));
}

int64_t currentMilliStamp() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return milliStampFromSeconds(std::chrono::duration<double>(sinceEpoch).count());
}

bool isValidInterval(double seconds) { return seconds > 0.0; }  // false for NaN too

}  // namespace detail

bool OrvClientLocation::State::checkConsentAndKey() {
  if (!isAgree) {
    refuse(ErrorCode::consentMissing, kNoConsentMessage);
    return false;
  }
  if (!accesskey) {
    refuse(ErrorCode::keyMissing, kNoKeyMessage);
    return false;
  }
  return true;
}

void OrvClientLocation::State::reportError(const LocationError& error) {
  // Held for the call: the delegate may replace itself from inside its callback.
  if (auto delegate = callDelegate) delegate->onLocationError(error);
}

void OrvClientLocation::State::refuse(ErrorCode code, std::string_view msg) {
  detail::sdkLog(msg);
  reportError(detail::makeLocationError(code, detail::kClientDomain, std::string(msg)));
}

OrvClientLocation::OrvClientLocation(std::shared_ptr<LocationDelegate> delegate)
    : state_(std::make_shared<State>()) {
  state_->callDelegate = std::move(delegate);
  state_->locateDelegate = detail::LocationController::create();
  state_->locateDelegate->initOption();
  detail::writeLine("[orvLib] SDK版本: " + OrvVersion::sdkVersion() + " (build " +
                    OrvVersion::buildNumber() + ")");
  state_->locateDelegate->setDelegate(state_);
}

OrvClientLocation::~OrvClientLocation() {
  state_->checkThread();
  // A place search in flight may keep the state alive to deliver its outcome; nothing else may
  // act for this client any more. A running sampling timer ends itself at its next tick.
  state_->released = true;
  state_->cancelRequests();
  for (auto& release : std::exchange(state_->onRelease, {})) release();
  state_->timerSchedule.reset();
  state_->locateDelegate.reset();
  state_->stopFenceMonitoring();
}

void OrvClientLocation::initKey(const std::string& accesskey) {
  state_->checkThread();
  state_->accesskey = accesskey;
  SharedKey& shared = sharedKey();
  std::lock_guard lock(shared.mutex);
  shared.key = accesskey;
}

void OrvClientLocation::setAgreePrivacy(bool isAgree) {
  state_->checkThread();
  state_->isAgree = isAgree;
}

void OrvClientLocation::setLocationDelegate(std::shared_ptr<LocationDelegate> delegate) {
  state_->checkThread();
  setCallDelegate(std::move(delegate));
}

int64_t OrvClientLocation::milliStamp() const { return detail::currentMilliStamp(); }

const std::shared_ptr<LocationDelegate>& OrvClientLocation::callDelegate() const {
  state_->checkThread();
  return state_->callDelegate;
}
void OrvClientLocation::setCallDelegate(std::shared_ptr<LocationDelegate> delegate) {
  state_->checkThread();
  state_->callDelegate = std::move(delegate);
}
const std::optional<std::string>& OrvClientLocation::accesskey() const {
  state_->checkThread();
  return state_->accesskey;
}
void OrvClientLocation::setAccesskey(std::optional<std::string> accesskey) {
  state_->checkThread();
  state_->accesskey = std::move(accesskey);
}
double OrvClientLocation::interval() const {
  state_->checkThread();
  return state_->interval;
}
void OrvClientLocation::setInterval(double seconds) {
  state_->checkThread();
  state_->interval = seconds;
}
bool OrvClientLocation::isLocateOnce() const {
  state_->checkThread();
  return state_->isLocateOnce;
}
void OrvClientLocation::setIsLocateOnce(bool value) {
  state_->checkThread();
  state_->isLocateOnce = value;
}
bool OrvClientLocation::isFastLocation() const {
  state_->checkThread();
  return state_->isFastLocation;
}
void OrvClientLocation::setIsFastLocation(bool value) {
  state_->checkThread();
  state_->isFastLocation = value;
}
bool OrvClientLocation::isAgree() const {
  state_->checkThread();
  return state_->isAgree;
}
void OrvClientLocation::setIsAgree(bool value) {
  state_->checkThread();
  state_->isAgree = value;
}

bool OrvClientLocation::isLogEnabled() { return detail::logEnabled(); }
void OrvClientLocation::setIsLogEnabled(bool enabled) { detail::setLogEnabled(enabled); }
void OrvClientLocation::setLogSink(std::function<void(std::string_view line)> sink) {
  detail::setLogSink(std::move(sink));
}
std::string OrvClientLocation::sharedAccessKey() {
  SharedKey& shared = sharedKey();
  std::lock_guard lock(shared.mutex);
  return shared.key;
}
void OrvClientLocation::setServiceConfiguration(const ServiceConfiguration& config) {
  orv::setServiceConfiguration(config);
}

}  // namespace orv
