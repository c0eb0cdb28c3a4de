// Positioning runs on the manual clock with the simulated location provider.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <random>

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

class RunTest : public PositioningTest {
 protected:
  ~RunTest() override { client.reset(); }  // while the clock and the spy are still there
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

  ManagerCallSpy spy;
  detail::ManualClock clock{RunLoop::main()};
};

TEST_F(RunTest, OfflineAnswerIsTheFixInGcj02StampedNow) {
  // Outside the conversion region the coordinate comes back unchanged.
  for (const Coordinate wgs : {Coordinate{39.9, 116.4}, Coordinate{48.85, 2.35}}) {
    Location l;
    l.coordinate = wgs;
    const int64_t before = detail::currentMilliStamp();
    client->startLocation();
    push(l);
    const auto& res = *delegate->locations.back();
    const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ(wgs);
    EXPECT_GE(res.location()->timestamp(), before);
    EXPECT_LE(res.location()->timestamp(), detail::currentMilliStamp());
    // Everything else keeps the defaults.
    LocationRes expected;
    expected.location()->position()->point()->setLatitude(gcj.latitude);
    expected.location()->position()->point()->setLongitude(gcj.longitude);
    expected.location()->setTimestamp(res.location()->timestamp());
    EXPECT_EQ(res.encode().value(), expected.encode().value());
  }
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

// Which fix of the window wins is the controller's rule; here the flags outlive the run.
TEST_F(RunTest, FastRunAnswersAfterTheWindowAndStaysFast) {
  client->startFastLocation();
  EXPECT_TRUE(client->isLocateOnce());
  push(fix(1, 30));
  push(fix(2, 5));
  EXPECT_TRUE(delegate->locations.empty());
  clock.advance(milliseconds(200));
  EXPECT_EQ(answered(), std::vector<int>{2});

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

TEST_F(RunTest, HostMayStopFromInsideItsCallback) {
  client->setIsLocateOnce(false);
  delegate->afterLocation = [&] { client->stopLocation(); };
  client->startLocation();
  push(fix(1));
  EXPECT_FALSE(RunLoop::main().timeUntilNextTimer().has_value());
  EXPECT_FALSE(provider->isUpdating());
}

// The host may destroy the client inside any callback a run causes (run under ASan: nothing may
// touch the client's state after the callback returns).
TEST_F(RunTest, HostMayDestroyTheClientInsideEveryCallback) {
  struct Case {
    const char* name;
    std::function<void()> setUp;  // before the start
    bool once;
    std::function<void()> trigger;  // after the start
  };
  auto nothing = [] {};
  const Case cases[] = {
      {"no consent", [this] { client->setAgreePrivacy(false); }, true, nothing},
      {"invalid interval", [this] { client->setInterval(0); }, false, nothing},
      {"denied single", [this] { provider->setAuthorizationStatus(AuthorizationStatus::denied); },
       true, nothing},
      {"denied continuous",
       [this] { provider->setAuthorizationStatus(AuthorizationStatus::denied); }, false, nothing},
      {"undeclared", [] { Bundle::mainBundle().clear(); }, true, nothing},
      {"single fix", nothing, true, [this] { push(fix(1)); }},
      {"first continuous fix", nothing, false, [this] { push(fix(1)); }},
      {"failure of a single run", nothing, true, [this] { pushError("x"); }},
      {"failure of a continuous run", nothing, false, [this] { pushError("x"); }},
      {"sampling tick",
       [this] {
         delegate->afterLocation = [this] {
           if (delegate->locations.size() == 2) client.reset();
         };
       },
       false,
       [this] {
         push(fix(1));
         clock.advance(std::chrono::seconds(1));
       }},
  };
  for (const Case& c : cases) {
    client = makeClient();
    Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription", std::string("test"));
    provider->setAuthorizationStatus(AuthorizationStatus::authorizedWhenInUse);
    delegate->locations.clear();
    delegate->afterLocation = [this] { client.reset(); };
    delegate->afterError = [this] { client.reset(); };
    c.setUp();
    client->setIsLocateOnce(c.once);
    OrvClientLocation* raw = client.get();
    raw->startLocation();
    if (client) c.trigger();
    EXPECT_EQ(client, nullptr) << c.name;
    clock.advance(std::chrono::seconds(3));
    EXPECT_FALSE(provider->isUpdating()) << c.name;
  }
  delegate->afterLocation = nullptr;
  delegate->afterError = nullptr;
}

enum class Kind { once, fast, continuous, sampling };

class FailureTest : public RunTest, public ::testing::WithParamInterface<Kind> {};

// Whatever the run, a failure stops everything it started and is reported once.
TEST_P(FailureTest, PlatformFailureEndsTheRunAndStopsTheController) {
  const Kind kind = GetParam();
  client->setIsLocateOnce(kind == Kind::once || kind == Kind::fast);
  if (kind == Kind::fast) {
    client->startFastLocation();
    push(fix(1));  // the window is open
  } else {
    client->startLocation();
    if (kind == Kind::sampling) push(fix(1));
  }
  const size_t answers = delegate->locations.size();
  spy.clear();
  pushError("信号丢失");
  EXPECT_THAT(delegate->errors, ElementsAre("定位失败：信号丢失"));
  EXPECT_EQ(managerCalls("stopUpdatingLocation"), 1u);
  EXPECT_FALSE(provider->isUpdating());
  EXPECT_FALSE(RunLoop::main().timeUntilNextTimer().has_value());
  clock.advance(std::chrono::seconds(5));
  push(fix(2));
  EXPECT_EQ(delegate->locations.size(), answers);
  EXPECT_EQ(delegate->errors.size(), 1u);
  // Nothing is left running for stopLocation to stop.
  trace.events.clear();
  client->stopLocation();
  EXPECT_TRUE(trace.events.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, FailureTest,
                         ::testing::Values(Kind::once, Kind::fast, Kind::continuous,
                                           Kind::sampling));

// A fast window left armed by a failure would stop the next run's updates and freeze its samples.
TEST_F(RunTest, ContinuousRunAfterAFailedFastRunSamplesFreshFixes) {
  client->startFastLocation();
  pushError("信号丢失");
  client->setIsLocateOnce(false);
  client->setIsFastLocation(false);
  client->startLocation();
  push(fix(1));
  clock.advance(milliseconds(300));
  push(fix(2));
  clock.advance(milliseconds(700));
  EXPECT_EQ(answered(), (std::vector<int>{1, 2}));
  EXPECT_TRUE(provider->isUpdating());
}

// Host calls in any order: once stopLocation returns, neither the sampling timer nor device
// updates may be left running (stopLocation is idle while no run is under way, so anything left
// running by then could never be stopped).
TEST_F(RunTest, NoSequenceOfHostCallsLeavesAnythingRunningAfterStop) {
  const std::vector<std::function<void()>> steps = {
      [&] { client->startLocation(); },
      [&] { client->startFastLocation(); },
      [&] { client->stopLocation(); },
      [&] { client->setIsLocateOnce(true); },
      [&] { client->setIsLocateOnce(false); },
      [&] { client->setIsFastLocation(false); },
      [&] { client->setInterval(0.5); },
      [&] { client->setInterval(0.0); },
      [&] { push(fix(1)); },
      [&] { pushError("信号丢失"); },
      [&] { clock.advance(milliseconds(250)); },
      [&] { clock.advance(std::chrono::seconds(1)); },
      [&] { provider->setAuthorizationStatus(AuthorizationStatus::denied); },
      [&] { provider->setAuthorizationStatus(AuthorizationStatus::authorizedWhenInUse); },
  };
  std::mt19937 random(13);
  for (int sequence = 0; sequence < 400; ++sequence) {
    std::vector<size_t> taken;
    for (int i = 0; i < 8; ++i) {
      taken.push_back(random() % steps.size());
      steps[taken.back()]();
    }
    client->stopLocation();
    ASSERT_FALSE(provider->isUpdating()) << ::testing::PrintToString(taken);
    // Whatever was left would act within a few seconds: sample, answer or stop the device.
    const size_t calls = delegate->calls;
    spy.clear();
    clock.advance(std::chrono::seconds(3));
    ASSERT_EQ(delegate->calls, calls) << ::testing::PrintToString(taken);
    ASSERT_TRUE(spy.calls().empty()) << ::testing::PrintToString(taken);
    provider->setAuthorizationStatus(AuthorizationStatus::authorizedWhenInUse);
    client->setIsFastLocation(false);
  }
}

TEST_F(RunTest, RunKeepsItsKindWhenTheHostChangesTheFlag) {
  client->setIsLocateOnce(false);
  client->startLocation();
  push(fix(1));
  client->setIsLocateOnce(true);
  push(fix(2));
  clock.advance(std::chrono::seconds(2));
  EXPECT_EQ(answered(), (std::vector<int>{1, 2, 2}));
  client->stopLocation();
  EXPECT_FALSE(provider->isUpdating());
  EXPECT_FALSE(RunLoop::main().timeUntilNextTimer().has_value());
}

// Positive periods below the loop's resolution sample every millisecond: neither stalled nor on
// every pass of the loop.
TEST_F(RunTest, TinyIntervalsSampleEveryMillisecond) {
  for (double interval : {1e-12, 1e-6, 1e-4}) {
    delegate->locations.clear();
    client->setIsLocateOnce(false);
    client->setInterval(interval);
    client->startLocation();
    push(fix(1));
    clock.advance(std::chrono::microseconds(999));
    EXPECT_EQ(delegate->locations.size(), 1u) << interval;
    clock.advance(std::chrono::microseconds(1));
    EXPECT_EQ(delegate->locations.size(), 2u) << interval;
    clock.advance(milliseconds(2));
    EXPECT_EQ(delegate->locations.size(), 4u) << interval;
    client->stopLocation();
  }
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
