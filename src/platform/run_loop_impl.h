// Internals shared by the run loop, its timers and descriptor watches (and the tests' manual
// clock, which sets manualClock and drives the timers itself).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "orv/run_loop.h"

namespace orv {

namespace detail {

// Reaches a loop from any thread for as long as the loop exists; afterwards posts are dropped.
// A worker thread's loop ends with its thread, while work for it (a transfer's outcome) may still
// be on its way from another thread.
class LoopHandle {
 public:
  explicit LoopHandle(RunLoop* loop) : loop_(loop) {}
  // Thread-safe. Returns false, dropping the task, once the loop is gone.
  bool post(RunLoop::Task task);
  // Called by the loop's destructor.
  void detach();

 private:
  std::mutex mutex_;
  RunLoop* loop_;
};

// The handle of `loop`, shared by every holder.
std::shared_ptr<LoopHandle> handleOf(RunLoop& loop);

}  // namespace detail

struct Timer::Impl {
  RunLoop* loop = nullptr;  // cleared when the loop goes away
  std::chrono::duration<double> interval{};
  RunLoop::Duration period{};  // zero for a one-shot timer
  Timer::Block block;
  RunLoop::TimePoint start{};
  RunLoop::TimePoint due{};
  int64_t tick = 0;    // due == start + tick * period for repeating timers
  uint64_t order = 0;  // creation order breaks ties between equal due times
  bool valid = true;
  bool firing = false;  // the block is running: invalidate() must not release it

  // Empties `block` before its captures die, so their destructors never see a half-reset block.
  Timer::Block takeBlock() {
    Timer::Block taken = std::move(block);
    block = nullptr;
    return taken;
  }
};

struct RunLoop::Impl {
  pid_t ownerTid = 0;
  int eventFd = -1;
  // What pollFd() hands out: the event descriptor and every watched descriptor
  // (platform/descriptor_watch.h), so one descriptor wakes the loop for all of them.
  int epollFd = -1;

  // Owner-thread only: handlers of the watched descriptors by watch id (ids start at 1; the
  // event descriptor is registered as 0).
  std::map<uint64_t, std::shared_ptr<std::function<void(uint32_t)>>> watches;
  uint64_t nextWatchId = 1;

  std::mutex mutex;  // guards `tasks`; held while another thread wakes the loop
  std::deque<Task> tasks;

  std::shared_ptr<detail::LoopHandle> handle;

  std::atomic<bool> stopRequested{false};
  std::atomic<bool> manualClock{false};
  std::atomic<Duration::rep> manualNow{0};

  // Owner-thread only: the loop's strong references to its valid timers.
  std::vector<std::shared_ptr<Timer>> timers;
  uint64_t nextTimerOrder = 0;

  bool onOwnerThread() const;
  // Runs the posted tasks taken in one batch; returns early once `done` (if any) holds, keeping
  // the rest queued in order. Returns whether it stopped early.
  bool runPostedTasks(const std::function<bool()>* done);
  // The earliest valid timer due at or before `limit` and created before `orderLimit`, or null.
  std::shared_ptr<Timer> earliestDue(TimePoint limit, uint64_t orderLimit = UINT64_MAX) const;
  // Runs `timer`'s block, then moves it to its next tick or retires it.
  void fire(const std::shared_ptr<Timer>& timer, RunLoop& loop);
  // Drops the loop's reference, handed back so the caller decides when the timer may die.
  std::shared_ptr<Timer> retire(Timer& timer);
  void wake();
  // Runs the handlers of the watched descriptors that are ready now; returns whether one ran.
  bool dispatchDescriptors();
};

}  // namespace orv
