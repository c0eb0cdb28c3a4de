// A host that only calls startLocation() positions from gpsd, or learns what the default tried.
#include <gtest/gtest.h>

#include "client_fixture.h"
#include "fake_gpsd.h"
#include "orv/bundle.h"
#include "orv/coord_transform.h"
#include "orv/location_service.h"
#include "platform/location/gpsd_provider.h"

namespace orv::test {
namespace {

class GpsdRunTest : public ClientTest {
 protected:
  GpsdRunTest() {
    Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription", std::string("test"));
    setReachable(false);
  }
  ~GpsdRunTest() override {
    client.reset();
    Bundle::mainBundle().clear();
    LocationService::useNone();
  }
  std::unique_ptr<OrvClientLocation> client = makeClient();
};

TEST_F(GpsdRunTest, StartLocationAnswersWithGpsdsFix) {
  FakeGpsd gpsd;
  LocationService::useGpsd({"127.0.0.1", gpsd.port()});
  client->startLocation();
  ASSERT_TRUE(gpsd.accept());
  gpsd.greet();
  gpsd.send(R"({"class":"TPV","mode":3,"lat":39.9,"lon":116.4,"eph":8})"
            "\n");
  ASSERT_TRUE(waitFor([&] { return !delegate->locations.empty(); }));
  const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ({39.9, 116.4});
  const auto& point = *delegate->locations[0]->location()->position()->point();
  EXPECT_NEAR(point.latitude(), gcj.latitude, 1e-9);
  EXPECT_NEAR(point.longitude(), gcj.longitude, 1e-9);
  EXPECT_EQ(gpsd.readLine(), "");  // a single run stops, and stopping closes the socket
}

TEST_F(GpsdRunTest, TheDefaultSaysWhatItTriedAndHowToChoose) {
  const GpsdOptions standard;
  if (!detail::probeTcp(standard, std::chrono::seconds(1))) {
    GTEST_SKIP() << "something listens on 127.0.0.1:2947";
  }
  LocationService::useSystemDefault();
  client->startLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  // What GeoClue's probe finds depends on the machine's system bus.
  const std::string& text = delegate->errors[0];
  EXPECT_TRUE(
      text.starts_with("定位失败：No system location source answered (tried gpsd at "
                       "127.0.0.1:2947 (Connection refused)"))
      << text;
  EXPECT_TRUE(text.ends_with(
      "Start gpsd (or GeoClue on a desktop), or choose a provider with "
      "orv::LocationService::use(), useGpsd(), useNmea(), useGeoClue(), useReplay() or "
      "useSimulated() before starting location updates"))
      << text;
}

}  // namespace
}  // namespace orv::test
