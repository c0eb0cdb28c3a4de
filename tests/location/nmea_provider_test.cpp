#include "location/nmea_provider.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "fake_gpsd.h"
#include "location/retry_backoff.h"
#include "manager_fixture.h"
#include "manual_clock.h"
#include "nmea_logs.h"
#include "test_server.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;

TEST(RetryBackoffTest, DoublesUpToTheLongestUntilReset) {
  RetryBackoff backoff(0.25s, 1s);
  for (double want : {0.25, 0.5, 1.0, 1.0}) EXPECT_EQ(backoff.next().count(), want);
  backoff.reset();
  EXPECT_EQ(backoff.next().count(), 0.25);
}

// A pseudo-terminal standing in for a receiver on a serial port.
struct Pty {
  Pty() { EXPECT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0); }
  ~Pty() {
    if (master >= 0) ::close(master);
    ::close(slave);
  }
  int master = -1;
  int slave = -1;
  char name[64] = {};
};

class NmeaProviderTest : public ManagerTest {
 protected:
  void use(const std::string& source) {
    ASSERT_TRUE(LocationService::useNmea({source}).ok()) << source;
  }
};

TEST_F(NmeaProviderTest, SourcesAreCheckedWhenChosen) {
  for (const char* bad : {"ttyUSB0", "tcp:localhost", "tcp::10110", "udp:70000"}) {
    EXPECT_FALSE(LocationService::useNmea({bad}).ok()) << bad;
  }
  EXPECT_FALSE(LocationService::useNmea({"/dev/ttyUSB0", 12345}).ok());
  for (const char* good : {"/dev/ttyUSB0", "tcp:[::1]:10110", "udp:10110"}) {
    EXPECT_TRUE(LocationService::useNmea({good}).ok()) << good;
  }
}

// A source that cannot be opened at the start fails at once, without the grace period.
TEST_F(NmeaProviderTest, UnopenableSourcesFailAtOnce) {
  const std::string port = std::to_string(test::unusedLoopbackPort());
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/orv-no-such-receiver",
       "cannot open NMEA device /dev/orv-no-such-receiver: No such file or directory"},
      {"tcp:127.0.0.1:" + port,
       "cannot connect to NMEA source at 127.0.0.1:" + port + ": Connection refused"},
  };
  for (const auto& [source, text] : cases) {
    use(source);
    delegate->errors.clear();
    manager->startUpdatingLocation();
    ASSERT_TRUE(waitForError()) << source;
    EXPECT_EQ(delegate->errors[0], text);
    manager->stopUpdatingLocation();
  }
}

// Fixes from a serial device at the given rate. A lost device is reopened quietly; only an
// outage longer than the grace period is reported, once.
TEST_F(NmeaProviderTest, SerialDeviceAndItsGracePeriod) {
  ManualClock clock(loop);
  Pty pty;
  ASSERT_TRUE(LocationService::useNmea({pty.name, 115200}).ok());
  manager->startUpdatingLocation();
  const std::string log = test::kUbloxDriving;
  ASSERT_EQ(::write(pty.master, log.data(), log.size()), static_cast<ssize_t>(log.size()));
  ASSERT_TRUE(waitForFixes(3));
  EXPECT_NEAR(delegate->fixes[2].coordinate.longitude, 116 + (23.45678 + 2 * 0.00875) / 60, 1e-12);
  termios tio{};
  ASSERT_EQ(::tcgetattr(pty.slave, &tio), 0);
  EXPECT_EQ(::cfgetispeed(&tio), B115200);
  ::close(std::exchange(pty.master, -1));
  loop.runFor(50ms);  // the reader sees the hang-up
  clock.advance(9900ms);
  EXPECT_TRUE(delegate->errors.empty());
  clock.advance(200ms);
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_TRUE(delegate->errors[0].starts_with(std::string("NMEA device ") + pty.name +
                                              " lost and not back within 10 s: "))
      << delegate->errors[0];
  EXPECT_EQ(delegate->kinds[0], LocationFailure::sourceLost);
  clock.advance(60s);
  EXPECT_EQ(delegate->errors.size(), 1u);
}

TEST_F(NmeaProviderTest, TcpConnectionDroppedAndBackWithinGraceIsNoFailure) {
  ManualClock clock(loop);
  test::FakeGpsd server;  // any loopback TCP server will do
  use("tcp:127.0.0.1:" + std::to_string(server.port()));
  manager->startUpdatingLocation();  // connects at once; the kernel completes it
  ASSERT_TRUE(server.accept());
  server.send(test::kUbloxDriving);
  server.disconnect();
  ASSERT_TRUE(waitForFixes(3));
  loop.runFor(50ms);     // sees the end of the stream
  clock.advance(250ms);  // first retry
  ASSERT_TRUE(server.accept());
  server.send(test::kSirfParked);
  ASSERT_TRUE(waitForFixes(4));
  clock.advance(20s);
  EXPECT_TRUE(delegate->errors.empty());
}

// One sentence per datagram, without terminators, as some units send them.
TEST_F(NmeaProviderTest, FixesFromUdpDatagrams) {
  const int port = test::unusedLoopbackPort();
  use("udp:" + std::to_string(port));
  manager->startUpdatingLocation();
  const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  std::string_view log = test::kSirfParked;
  for (size_t eol; (eol = log.find('\n')) != std::string_view::npos; log.remove_prefix(eol + 1)) {
    ASSERT_EQ(::sendto(sender, log.data(), eol, 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(eol));
  }
  ASSERT_TRUE(waitForFixes(2));
  EXPECT_NEAR(delegate->fixes[0].coordinate.latitude, 31 + 12.3456 / 60, 1e-12);
  ::close(sender);
}

}  // namespace
}  // namespace orv::detail
