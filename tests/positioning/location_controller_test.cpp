#include "positioning/location_controller.h"

#include <gtest/gtest.h>

#include <optional>

#include "manager_call_spy.h"
#include "orv/bundle.h"
#include "orv/location_service.h"
#include "platform/log.h"
#include "platform/manual_clock.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;

constexpr const char* kWhenInUseKey = "NSLocationWhenInUseUsageDescription";
constexpr const char* kAlwaysKey = "NSLocationAlwaysAndWhenInUseUsageDescription";
constexpr const char* kModesKey = "UIBackgroundModes";
constexpr const char* kStopLine = "log:手动停止定位成功";

Location fixAt(double lat, double lng, double accuracy) {
  Location l;
  l.coordinate = {lat, lng};
  l.horizontalAccuracy = accuracy;
  return l;
}

// A success report as the timeline records it.
std::string okFor(double lat, double accuracy) {
  return "ok:" + std::to_string(lat) + "/" + std::to_string(accuracy);
}

// Log lines and delegate calls in one timeline, so their relative order can be checked.
struct Timeline : LocationControllerDelegate {
  void locationSuccessWithLocation(const Location& l) override {
    events.push_back(okFor(l.coordinate.latitude, l.horizontalAccuracy));
    if (spy) lastCallAtReport = spy->calls().back();
  }
  void locationFailedWithErrorMsg(const std::string& text, ErrorCode) override {
    events.push_back("fail:" + text);
  }
  std::vector<std::string> reports() const {
    std::vector<std::string> out;
    for (const auto& e : events) {
      if (e.rfind("log:", 0) != 0) out.push_back(e);
    }
    return out;
  }
  std::vector<std::string> events;
  const test::ManagerCallSpy* spy = nullptr;
  std::string lastCallAtReport;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.processPending();
    Bundle::mainBundle().clear();
    Bundle::mainBundle().setObject(kWhenInUseKey, std::string());
    timeline->spy = &spy;
    setLogEnabled(true);
    setLogSink(
        [t = timeline](std::string_view line) { t->events.push_back("log:" + std::string(line)); });
    controller->initOption();
    controller->setDelegate(timeline);
    timeline->events.clear();
    spy.clear();
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
  test::ManagerCallSpy spy;
  std::shared_ptr<Timeline> timeline = std::make_shared<Timeline>();
  std::shared_ptr<LocationController> controller = LocationController::create();
};

TEST_F(ControllerTest, InitOptionConfiguresTheManagerAndAsksForWhenInUse) {
  auto fresh = LocationController::create();
  fresh->initOption();
  EXPECT_EQ(spy.calls(),
            (std::vector<std::string>{"setDistanceFilter:3", "setDesiredAccuracy:-1", "setDelegate",
                                      "setPausesLocationUpdatesAutomatically:false",
                                      "requestWhenInUseAuthorization"}));
  EXPECT_EQ(timeline->events, (std::vector<std::string>{"log:initOption："}));
  EXPECT_FALSE(sim->isUpdating());
}

struct StartCase {
  const char* name;
  std::optional<InfoValue> whenInUse;
  int status;
  std::optional<InfoValue> modes;
  std::optional<InfoValue> always;
  std::optional<int> afterAlways;
  std::vector<std::string> events;  // written with logging off: failures and the two warnings
  std::vector<std::string> calls;
  bool continuous;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kLocationMode{"location"};
const std::string kText = "why";
const std::vector<std::string> kForegroundStart{"startUpdatingLocation"};
const std::vector<std::string> kBackgroundStart{"setAllowsBackgroundLocationUpdates:true",
                                                "startUpdatingLocation"};
const std::vector<std::string> kUpgradeStart{"setAllowsBackgroundLocationUpdates:true",
                                             "requestAlwaysAuthorization", "startUpdatingLocation"};
const std::string kNoMode =
    "log:未配置后台定位能力（UIBackgroundModes → location），连续定位仅前台生效";
const std::string kNoBackground = "log:用户未授权后台定位，连续定位仅前台生效";

class ContinuousStartTest : public ControllerTest,
                            public ::testing::WithParamInterface<StartCase> {};

TEST_P(ContinuousStartTest, ChecksDeclarationsAndAuthorization) {
  const StartCase& c = GetParam();
  Bundle& bundle = Bundle::mainBundle();
  bundle.clear();
  if (c.whenInUse) bundle.setObject(kWhenInUseKey, *c.whenInUse);
  if (c.modes) bundle.setObject(kModesKey, *c.modes);
  if (c.always) bundle.setObject(kAlwaysKey, *c.always);
  sim->setAuthorizationStatus(AuthorizationStatus{c.status});
  std::optional<AuthorizationStatus> afterAlways;
  if (c.afterAlways) afterAlways = AuthorizationStatus{*c.afterAlways};
  sim->setStatusAfterRequest(std::nullopt, afterAlways);
  setLogEnabled(false);

  controller->startContinuousLocation();
  // Failures and warnings come before the call returns.
  EXPECT_EQ(timeline->events, c.events);
  EXPECT_EQ(spy.calls(), c.calls);
  EXPECT_EQ(sim->isUpdating(), !c.calls.empty());
  EXPECT_EQ(controller->isContinuousLocation(), c.continuous);
}

constexpr auto no = std::nullopt;
const std::string kNoWhenInUse = "fail:Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置";
const std::string kDenied = "fail:定位权限已被拒绝或受限，请前往设置开启";
const std::string kNoAlways =
    "fail:Info.plist 缺少 NSLocationAlwaysAndWhenInUseUsageDescription 配置，后台定位不可用";
const std::string kModeText = "location";
const std::vector<std::string> kOtherModes{"fetch", "Location"};  // the match is case-sensitive

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Branches, ContinuousStartTest,
    ::testing::Values(
        StartCase{"NoWhenInUse", no, 4, no, no, no,
                  {kNoWhenInUse}, {}, false},
        StartCase{"WhenInUseNotText", int64_t{1}, 4, no, no, no,
                  {kNoWhenInUse}, {}, false},
        StartCase{"Restricted", kText, 1, no, no, no,
                  {kDenied}, {}, false},
        StartCase{"Denied", kText, 2, kLocationMode, kText, no,
                  {kDenied}, {}, false},
        StartCase{"NotDeterminedForeground", kText, 0, no, no, no,
                  {kNoMode}, kForegroundStart, true},
        StartCase{"ModesAsSingleText", kText, 3, kModeText, kText, no,
                  {kNoMode}, kForegroundStart, true},
        StartCase{"ModesCaseSensitive", kText, 3, kOtherModes, kText, no,
                  {kNoMode}, kForegroundStart, true},
        StartCase{"BackgroundWithoutAlways", kText, 4, kLocationMode, no, no,
                  {kNoAlways}, {}, true},
        StartCase{"AlwaysAuthorized", kText, 3, kLocationMode, kText, no,
                  {}, kBackgroundStart, true},
        StartCase{"UpgradeStillWhenInUse", kText, 4, kLocationMode, kText, no,
                  {kNoBackground}, kUpgradeStart, true},
        StartCase{"UpgradeGranted", kText, 4, kLocationMode, kText, 3,
                  {}, kUpgradeStart, true},
        StartCase{"NotDeterminedNoUpgrade", kText, 0, kLocationMode, kText, 3,
                  {kNoBackground}, kBackgroundStart, true}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

struct OnceCase {
  const char* name;
  bool declared;
  int status;
  std::vector<std::string> reports;
  std::vector<std::string> calls;
};

void PrintTo(const OnceCase& c, std::ostream* os) { *os << c.name; }

class OnceStartTest : public ControllerTest, public ::testing::WithParamInterface<OnceCase> {};

TEST_P(OnceStartTest, ChecksLikeTheContinuousStart) {
  const OnceCase& c = GetParam();
  if (!c.declared) Bundle::mainBundle().removeObject(kWhenInUseKey);
  sim->setAuthorizationStatus(AuthorizationStatus{c.status});
  controller->requestOnceLocation(false);
  EXPECT_EQ(timeline->reports(), c.reports);
  EXPECT_EQ(spy.calls(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(Branches, OnceStartTest,
                         ::testing::Values(OnceCase{"NoWhenInUse", false, 4, {kNoWhenInUse}, {}},
                                           OnceCase{"Denied", true, 2, {kDenied}, {}},
                                           OnceCase{
                                               "NotDetermined", true, 0, {}, {"requestLocation"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerTest, PlainSingleLogsAndReportsTheFix) {
  controller->requestOnceLocation(false);
  EXPECT_EQ(timeline->events, (std::vector<std::string>{"log:请求单次定位："}));
  push({fixAt(39.9, 116.4, 65)});
  EXPECT_EQ(timeline->events.back(), okFor(39.9, 65));
  EXPECT_FALSE(sim->isUpdating());
}

struct WindowCase {
  std::vector<double> accuracies;
  size_t chosen;
};

void PrintTo(const WindowCase& c, std::ostream* os) {
  for (double a : c.accuracies) *os << a << ' ';
  *os << "-> #" << c.chosen;
}

class FastWindowTest : public ControllerTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(FastWindowTest, ReportsTheMostAccurateFixOnceAfterStopping) {
  const WindowCase& c = GetParam();
  controller->requestOnceLocation(true);
  EXPECT_EQ(timeline->events, (std::vector<std::string>{"log:请求单次定位（快速模式）："}));
  EXPECT_TRUE(controller->isFastOnceLocation());
  clock.advance(1s);  // the window opens at the first fix, not at the request
  for (size_t i = 0; i < c.accuracies.size(); ++i) {
    push({fixAt(30.0 + static_cast<double>(i), 120, c.accuracies[i])});
    clock.advance(40ms);
  }
  clock.advance(200ms - 40ms * static_cast<int>(c.accuracies.size()) - 1ms);
  EXPECT_TRUE(timeline->reports().empty());
  clock.advance(1ms);
  const std::string expected = okFor(30.0 + static_cast<double>(c.chosen), c.accuracies[c.chosen]);
  EXPECT_EQ(timeline->reports(), (std::vector<std::string>{expected}));
  ASSERT_GE(timeline->events.size(), 2u);
  EXPECT_EQ(timeline->events[timeline->events.size() - 2], kStopLine);
  EXPECT_EQ(timeline->lastCallAtReport, "stopUpdatingLocation");
  EXPECT_FALSE(sim->isUpdating());
  EXPECT_FALSE(controller->isFastOnceLocation());

  push({fixAt(50, 120, 1)});  // late fixes find the updates stopped
  clock.advance(1s);
  EXPECT_EQ(timeline->reports().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Choices, FastWindowTest,
                         ::testing::Values(WindowCase{{30, 10, 10, 5}, 3},
                                           WindowCase{{30, 10, 10}, 1}, WindowCase{{-1, 50}, 1},
                                           WindowCase{{-1, -1}, 0}, WindowCase{{5, -1, 7}, 0},
                                           WindowCase{{8}, 0}));

TEST_F(ControllerTest, PlatformErrorLeavesTheWindowOpen) {
  controller->requestOnceLocation(true);
  push({fixAt(31, 120, 5)});
  sim->pushError("信号弱");
  loop.processPending();
  EXPECT_EQ(timeline->events.back(), "fail:信号弱");
  EXPECT_EQ(timeline->events[timeline->events.size() - 2], "log:定位失败：信号弱");
  EXPECT_TRUE(sim->isUpdating());
  clock.advance(200ms);
  EXPECT_EQ(timeline->reports(), (std::vector<std::string>{"fail:信号弱", okFor(31, 5)}));
}

TEST_F(ControllerTest, WindowOpenWhenControllerGoesAwayReportsNothing) {
  controller->requestOnceLocation(true);
  push({fixAt(31, 120, 5)});
  controller.reset();
  EXPECT_FALSE(sim->isUpdating());
  clock.advance(1s);
  EXPECT_TRUE(timeline->reports().empty());
}

struct BatchCase {
  const char* name;
  std::vector<Location> batch;
  std::optional<double> reportedLatitude;
};

void PrintTo(const BatchCase& c, std::ostream* os) { *os << c.name; }

class FixHandlingTest : public ControllerTest, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(FixHandlingTest, OnlyTheNewestNonZeroFixCounts) {
  const BatchCase& c = GetParam();
  controller->startContinuousLocation();
  push({fixAt(10, 10, 10)});
  timeline->events.clear();
  push(c.batch);
  if (c.reportedLatitude) {
    EXPECT_EQ(timeline->reports(), (std::vector<std::string>{okFor(*c.reportedLatitude, 5)}));
    EXPECT_EQ(controller->locationPoint().coordinate.latitude, *c.reportedLatitude);
  } else {
    EXPECT_TRUE(timeline->events.empty());  // neither a report nor a log line
    EXPECT_EQ(controller->locationPoint().coordinate.latitude, 10);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Batches, FixHandlingTest,
    ::testing::Values(
        BatchCase{"Newest", {fixAt(30, 120, 5), fixAt(31, 121, 5)}, 31.0},
        BatchCase{"NewestZeroLatitude", {fixAt(30, 120, 5), fixAt(0, 121, 5)}, std::nullopt},
        BatchCase{"ZeroLongitude", {fixAt(31, 0, 5)}, std::nullopt},
        BatchCase{"NegativeIsFine", {fixAt(-31, -121, 5)}, -31.0}),
    [](const auto& info) { return std::string(info.param.name); });

struct LogCase {
  double lat, lng, accuracy;
  const char* line;
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.line; }

class FixLogTest : public ControllerTest, public ::testing::WithParamInterface<LogCase> {};

TEST_P(FixLogTest, ShortestRoundTripNumbers) {
  const LogCase& c = GetParam();
  controller->startContinuousLocation();
  timeline->events.clear();
  push({fixAt(c.lat, c.lng, c.accuracy)});
  ASSERT_FALSE(timeline->events.empty());
  EXPECT_EQ(timeline->events[0], std::string("log:") + c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, FixLogTest,
    ::testing::Values(LogCase{39.9, 116.4, 65, "纬度：39.9 经度：116.4 精度：65.0"},
                      LogCase{0.1 + 0.2, -120, -1,
                              "纬度：0.30000000000000004 经度：-120.0 精度：-1.0"},
                      LogCase{1e-5, 179.99999999999997, 1e16,
                              "纬度：1e-05 经度：179.99999999999997 精度：1e+16"}));

TEST_F(ControllerTest, StopWithoutAStartStillStopsAndLogs) {
  auto fresh = LocationController::create();
  fresh->stopUpdating();
  EXPECT_EQ(spy.calls(), (std::vector<std::string>{"setAllowsBackgroundLocationUpdates:false",
                                                   "stopUpdatingLocation"}));
  EXPECT_EQ(timeline->events, (std::vector<std::string>{kStopLine}));
}

TEST_F(ControllerTest, ContinuousReportsEachFixWithoutDelegateKeepingIt) {
  controller->startContinuousLocation();
  push({fixAt(30, 120, 5)});
  push({fixAt(31, 120, 5)});
  EXPECT_EQ(timeline->reports(), (std::vector<std::string>{okFor(30, 5), okFor(31, 5)}));
  setLogSink([](std::string_view) {});
  std::weak_ptr<Timeline> weak = timeline;
  timeline.reset();
  EXPECT_TRUE(weak.expired());
  push({fixAt(32, 120, 5)});
  EXPECT_EQ(controller->locationPoint().coordinate.latitude, 32);
}

}  // namespace
}  // namespace orv::detail
