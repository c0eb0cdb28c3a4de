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

// One-shot timers fire once at their due time, in due order with creation order breaking ties.
TEST_F(TimerTest, OneShotsFireOnceInDueOrder) {
  std::vector<int> order;
  for (auto [ms, id] : {std::pair{30, 1}, {10, 2}, {20, 3}, {10, 4}}) {
    timers.push_back(Timer::scheduled(Ms(ms), false, [this, &order, id = id](Timer&) {
      order.push_back(id);
      at.push_back(std::chrono::duration_cast<Ms>(loop.now() - start).count());
    }));
  }
  clock.advance(9ms);
  EXPECT_TRUE(order.empty());
  clock.advance(10s);
  EXPECT_EQ(order, (std::vector<int>{2, 4, 3, 1}));
  EXPECT_EQ(at, (std::vector<int64_t>{10, 10, 20, 30}));
  for (const auto& t : timers) EXPECT_FALSE(t->isValid());
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

// In a tick, invalidating another timer due in the same pass cancels it, and a timer created
// waits for the next pass.
TEST_F(TimerTest, ChangesMadeInATick) {
  std::shared_ptr<Timer> second;
  timers.push_back(Timer::scheduled(0s, false, [&](Timer&) {
    second->invalidate();
    record(0s, false);
  }));
  second = record(0s, false);
  loop.processPending();
  EXPECT_TRUE(at.empty());
  loop.processPending();
  EXPECT_EQ(at.size(), 1u);
}

// A repeating timer without a positive period (NaN alike) or with one that rounds to nothing
// fires once rather than on every pass; a huge one is capped, not overflowed.
TEST_F(TimerTest, DegeneratePeriods) {
  for (double period : {std::nan(""), 1e-12}) {
    timers.push_back(Timer::scheduled(std::chrono::duration<double>(period), true,
                                      [&](Timer&) { at.push_back(0); }));
    EXPECT_LT(timers.back()->interval().count(), 1e-9);
    for (int i = 0; i < 5; ++i) loop.processPending();
    EXPECT_FALSE(timers.back()->isValid());
  }
  EXPECT_EQ(at.size(), 2u);
  auto huge = Timer::scheduled(
      std::chrono::duration<double>(std::numeric_limits<double>::infinity()), true, [](Timer&) {});
  timers.push_back(huge);
  EXPECT_EQ(huge->interval().count(), 1e9);
  EXPECT_GT(loop.timeUntilNextTimer(), RunLoop::Duration(24h * 365 * 30));
}

TEST_F(TimerTest, TimeUntilNextTimerFollowsTheEarliestValidTimer) {
  EXPECT_FALSE(loop.timeUntilNextTimer().has_value());
  record(2s, false);
  auto soon = record(500ms, false);
  EXPECT_EQ(loop.timeUntilNextTimer(), RunLoop::Duration(500ms));
  soon->invalidate();
  EXPECT_EQ(loop.timeUntilNextTimer(), RunLoop::Duration(2s));
  clock.jump(3s);
  EXPECT_EQ(loop.timeUntilNextTimer(), RunLoop::Duration::zero());
}

TEST(TimerThreadTest, TimerOfAFinishedThreadBecomesInvalid) {
  std::shared_ptr<Timer> t;
  std::thread([&] { t = Timer::scheduled(1s, true, [](Timer&) {}); }).join();
  EXPECT_FALSE(t->isValid());
  t->invalidate();
}

}  // namespace
}  // namespace orv
