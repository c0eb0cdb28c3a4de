// Jobs run on a few threads and come back in the order they were given, with a bounded number in
// flight, so a pipeline of read -> work -> write keeps flat memory and an order-preserving output.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orv::fileconv {

template <class Job>
class OrderedPool {
 public:
  // `work` runs on `threads` threads: the submitting one (while it waits) and threads - 1 of the
  // pool's own, one job at a time each.
  OrderedPool(unsigned threads, std::function<void(Job&)> work)
      : work_(std::move(work)), window_(2 * threads + 1) {
    for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this] { serve(); });
  }
  ~OrderedPool() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      queue_.clear();  // after an error nobody waits for the rest
    }
    ready_.notify_all();
    for (auto& t : workers_) t.join();
  }
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  // A job to fill: a finished one handed back earlier, or a new one.
  std::unique_ptr<Job> spare() {
    if (spares_.empty()) return std::make_unique<Job>();
    auto job = std::move(spares_.back());
    spares_.pop_back();
    return job;
  }

  // Queues `job`; when the window is full, first hands the oldest finished job to `done`
  // (on this thread). Rethrows what a job threw.
  template <class Done>
  void submit(std::unique_ptr<Job> job, Done&& done) {
    if (inFlight_.size() >= window_) retireOldest(done);
    auto entry = std::make_shared<Entry>();
    entry->job = std::move(job);
    inFlight_.push_back(entry);
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(entry);
    }
    ready_.notify_one();
  }

  // Hands every remaining job to `done`, in order.
  template <class Done>
  void drain(Done&& done) {
    while (!inFlight_.empty()) retireOldest(done);
  }

 private:
  struct Entry {
    std::unique_ptr<Job> job;
    bool finished = false;
    std::exception_ptr error;
  };

  // Waits for the oldest job; meanwhile this thread runs queued jobs itself, so it works instead
  // of waiting on threads that a busy machine may not schedule soon.
  template <class Done>
  void retireOldest(Done& done) {
    auto entry = std::move(inFlight_.front());
    inFlight_.pop_front();
    {
      std::unique_lock lock(mutex_);
      while (!entry->finished) {
        if (queue_.empty()) {
          finished_.wait(lock);
        } else {
          runFront(lock);
        }
      }
    }
    if (entry->error) std::rethrow_exception(entry->error);
    done(*entry->job);
    spares_.push_back(std::move(entry->job));
  }

  // Runs the first queued job, with the lock released meanwhile.
  void runFront(std::unique_lock<std::mutex>& lock) {
    auto entry = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    try {
      work_(*entry->job);
    } catch (...) {
      entry->error = std::current_exception();
    }
    lock.lock();
    entry->finished = true;
    finished_.notify_all();
  }

  void serve() {
    std::unique_lock lock(mutex_);
    while (true) {
      ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      runFront(lock);
    }
  }

  std::function<void(Job&)> work_;
  const size_t window_;
  std::deque<std::shared_ptr<Entry>> inFlight_;  // the submitting thread's, in order
  std::vector<std::unique_ptr<Job>> spares_;     // the submitting thread's
  std::mutex mutex_;
  std::condition_variable ready_, finished_;
  std::deque<std::shared_ptr<Entry>> queue_;  // guarded by mutex_
  bool stopping_ = false;                     // guarded by mutex_
  std::vector<std::thread> workers_;          // last: started after everything they use
};

}  // namespace orv::fileconv
