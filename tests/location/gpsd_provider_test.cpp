// The gpsd provider against a fake gpsd driven line by line, and against a real private gpsd.
#include "location/gpsd_provider.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "fake_gpsd.h"
#include "location/system_provider.h"
#include "manager_fixture.h"
#include "nmea_logs.h"
#include "process.h"
#include "test_server.h"

#if defined(__SANITIZE_THREAD__)
#define ORV_TEST_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORV_TEST_UNDER_TSAN 1
#endif
#endif

namespace orv::detail {
namespace {

using namespace std::chrono_literals;
using test::FakeGpsd;

std::string tpv(double lat, int mode = 3) {
  return R"({"class":"TPV","mode":)" + std::to_string(mode) + R"(,"lat":)" + std::to_string(lat) +
         R"(,"lon":116.4,"time":"2026-12-07T00:00:01.000Z"})" + "\r\n";
}

size_t entries(const char* dir) {
  const std::filesystem::directory_iterator it(dir);
  return static_cast<size_t>(std::distance(begin(it), end(it)));
}

// Short waits so reconnect cases take milliseconds.
const GpsdTiming kFast{10ms, 40ms, 150ms, 2s};

class GpsdProviderTest : public ManagerTest {
 protected:
  void start(const GpsdTiming& timing = kFast) {
    LocationService::use(
        std::make_shared<GpsdProvider>(GpsdOptions{"127.0.0.1", gpsd.port()}, timing));
    manager->startUpdatingLocation();
  }
  // Accepts the provider's connection, greets it and sends a fix; waits until `n` fixes arrived.
  void serveFix(double lat, size_t n) {
    // A reconnection waits for its backoff timer on the loop.
    ASSERT_TRUE(whileLooping([&] { return gpsd.accept(); }));
    whileLooping([&] { return gpsd.greet(); });
    gpsd.send(tpv(lat));
    ASSERT_TRUE(waitForFixes(n));
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(gpsd.port()); }
  FakeGpsd gpsd;
};

// Bad lines are skipped, a line split over two reads is joined; the stream runs on the loop, no
// thread of its own, and stopping closes the connection.
TEST_F(GpsdProviderTest, WatchesAndDeliversEveryFixSkippingBadInput) {
  const size_t fds = entries("/proc/self/fd");
  const size_t threads = entries("/proc/self/task");
  start();
  ASSERT_TRUE(gpsd.accept());
  EXPECT_EQ(whileLooping([&] { return gpsd.greet(); }), R"(?WATCH={"enable":true,"json":true})");
  const std::string line = tpv(39.1, 2);
  gpsd.send("garbage\r\n" + line.substr(0, 20));
  gpsd.send(line.substr(20) + tpv(39.2) + "{\"class\":\"SKY\"}\r\n");
  ASSERT_TRUE(waitForFixes(2));
  EXPECT_EQ(delegate->fixes[0].coordinate.latitude, 39.1);
  EXPECT_EQ(delegate->fixes[1].coordinate.latitude, 39.2);
  manager->stopUpdatingLocation();
  LocationService::useNone();
  EXPECT_EQ(entries("/proc/self/fd"), fds + 1);  // the fake's end of the connection
#ifndef ORV_TEST_UNDER_TSAN  // ThreadSanitizer starts a thread of its own on the way
  EXPECT_EQ(entries("/proc/self/task"), threads);
#else
  (void)threads;
#endif
  EXPECT_EQ(gpsd.readLine(), "");
  EXPECT_TRUE(delegate->errors.empty());
}

struct FailureCase {
  const char* name;
  void (*serve)(FakeGpsd&);  // after the provider started; null: nothing listens
  std::string text;          // "@" stands for the address
  GpsdTiming timing = kFast;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class GpsdFailureTest : public GpsdProviderTest,
                        public ::testing::WithParamInterface<FailureCase> {};

TEST_P(GpsdFailureTest, IsReportedOnceAndCloses) {
  if (!GetParam().serve) gpsd.stopListening();
  start(GetParam().timing);
  if (GetParam().serve) {
    ASSERT_TRUE(gpsd.accept());
    whileLooping([&] { GetParam().serve(gpsd); });
  }
  ASSERT_TRUE(waitForError());
  std::string text = GetParam().text;
  EXPECT_EQ(delegate->errors, std::vector{text.replace(text.find('@'), 1, address())});
  EXPECT_EQ(gpsd.readLine(), "");
  EXPECT_TRUE(delegate->fixes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, GpsdFailureTest,
    ::testing::Values(
        FailureCase{"Unreachable", nullptr, "cannot connect to gpsd at @: Connection refused"},
        FailureCase{"AcceptsAndCloses", [](FakeGpsd& g) { g.disconnect(); },
                    "cannot connect to gpsd at @: connection closed"},
        // The connection worked: gpsd answered, then went away.
        FailureCase{"ClosedAfterVersion",
                    [](FakeGpsd& g) {
                      g.send(R"({"class":"VERSION","release":"3.22","proto_major":3})"
                             "\r\n");
                      g.disconnect();
                    },
                    "lost the connection to gpsd at @: connection closed"},
        FailureCase{"SilentWithinHalfASecond",
                    [](FakeGpsd&) {},
                    "gpsd at @ did not answer within 0.5 s",
                    {10ms, 40ms, 150ms, 500ms}},
        FailureCase{"NotGpsd", [](FakeGpsd& g) { g.send("SSH-2.0-OpenSSH_9.2\r\n"); },
                    "the server at @ is not gpsd (it did not begin with VERSION)"},
        FailureCase{"WrongMajor", [](FakeGpsd& g) { g.greet(2); },
                    "gpsd at @ speaks protocol 2, not 3"},
        FailureCase{"RefusedWatch", [](FakeGpsd& g) { g.greet(3, false), g.send(tpv(39)); },
                    "gpsd at @ refused the WATCH request"},
        FailureCase{"ErrorObject",
                    [](FakeGpsd& g) {
                      g.greet(), g.send("{\"class\":\"ERROR\",\"message\":\"Can't parse\"}\n");
                    },
                    "gpsd at @ reported an error: Can't parse"}),
    [](const auto& info) { return std::string(info.param.name); });

// A lost connection is retried quietly; an outage longer than the limit is reported once and
// the retries go on.
TEST_F(GpsdProviderTest, ReconnectsAndReportsOnlyALongOutage) {
  start();
  serveFix(39.1, 1);
  gpsd.disconnect();
  serveFix(39.2, 2);
  gpsd.stopListening();
  gpsd.disconnect();
  ASSERT_TRUE(waitForError());
  EXPECT_EQ(delegate->errors[0], "lost the connection to gpsd at " + address() +
                                     " and could not reconnect: Connection refused");
  gpsd.listenAgain();
  serveFix(39.3, 3);
  EXPECT_EQ(delegate->errors.size(), 1u);
}

TEST_F(GpsdProviderTest, SystemProviderUsesTheFirstSourceThatAnswersElseSaysWhatWasTried) {
  const GpsdOptions absent{"127.0.0.1", static_cast<uint16_t>(test::unusedLoopbackPort())};
  const auto candidate = [](const GpsdOptions& o) {
    return SystemCandidate{"gpsd at " + gpsdAddress(o), [o] { return probeTcp(o, 1s); },
                           [o] { return std::make_shared<GpsdProvider>(o, kFast); }};
  };
  LocationService::use(std::make_shared<SystemProvider>(std::vector{candidate(absent)}));
  manager->startUpdatingLocation();
  ASSERT_TRUE(waitForError());
  EXPECT_EQ(delegate->errors[0],
            "No system location source answered (tried gpsd at " + gpsdAddress(absent) +
                " (Connection refused)). Start gpsd (or GeoClue on a desktop), or choose a "
                "provider with orv::LocationService::use(), useGpsd(), useNmea(), useGeoClue(), "
                "useReplay() or useSimulated() before starting location updates");
  manager->stopUpdatingLocation();

  auto system = std::make_shared<SystemProvider>(
      std::vector{candidate(absent), candidate({"127.0.0.1", gpsd.port()})});
  LocationService::use(system);
  manager->startUpdatingLocation();
  ASSERT_TRUE(gpsd.accept());  // the probe's connection
  serveFix(39.4, 1);
  EXPECT_EQ(system->authorizationStatus(), AuthorizationStatus::authorizedWhenInUse);
}

// A private gpsd on loopback whose receiver is a fake serving NMEA over TCP, an epoch (39.9 N,
// 116.4 E) every 200 ms of the loop until the fixes are in.
TEST_F(ManagerTest, FixesFromARealGpsd) {
  if (::access("/usr/sbin/gpsd", X_OK) != 0) GTEST_SKIP() << "gpsd is not installed";
  FakeGpsd receiver;
  const uint16_t port = static_cast<uint16_t>(test::unusedLoopbackPort());
  // gpsd complains about the missing system D-Bus; keep the test output clean.
  const pid_t gpsd =
      test::startQuiet({"/usr/sbin/gpsd", "-N", "-n", "-b", "-S", std::to_string(port),
                        "tcp://127.0.0.1:" + std::to_string(receiver.port())},
                       true);
  ASSERT_GT(gpsd, 0);
  EXPECT_TRUE(receiver.accept());  // once gpsd's own port is open
  LocationService::useGpsd({"127.0.0.1", port});
  manager->startUpdatingLocation();
  for (int i = 0; i < 50 && delegate->fixes.size() < 3; ++i) {
    char hms[16], dmy[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(hms, sizeof hms, "%H%M%S.00", std::gmtime(&now));
    std::strftime(dmy, sizeof dmy, "%d%m%y", std::gmtime(&now));
    receiver.send(test::nmeaLines(
        {std::string("GPGGA,") + hms + ",3954.0000,N,11624.0000,E,1,08,0.9,50.0,M,0.0,M,,",
         std::string("GPRMC,") + hms + ",A,3954.0000,N,11624.0000,E,0.5,90.0," + dmy + ",,,A"}));
    loop.runUntil([&] { return delegate->fixes.size() >= 3; }, 200ms);
  }
  test::stopProcess(gpsd);
  // gpsd may report the first epoch before its RMC arrives: look at a later one.
  ASSERT_GE(delegate->fixes.size(), 3u) << (delegate->errors.empty() ? "" : delegate->errors[0]);
  const Location& f = delegate->fixes[2];
  EXPECT_NEAR(f.coordinate.latitude, 39.9, 1e-9);
  EXPECT_NEAR(f.coordinate.longitude, 116.4, 1e-9);
  EXPECT_EQ(f.altitude, 50.0);
  EXPECT_NEAR(f.course, 90.0, 1e-9);
}

}  // namespace
}  // namespace orv::detail
