// Several managers on one source share one upstream: one open serial port, one UDP socket, one
// TCP connection, one gpsd connection. Each gets every fix, one stopping leaves the others
// streaming, and the upstream closes when the last stops; also with a manager on another thread.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "fake_gpsd.h"
#include "location/gpsd_provider.h"
#include "manager_fixture.h"
#include "nmea_logs.h"
#include "test_server.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;

// Epoch `i` of a 1 Hz receiver, latitude 30 + i / 100.
std::string epoch(int i) {
  char t[16], lat[16];
  std::snprintf(t, sizeof t, "0000%02d.00", i % 60);
  std::snprintf(lat, sizeof lat, "30%02d.0000", (i * 6) % 60);
  return test::nmeaLines(
      {std::string("GPGGA,") + t + "," + lat + ",N,11624.0000,E,1,08,0.9,50.0,M,0.0,M,,",
       std::string("GPRMC,") + t + ",A," + lat + ",N,11624.0000,E,0.5,90.0,071226,,,A"});
}

std::string tpv(int i) {
  return R"({"class":"TPV","mode":3,"lat":)" + std::to_string(30 + i / 100.0) +
         R"(,"lon":116.4,"time":"2026-12-07T00:00:01.000Z"})" + "\r\n";
}

class SharedSourceTest;

struct SourceCase {
  const char* name;
  void (*choose)(SharedSourceTest&);
  void (*connect)(SharedSourceTest&);  // after the first manager started
  void (*feed)(SharedSourceTest&, int first, int count);
  bool (*closed)(SharedSourceTest&);
};

class SharedSourceTest : public ManagerTest,
                         public ::testing::WithParamInterface<std::tuple<SourceCase, bool>> {
 public:
  SharedSourceTest() {
    int slave = -1;
    EXPECT_EQ(::openpty(&ptyMaster, &slave, ptyName, nullptr, nullptr), 0);
    ::close(slave);  // the provider opens it by name; its close hangs the master up
  }
  ~SharedSourceTest() override {
    ::close(ptyMaster);
    ::close(udpSender);
  }
  void useNmea(const std::string& source) { ASSERT_TRUE(LocationService::useNmea({source}).ok()); }
  void sendUdp(const std::string& bytes) {
    sockaddr_in to{AF_INET, htons(udpPort), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::sendto(udpSender, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to),
              static_cast<ssize_t>(bytes.size()));
  }
  bool udpPortFree() const {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, htons(udpPort), {htonl(INADDR_ANY)}, {}};
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return bound;
  }
  static std::string epochs(int first, int count) {
    std::string bytes;
    for (int i = first; i < first + count; ++i) bytes += epoch(i);
    return bytes;
  }

  int ptyMaster = -1;
  char ptyName[64] = {};
  uint16_t udpPort = static_cast<uint16_t>(test::unusedLoopbackPort());
  int udpSender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  test::FakeGpsd server;
};

using T = SharedSourceTest;
void accept(T& t) { ASSERT_TRUE(t.server.accept()); }
bool serverSeesEnd(T& t) { return t.server.readLine().empty(); }

const SourceCase kCases[] = {
    {"Serial", [](T& t) { t.useNmea(t.ptyName); }, [](T&) {},
     [](T& t, int first, int count) {
       const std::string bytes = T::epochs(first, count);
       ASSERT_EQ(::write(t.ptyMaster, bytes.data(), bytes.size()),
                 static_cast<ssize_t>(bytes.size()));
     },
     [](T& t) {
       pollfd p{t.ptyMaster, POLLIN, 0};
       return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
     }},
    {"Udp", [](T& t) { t.useNmea("udp:" + std::to_string(t.udpPort)); }, [](T&) {},
     [](T& t, int first, int count) {
       for (int i = first; i < first + count; ++i) t.sendUdp(epoch(i));
     },
     [](T& t) { return t.udpPortFree(); }},
    {"Tcp", [](T& t) { t.useNmea("tcp:127.0.0.1:" + std::to_string(t.server.port())); }, accept,
     [](T& t, int first, int count) { t.server.send(T::epochs(first, count)); }, serverSeesEnd},
    {"Gpsd",
     [](T& t) {
       LocationService::use(
           std::make_shared<GpsdProvider>(GpsdOptions{"127.0.0.1", t.server.port()}));
     },
     [](T& t) {
       ASSERT_TRUE(t.server.accept());
       t.server.greet();
     },
     [](T& t, int first, int count) {
       for (int i = first; i < first + count; ++i) t.server.send(tpv(i));
     },
     serverSeesEnd},
};

std::vector<double> latitudes(const std::vector<Location>& fixes) {
  std::vector<double> out;
  for (const auto& f : fixes) out.push_back(f.coordinate.latitude);
  return out;
}

TEST_P(SharedSourceTest, EveryManagerGetsEveryFixFromOneUpstream) {
  // Not a structured binding: lambdas below capture them, which clang 14 refuses.
  const SourceCase& c = std::get<0>(GetParam());
  const bool otherThread = std::get<1>(GetParam());
  c.choose(*this);
  manager->startUpdatingLocation();
  whileLooping([&] { c.connect(*this); });
  if (HasFatalFailure()) return;

  std::vector<double> otherGot;
  if (otherThread) {
    std::promise<void> started;
    std::thread other([&] {
      auto delegate2 = std::make_shared<RecordingDelegate>();
      {
        LocationManager manager2;
        manager2.setDelegate(delegate2);
        manager2.startUpdatingLocation();
        started.set_value();
        RunLoop::current().runUntil([&] { return delegate2->fixes.size() >= 2; }, 15s);
        otherGot = latitudes(delegate2->fixes);
      }  // stops first: the upstream stays on this thread's loop
      RunLoop::current().processPending();
    });
    started.get_future().wait();
    c.feed(*this, 0, 3);
    ASSERT_TRUE(waitForFixes(2));
    other.join();
  } else {
    auto delegate2 = std::make_shared<RecordingDelegate>();
    LocationManager manager2;
    manager2.setDelegate(delegate2);
    manager2.startUpdatingLocation();
    c.feed(*this, 0, 3);
    ASSERT_TRUE(
        waitFor([&] { return delegate->fixes.size() >= 2 && delegate2->fixes.size() >= 2; }));
    manager2.stopUpdatingLocation();  // the other goes on
    otherGot = latitudes(delegate2->fixes);
  }
  const std::vector<double> got = latitudes(delegate->fixes);
  ASSERT_GE(otherGot.size(), 2u);
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(std::vector(otherGot.begin(), otherGot.begin() + 2),
            std::vector(got.begin(), got.begin() + 2));

  const size_t before = delegate->fixes.size();
  c.feed(*this, 3, 2);
  ASSERT_TRUE(waitForFixes(before + 1));
  EXPECT_TRUE(delegate->errors.empty()) << delegate->errors[0];
  manager->stopUpdatingLocation();
  EXPECT_TRUE(c.closed(*this));
}

INSTANTIATE_TEST_SUITE_P(Sources, SharedSourceTest,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_TwoThreads" : "_OneThread");
                         });

}  // namespace
}  // namespace orv::detail
