// A location manager on the current thread's loop with a delegate that records what arrives.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

#include "location/location_manager.h"
#include "orv/location_service.h"
#include "orv/run_loop.h"

namespace orv::detail {

struct RecordingDelegate : LocationManagerDelegate {
  void didUpdateLocations(const std::vector<Location>& locations) override {
    fixes.insert(fixes.end(), locations.begin(), locations.end());
    for (size_t i = 0; i < locations.size(); ++i) arrivals.push_back(RunLoop::current().now());
    threads.push_back(std::this_thread::get_id());
  }
  void didFailWithError(LocationFailure kind, const std::string& text) override {
    kinds.push_back(kind);
    errors.push_back(text);
  }
  std::vector<Location> fixes;               // every batch's, in order
  std::vector<RunLoop::TimePoint> arrivals;  // one per fix
  std::vector<std::thread::id> threads;      // one per batch
  std::vector<std::string> errors;
  std::vector<LocationFailure> kinds;
};

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.processPending();
    manager->setDelegate(delegate);
  }
  void TearDown() override {
    manager.reset();
    LocationService::useNone();
    loop.processPending();
  }
  bool waitFor(const std::function<bool()>& done) {
    return loop.runUntil(done, std::chrono::seconds(15));
  }
  bool waitForFixes(size_t n) {
    return waitFor([&] { return delegate->fixes.size() >= n; });
  }
  bool waitForError() {
    return waitFor([&] { return !delegate->errors.empty(); });
  }
  // Runs `work` (a fake server's step that waits for the provider's answer) on another thread
  // while this loop runs, so that a source read on this loop can answer it.
  template <class Work>
  auto whileLooping(Work work) {
    using Result = decltype(work());
    std::promise<Result> outcome;
    std::atomic<bool> done{false};
    std::thread worker([&] {
      if constexpr (std::is_void_v<Result>) {
        work();
        outcome.set_value();
      } else {
        outcome.set_value(work());
      }
      done = true;
      loop.post([] {});  // wakes the loop to see it
    });
    loop.runUntil([&] { return done.load(); }, std::chrono::seconds(15));
    worker.join();
    return outcome.get_future().get();
  }

  RunLoop& loop = RunLoop::current();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::unique_ptr<LocationManager> manager = std::make_unique<LocationManager>();
};

}  // namespace orv::detail
