// A host that only calls startLocation() positions from an NMEA receiver on a serial port.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "client_fixture.h"
#include "nmea_logs.h"
#include "orv/bundle.h"
#include "orv/coord_transform.h"
#include "orv/location_service.h"

namespace orv::test {
namespace {

class NmeaRunTest : public ClientTest {
 protected:
  NmeaRunTest() {
    Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription", std::string("test"));
    setReachable(false);
    termios raw{};
    ::cfmakeraw(&raw);
    EXPECT_EQ(::openpty(&master, &slave, name, &raw, nullptr), 0);
  }
  ~NmeaRunTest() override {
    client.reset();
    Bundle::mainBundle().clear();
    LocationService::useNone();
    ::close(master);
    ::close(slave);
  }
  int master = -1;
  int slave = -1;
  char name[64] = {};
  std::unique_ptr<OrvClientLocation> client = makeClient();
};

TEST_F(NmeaRunTest, StartLocationAnswersWithTheReceiversFix) {
  ASSERT_TRUE(LocationService::useNmea({name}).ok());
  client->startLocation();
  const std::string log = asReceived(kSirfParked);
  ASSERT_EQ(::write(master, log.data(), log.size()), static_cast<ssize_t>(log.size()));
  ASSERT_TRUE(waitFor([&] { return !delegate->locations.empty(); }));
  const Coordinate gcj =
      JyrCoorTransform::transformFromWGSToGCJ({31 + 12.3456 / 60, 121 + 28.7654 / 60});
  const auto& point = *delegate->locations[0]->location()->position()->point();
  EXPECT_NEAR(point.latitude(), gcj.latitude, 1e-9);
  EXPECT_NEAR(point.longitude(), gcj.longitude, 1e-9);
  client->stopLocation();
}

TEST_F(NmeaRunTest, MissingReceiverIsAPositioningFailure) {
  ASSERT_TRUE(LocationService::useNmea({"/dev/orv-no-such-receiver"}).ok());
  client->startLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  EXPECT_EQ(
      delegate->errors[0],
      "定位失败：cannot open NMEA device /dev/orv-no-such-receiver: No such file or directory");
}

}  // namespace
}  // namespace orv::test
