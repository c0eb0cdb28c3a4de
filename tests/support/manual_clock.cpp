#include "manual_clock.h"

#include <algorithm>

#include "platform/log.h"
#include "platform/run_loop_impl.h"

namespace orv::detail {

ManualClock::ManualClock(RunLoop& loop) : loop_(loop) {
  // Start from the real time so timers created before the switch keep sensible due times.
  loop_.impl().manualNow = RunLoop::Clock::now().time_since_epoch().count();
  loop_.impl().manualClock = true;
}

ManualClock::~ManualClock() { loop_.impl().manualClock = false; }

RunLoop::TimePoint ManualClock::now() const { return loop_.now(); }

void ManualClock::advance(RunLoop::Duration by) {
  RunLoop::Impl& impl = loop_.impl();
  if (!impl.onOwnerThread()) {
    writeLine("ManualClock: advance() called off the loop's thread; ignored");
    return;
  }
  const RunLoop::TimePoint target = now() + std::max(by, RunLoop::Duration::zero());
  for (;;) {
    impl.runPostedTasks(nullptr);
    auto timer = impl.earliestDue(target);
    if (!timer) break;
    // An overdue timer fires at the present time: the clock never moves back.
    if (timer->impl().due > now()) impl.manualNow = timer->impl().due.time_since_epoch().count();
    impl.fire(timer, loop_);
  }
  impl.manualNow = target.time_since_epoch().count();
  impl.runPostedTasks(nullptr);
}

void ManualClock::jump(RunLoop::Duration by) {
  loop_.impl().manualNow += std::max(by, RunLoop::Duration::zero()).count();
}

}  // namespace orv::detail
