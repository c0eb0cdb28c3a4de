// The GeoClue2 provider against a mocked GeoClue (python3-dbusmock) on a private system bus.
#include "platform/location/geoclue_provider.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "orv/run_loop.h"
#include "platform/location/location_manager.h"
#include "platform/location/system_provider.h"
#include "private_geoclue.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;

struct RecordingDelegate : LocationManagerDelegate {
  void didUpdateLocations(const std::vector<Location>& l) override {
    fixes.insert(fixes.end(), l.begin(), l.end());
  }
  void didFailWithError(const std::string& text) override { errors.push_back(text); }
  std::vector<Location> fixes;
  std::vector<std::string> errors;
};

class GeoClueProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto missing = test::PrivateGeoClue::missingTools(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    geoclue = std::make_unique<test::PrivateGeoClue>();
    ASSERT_TRUE(geoclue->busRunning());
    manager.setDelegate(delegate);
  }
  void TearDown() override {
    manager.stopUpdatingLocation();
    LocationService::useNone();
    loop.processPending();
    geoclue.reset();
  }
  bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 15s); }

  std::unique_ptr<test::PrivateGeoClue> geoclue;
  RunLoop& loop = RunLoop::current();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  LocationManager manager;
};

TEST_F(GeoClueProviderTest, LocationsFromTheStartedClient) {
  ASSERT_TRUE(geoclue->startMock(R"({"initial": [39.9, 116.4, 20.0]})"));
  auto provider = std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps", 80, 25});
  LocationService::use(provider);
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::notDetermined);
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->fixes.empty(); }));
  Location first = delegate->fixes[0];
  EXPECT_EQ(first.coordinate.latitude, 39.9);
  EXPECT_EQ(first.coordinate.longitude, 116.4);
  EXPECT_EQ(first.horizontalAccuracy, 20.0);
  EXPECT_EQ(first.altitude, 0.0);  // -DBL_MAX: unknown
  EXPECT_EQ(first.verticalAccuracy, -1.0);
  EXPECT_EQ(first.speed, -1.0);
  EXPECT_EQ(first.course, -1.0);
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::authorizedWhenInUse);
  EXPECT_EQ(geoclue->clientProperty("RequestedAccuracyLevel"), 6u);  // street
  EXPECT_EQ(geoclue->clientProperty("DistanceThreshold"), 25u);

  ASSERT_TRUE(geoclue->pushLocation(30.5, 120.25, 5, 12.5, 1.5, 90));
  ASSERT_TRUE(waitFor([&] { return delegate->fixes.size() >= 2; }));
  const Location& second = delegate->fixes[1];
  EXPECT_EQ(second.coordinate.latitude, 30.5);
  EXPECT_EQ(second.altitude, 12.5);
  EXPECT_EQ(second.speed, 1.5);
  EXPECT_EQ(second.course, 90.0);
  EXPECT_TRUE(delegate->errors.empty());
}

TEST_F(GeoClueProviderTest, AccessDeniedMakesTheStatusDenied) {
  ASSERT_TRUE(geoclue->startMock(R"({"deny": true})"));
  auto provider = std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"});
  LocationService::use(provider);
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  EXPECT_EQ(delegate->errors[0],
            "GeoClue denied access to the location: Access denied by the test");
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::denied);
}

TEST_F(GeoClueProviderTest, MissingAgentIsAClearFailureNotAHang) {
  ASSERT_TRUE(geoclue->startMock(R"({"no_agent": true})"));
  LocationService::use(
      std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"}, 300ms));
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  EXPECT_EQ(delegate->errors[0], kGeoClueNoAgentMessage);
}

TEST_F(GeoClueProviderTest, GeoClueNotRunning) {
  ASSERT_TRUE(LocationService::useGeoClue({"org.example.Maps"}).ok());
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  EXPECT_EQ(delegate->errors[0], "GeoClue is not available on the system bus");
}

TEST_F(GeoClueProviderTest, SystemDefaultTriesGpsdThenGeoClue) {
  const auto names = [] {
    std::vector<std::string> out;
    for (const auto& c : systemCandidates()) out.push_back(c.name);
    return out;
  }();
  EXPECT_EQ(names,
            (std::vector<std::string>{"gpsd at 127.0.0.1:2947", "GeoClue2 on the system bus"}));
  // gpsd's candidate, pointed at a port nobody listens on.
  const auto noGpsd = SystemCandidate{
      "gpsd at 127.0.0.1:1", [] { return std::optional<std::string>("Connection refused"); },
      [] { return std::shared_ptr<LocationProvider>(); }};
  auto provider = std::make_shared<SystemProvider>(std::vector{noGpsd, geoClueSystemCandidate()});
  LocationService::use(provider);
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  EXPECT_TRUE(delegate->errors[0].starts_with(
      "No system location source answered (tried gpsd at 127.0.0.1:1 (Connection refused); "
      "GeoClue2 on the system bus (not on the system bus)). "))
      << delegate->errors[0];
  manager.stopUpdatingLocation();

  ASSERT_TRUE(geoclue->startMock(R"({"initial": [22.5, 114.0, 50.0]})"));
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->fixes.empty(); }));
  EXPECT_EQ(delegate->fixes[0].coordinate.latitude, 22.5);
}

TEST(GeoClueAccuracy, LevelsFollowTheDesiredAccuracy) {
  EXPECT_EQ(geoClueAccuracyFor(-1), GeoClueAccuracy::exact);
  EXPECT_EQ(geoClueAccuracyFor(10), GeoClueAccuracy::exact);
  EXPECT_EQ(geoClueAccuracyFor(100), GeoClueAccuracy::street);
  EXPECT_EQ(geoClueAccuracyFor(1000), GeoClueAccuracy::neighborhood);
  EXPECT_EQ(geoClueAccuracyFor(3000), GeoClueAccuracy::city);
  EXPECT_FALSE(LocationService::useGeoClue({""}).ok());
}

}  // namespace
}  // namespace orv::detail
