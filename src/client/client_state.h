// The client's state, shared with the requests in flight and referred to weakly by the controller
// and the sampling timer.
#pragma once

#include <cassert>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "orv/client.h"
#include "orv/location.h"
#include "orv/run_loop.h"
#include "platform/run_loop_impl.h"
#include "positioning/location_controller.h"

namespace orv {

namespace detail {
struct RequestControl;
}

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
  // Geofence monitoring: the host's monitor and a stream of its own, fed through `fenceFeed`.
  std::shared_ptr<GeofenceMonitor> fenceMonitor;
  std::shared_ptr<detail::LocationController> fenceStream;
  std::shared_ptr<detail::LocationControllerDelegate> fenceFeed;
  // Counts starts and stops, so a delivery can tell whether the host changed monitoring inside
  // a callback.
  uint64_t fenceNumber = 0;
  // Run when the host lets go of the client: what it started beyond single requests (batches)
  // ends then.
  std::vector<std::function<void()>> onRelease;
  std::vector<std::weak_ptr<detail::RequestControl>> requests;
  size_t requestsAfterSweep = 8;

  // The creating thread and its loop: every outcome of this client is delivered there.
  std::thread::id homeThread = std::this_thread::get_id();
  std::shared_ptr<detail::LoopHandle> home = detail::handleOf(RunLoop::current());

  // Debug builds stop a call from another thread: the client's state is not shared.
  void checkThread() const {
    assert(std::this_thread::get_id() == homeThread &&
           "orv::OrvClientLocation called off the thread that created it: call a client only on "
           "its own thread, whose run loop delivers its outcomes");
  }

  // The consent-and-key gate of every operation; reports its failure itself.
  bool checkConsentAndKey();
  // Reports `error` to the delegate, if any.
  void reportError(const LocationError& error);
  // Logs `msg`, then reports it: how an operation turns down a call.
  void refuse(ErrorCode code, std::string_view msg);

  // Positioning runs.
  void beginLocating();
  void stopLocation();
  // Stops the sampling timer and the controller's updates.
  void haltUpdates();
  void startSampleTimer();
  void handleLocationFix(const Location* location);

  // Geofence monitoring.
  void startFenceMonitoring(std::shared_ptr<GeofenceMonitor> monitor);
  void stopFenceMonitoring();
  void feedFences(const std::vector<Location>& fixes);
  void fenceStreamFailed(const std::string& text, ErrorCode code);

  // Requests.
  RequestHandle getTrackLocation(const Location& location);
  // Requests whose outcome is dropped once the host lets go of the client: their transfers are
  // aborted then.
  void trackForRelease(std::weak_ptr<detail::RequestControl> control);
  void cancelRequests();

  // LocationControllerDelegate
  void locationSuccessWithLocation(const Location& location) override;
  void locationFailedWithErrorMsg(const std::string& text, ErrorCode code) override;
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
inline constexpr std::string_view kNoConsentMessage = "您未同意隐私政策";
inline constexpr std::string_view kNoKeyMessage = "您未配置 Appkey";
inline constexpr std::string_view kInvalidIntervalMessage = "定位间隔无效：interval 必须大于 0 秒";

}  // namespace detail

}  // namespace orv
