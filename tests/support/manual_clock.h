// A hand-driven clock for a run loop, so timer behaviour is tested instantly and deterministically.
#pragma once

#include "orv/run_loop.h"

namespace orv::detail {

// While it exists, `loop.now()` reads this clock instead of the steady clock. advance() moves time
// forward and, on the calling thread (which must own `loop`), fires every timer that falls due,
// in due order, with now() set to each timer's due time, and runs posted tasks as it goes.
class ManualClock {
 public:
  explicit ManualClock(RunLoop& loop = RunLoop::current());
  ~ManualClock();
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  RunLoop::TimePoint now() const;
  void advance(RunLoop::Duration by);
  template <class Rep, class Period>
  void advance(std::chrono::duration<Rep, Period> by) {
    advance(std::chrono::duration_cast<RunLoop::Duration>(by));
  }
  // Moves now() forward without firing or running anything, as a stalled loop would: the next
  // pass of the loop (processPending(), run...) finds the overdue work.
  void jump(RunLoop::Duration by);

 private:
  RunLoop& loop_;
};

}  // namespace orv::detail
