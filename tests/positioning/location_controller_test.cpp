#include "positioning/location_controller.h"

#include <gtest/gtest.h>

#include <optional>

#include "manual_clock.h"
#include "orv/bundle.h"
#include "orv/location_service.h"
#include "platform/log.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;
using Status = AuthorizationStatus;

constexpr const char* kWhenInUseKey = "NSLocationWhenInUseUsageDescription";
constexpr const char* kStopLine = "log:手动停止定位成功";

Location fixAt(double lat, double lng, double accuracy = 5) {
  Location l;
  l.coordinate = {lat, lng};
  l.horizontalAccuracy = accuracy;
  return l;
}

std::string okFor(double lat, double accuracy = 5) {
  return "ok:" + std::to_string(lat) + "/" + std::to_string(accuracy);
}

// Log lines and delegate calls in one timeline, so their relative order can be checked.
struct Timeline : LocationControllerDelegate {
  void locationSuccessWithLocation(const Location& l) override {
    events.push_back(okFor(l.coordinate.latitude, l.horizontalAccuracy));
    updatingAtReport = sim->isUpdating();
  }
  void locationFailedWithErrorMsg(const std::string& text, ErrorCode) override {
    events.push_back("fail:" + text);
  }
  std::vector<std::string> reports() const {
    std::vector<std::string> out;
    for (const auto& e : events) {
      if (!e.starts_with("log:")) out.push_back(e);
    }
    return out;
  }
  std::vector<std::string> events;
  std::shared_ptr<SimulatedLocationProvider> sim;
  bool updatingAtReport = false;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.processPending();
    Bundle::mainBundle().setObject(kWhenInUseKey, std::string());
    timeline->sim = sim;
    setLogEnabled(true);
    setLogSink(
        [t = timeline](std::string_view line) { t->events.push_back("log:" + std::string(line)); });
    controller->initOption();
    controller->setDelegate(timeline);
    timeline->events.clear();
  }
  void TearDown() override {
    controller.reset();
    setLogSink({});
    setLogEnabled(false);
    Bundle::mainBundle().clear();
    LocationService::useNone();
    loop.processPending();
  }
  void push(std::vector<Location> batch) {
    sim->pushLocations(std::move(batch));
    loop.processPending();
  }

  RunLoop& loop = RunLoop::current();
  ManualClock clock{loop};
  std::shared_ptr<SimulatedLocationProvider> sim = LocationService::useSimulated();
  std::shared_ptr<Timeline> timeline = std::make_shared<Timeline>();
  std::shared_ptr<LocationController> controller = LocationController::create();
};

TEST_F(ControllerTest, InitOptionAsksForWhenInUseAndFiltersThreeMetres) {
  sim->setAuthorizationStatus(Status::notDetermined);
  sim->setStatusAfterRequest(Status::authorizedWhenInUse, std::nullopt);
  LocationController::create()->initOption();
  EXPECT_EQ(sim->authorizationStatus(), Status::authorizedWhenInUse);
  EXPECT_EQ(timeline->events, (std::vector<std::string>{"log:initOption："}));

  controller->startContinuousLocation();
  push({fixAt(30, 120)});
  push({fixAt(30.00002, 120)});  // about 2.2 m on
  push({fixAt(30.00004, 120)});  // about 4.4 m from the last one passed
  EXPECT_EQ(timeline->reports(), (std::vector<std::string>{okFor(30), okFor(30.00004)}));
}

const std::string kDenied = "fail:定位权限已被拒绝或受限，请前往设置开启";

// Failures and warnings come before the call returns; after a failure nothing streams.
TEST_F(ControllerTest, ContinuousStartChecksDeclarationsAndAuthorization) {
  using Modes = std::optional<std::vector<std::string>>;
  struct Case {
    std::optional<InfoValue> whenInUse;
    Status status;
    Modes modes;
    bool always;                        // declares the always text
    std::optional<Status> afterAlways;  // answer to the upgrade request
    std::string event;                  // with logging off: a failure, a warning or nothing
  };
  constexpr auto no = std::nullopt;
  const std::string why = "why";
  const Modes location = std::vector<std::string>{"location"};
  const Status inUse = Status::authorizedWhenInUse;
  // clang-format off
  const Case cases[] = {
      {int64_t{1}, inUse, no, false, no,  // not text counts as missing
       "fail:Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置"},
      {why, Status::denied, location, true, no, kDenied},
      {why, Status::notDetermined, std::vector<std::string>{"fetch", "Location"}, true, no,
       "log:未配置后台定位能力（UIBackgroundModes → location），连续定位仅前台生效"},
      {why, inUse, location, false, no,
       "fail:Info.plist 缺少 NSLocationAlwaysAndWhenInUseUsageDescription 配置，后台定位不可用"},
      {why, inUse, location, true, Status::authorizedAlways, ""},
      // Only "when in use" asks for the upgrade; granting it would silence the warning.
      {why, Status::notDetermined, location, true, Status::authorizedAlways,
       "log:用户未授权后台定位，连续定位仅前台生效"},
  };
  // clang-format on
  setLogEnabled(false);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    Bundle& bundle = Bundle::mainBundle();
    bundle.clear();
    if (c.whenInUse) bundle.setObject(kWhenInUseKey, *c.whenInUse);
    if (c.modes) bundle.setObject("UIBackgroundModes", *c.modes);
    if (c.always) bundle.setObject("NSLocationAlwaysAndWhenInUseUsageDescription", why);
    sim->setAuthorizationStatus(c.status);
    sim->setStatusAfterRequest(no, c.afterAlways);
    timeline->events.clear();
    controller->startContinuousLocation();
    const auto expected = c.event.empty() ? std::vector<std::string>{} : std::vector{c.event};
    EXPECT_EQ(timeline->events, expected) << i;
    EXPECT_EQ(sim->isUpdating(), !c.event.starts_with("fail:")) << i;
    controller->stopUpdating();
  }
}

// Ending the stream after its fix is the location manager's; the run's end is the client's.
TEST_F(ControllerTest, SingleRunLogsItsRequest) {
  controller->requestOnceLocation(false);
  EXPECT_EQ(timeline->events, (std::vector<std::string>{"log:请求单次定位："}));
}

// The window opens at the first fix, not at the request, and lasts 200 ms. The most accurate fix
// wins: ties keep the first; a negative accuracy is unknown and loses unless all are unknown.
TEST_F(ControllerTest, FastWindowReportsTheMostAccurateFixOnceAfterStopping) {
  const std::pair<std::vector<double>, size_t> cases[] = {
      {{30, 10, 10}, 1}, {{-1, 50}, 1}, {{-1, -1}, 0}, {{5, -1, 7}, 0}};
  for (const auto& [accuracies, chosen] : cases) {
    timeline->events.clear();
    controller->requestOnceLocation(true);
    EXPECT_EQ(timeline->events.at(0), "log:请求单次定位（快速模式）：");
    clock.advance(1s);
    for (size_t i = 0; i < accuracies.size(); ++i) {
      push({fixAt(30.0 + static_cast<double>(i), 120, accuracies[i])});
      clock.advance(40ms);
    }
    clock.advance(200ms - 40ms * static_cast<int>(accuracies.size()) - 1ms);
    EXPECT_TRUE(timeline->reports().empty());
    clock.advance(1ms);
    const auto expected = okFor(30.0 + static_cast<double>(chosen), accuracies[chosen]);
    EXPECT_EQ(timeline->reports(), std::vector<std::string>{expected});
    EXPECT_EQ(timeline->events[timeline->events.size() - 2], kStopLine);
    EXPECT_FALSE(timeline->updatingAtReport);
    push({fixAt(50, 120, 1)});  // late fixes find the updates stopped
    clock.advance(1s);
    EXPECT_EQ(timeline->reports().size(), 1u);
  }
}

// Only the newest fix of a batch counts, and only with both coordinates non-zero. Numbers are
// written shortest round-trip; whole ones keep a decimal, extreme magnitudes take an exponent.
TEST_F(ControllerTest, NewestNonZeroFixCountsAndIsLogged) {
  controller->startContinuousLocation();
  timeline->events.clear();
  push({fixAt(30, 120), fixAt(0.1 + 0.2, -120, -1)});
  push({fixAt(1e-5, 179.99999999999997, 1e16)});
  push({fixAt(31, 120), fixAt(0, 121)});
  push({fixAt(31, 0)});
  EXPECT_EQ(timeline->events,
            (std::vector<std::string>{
                "log:纬度：0.30000000000000004 经度：-120.0 精度：-1.0", okFor(0.1 + 0.2, -1),
                "log:纬度：1e-05 经度：179.99999999999997 精度：1e+16", okFor(1e-5, 1e16)}));
  EXPECT_EQ(controller->locationPoint().coordinate.latitude, 1e-5);
}

}  // namespace
}  // namespace orv::detail
