#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "manual_clock.h"
#include "orv/run_loop.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

class TimerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& t : timers) t->invalidate();
  }
  // Offsets from the test's start, in milliseconds, at which `timer` ticks.
  std::shared_ptr<Timer> record(std::chrono::duration<double> interval, bool repeats,
                                std::vector<int64_t>& at) {
    auto t = Timer::scheduled(interval, repeats, [this, &at](Timer&) {
      at.push_back(std::chrono::duration_cast<Ms>(loop.now() - start).count());
    });
    timers.push_back(t);
    return t;
  }
  RunLoop& loop = RunLoop::main();
  detail::ManualClock clock{loop};
  RunLoop::TimePoint start = loop.now();
  std::vector<std::shared_ptr<Timer>> timers;
};

TEST_F(TimerTest, OneShotFiresOnceAtItsDueTime) {
  std::vector<int64_t> at;
  auto t = record(250ms, false, at);
  clock.advance(249ms);
  EXPECT_TRUE(at.empty());
  clock.advance(10s);
  EXPECT_EQ(at, (std::vector<int64_t>{250}));
  EXPECT_FALSE(t->isValid());
}

TEST_F(TimerTest, RepeatingFiresOnTheGridWithoutDrift) {
  std::vector<int64_t> at;
  record(100ms, true, at);
  for (int i = 0; i < 7; ++i) clock.advance(37ms);  // uneven steps must not shift the grid
  clock.advance(241ms);
  EXPECT_EQ(at, (std::vector<int64_t>{100, 200, 300, 400, 500}));
}

TEST_F(TimerTest, StalledLoopSkipsMissedTicksInsteadOfBursting) {
  std::vector<int64_t> at;
  record(100ms, true, at);
  clock.advance(100ms);
  clock.jump(350ms);  // now 450 ms: ticks at 200, 300 and 400 are lost
  loop.processPending();
  loop.processPending();
  clock.advance(50ms);
  EXPECT_EQ(at, (std::vector<int64_t>{100, 450, 500}));
}

TEST_F(TimerTest, DueOrderWithCreationOrderBreakingTies) {
  std::vector<int> order;
  for (auto [ms, id] : {std::pair{30, 1}, {10, 2}, {20, 3}, {10, 4}}) {
    timers.push_back(
        Timer::scheduled(Ms(ms), false, [&order, id = id](Timer&) { order.push_back(id); }));
  }
  clock.advance(1s);
  EXPECT_EQ(order, (std::vector<int>{2, 4, 3, 1}));
}

TEST_F(TimerTest, InvalidateFromInsideItsOwnTick) {
  int ticks = 0;
  std::weak_ptr<Timer> weak;
  {
    auto t = Timer::scheduled(1s, true, [&, alive = std::make_shared<int>()](Timer& self) {
      if (++ticks == 3) {
        self.invalidate();
        self.invalidate();  // idempotent
        EXPECT_EQ(alive.use_count(), 1) << "the running block's captures must survive";
      }
    });
    weak = t;
  }
  clock.advance(10s);
  EXPECT_EQ(ticks, 3);
  EXPECT_TRUE(weak.expired()) << "an invalid timer must be released by the loop";
}

TEST_F(TimerTest, LoopKeepsAValidTimerAliveAndReleasesItOnInvalidate) {
  auto owner = std::make_shared<int>(0);
  std::weak_ptr<Timer> weak;
  {
    auto t = Timer::scheduled(1s, true, [owner](Timer&) { ++*owner; });
    weak = t;
  }
  clock.advance(2s);
  EXPECT_EQ(*owner, 2);
  ASSERT_FALSE(weak.expired());
  EXPECT_EQ(owner.use_count(), 2);
  weak.lock()->invalidate();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(owner.use_count(), 1) << "invalidate() releases what the block captured";
}

TEST_F(TimerTest, InvalidatingAnotherTimerDueAtTheSameTimeCancelsIt) {
  int secondFired = 0;
  std::shared_ptr<Timer> second;
  timers.push_back(Timer::scheduled(1s, false, [&](Timer&) { second->invalidate(); }));
  second = Timer::scheduled(1s, false, [&](Timer&) { ++secondFired; });
  clock.advance(1s);
  EXPECT_EQ(secondFired, 0);
}

TEST_F(TimerTest, TimerCreatedInATickWaitsForTheNextPass) {
  int inner = 0;
  timers.push_back(Timer::scheduled(0s, false, [&](Timer&) {
    timers.push_back(Timer::scheduled(0s, false, [&](Timer&) { ++inner; }));
  }));
  loop.processPending();
  EXPECT_EQ(inner, 0);
  loop.processPending();
  EXPECT_EQ(inner, 1);
}

// A repeating timer without a positive period fires once rather than on every pass.
class DegeneratePeriodTest : public TimerTest, public ::testing::WithParamInterface<double> {};

TEST_P(DegeneratePeriodTest, FiresOnceAndStops) {
  int ticks = 0;
  auto t =
      Timer::scheduled(std::chrono::duration<double>(GetParam()), true, [&](Timer&) { ++ticks; });
  timers.push_back(t);
  EXPECT_TRUE(t->interval().count() >= 0 && t->interval().count() < 1e-9);
  for (int i = 0; i < 5; ++i) loop.processPending();
  clock.advance(1s);
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(t->isValid());
}

INSTANTIATE_TEST_SUITE_P(Periods, DegeneratePeriodTest,
                         ::testing::Values(0.0, -1.0, std::nan(""), 1e-12));

TEST_F(TimerTest, HugeIntervalIsCappedNotOverflowed) {
  auto t = Timer::scheduled(std::chrono::duration<double>(std::numeric_limits<double>::infinity()),
                            true, [](Timer&) {});
  timers.push_back(t);
  EXPECT_EQ(t->interval().count(), 1e9);
  ASSERT_TRUE(loop.timeUntilNextTimer().has_value());
  EXPECT_GT(*loop.timeUntilNextTimer(), RunLoop::Duration(24h * 365 * 30));
}

TEST(TimerThreadTest, TimerOfAFinishedThreadBecomesInvalid) {
  std::shared_ptr<Timer> t;
  std::thread([&] { t = Timer::scheduled(1s, true, [](Timer&) {}); }).join();
  EXPECT_FALSE(t->isValid());
  t->invalidate();
}

}  // namespace
}  // namespace orv
