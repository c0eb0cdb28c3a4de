// The client's state, shared with the requests in flight and referred to weakly by the controller
// and the sampling timer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "orv/client.h"
#include "orv/location.h"
#include "orv/run_loop.h"
#include "positioning/location_controller.h"

namespace orv {

struct OrvClientLocation::State : detail::LocationControllerDelegate,
                                  std::enable_shared_from_this<OrvClientLocation::State> {
  std::shared_ptr<LocationDelegate> callDelegate;
  std::optional<std::string> accesskey;
  double interval = 1.0;
  bool isLocateOnce = true;
  bool isFastLocation = false;
  bool isAgree = false;
  std::shared_ptr<Timer> timerSchedule;
  bool isLocating = false;
  std::shared_ptr<detail::LocationController> locateDelegate;

  // Set when the host lets go of its OrvClientLocation. The state itself may live on for a place
  // search in flight, which still delivers; everything else then counts the client as gone.
  bool released = false;
  // True while beginLocating waits inside the controller's start call, so a refused start is
  // told apart from a failure of a run that is under way.
  bool starting = false;
  // The sampling period accepted when the current continuous run started.
  double runInterval = 1.0;
  // The kind of the current run, fixed when it starts (isLocateOnce may change meanwhile).
  bool runIsOnce = true;
  // Counts starts, so a callback can tell whether the host started another run inside it.
  uint64_t runNumber = 0;

  // The consent-and-key gate of every operation; reports its failure itself.
  bool checkConsentAndKey();
  // Reports `msg` to the delegate, if any.
  void reportError(const std::string& msg);
  // Logs `msg`, then reports it: how an operation turns down a call.
  void refuse(std::string_view msg);

  // Positioning runs.
  void beginLocating();
  void stopLocation();
  // Stops the sampling timer and the controller's updates.
  void haltUpdates();
  void startSampleTimer();
  void handleLocationFix(const Location* location);

  // Requests.
  void getTrackLocation(const Location& location);

  // LocationControllerDelegate
  void locationSuccessWithLocation(const Location& location) override;
  void locationFailedWithErrorMsg(const std::string& text) override;
};

namespace detail {

// Seconds since 1970 to milliseconds, rounded half away from zero.
int64_t milliStampFromSeconds(double secondsSince1970);
// The current wall-clock time in milliseconds since 1970, as milliStampFromSeconds rounds it.
int64_t currentMilliStamp();

// The rule for a continuous run's sampling period: a positive number of seconds.
bool isValidInterval(double seconds);
// The shortest sampling period: below the run loop's resolution a timer would stall or fire on
// every pass.
inline constexpr double kMinSamplePeriod = 0.001;
inline constexpr std::string_view kInvalidIntervalMessage = "定位间隔无效：interval 必须大于 0 秒";

}  // namespace detail

}  // namespace orv
