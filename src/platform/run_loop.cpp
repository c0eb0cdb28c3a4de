#include "orv/run_loop.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <ctime>

#include "platform/log.h"
#include "platform/run_loop_impl.h"

namespace orv {
namespace {

// Longest accepted interval (about 31 years): keeps start + tick * period far from overflow.
constexpr double kMaxIntervalSeconds = 1e9;

// The main loop is never destroyed, so stop() needs no lock to wake it.
std::atomic<const RunLoop::Impl*> g_mainLoop{nullptr};
static_assert(std::atomic<const RunLoop::Impl*>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "stop() on the main loop runs in signal handlers");

pid_t threadId() { return gettid(); }

timespec toTimespec(RunLoop::Duration d) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

bool offThread(const RunLoop::Impl& impl, const char* what) {
  if (impl.onOwnerThread()) return false;
  detail::writeLine(std::string("RunLoop: ") + what + " called off the loop's thread; ignored");
  return true;
}

}  // namespace

// --- Impl
// -----------------------------------------------------------------------------------------

bool RunLoop::Impl::onOwnerThread() const { return threadId() == ownerTid; }

void RunLoop::Impl::wake() {
  const uint64_t one = 1;
  // EAGAIN means the counter is already non-zero, which is all a wake-up needs.
  while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool RunLoop::Impl::runPostedTasks(const std::function<bool()>* done) {
  // Clear the descriptor before taking the batch: a post racing with us then re-arms it.
  uint64_t count = 0;
  while (::read(eventFd, &count, sizeof count) < 0 && errno == EINTR) {
  }
  std::deque<Task> batch;
  {
    std::lock_guard lock(mutex);
    batch.swap(tasks);
  }
  while (!batch.empty()) {
    Task task = std::move(batch.front());
    batch.pop_front();
    task();
    if (done && (*done)()) {
      if (!batch.empty()) {
        std::lock_guard lock(mutex);
        tasks.insert(tasks.begin(), std::make_move_iterator(batch.begin()),
                     std::make_move_iterator(batch.end()));
        wake();
      }
      return true;
    }
  }
  return false;
}

std::shared_ptr<Timer> RunLoop::Impl::earliestDue(TimePoint limit, uint64_t orderLimit) const {
  std::shared_ptr<Timer> best;
  for (const auto& timer : timers) {
    const Timer::Impl& t = timer->impl();
    if (!t.valid || t.due > limit || t.order >= orderLimit) continue;
    if (!best || t.due < best->impl().due ||
        (t.due == best->impl().due && t.order < best->impl().order)) {
      best = timer;
    }
  }
  return best;
}

void RunLoop::Impl::fire(const std::shared_ptr<Timer>& timer, RunLoop& loop) {
  Timer::Impl& t = timer->impl();
  t.firing = true;
  t.block(*timer);
  t.firing = false;
  if (!t.valid) {
    t.takeBlock();  // invalidated by its own block: release the captures now
    return;
  }
  if (t.period == Duration::zero()) {
    timer->invalidate();
    return;
  }
  // Next tick on the original grid, skipping every tick already in the past.
  const auto elapsed = loop.now() - t.start;
  const int64_t next = std::max<int64_t>(t.tick + 1, elapsed / t.period + 1);
  t.tick = next;
  t.due = t.start + t.period * next;
}

std::shared_ptr<Timer> RunLoop::Impl::retire(Timer& timer) {
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const std::shared_ptr<Timer>& t) { return t.get() == &timer; });
  if (it == timers.end()) return nullptr;
  std::shared_ptr<Timer> kept = std::move(*it);
  timers.erase(it);
  return kept;
}

namespace detail {

bool LoopHandle::post(RunLoop::Task task) {
  {
    std::lock_guard lock(mutex_);
    if (loop_ != nullptr) {
      loop_->post(std::move(task));
      return true;
    }
  }
  return false;  // `task` dies here, outside the lock
}

void LoopHandle::detach() {
  std::lock_guard lock(mutex_);
  loop_ = nullptr;
}

std::shared_ptr<LoopHandle> handleOf(RunLoop& loop) { return loop.impl().handle; }

}  // namespace detail

// --- RunLoop
// --------------------------------------------------------------------------------------

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {
  impl_->ownerTid = threadId();
  impl_->eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  impl_->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = 0;
  ::epoll_ctl(impl_->epollFd, EPOLL_CTL_ADD, impl_->eventFd, &ev);
  impl_->handle = std::make_shared<detail::LoopHandle>(this);
}

RunLoop::~RunLoop() {
  // From here on, posts from other threads are dropped instead of reaching a dying loop.
  impl_->handle->detach();
  // Timers still held by their owners become invalid; the loop's references go with it.
  for (auto& timer : impl_->timers) {
    timer->impl().valid = false;
    timer->impl().loop = nullptr;
  }
  auto timers = std::move(impl_->timers);
  timers.clear();
  impl_->watches.clear();
  // A post() or stop() from another thread that is still waking us finishes first.
  { std::lock_guard lock(impl_->mutex); }
  if (impl_->epollFd >= 0) ::close(impl_->epollFd);
  if (impl_->eventFd >= 0) ::close(impl_->eventFd);
}

RunLoop& RunLoop::main() {
  // Never destroyed: other threads may post to it while the process exits.
  static RunLoop* loop = [] {
    auto* l = new RunLoop();
    l->impl_->ownerTid = ::getpid();
    g_mainLoop = l->impl_.get();
    return l;
  }();
  return *loop;
}

RunLoop& RunLoop::current() {
  if (threadId() == ::getpid()) return main();
  thread_local std::unique_ptr<RunLoop> loop;
  if (!loop) loop.reset(new RunLoop());
  return *loop;
}

bool RunLoop::isCurrent() const { return impl_->onOwnerThread(); }

// post() and stop() wake the loop under its lock: once the owner sees the change it may end its
// run and destroy the loop, and its destructor takes the lock first.
void RunLoop::post(Task task) {
  if (!task) return;
  std::lock_guard lock(impl_->mutex);
  const bool wasEmpty = impl_->tasks.empty();
  impl_->tasks.push_back(std::move(task));
  if (wasEmpty) impl_->wake();
}

void RunLoop::run() { runLoop(std::nullopt, nullptr); }

void RunLoop::runFor(Duration duration) { runLoop(Clock::now() + duration, nullptr); }

bool RunLoop::runUntil(const std::function<bool()>& done, Duration timeout) {
  if (done()) return true;
  return runLoop(Clock::now() + timeout, &done);
}

void RunLoop::stop() {
  if (impl_.get() == g_mainLoop.load()) {
    // Nothing to guard against: no lock, so a signal handler may stop the main loop even when it
    // interrupted this very thread inside post().
    const int saved = errno;
    impl_->stopRequested = true;
    impl_->wake();
    errno = saved;
    return;
  }
  std::lock_guard lock(impl_->mutex);
  impl_->stopRequested = true;
  impl_->wake();
}

bool RunLoop::runLoop(std::optional<TimePoint> deadline, const std::function<bool()>* done) {
  if (offThread(*impl_, "run")) return done && (*done)();
  impl_->stopRequested = false;
  bool finished = false;
  while (!finished) {
    if (impl_->runPostedTasks(done)) {
      finished = true;
      break;
    }
    if (impl_->stopRequested) break;
    if (impl_->dispatchDescriptors() && done && (*done)()) {
      finished = true;
      break;
    }
    if (impl_->stopRequested) break;
    const uint64_t orderLimit = impl_->nextTimerOrder;
    const TimePoint passNow = now();
    while (auto timer = impl_->earliestDue(passNow, orderLimit)) {
      impl_->fire(timer, *this);
      if (done && (*done)()) {
        finished = true;
        break;
      }
      if (impl_->stopRequested) break;
    }
    if (finished || impl_->stopRequested) break;

    // Sleep until posted work, the next timer (not under a manual clock: it only moves by
    // hand) or the deadline.
    std::optional<Duration> wait;
    if (!impl_->manualClock) wait = timeUntilNextTimer();
    if (deadline) {
      const Duration left = std::max(Duration::zero(), *deadline - Clock::now());
      if (left == Duration::zero()) break;
      wait = wait ? std::min(*wait, left) : left;
    }
    pollfd pfd{impl_->epollFd, POLLIN, 0};
    timespec ts{};
    if (wait) ts = toTimespec(*wait);
    ::ppoll(&pfd, 1, wait ? &ts : nullptr, nullptr);
  }
  impl_->stopRequested = false;
  return finished || (done && (*done)());
}

int RunLoop::pollFd() const { return impl_->epollFd; }

void RunLoop::processPending() {
  if (offThread(*impl_, "processPending")) return;
  impl_->runPostedTasks(nullptr);
  impl_->dispatchDescriptors();
  const uint64_t orderLimit = impl_->nextTimerOrder;
  const TimePoint passNow = now();
  while (auto timer = impl_->earliestDue(passNow, orderLimit)) impl_->fire(timer, *this);
}

std::optional<RunLoop::Duration> RunLoop::timeUntilNextTimer() const {
  const auto earliest = impl_->earliestDue(TimePoint::max());
  if (!earliest) return std::nullopt;
  return std::max(Duration::zero(), earliest->impl().due - now());
}

RunLoop::TimePoint RunLoop::now() const {
  if (impl_->manualClock) return TimePoint(Duration(impl_->manualNow.load()));
  return Clock::now();
}

// --- Timer
// ----------------------------------------------------------------------------------------

Timer::Timer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Timer::~Timer() = default;

std::shared_ptr<Timer> Timer::scheduled(std::chrono::duration<double> interval, bool repeats,
                                        Block block) {
  RunLoop& loop = RunLoop::current();
  RunLoop::Impl& li = loop.impl();
  double seconds = interval.count();
  if (!(seconds > 0)) seconds = 0;  // negative and NaN alike
  seconds = std::min(seconds, kMaxIntervalSeconds);

  auto impl = std::make_unique<Impl>();
  impl->loop = &loop;
  impl->interval = std::chrono::duration<double>(seconds);
  const auto length = std::chrono::duration_cast<RunLoop::Duration>(impl->interval);
  // A period that rounds to nothing would fire on every pass: such a timer fires once.
  impl->period = repeats ? length : RunLoop::Duration::zero();
  impl->block = block ? std::move(block) : [](Timer&) {};
  impl->start = loop.now();
  impl->tick = 1;
  impl->due = impl->start + length;
  impl->order = li.nextTimerOrder++;

  std::shared_ptr<Timer> timer(new Timer(std::move(impl)));
  li.timers.push_back(timer);
  return timer;
}

void Timer::invalidate() {
  if (!impl_->valid) return;
  impl_->valid = false;
  // `kept` may be the last reference: it dies after the block's captures, at the very end.
  std::shared_ptr<Timer> kept = impl_->loop ? impl_->loop->impl().retire(*this) : nullptr;
  // Release what the block captured now, unless the block is the caller.
  Block released = impl_->firing ? Block{} : impl_->takeBlock();
}

bool Timer::isValid() const { return impl_->valid; }

std::chrono::duration<double> Timer::interval() const { return impl_->interval; }

}  // namespace orv
