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
  // Records the offsets from the test's start, in milliseconds, at which the timer ticks.
  std::shared_ptr<Timer> record(RunLoop::Duration interval, bool repeats) {
    auto t = Timer::scheduled(interval, repeats, [this](Timer&) {
      at.push_back(std::chrono::duration_cast<Ms>(loop.now() - start).count());
    });
    timers.push_back(t);
    return t;
  }
  RunLoop& loop = RunLoop::main();
  detail::ManualClock clock{loop};
  RunLoop::TimePoint start = loop.now();
  std::vector<std::shared_ptr<Timer>> timers;
  std::vector<int64_t> at;
};

TEST_F(TimerTest, OneShotFiresOnceAtItsDueTime) {
  auto t = record(250ms, false);
  clock.advance(249ms);
  EXPECT_TRUE(at.empty());
  clock.advance(10s);
  EXPECT_EQ(at, (std::vector<int64_t>{250}));
  EXPECT_FALSE(t->isValid());
}

// Uneven steps do not shift the grid; a stalled loop skips the ticks it missed instead of
// bursting them.
TEST_F(TimerTest, RepeatingKeepsItsGridAndSkipsMissedTicks) {
  record(100ms, true);
  for (int i = 0; i < 7; ++i) clock.advance(37ms);
  clock.advance(41ms);
  clock.jump(350ms);  // now 650 ms: ticks at 400, 500 and 600 are lost
  loop.processPending();
  loop.processPending();
  clock.advance(50ms);
  EXPECT_EQ(at, (std::vector<int64_t>{100, 200, 300, 650, 700}));
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

// The loop keeps a valid timer alive; invalidate() (also from inside its own tick, twice)
// releases it and what its block captured, but not while that block runs.
TEST_F(TimerTest, InvalidateReleasesTheTimerAndItsCaptures) {
  int ticks = 0;
  auto owner = std::make_shared<int>();
  std::weak_ptr<Timer> weak = Timer::scheduled(1s, true, [&, owner](Timer& self) {
    if (++ticks < 3) return;
    self.invalidate();
    self.invalidate();
    EXPECT_EQ(owner.use_count(), 2) << "the running block's captures must survive";
  });
  clock.advance(2s);
  EXPECT_FALSE(weak.expired());
  clock.advance(10s);
  EXPECT_EQ(ticks, 3);
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(owner.use_count(), 1);
}

TEST_F(TimerTest, InvalidatingAnotherTimerDueAtTheSameTimeCancelsIt) {
  std::shared_ptr<Timer> second;
  timers.push_back(Timer::scheduled(1s, false, [&](Timer&) { second->invalidate(); }));
  second = record(1s, false);
  clock.advance(1s);
  EXPECT_TRUE(at.empty());
}

TEST_F(TimerTest, TimerCreatedInATickWaitsForTheNextPass) {
  timers.push_back(Timer::scheduled(0s, false, [&](Timer&) { record(0s, false); }));
  loop.processPending();
  EXPECT_TRUE(at.empty());
  loop.processPending();
  EXPECT_EQ(at.size(), 1u);
}

// A repeating timer without a positive period (NaN alike) or one that rounds to nothing fires
// once rather than on every pass.
class DegeneratePeriodTest : public TimerTest, public ::testing::WithParamInterface<double> {};

TEST_P(DegeneratePeriodTest, FiresOnceAndStops) {
  auto t = Timer::scheduled(std::chrono::duration<double>(GetParam()), true,
                            [&](Timer&) { at.push_back(0); });
  timers.push_back(t);
  EXPECT_LT(t->interval().count(), 1e-9);
  for (int i = 0; i < 5; ++i) loop.processPending();
  clock.advance(1s);
  EXPECT_EQ(at.size(), 1u);
  EXPECT_FALSE(t->isValid());
}

INSTANTIATE_TEST_SUITE_P(Periods, DegeneratePeriodTest, ::testing::Values(std::nan(""), 1e-12));

TEST_F(TimerTest, HugeIntervalIsCappedNotOverflowed) {
  auto t = Timer::scheduled(std::chrono::duration<double>(std::numeric_limits<double>::infinity()),
                            true, [](Timer&) {});
  timers.push_back(t);
  EXPECT_EQ(t->interval().count(), 1e9);
  EXPECT_GT(loop.timeUntilNextTimer(), RunLoop::Duration(24h * 365 * 30));
}

TEST(TimerThreadTest, TimerOfAFinishedThreadBecomesInvalid) {
  std::shared_ptr<Timer> t;
  std::thread([&] { t = Timer::scheduled(1s, true, [](Timer&) {}); }).join();
  EXPECT_FALSE(t->isValid());
  t->invalidate();
}

}  // namespace
}  // namespace orv
