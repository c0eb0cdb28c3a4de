// The GeoClue2 provider against a mocked GeoClue (python3-dbusmock) on a private system bus.
#include "platform/location/geoclue_provider.h"

#include <gtest/gtest.h>

#include "manager_fixture.h"
#include "platform/location/system_provider.h"
#include "private_geoclue.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;

class GeoClueProviderTest : public ManagerTest {
 protected:
  void SetUp() override {
    if (const auto missing = test::PrivateGeoClue::missingTools(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    geoclue = std::make_unique<test::PrivateGeoClue>();
    ASSERT_TRUE(geoclue->busRunning());
    ManagerTest::SetUp();
  }
  void TearDown() override {
    ManagerTest::TearDown();
    geoclue.reset();
  }
  // Starts updates from `provider` and waits for the first error.
  std::string firstError(std::shared_ptr<LocationProvider> provider) {
    LocationService::use(std::move(provider));
    manager->startUpdatingLocation();
    return waitForError() ? delegate->errors[0] : "no error";
  }
  std::unique_ptr<test::PrivateGeoClue> geoclue;
};

TEST_F(GeoClueProviderTest, LocationsFromTheStartedClient) {
  ASSERT_TRUE(geoclue->startMock(R"({"initial": [39.9, 116.4, 20.0]})"));
  auto provider = std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps", 80, 25});
  LocationService::use(provider);
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::notDetermined);
  manager->startUpdatingLocation();
  ASSERT_TRUE(waitForFixes(1));
  const Location& first = delegate->fixes[0];
  EXPECT_EQ(
      (std::vector{first.coordinate.latitude, first.coordinate.longitude, first.horizontalAccuracy,
                   first.altitude, first.verticalAccuracy, first.speed, first.course}),
      (std::vector{39.9, 116.4, 20.0, 0.0, -1.0, -1.0, -1.0}));  // -DBL_MAX: unknown
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::authorizedWhenInUse);
  EXPECT_EQ(geoclue->clientProperty("RequestedAccuracyLevel"), 6u);  // street
  EXPECT_EQ(geoclue->clientProperty("DistanceThreshold"), 25u);

  EXPECT_TRUE(delegate->errors.empty());
}

TEST_F(GeoClueProviderTest, AccessDeniedMakesTheStatusDenied) {
  ASSERT_TRUE(geoclue->startMock(R"({"deny": true})"));
  auto provider = std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"});
  EXPECT_EQ(firstError(provider),
            "GeoClue denied access to the location: Access denied by the test");
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::denied);
}

TEST_F(GeoClueProviderTest, MissingAgentIsAClearFailureNotAHang) {
  ASSERT_TRUE(geoclue->startMock(R"({"no_agent": true})"));
  EXPECT_EQ(
      firstError(std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"}, 300ms)),
      kGeoClueNoAgentMessage);
}

TEST_F(GeoClueProviderTest, GeoClueNotRunning) {
  EXPECT_EQ(firstError(std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"})),
            "GeoClue is not available on the system bus");
}

// The system default tries gpsd, then GeoClue when it is on the bus; a location's known altitude,
// speed and heading arrive as they are.
TEST_F(GeoClueProviderTest, SystemCandidateAnswersOnlyWhenGeoClueIsOnTheBus) {
  std::vector<std::string> names;
  for (const auto& c : systemCandidates()) names.push_back(c.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"gpsd at 127.0.0.1:2947", "GeoClue2 on the system bus"}));
  const SystemCandidate geoClue = geoClueSystemCandidate();
  EXPECT_EQ(geoClue.probe(), "not on the system bus");
  ASSERT_TRUE(geoclue->startMock(R"({"initial": [30.5, 120.25, 5, 12.5, 1.5, 90]})"));
  EXPECT_EQ(geoClue.probe(), std::nullopt);
  LocationService::use(geoClue.make());
  manager->startUpdatingLocation();
  ASSERT_TRUE(waitForFixes(1));
  const Location& f = delegate->fixes[0];
  EXPECT_EQ((std::vector{f.coordinate.latitude, f.altitude, f.speed, f.course}),
            (std::vector{30.5, 12.5, 1.5, 90.0}));
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
