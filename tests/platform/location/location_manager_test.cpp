#include "platform/location/location_manager.h"

#include <gtest/gtest.h>

#include <thread>

#include "orv/location_service.h"
#include "orv/run_loop.h"
#include "platform/location/location_provider.h"
#include "platform/manual_clock.h"

namespace orv::detail {
namespace {

Location fixAt(double lat, double lng, double accuracy = 5.0) {
  Location l;
  l.coordinate = {lat, lng};
  l.horizontalAccuracy = accuracy;
  return l;
}

struct RecordingDelegate : LocationManagerDelegate {
  void didUpdateLocations(const std::vector<Location>& locations) override {
    batches.push_back(locations);
    threads.push_back(std::this_thread::get_id());
  }
  void didFailWithError(const std::string& text) override { errors.push_back(text); }
  std::vector<std::vector<Location>> batches;
  std::vector<std::string> errors;
  std::vector<std::thread::id> threads;
};

class LocationManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.processPending();
    manager = std::make_unique<LocationManager>();
    manager->setDelegate(delegate);
  }
  void TearDown() override {
    manager.reset();
    LocationService::useNone();
    loop.processPending();
  }
  RunLoop& loop = RunLoop::current();
  ManualClock clock{loop};
  std::shared_ptr<SimulatedLocationProvider> sim = LocationService::useSimulated();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::unique_ptr<LocationManager> manager;
};

TEST_F(LocationManagerTest, CallbacksAreNeverSynchronous) {
  manager->startUpdatingLocation();
  sim->pushLocation(fixAt(30, 120));
  sim->pushError("boom");
  EXPECT_TRUE(delegate->batches.empty());
  EXPECT_TRUE(delegate->errors.empty());
  loop.processPending();
  EXPECT_EQ(delegate->batches.size(), 1u);
  EXPECT_EQ(delegate->errors, (std::vector<std::string>{"boom"}));
}

TEST_F(LocationManagerTest, FixesPushedFromAnotherThreadArriveOnTheCreatingThread) {
  manager->startUpdatingLocation();
  std::thread([this] { sim->pushLocation(fixAt(30, 120)); }).join();
  loop.processPending();
  ASSERT_EQ(delegate->threads.size(), 1u);
  EXPECT_EQ(delegate->threads[0], std::this_thread::get_id());
}

TEST_F(LocationManagerTest, NothingArrivesUnlessUpdatingOrAsked) {
  sim->pushLocation(fixAt(30, 120));
  manager->startUpdatingLocation();
  manager->stopUpdatingLocation();
  sim->pushLocation(fixAt(30, 120));
  sim->pushError("late");
  loop.processPending();
  EXPECT_TRUE(delegate->batches.empty());
  EXPECT_TRUE(delegate->errors.empty());
  EXPECT_FALSE(sim->isUpdating());
}

// A host's own source: keeps every sink it is given and counts start/stop calls.
struct HostProvider final : LocationProvider {
  AuthorizationStatus authorizationStatus() const override {
    return AuthorizationStatus::authorizedAlways;
  }
  void start(const std::shared_ptr<LocationSink>& sink) override { sinks.push_back(sink); }
  void stop(const LocationSink& sink) override { stopped.push_back(&sink); }
  std::vector<std::shared_ptr<LocationSink>> sinks;
  std::vector<const LocationSink*> stopped;
};

TEST_F(LocationManagerTest, AStoppedStreamDeliversNothingEvenWhatWasAlreadyOnItsWay) {
  auto host = std::make_shared<HostProvider>();
  LocationService::use(host);
  EXPECT_EQ(LocationManager::authorizationStatus(), 3);
  manager->startUpdatingLocation();
  ASSERT_EQ(host->sinks.size(), 1u);
  host->sinks[0]->deliverLocations({fixAt(30, 120)});  // posted, not yet handled
  manager->stopUpdatingLocation();
  EXPECT_EQ(host->stopped, (std::vector<const LocationSink*>{host->sinks[0].get()}));
  manager->startUpdatingLocation();  // a new stream, a new sink
  ASSERT_EQ(host->sinks.size(), 2u);
  std::thread([&] {
    host->sinks[0]->deliverError("late");
    host->sinks[1]->deliverLocations({fixAt(31, 121)});
  }).join();
  loop.processPending();
  ASSERT_EQ(delegate->batches.size(), 1u);
  EXPECT_EQ(delegate->batches[0][0].coordinate.latitude, 31);
  EXPECT_TRUE(delegate->errors.empty());
  manager.reset();  // a sink outliving its manager drops what it gets
  host->sinks[1]->deliverLocations({fixAt(32, 122)});
  loop.processPending();
  EXPECT_EQ(delegate->batches.size(), 1u);
}

// A one-shot request ends with its first fix or error.
TEST_F(LocationManagerTest, RequestLocationDeliversTheNextFixOrErrorOnlyThenStops) {
  manager->requestLocation();
  EXPECT_TRUE(sim->isUpdating());
  sim->pushLocations({fixAt(30, 120), fixAt(31, 121)});
  loop.processPending();
  EXPECT_FALSE(sim->isUpdating());
  sim->pushLocation(fixAt(32, 122));
  loop.processPending();
  ASSERT_EQ(delegate->batches.size(), 1u);
  ASSERT_EQ(delegate->batches[0].size(), 1u);
  EXPECT_EQ(delegate->batches[0][0].coordinate.latitude, 31);

  manager->requestLocation();
  sim->pushError("no fix");
  loop.processPending();
  EXPECT_FALSE(sim->isUpdating());
  EXPECT_EQ(delegate->errors, (std::vector<std::string>{"no fix"}));
}

TEST_F(LocationManagerTest, OneShotWhileUpdatingKeepsTheStreamRunning) {
  manager->startUpdatingLocation();
  manager->requestLocation();
  sim->pushLocation(fixAt(30, 120));
  loop.processPending();
  EXPECT_TRUE(sim->isUpdating());
  EXPECT_EQ(delegate->batches.size(), 1u);
}

TEST_F(LocationManagerTest, DistanceFilterDropsContinuousFixesCloserThanItToTheLastDelivered) {
  manager->setDistanceFilter(3.0);
  manager->startUpdatingLocation();
  // One metre of latitude is about 1 / 111195 degree on this sphere.
  const double m = 1.0 / 111195.0;
  // 0 m, +2 m (dropped), +3.5 m from the first (passes), +1 m (dropped), +6 m (passes).
  sim->pushLocations({fixAt(30, 120), fixAt(30 + 2 * m, 120), fixAt(30 + 3.5 * m, 120)});
  sim->pushLocation(fixAt(30 + 4.5 * m, 120));
  sim->pushLocation(fixAt(30 + 9.5 * m, 120));
  loop.processPending();
  ASSERT_EQ(delegate->batches.size(), 2u);
  ASSERT_EQ(delegate->batches[0].size(), 2u);
  EXPECT_EQ(delegate->batches[0][1].coordinate.latitude, 30 + 3.5 * m);
  EXPECT_EQ(delegate->batches[1][0].coordinate.latitude, 30 + 9.5 * m);

  // A fresh start delivers its first fix whatever the distance.
  manager->stopUpdatingLocation();
  manager->startUpdatingLocation();
  sim->pushLocation(fixAt(30 + 9.5 * m, 120));
  loop.processPending();
  EXPECT_EQ(delegate->batches.size(), 3u);
}

TEST_F(LocationManagerTest, DestroyedWhileUpdatingStopsAndDropsPendingCallbacks) {
  manager->startUpdatingLocation();
  sim->pushLocation(fixAt(30, 120));
  manager.reset();
  EXPECT_FALSE(sim->isUpdating());
  loop.processPending();
  EXPECT_TRUE(delegate->batches.empty());
}

TEST_F(LocationManagerTest, DelegateGoneMeansNoCallback) {
  manager->startUpdatingLocation();
  delegate.reset();
  sim->pushLocation(fixAt(30, 120));
  loop.processPending();  // must not crash
  SUCCEED();
}

struct PromptCase {
  int before;
  bool always;
  int expected;
};

void PrintTo(const PromptCase& c, std::ostream* os) {
  *os << "status " << c.before << (c.always ? ", always -> " : ", when-in-use -> ") << c.expected;
}

class PermissionPromptTest : public LocationManagerTest,
                             public ::testing::WithParamInterface<PromptCase> {};

TEST_P(PermissionPromptTest, PromptAnswersOnlyAnOpenQuestion) {
  const auto& c = GetParam();
  sim->setAuthorizationStatus(AuthorizationStatus{c.before});
  sim->setStatusAfterRequest(AuthorizationStatus::authorizedWhenInUse,
                             AuthorizationStatus::authorizedAlways);
  c.always ? manager->requestAlwaysAuthorization() : manager->requestWhenInUseAuthorization();
  EXPECT_EQ(LocationManager::authorizationStatus(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Statuses, PermissionPromptTest,
                         ::testing::Values(PromptCase{0, false, 4}, PromptCase{4, false, 4},
                                           PromptCase{4, true, 3}, PromptCase{1, true, 1}));

TEST(DefaultLocationProviderTest, EveryStartFailsSayingHowToChooseAProvider) {
  LocationService::useNone();
  auto delegate = std::make_shared<RecordingDelegate>();
  LocationManager manager;
  manager.setDelegate(delegate);
  EXPECT_EQ(LocationManager::authorizationStatus(), 0);
  manager.startUpdatingLocation();
  manager.requestLocation();
  EXPECT_TRUE(delegate->errors.empty());
  RunLoop::current().processPending();
  ASSERT_EQ(delegate->errors.size(), 1u);  // one start, one failure; the one-shot rides on it
  EXPECT_NE(delegate->errors[0].find("No location provider is configured"), std::string::npos);
  EXPECT_NE(delegate->errors[0].find("orv::LocationService::useSimulated()"), std::string::npos);
  EXPECT_NE(delegate->errors[0].find("orv::LocationService::useReplay()"), std::string::npos);

  manager.stopUpdatingLocation();
  manager.requestLocation();
  RunLoop::current().processPending();
  EXPECT_EQ(delegate->errors.size(), 2u);
}

}  // namespace
}  // namespace orv::detail
