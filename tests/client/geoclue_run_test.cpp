// A desktop host that only calls startLocation() positions from GeoClue2 (mocked, private bus).
#include <gtest/gtest.h>

#include "client_fixture.h"
#include "orv/bundle.h"
#include "orv/coord_transform.h"
#include "orv/location_service.h"
#include "private_geoclue.h"

namespace orv::test {
namespace {

class GeoClueRunTest : public ClientTest {
 protected:
  void SetUp() override {
    if (const auto missing = PrivateGeoClue::missingTools(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    geoclue = std::make_unique<PrivateGeoClue>();
    ASSERT_TRUE(geoclue->busRunning());
    Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription", std::string("test"));
    setReachable(false);
    ASSERT_TRUE(LocationService::useGeoClue({"org.example.Maps"}).ok());
    client = makeClient();
  }
  void TearDown() override {
    client.reset();
    Bundle::mainBundle().clear();
    LocationService::useNone();
    geoclue.reset();
  }
  std::unique_ptr<PrivateGeoClue> geoclue;
  std::unique_ptr<OrvClientLocation> client;
};

TEST_F(GeoClueRunTest, StartLocationAnswersWithGeoCluesPosition) {
  ASSERT_TRUE(geoclue->startMock(R"({"initial": [39.9, 116.4, 35.0]})"));
  client->startLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->locations.empty(); }));
  const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ({39.9, 116.4});
  EXPECT_EQ(delegate->locations[0]->location()->position()->point()->latitude(), gcj.latitude);
}

TEST_F(GeoClueRunTest, DenialThenTheControllersRefusal) {
  ASSERT_TRUE(geoclue->startMock(R"({"deny": true})"));
  client->startLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  EXPECT_EQ(delegate->errors[0],
            "定位失败：GeoClue denied access to the location: Access denied by the test");
  client->startLocation();  // the status is now "denied"
  ASSERT_TRUE(waitFor([&] { return delegate->errors.size() >= 2; }));
  EXPECT_EQ(delegate->errors[1], "定位失败：定位权限已被拒绝或受限，请前往设置开启");
}

}  // namespace
}  // namespace orv::test
