// One run end to end from a real source: a host that only calls startLocation() positions from
// gpsd. Each source's own behaviour and texts are its provider's tests.
#include <gtest/gtest.h>

#include "client_fixture.h"
#include "fake_gpsd.h"
#include "orv/coord_transform.h"

namespace orv::test {
namespace {

TEST_F(PositioningTest, StartLocationAnswersWithGpsdsFix) {
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

}  // namespace
}  // namespace orv::test
