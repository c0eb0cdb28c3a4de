#include "location/location_manager.h"

#include <gtest/gtest.h>

#include <thread>

#include "location/provider_registry.h"
#include "manager_fixture.h"
#include "manual_clock.h"

namespace orv::detail {
namespace {

Location fixAt(double lat, double lng = 120) {
  Location l;
  l.coordinate = {lat, lng};
  l.horizontalAccuracy = 5;
  return l;
}

class LocationManagerTest : public ManagerTest {
 protected:
  ManualClock clock{loop};
  std::shared_ptr<SimulatedLocationProvider> sim = LocationService::useSimulated();
};

// Callbacks are posted, never synchronous, and arrive on the creating thread whichever thread
// the provider pushed from; without a delegate they are dropped.
TEST_F(LocationManagerTest, CallbacksArriveLaterOnTheCreatingThread) {
  manager->startUpdatingLocation();
  std::thread([this] { sim->pushLocation(fixAt(30)); }).join();
  sim->pushError("boom");
  EXPECT_TRUE(delegate->fixes.empty());
  EXPECT_TRUE(delegate->errors.empty());
  loop.processPending();
  EXPECT_EQ(delegate->threads, (std::vector{std::this_thread::get_id()}));
  EXPECT_EQ(delegate->errors, (std::vector<std::string>{"boom"}));
  sim->pushLocation(fixAt(30));
  delegate.reset();
  loop.processPending();  // a delegate that is gone gets nothing, and nothing breaks
}

// A host's own source: keeps every sink it is given and each sink it was asked to stop.
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
  manager->startUpdatingLocation();
  ASSERT_EQ(host->sinks.size(), 1u);
  host->sinks[0]->deliverLocations({fixAt(30)});  // posted, not yet handled
  manager->stopUpdatingLocation();
  manager->startUpdatingLocation();  // a new stream, a new sink
  ASSERT_EQ(host->sinks.size(), 2u);
  host->sinks[0]->deliverError("late");
  host->sinks[1]->deliverLocations({fixAt(31)});
  loop.processPending();
  ASSERT_EQ(delegate->fixes.size(), 1u);
  EXPECT_EQ(delegate->fixes[0].coordinate.latitude, 31);
  EXPECT_TRUE(delegate->errors.empty());
  // Destroyed while updating: the stream stops, and a sink outliving its manager drops its fixes.
  host->sinks[1]->deliverLocations({fixAt(32)});
  manager.reset();
  EXPECT_EQ(host->stopped,
            (std::vector<const LocationSink*>{host->sinks[0].get(), host->sinks[1].get()}));
  host->sinks[1]->deliverLocations({fixAt(33)});
  loop.processPending();
  EXPECT_EQ(delegate->fixes.size(), 1u);
}

// A one-shot request ends with its first fix (the newest of the batch) or error; while
// updating, the stream goes on.
TEST_F(LocationManagerTest, RequestLocationDeliversTheNextFixOrErrorOnlyThenStops) {
  manager->requestLocation();
  sim->pushLocations({fixAt(30), fixAt(31)});
  loop.processPending();
  EXPECT_FALSE(sim->isUpdating());
  manager->requestLocation();
  sim->pushError("no fix");
  sim->pushLocation(fixAt(32));
  loop.processPending();
  EXPECT_FALSE(sim->isUpdating());
  ASSERT_EQ(delegate->fixes.size(), 1u);
  EXPECT_EQ(delegate->fixes[0].coordinate.latitude, 31);
  EXPECT_EQ(delegate->errors, (std::vector<std::string>{"no fix"}));
  manager->startUpdatingLocation();
  manager->requestLocation();
  sim->pushLocation(fixAt(30));
  loop.processPending();
  EXPECT_TRUE(sim->isUpdating());
}

TEST_F(LocationManagerTest, DistanceFilterDropsContinuousFixesCloserThanItToTheLastDelivered) {
  manager->setDistanceFilter(3.0);
  manager->startUpdatingLocation();
  const double m = 1.0 / 111195.0;  // a metre of latitude on this sphere, in degrees
  // 0 m, +2 m (dropped), +3.5 m from the first (passes), +1 m (dropped), +6 m (passes).
  sim->pushLocations({fixAt(30), fixAt(30 + 2 * m), fixAt(30 + 3.5 * m)});
  sim->pushLocation(fixAt(30 + 4.5 * m));
  sim->pushLocation(fixAt(30 + 9.5 * m));
  // A fresh start delivers its first fix whatever the distance.
  loop.processPending();
  manager->stopUpdatingLocation();
  manager->startUpdatingLocation();
  sim->pushLocation(fixAt(30 + 9.5 * m));
  loop.processPending();
  std::vector<double> lats;
  for (const auto& f : delegate->fixes) lats.push_back(f.coordinate.latitude);
  EXPECT_EQ(lats, (std::vector{30.0, 30 + 3.5 * m, 30 + 9.5 * m, 30 + 9.5 * m}));
}

// A prompt answers only an open question: not determined, or when-in-use for the upgrade.
TEST_F(LocationManagerTest, PermissionPromptAnswersOnlyAnOpenQuestion) {
  sim->setStatusAfterRequest(AuthorizationStatus::authorizedWhenInUse,
                             AuthorizationStatus::authorizedAlways);
  for (auto [before, always, after] : {std::tuple{0, false, 4}, {4, true, 3}, {1, true, 1}}) {
    sim->setAuthorizationStatus(AuthorizationStatus{before});
    always ? manager->requestAlwaysAuthorization() : manager->requestWhenInUseAuthorization();
    EXPECT_EQ(LocationManager::authorizationStatus(), after) << before << " " << always;
  }
}

// One start, one failure (the one-shot rides on the stream); every start fails again.
TEST_F(ManagerTest, WithoutAProviderEveryStartFailsSayingHowToChooseOne) {
  LocationService::useNone();
  EXPECT_EQ(LocationManager::authorizationStatus(), 0);
  manager->startUpdatingLocation();
  manager->requestLocation();
  loop.processPending();
  manager->stopUpdatingLocation();
  manager->requestLocation();
  loop.processPending();
  const std::string text =
      "No location provider is configured: call orv::LocationService::use(), "
      "orv::LocationService::useSimulated() or orv::LocationService::useReplay() before starting "
      "location updates";
  EXPECT_EQ(delegate->errors, (std::vector{text, text}));
}

// A manager made on a worker thread may outlive that thread's loop; a provider's later fixes must
// not reach the ended loop.
TEST(LocationManagerLoop, FixesAfterTheCreatingLoopEndedAreDropped) {
  const auto sim = LocationService::useSimulated();
  const auto delegate = std::make_shared<RecordingDelegate>();
  std::unique_ptr<LocationManager> manager;
  std::thread([&] {
    manager = std::make_unique<LocationManager>();
    manager->setDelegate(delegate);
    manager->startUpdatingLocation();
  }).join();
  sim->pushLocation(fixAt(30));
  manager.reset();
  LocationService::useNone();
  EXPECT_TRUE(delegate->fixes.empty());
}

}  // namespace
}  // namespace orv::detail
