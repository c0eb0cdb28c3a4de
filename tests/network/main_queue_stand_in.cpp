// Minimal main queue for the network tests, linked only while the platform's run loop is absent.
#include <condition_variable>
#include <deque>
#include <mutex>

#include "orv/run_loop.h"

namespace orv {

struct RunLoop::Impl {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Task> tasks;
};

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}
RunLoop::~RunLoop() = default;

RunLoop& RunLoop::main() {
  static RunLoop* loop = new RunLoop();
  return *loop;
}

void RunLoop::post(Task task) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->tasks.push_back(std::move(task));
  }
  impl_->cv.notify_one();
}

bool RunLoop::runUntil(const std::function<bool()>& done, Duration timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    std::unique_lock lock(impl_->mutex);
    if (!impl_->cv.wait_until(lock, deadline, [&] { return !impl_->tasks.empty(); })) return done();
    Task task = std::move(impl_->tasks.front());
    impl_->tasks.pop_front();
    lock.unlock();
    task();
  }
  return true;
}

}  // namespace orv
