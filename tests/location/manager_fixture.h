// A location manager on the current thread's loop with a delegate that records what arrives.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>
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

  RunLoop& loop = RunLoop::current();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::unique_ptr<LocationManager> manager = std::make_unique<LocationManager>();
};

}  // namespace orv::detail
