// Run loops, the main queue and timers.
//
// Every thread may have one RunLoop. The main loop belongs to the process's main thread and is
// the "main queue". A client's outcomes run on the loop of the thread that created it. Hosts drive
// a loop with run()/runFor()/runUntil(), or integrate it into their own event loop with pollFd(),
// processPending() and timeUntilNextTimer().
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "orv/export.h"

namespace orv {

class Timer;

class ORV_API RunLoop {
 public:
  using Task = std::function<void()>;
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;
  using Duration = Clock::duration;

  // The loop of the process's main thread (the thread whose id is the process id). May be
  // obtained from any thread; only the main thread runs it.
  static RunLoop& main();
  // The calling thread's loop, created on first use.
  static RunLoop& current();
  // Whether the calling thread owns this loop.
  bool isCurrent() const;

  // Thread-safe. Tasks run on this loop in posting order, never inside post().
  void post(Task task);

  // Run on the owning thread until stop(); called from another thread they return at once.
  // Deadlines and timeouts are real (steady-clock) time, also under a manual clock.
  void run();
  // Run for at most `duration` (or until stop()).
  void runFor(Duration duration);
  // Run until `done` returns true (checked after each task or timer) or `timeout` elapses.
  // Returns whether `done` became true.
  bool runUntil(const std::function<bool()>& done, Duration timeout);
  // Thread-safe (and async-signal-safe on the main loop): makes the running run()/runFor()/
  // runUntil() return. Not carried over to a later run: to stop one not yet started, post() it.
  void stop();

  // For hosts with their own event loop: a descriptor that becomes readable when posted work is
  // pending or a descriptor the library watches (a receiver, a bus) is ready; then call
  // processPending(). Timers are due after timeUntilNextTimer().
  int pollFd() const;
  // Runs posted tasks and due timers without blocking (owning thread only). Work posted or
  // timers created meanwhile wait for the next call.
  void processPending();
  // Time until the earliest valid timer is due (zero if overdue), or nothing without timers.
  // Owning thread only.
  std::optional<Duration> timeUntilNextTimer() const;

  // The loop's notion of now: the steady clock, or a manual clock installed by tests.
  TimePoint now() const;

  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  struct ORV_HIDDEN Impl;
  Impl& impl() { return *impl_; }

 private:
  RunLoop();
  bool runLoop(std::optional<TimePoint> deadline, const std::function<bool()>* done);
  std::unique_ptr<Impl> impl_;
};

// A timer scheduled on the run loop of the thread that creates it. The loop keeps a valid timer
// alive; the handle returned lets its owner invalidate it. A repeating timer fires at
// start + k * period; when the loop runs late, missed ticks are skipped, not fired in a burst.
//
// A negative or NaN interval counts as zero. A timer of zero interval fires once, on the loop's
// next pass, even when `repeats` is set: a period of nothing would otherwise spin the CPU.
// Intervals are capped at 1e9 seconds. A block that needs its owner should capture it weakly
// (the loop keeps the timer, and so the block, alive until invalidate()).
class ORV_API Timer {
 public:
  using Block = std::function<void(Timer&)>;

  static std::shared_ptr<Timer> scheduled(std::chrono::duration<double> interval, bool repeats,
                                          Block block);

  // Idempotent; safe from inside the timer's own block. Must be called on the timer's thread.
  void invalidate();
  bool isValid() const;
  std::chrono::duration<double> interval() const;

  ~Timer();
  struct ORV_HIDDEN Impl;
  Impl& impl() { return *impl_; }
  const Impl& impl() const { return *impl_; }

 private:
  explicit Timer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace orv
