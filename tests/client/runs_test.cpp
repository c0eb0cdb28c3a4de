// Positioning runs on the manual clock with the simulated location provider.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "client/client_state.h"
#include "client_fixture.h"
#include "manager_call_spy.h"
#include "network/service.h"
#include "orv/bundle.h"
#include "orv/coord_transform.h"
#include "orv/location_service.h"
#include "platform/manual_clock.h"

namespace orv::test {
namespace {

using std::chrono::milliseconds;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

// Fixes far enough apart for the service's 3 m distance filter.
Location fix(int n, double accuracy = 10.0) {
  Location l;
  l.coordinate = {39.9 + 0.001 * n, 116.4};
  l.horizontalAccuracy = accuracy;
  return l;
}

class RunTest : public ClientTest {
 protected:
  RunTest() {
    provider->setAuthorizationStatus(AuthorizationStatus::authorizedWhenInUse);
    Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription", std::string("test"));
    setReachable(false);
  }
  ~RunTest() override {
    client.reset();
    Bundle::mainBundle().clear();
    LocationService::useNone();
  }

  void push(const Location& l) {
    provider->pushLocation(l);
    clock.advance(milliseconds(0));
  }
  void pushError(const std::string& text) {
    provider->pushError(text);
    clock.advance(milliseconds(0));
  }
  // Latitudes of the answers so far, in order, as indexes of fix().
  std::vector<int> answered() const {
    std::vector<int> out;
    for (const auto& res : delegate->locations) {
      const Coordinate wgs = JyrCoorTransform::transformFromGCJToWGS(
          {res->location()->position()->point()->latitude(),
           res->location()->position()->point()->longitude()});
      out.push_back(static_cast<int>(std::lround((wgs.latitude - 39.9) / 0.001)));
    }
    return out;
  }
  size_t managerCalls(const std::string& name) const {
    const auto calls = spy.calls();
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), name));
  }

  std::shared_ptr<SimulatedLocationProvider> provider = LocationService::useSimulated();
  ManagerCallSpy spy;
  detail::ManualClock clock{RunLoop::main()};
  std::unique_ptr<OrvClientLocation> client = makeClient();
};

TEST_F(RunTest, OfflineAnswerIsTheFixInGcj02StampedNow) {
  struct Case {
    Coordinate wgs;
  };
  for (Case c : {Case{{39.9, 116.4}}, Case{{48.85, 2.35}}}) {
    const size_t answers = delegate->locations.size();
    Location l;
    l.coordinate = c.wgs;
    const int64_t before = detail::currentMilliStamp();
    client->startLocation();
    push(l);
    ASSERT_EQ(delegate->locations.size(), answers + 1);
    const auto& res = *delegate->locations.back();
    const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ(c.wgs);
    EXPECT_EQ(res.location()->position()->point()->latitude(), gcj.latitude);
    EXPECT_EQ(res.location()->position()->point()->longitude(), gcj.longitude);
    EXPECT_GE(res.location()->timestamp(), before);
    EXPECT_LE(res.location()->timestamp(), detail::currentMilliStamp());
    // Everything else keeps the defaults.
    LocationRes expected;
    expected.location()->position()->point()->setLatitude(gcj.latitude);
    expected.location()->position()->point()->setLongitude(gcj.longitude);
    expected.location()->setTimestamp(res.location()->timestamp());
    EXPECT_EQ(res.encode().value(), expected.encode().value());
  }
  // Outside the conversion region the coordinate comes back unchanged.
  EXPECT_NE(delegate->locations[0]->location()->position()->point()->latitude(), 39.9);
  EXPECT_EQ(delegate->locations[1]->location()->position()->point()->latitude(), 48.85);
}

TEST_F(RunTest, SingleRunTakesTheFirstFixAndStops) {
  client->startLocation();
  EXPECT_EQ(managerCalls("requestLocation"), 1u);
  push(fix(1));
  EXPECT_EQ(managerCalls("stopUpdatingLocation"), 1u);
  push(fix(2));  // after the run: ignored
  EXPECT_EQ(answered(), std::vector<int>{1});
  EXPECT_EQ(trace.count("stopLocation"), 0u);
  // The run is over, so a new one starts.
  client->startLocation();
  EXPECT_EQ(managerCalls("requestLocation"), 2u);
}

TEST_F(RunTest, FastRunReportsTheMostAccurateFixOfTheWindowAndStaysFast) {
  client->startFastLocation();
  EXPECT_TRUE(client->isLocateOnce());
  EXPECT_TRUE(client->isFastLocation());
  push(fix(1, 30));
  push(fix(2, 10));
  push(fix(3, 10));
  push(fix(4, 5));
  EXPECT_TRUE(delegate->locations.empty());
  clock.advance(milliseconds(200));
  EXPECT_EQ(answered(), std::vector<int>{4});

  // The flags stay, so a plain start is a fast single run again.
  spy.clear();
  client->startLocation();
  EXPECT_EQ(managerCalls("startUpdatingLocation"), 1u);
  EXPECT_EQ(managerCalls("requestLocation"), 0u);
}

class TickTest : public RunTest, public ::testing::WithParamInterface<double> {};

TEST_P(TickTest, FirstFixAtOnceThenTheNewestEveryInterval) {
  const auto period =
      std::chrono::duration_cast<RunLoop::Duration>(std::chrono::duration<double>(GetParam()));
  client->setIsLocateOnce(false);
  client->setInterval(GetParam());
  client->startLocation();
  push(fix(1));
  EXPECT_EQ(answered(), std::vector<int>{1});
  client->setInterval(1000.0);  // read only when the run's timer starts
  clock.advance(period / 2);
  push(fix(2));  // not handled directly: the timer samples it
  EXPECT_EQ(answered(), std::vector<int>{1});
  clock.advance(period / 2 - milliseconds(1));
  EXPECT_EQ(answered(), std::vector<int>{1});
  clock.advance(milliseconds(1));
  EXPECT_EQ(answered(), (std::vector<int>{1, 2}));
  clock.advance(period);  // not moving still gives one answer per period
  EXPECT_EQ(answered(), (std::vector<int>{1, 2, 2}));
  push(fix(3));
  clock.advance(period);
  EXPECT_EQ(answered(), (std::vector<int>{1, 2, 2, 3}));

  client->stopLocation();
  clock.advance(period * 3);
  EXPECT_EQ(delegate->locations.size(), 4u);
  EXPECT_EQ(managerCalls("stopUpdatingLocation"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Intervals, TickTest, ::testing::Values(1.0, 5.0, 0.25));

TEST_F(RunTest, SecondStartIsIgnoredAndIdleStopIsSilent) {
  trace.events.clear();
  client->stopLocation();
  EXPECT_TRUE(trace.events.empty());
  EXPECT_EQ(managerCalls("stopUpdatingLocation"), 0u);

  client->setIsLocateOnce(false);
  client->startLocation();
  trace.events.clear();
  spy.clear();
  client->startLocation();
  client->startFastLocation();
  EXPECT_TRUE(trace.events.empty());
  EXPECT_TRUE(spy.calls().empty());

  client->stopLocation();
  EXPECT_THAT(trace.events, ElementsAre("stopLocation", "手动停止定位成功"));
  trace.events.clear();
  client->stopLocation();
  EXPECT_TRUE(trace.events.empty());
}

// Each refusal's text is the controller's; here it reaches the host and ends the run.
TEST_F(RunTest, RefusedStartIsReportedBeforeStartReturns) {
  for (bool once : {true, false}) {
    provider->setAuthorizationStatus(AuthorizationStatus::denied);
    client->setIsLocateOnce(once);
    delegate->errors.clear();
    client->startLocation();
    EXPECT_THAT(delegate->errors, ElementsAre("定位失败：定位权限已被拒绝或受限，请前往设置开启"));

    // The run ended with the refusal: once allowed, the next start goes ahead.
    provider->setAuthorizationStatus(AuthorizationStatus::authorizedWhenInUse);
    spy.clear();
    client->startLocation();
    EXPECT_EQ(managerCalls(once ? "requestLocation" : "startUpdatingLocation"), 1u);
    client->stopLocation();
  }
  // The host may let go of the client inside the refusal, while startLocation is still running.
  provider->setAuthorizationStatus(AuthorizationStatus::denied);
  delegate->afterError = [&] { client.reset(); };
  client->startLocation();
  EXPECT_EQ(client, nullptr);
}

TEST_F(RunTest, ConsentWithdrawnMidRunStopsOnlyTheNetworkRoad) {
  client->setIsLocateOnce(false);
  client->startLocation();
  push(fix(1));
  client->setAgreePrivacy(false);
  setReachable(true);
  clock.advance(std::chrono::seconds(1));
  clock.advance(std::chrono::seconds(1));
  EXPECT_THAT(delegate->errors, ElementsAre("您未同意隐私政策", "您未同意隐私政策"));
  setReachable(false);
  clock.advance(std::chrono::seconds(1));
  EXPECT_EQ(answered(), (std::vector<int>{1, 1}));
  EXPECT_EQ(server.receivedCount(), 0u);
}

TEST_F(RunTest, ReachableTicksAskTheService) {
  answer(std::string(detail::kTrackPointsPath), 200, kLocationAnswer);
  setReachable(true);
  client->setIsLocateOnce(false);
  client->startLocation();
  push(fix(1));
  clock.advance(std::chrono::seconds(1));
  ASSERT_TRUE(waitFor([&] { return delegate->locations.size() == 2; }));
  EXPECT_EQ(server.receivedCount(), 2u);
  EXPECT_EQ(delegate->locations[0]->location()->place()->name(), "Example Tower");
}

TEST_F(RunTest, DestroyedClientsTimerDoesNothing) {
  client->setIsLocateOnce(false);
  client->startLocation();
  push(fix(1));
  client.reset();
  trace.events.clear();
  clock.advance(std::chrono::seconds(5));
  push(fix(2));
  EXPECT_EQ(delegate->calls, 1u);
  EXPECT_TRUE(trace.events.empty());
  EXPECT_FALSE(RunLoop::main().timeUntilNextTimer().has_value());
}

TEST_F(RunTest, HostMayStopOrLetGoFromInsideItsCallback) {
  client->setIsLocateOnce(false);
  delegate->afterLocation = [&] { client->stopLocation(); };
  client->startLocation();
  push(fix(1));
  EXPECT_FALSE(RunLoop::main().timeUntilNextTimer().has_value());

  delegate->afterLocation = [&] { client.reset(); };
  OrvClientLocation* raw = client.get();
  raw->startLocation();
  push(fix(2));
  EXPECT_EQ(client, nullptr);
  clock.advance(std::chrono::seconds(3));
  EXPECT_EQ(answered(), (std::vector<int>{1, 2}));
  EXPECT_FALSE(RunLoop::main().timeUntilNextTimer().has_value());
}

TEST_F(RunTest, PlatformFailureEndsAContinuousRunOnce) {
  for (bool sampling : {false, true}) {
    delegate->errors.clear();
    spy.clear();
    client->setIsLocateOnce(false);
    client->startLocation();
    if (sampling) push(fix(1));
    const size_t answers = delegate->locations.size();
    pushError("信号丢失");
    EXPECT_THAT(delegate->errors, ElementsAre("定位失败：信号丢失"));
    EXPECT_EQ(managerCalls("stopUpdatingLocation"), 1u);
    EXPECT_FALSE(provider->isUpdating());
    clock.advance(std::chrono::seconds(5));
    push(fix(2));
    EXPECT_EQ(delegate->locations.size(), answers);
    EXPECT_EQ(delegate->errors.size(), 1u);
    // Nothing is left running for stopLocation to stop.
    trace.events.clear();
    client->stopLocation();
    EXPECT_TRUE(trace.events.empty());
  }
}

TEST_F(RunTest, PlatformFailureEndsASingleRunWithoutStoppingTheController) {
  client->startLocation();
  pushError("信号丢失");
  EXPECT_THAT(delegate->errors, ElementsAre("定位失败：信号丢失"));
  EXPECT_THAT(spy.calls(), Not(Contains("stopUpdatingLocation")));
  push(fix(1));
  EXPECT_TRUE(delegate->locations.empty());
}

TEST_F(RunTest, ContinuousRunRefusesAnIntervalThatIsNotPositive) {
  client->setIsLocateOnce(false);
  for (double interval : {0.0, -1.0, std::nan("")}) {
    delegate->errors.clear();
    trace.events.clear();
    spy.clear();
    client->setInterval(interval);
    client->startLocation();
    EXPECT_THAT(delegate->errors, ElementsAre(std::string(detail::kInvalidIntervalMessage)));
    EXPECT_EQ(trace.count(std::string(detail::kInvalidIntervalMessage)), 1u);
    EXPECT_TRUE(spy.calls().empty());
  }
  // A single run never reads it.
  client->setIsLocateOnce(true);
  client->startLocation();
  push(fix(1));
  EXPECT_EQ(answered(), std::vector<int>{1});
}

TEST_F(RunTest, IntervalMadeInvalidBeforeTheFirstFixKeepsTheAcceptedOne) {
  client->setIsLocateOnce(false);
  client->setInterval(2.0);
  client->startLocation();
  client->setInterval(0.0);
  push(fix(1));
  clock.advance(std::chrono::seconds(1));
  EXPECT_EQ(delegate->locations.size(), 1u);
  clock.advance(std::chrono::seconds(1));
  EXPECT_EQ(delegate->locations.size(), 2u);
}

}  // namespace
}  // namespace orv::test
