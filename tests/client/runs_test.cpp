// Positioning runs on the manual clock with the simulated location provider.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <iterator>

#include "client/client_state.h"
#include "client_fixture.h"
#include "manual_clock.h"
#include "orv/coord_transform.h"

namespace orv::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using ::testing::ElementsAre;

// Fixes 1.1 km apart: past the distance filter, and far more than the GCJ-02 shift.
Location fix(int n, double accuracy = 10.0) {
  Location l;
  l.coordinate = {39.9 + 0.01 * n, 116.4};
  l.horizontalAccuracy = accuracy;
  return l;
}

class RunTest : public PositioningTest {
 protected:
  ~RunTest() override {
    // While the clock is still there; a destroyed client's sampling timer ends at its next tick.
    client.reset();
    clock.advance(seconds(10));
  }
  void push(const Location& l) {
    provider->pushLocation(l);
    clock.advance(milliseconds(0));
  }
  void pushError(const std::string& text) {
    provider->pushError(text);
    clock.advance(milliseconds(0));
  }
  void continuous() { client->setIsLocateOnce(false); }
  // The answers so far, in order, as indexes of fix().
  std::vector<int> answered() const {
    std::vector<int> out;
    for (const auto& res : delegate->locations) {
      out.push_back(static_cast<int>(
          std::lround((res->location()->position()->point()->latitude() - 39.9) / 0.01)));
    }
    return out;
  }
  // Nothing is left running: no stream, no timer, and nothing happens later.
  void expectIdle(const std::string& context = {}) {
    EXPECT_FALSE(provider->isUpdating()) << context;
    EXPECT_FALSE(RunLoop::main().timeUntilNextTimer().has_value()) << context;
  }

  detail::ManualClock clock{RunLoop::main()};
};

TEST_F(RunTest, OfflineAnswerIsTheFixInGcj02StampedNow) {
  const int64_t before = detail::currentMilliStamp();
  client->startLocation();
  push(fix(0));
  const auto& res = *delegate->locations.at(0);
  EXPECT_THAT(res.location()->timestamp(),
              ::testing::AllOf(::testing::Ge(before), ::testing::Le(detail::currentMilliStamp())));
  const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ(fix(0).coordinate);
  LocationRes expected;  // everything else keeps the defaults
  expected.location()->position()->point()->setLatitude(gcj.latitude);
  expected.location()->position()->point()->setLongitude(gcj.longitude);
  expected.location()->setTimestamp(res.location()->timestamp());
  EXPECT_EQ(res.encode().value(), expected.encode().value());
}

// A single run ends with its first fix, a fast one after the window (whose pick is the
// controller's rule).
TEST_F(RunTest, SingleRunsEndWithTheirAnswer) {
  client->startLocation();
  push(fix(1));
  expectIdle();
  push(fix(2));  // after the run: ignored
  client->startFastLocation();
  push(fix(3));
  EXPECT_EQ(answered(), std::vector<int>{1});
  clock.advance(milliseconds(200));
  expectIdle();
  EXPECT_EQ(answered(), (std::vector<int>{1, 3}));
}

// The first fix is answered at once, then the newest every interval, at least every millisecond.
// The run keeps its kind and the interval accepted at its start, whatever the host sets meanwhile.
TEST_F(RunTest, FirstFixAtOnceThenTheNewestEveryInterval) {
  for (const auto& [interval, period] :
       {std::pair{2.5, milliseconds(2500)}, {1e-12, milliseconds(1)}}) {
    delegate->locations.clear();
    continuous();
    client->setInterval(interval);
    client->startLocation();
    client->setInterval(0.0);  // made invalid before the timer starts
    push(fix(1));
    client->setInterval(1000.0);
    client->setIsLocateOnce(true);
    push(fix(2));  // not handled directly: the timer samples it
    clock.advance(period - std::chrono::microseconds(1));
    EXPECT_EQ(answered(), std::vector<int>{1});
    clock.advance(std::chrono::microseconds(1));
    EXPECT_EQ(answered(), (std::vector<int>{1, 2}));
    clock.advance(period);  // not moving still gives one answer per period
    EXPECT_EQ(answered(), (std::vector<int>{1, 2, 2}));
    client->stopLocation();
    expectIdle();
  }
}

TEST_F(RunTest, SecondStartIsIgnoredIdleStopIsSilentRefusalEndsTheRun) {
  trace.events.clear();
  client->stopLocation();
  EXPECT_TRUE(trace.events.empty());
  continuous();
  client->startLocation();
  trace.events.clear();
  client->startLocation();
  client->startFastLocation();
  client->stopLocation();
  EXPECT_THAT(trace.events, ElementsAre("stopLocation", "手动停止定位成功"));
  // A refusal (its text is the controller's) comes before the start returns and ends the run.
  provider->setAuthorizationStatus(AuthorizationStatus::denied);
  client->startLocation();
  EXPECT_EQ(delegate->errors.size(), 1u);
  expectIdle();
  provider->setAuthorizationStatus(AuthorizationStatus::authorizedWhenInUse);
  client->startLocation();
  EXPECT_TRUE(provider->isUpdating());
}

// The host may stop, or destroy the client, inside any callback a run causes (run under ASan:
// nothing may touch the client's state after the callback returns).
TEST_F(RunTest, HostMayStopOrDestroyTheClientInsideEveryCallback) {
  continuous();
  delegate->afterLocation = [&] { client->stopLocation(); };
  client->startLocation();
  push(fix(1));
  expectIdle();

  auto nothing = [] {};
  auto fix1 = [this] { push(fix(1)); };
  auto deny = [this] { provider->setAuthorizationStatus(AuthorizationStatus::denied); };
  auto destroyAtSecond = [this] {
    delegate->afterLocation = [this] {
      if (delegate->locations.size() == 2) client.reset();
    };
  };
  struct Case {
    const char* name;
    std::function<void()> setUp;  // before the start
    bool once;
    std::function<void()> trigger;  // after the start
  };
  // clang-format off
  const Case cases[] = {
      {"denied", deny, false, nothing},
      {"single fix", nothing, true, fix1},
      {"first continuous fix", nothing, false, fix1},
      {"failure", nothing, false, [this] { pushError("x"); }},
      {"tick", destroyAtSecond, false, [this] { push(fix(1)); clock.advance(seconds(1)); }},
  };
  // clang-format on
  for (const Case& c : cases) {
    client = makeClient();
    provider->setAuthorizationStatus(AuthorizationStatus::authorizedWhenInUse);
    delegate->locations.clear();
    delegate->afterLocation = [this] { client.reset(); };
    delegate->afterError = [this] { client.reset(); };
    c.setUp();
    client->setIsLocateOnce(c.once);
    client->startLocation();
    if (client) c.trigger();
    EXPECT_EQ(client, nullptr) << c.name;
    const size_t calls = delegate->calls;  // a destroyed client's timer does nothing
    clock.advance(seconds(3));
    push(fix(2));
    EXPECT_EQ(delegate->calls, calls) << c.name;
    expectIdle(c.name);
  }
  delegate->afterLocation = nullptr;
  delegate->afterError = nullptr;
}

// The log sink is a host callback too: it may stop the run from inside, and the line that
// stopping writes follows the one being delivered.
TEST_F(RunTest, LogSinkMayStopTheRun) {
  continuous();
  OrvClientLocation::setLogSink([this](std::string_view line) {
    trace.events.emplace_back(line);
    if (line.rfind("纬度：", 0) == 0) client->stopLocation();
  });
  client->startLocation();
  push(fix(1));
  expectIdle();
  const auto fixLine = std::find_if(trace.events.begin(), trace.events.end(),
                                    [](const std::string& e) { return e.rfind("纬度：", 0) == 0; });
  ASSERT_NE(fixLine, trace.events.end());
  EXPECT_EQ(std::next(fixLine) == trace.events.end() ? "" : *std::next(fixLine), "stopLocation");
}

class FailureTest : public RunTest, public ::testing::WithParamInterface<bool> {};

// A failure ends the run for good and stops everything it started: the stream and either a fast
// window (true) or the sampling timer (false). It is reported once.
TEST_P(FailureTest, PlatformFailureEndsTheRunAndStopsTheController) {
  client->setIsLocateOnce(GetParam());
  client->setIsFastLocation(GetParam());
  client->startLocation();
  push(fix(1));
  const size_t answers = delegate->locations.size();
  pushError("信号丢失");
  expectIdle();
  clock.advance(seconds(5));
  push(fix(2));
  EXPECT_EQ(delegate->locations.size(), answers);
  EXPECT_THAT(delegate->errors, ElementsAre("定位失败：信号丢失"));
}

INSTANTIATE_TEST_SUITE_P(FastOrSampling, FailureTest, ::testing::Bool());

}  // namespace
}  // namespace orv::test
