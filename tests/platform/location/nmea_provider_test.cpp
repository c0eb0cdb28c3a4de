#include "platform/location/nmea_provider.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "nmea_logs.h"
#include "orv/location_service.h"
#include "orv/run_loop.h"
#include "platform/location/location_manager.h"
#include "platform/manual_clock.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;

struct RecordingDelegate : LocationManagerDelegate {
  void didUpdateLocations(const std::vector<Location>& locations) override {
    fixes.insert(fixes.end(), locations.begin(), locations.end());
  }
  void didFailWithError(const std::string& text) override { errors.push_back(text); }
  std::vector<Location> fixes;
  std::vector<std::string> errors;
};

// A pseudo-terminal standing in for a receiver on a serial port.
struct Pty {
  Pty() {
    termios raw{};
    ::cfmakeraw(&raw);
    EXPECT_EQ(::openpty(&master, &slave, name, &raw, nullptr), 0);
  }
  ~Pty() {
    closeMaster();
    if (slave >= 0) ::close(slave);
  }
  void write(const std::string& bytes) const {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void closeMaster() {
    if (master >= 0) ::close(std::exchange(master, -1));
  }
  int master = -1;
  int slave = -1;
  char name[64] = {};
};

// A listening loopback socket on an ephemeral port.
int listenLoopback(int type, uint16_t& port) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  if (type == SOCK_STREAM) {
    EXPECT_EQ(::listen(fd, 4), 0);
  }
  EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length), 0);
  port = ntohs(a.sin_port);
  return fd;
}

// A port nobody listens on (UDP: for the provider to bind).
uint16_t freePort(int type) {
  uint16_t port = 0;
  ::close(listenLoopback(type, port));
  return port;
}

class NmeaProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.processPending();
    manager.setDelegate(delegate);
  }
  void TearDown() override {
    manager.stopUpdatingLocation();
    LocationService::useNone();
    loop.processPending();
  }
  void use(const std::string& source) {
    ASSERT_TRUE(LocationService::useNmea({source}).ok()) << source;
  }
  bool waitForFixes(size_t n) {
    return loop.runUntil([&] { return delegate->fixes.size() >= n; }, 10s);
  }
  bool waitForError() {
    return loop.runUntil([&] { return !delegate->errors.empty(); }, 10s);
  }

  RunLoop& loop = RunLoop::current();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  LocationManager manager;
};

TEST_F(NmeaProviderTest, SourcesAreCheckedWhenChosen) {
  for (const char* bad : {"ttyUSB0", "tcp:localhost", "tcp::10110", "tcp:h:0", "udp:70000",
                          "udp:", "nmea:/dev/ttyUSB0"}) {
    EXPECT_FALSE(LocationService::useNmea({bad}).ok()) << bad;
  }
  EXPECT_FALSE(LocationService::useNmea({"/dev/ttyUSB0", 12345}).ok());
  for (const char* good : {"/dev/ttyUSB0", "tcp:gnss.local:2101", "tcp:[::1]:10110", "udp:10110"}) {
    EXPECT_TRUE(LocationService::useNmea({good}).ok()) << good;
  }
}

TEST_F(NmeaProviderTest, FixesFromAPseudoTerminalAtTheGivenRate) {
  Pty pty;
  ASSERT_TRUE(LocationService::useNmea({pty.name, 115200}).ok());
  manager.startUpdatingLocation();
  pty.write(test::asReceived(test::kUbloxDriving));
  ASSERT_TRUE(waitForFixes(3));
  EXPECT_NEAR(delegate->fixes[2].coordinate.longitude, 116 + (23.45678 + 2 * 0.00875) / 60, 1e-12);
  EXPECT_TRUE(delegate->errors.empty());
  termios tio{};
  ASSERT_EQ(::tcgetattr(pty.slave, &tio), 0);
  EXPECT_EQ(::cfgetispeed(&tio), B115200);
}

// A source that cannot be opened at the start fails at once, without the grace period.
TEST_F(NmeaProviderTest, UnopenableSourcesFailAtOnce) {
  const std::string port = std::to_string(freePort(SOCK_STREAM));
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/orv-no-such-receiver",
       "cannot open NMEA device /dev/orv-no-such-receiver: No such file or directory"},
      {"tcp:127.0.0.1:" + port,
       "cannot connect to NMEA source at 127.0.0.1:" + port + ": Connection refused"},
  };
  for (const auto& [source, text] : cases) {
    use(source);
    delegate->errors.clear();
    manager.startUpdatingLocation();
    ASSERT_TRUE(waitForError()) << source;
    EXPECT_EQ(delegate->errors[0], text);
    manager.stopUpdatingLocation();
  }
}

TEST_F(NmeaProviderTest, UnpluggedDeviceFailsAfterTheGracePeriod) {
  ManualClock clock(loop);
  Pty pty;
  use(pty.name);
  manager.startUpdatingLocation();
  pty.write(test::asReceived(test::kSirfParked));
  ASSERT_TRUE(waitForFixes(1));
  pty.closeMaster();
  // The reader sees the hang-up; reopening keeps failing while the clock runs.
  loop.runFor(50ms);
  clock.advance(9900ms);
  EXPECT_TRUE(delegate->errors.empty());
  clock.advance(200ms);
  ASSERT_EQ(delegate->errors.size(), 1u);
  EXPECT_TRUE(delegate->errors[0].starts_with(std::string("NMEA device ") + pty.name +
                                              " lost and not back within 10 s: "))
      << delegate->errors[0];
  clock.advance(60s);
  EXPECT_EQ(delegate->errors.size(), 1u);  // one report per outage
}

TEST_F(NmeaProviderTest, TcpConnectionDroppedAndBackWithinGraceIsNoFailure) {
  ManualClock clock(loop);
  uint16_t port = 0;
  const int server = listenLoopback(SOCK_STREAM, port);
  use("tcp:127.0.0.1:" + std::to_string(port));
  manager.startUpdatingLocation();
  std::thread first([&] {
    const int c = ::accept(server, nullptr, nullptr);
    const std::string log = test::asReceived(test::kUbloxDriving);
    ASSERT_EQ(::write(c, log.data(), log.size()), static_cast<ssize_t>(log.size()));
    ::close(c);
  });
  ASSERT_TRUE(waitForFixes(3));
  first.join();
  std::thread second([&] {
    const int c = ::accept(server, nullptr, nullptr);
    const std::string log = test::asReceived(test::kBeidouDifferential);
    ASSERT_EQ(::write(c, log.data(), log.size()), static_cast<ssize_t>(log.size()));
    char byte;
    (void)::read(c, &byte, 1);  // held open until the provider stops
    ::close(c);
  });
  loop.runFor(50ms);     // sees the end of the stream
  clock.advance(250ms);  // first retry
  ASSERT_TRUE(waitForFixes(4));
  clock.advance(20s);
  EXPECT_TRUE(delegate->errors.empty());
  manager.stopUpdatingLocation();
  second.join();
  ::close(server);
}

TEST_F(NmeaProviderTest, FixesFromUdpDatagrams) {
  const uint16_t port = freePort(SOCK_DGRAM);
  use("udp:" + std::to_string(port));
  manager.startUpdatingLocation();
  const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // One sentence per datagram, without terminators, as some units send them.
  std::string_view log = test::kBeidouDifferential;
  while (!log.empty()) {
    const auto eol = log.find('\n');
    const std::string_view line = log.substr(0, eol);
    ASSERT_EQ(
        ::sendto(sender, line.data(), line.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
        static_cast<ssize_t>(line.size()));
    log.remove_prefix(eol == std::string_view::npos ? log.size() : eol + 1);
  }
  ASSERT_TRUE(waitForFixes(2));
  EXPECT_NEAR(delegate->fixes[0].coordinate.latitude, 22 + 32.8765 / 60, 1e-12);
  ::close(sender);
}

}  // namespace
}  // namespace orv::detail
