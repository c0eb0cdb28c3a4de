// The gpsd provider against a fake gpsd driven line by line, and against a real private gpsd.
#include "platform/location/gpsd_provider.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "fake_gpsd.h"
#include "platform/location/system_provider.h"
#include "test_server.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;
using test::FakeGpsd;

// Collects what the provider's reader thread delivers.
struct CollectingSink final : LocationSink {
  void deliverLocations(std::vector<Location> locations) override {
    std::lock_guard lock(mutex);
    fixes.insert(fixes.end(), locations.begin(), locations.end());
    changed.notify_all();
  }
  void deliverError(std::string text) override {
    std::lock_guard lock(mutex);
    errors.push_back(std::move(text));
    changed.notify_all();
  }
  bool waitFor(size_t nFixes, size_t nErrors = 0) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 5s,
                            [&] { return fixes.size() >= nFixes && errors.size() >= nErrors; });
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Location> fixes;
  std::vector<std::string> errors;
};

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

class GpsdProviderTest : public ::testing::Test {
 protected:
  void TearDown() override { provider.stop(*sink); }
  std::string address() const { return "127.0.0.1:" + std::to_string(gpsd.port()); }
  FakeGpsd gpsd;
  GpsdProvider provider{{"127.0.0.1", gpsd.port()}, kFast};
  std::shared_ptr<CollectingSink> sink = std::make_shared<CollectingSink>();
};

// Bad lines are skipped, a line split over two reads is joined; stop() ends the thread and
// closes the connection.
TEST_F(GpsdProviderTest, WatchesAndDeliversEveryFixSkippingBadInput) {
  const size_t fds = entries("/proc/self/fd");
  const size_t threads = entries("/proc/self/task");
  provider.start(sink);
  ASSERT_TRUE(gpsd.accept());
  EXPECT_EQ(gpsd.greet(), R"(?WATCH={"enable":true,"json":true})");
  const std::string line = tpv(39.1, 2);
  gpsd.send("garbage\r\n" + line.substr(0, 20));
  gpsd.send(line.substr(20) + tpv(39.2) + "{\"class\":\"SKY\"}\r\n");
  ASSERT_TRUE(sink->waitFor(2));
  EXPECT_EQ(sink->fixes[0].coordinate.latitude, 39.1);
  EXPECT_EQ(sink->fixes[1].coordinate.latitude, 39.2);
  EXPECT_TRUE(sink->errors.empty());
  provider.stop(*sink);
  EXPECT_EQ(entries("/proc/self/fd"), fds + 1);  // the fake's end of the connection
  EXPECT_EQ(entries("/proc/self/task"), threads);
  EXPECT_EQ(gpsd.readLine(), "");
}

struct FailureCase {
  const char* name;
  void (*serve)(FakeGpsd&);  // after the provider started
  std::string text;          // "@" stands for the address
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class GpsdFailureTest : public GpsdProviderTest,
                        public ::testing::WithParamInterface<FailureCase> {};

TEST_P(GpsdFailureTest, IsReportedOnceAndCloses) {
  if (!GetParam().serve) gpsd.stopListening();
  provider.start(sink);
  if (GetParam().serve) {
    ASSERT_TRUE(gpsd.accept());
    GetParam().serve(gpsd);
  }
  ASSERT_TRUE(sink->waitFor(0, 1));
  std::string text = GetParam().text;
  EXPECT_EQ(sink->errors[0], text.replace(text.find('@'), 1, address()));
  EXPECT_EQ(gpsd.readLine(), "");
  EXPECT_TRUE(sink->fixes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, GpsdFailureTest,
    ::testing::Values(FailureCase{"Unreachable", nullptr,
                                  "cannot connect to gpsd at @: Connection refused"},
                      FailureCase{"NotGpsd", [](FakeGpsd& g) { g.send("SSH-2.0-OpenSSH_9.2\r\n"); },
                                  "the server at @ is not gpsd (it did not begin with VERSION)"},
                      FailureCase{"WrongMajor", [](FakeGpsd& g) { g.greet(2); },
                                  "gpsd at @ speaks protocol 2, not 3"},
                      FailureCase{"RefusedWatch",
                                  [](FakeGpsd& g) {
                                    g.greet(3, false);
                                    g.send(tpv(39));
                                  },
                                  "gpsd at @ refused the WATCH request"},
                      FailureCase{"ErrorObject",
                                  [](FakeGpsd& g) {
                                    g.greet();
                                    g.send("{\"class\":\"ERROR\",\"message\":\"Can't parse\"}\n");
                                  },
                                  "gpsd at @ reported an error: Can't parse"}),
    [](const auto& info) { return std::string(info.param.name); });

// A lost connection is retried quietly; an outage longer than the limit is reported once and
// the retries go on.
TEST_F(GpsdProviderTest, ReconnectsAndReportsOnlyALongOutage) {
  const auto serveFix = [&](double lat, size_t n) {
    ASSERT_TRUE(gpsd.accept());
    gpsd.greet();
    gpsd.send(tpv(lat));
    ASSERT_TRUE(sink->waitFor(n));
  };
  provider.start(sink);
  serveFix(39.1, 1);
  gpsd.disconnect();
  serveFix(39.2, 2);
  gpsd.stopListening();
  gpsd.disconnect();
  ASSERT_TRUE(sink->waitFor(2, 1));
  EXPECT_EQ(sink->errors[0], "lost the connection to gpsd at " + address() +
                                 " and could not reconnect: Connection refused");
  gpsd.listenAgain();
  serveFix(39.3, 3);
  EXPECT_EQ(sink->errors.size(), 1u);
}

TEST(SystemProviderTest, UsesTheFirstSourceThatAnswersElseSaysWhatWasTried) {
  FakeGpsd gpsd;
  const GpsdOptions absent{"127.0.0.1", static_cast<uint16_t>(test::unusedLoopbackPort())};
  const auto candidate = [](const GpsdOptions& o) {
    return SystemCandidate{"gpsd at " + gpsdAddress(o), [o] { return probeTcp(o, 1s); },
                           [o] { return std::make_shared<GpsdProvider>(o, kFast); }};
  };
  SystemProvider none({candidate(absent)});
  auto sink = std::make_shared<CollectingSink>();
  EXPECT_EQ(none.authorizationStatus(), AuthorizationStatus::notDetermined);
  none.start(sink);
  EXPECT_EQ(sink->errors,
            (std::vector<std::string>{
                "No system location source answered (tried gpsd at " + gpsdAddress(absent) +
                " (Connection refused)). Start gpsd (or GeoClue on a desktop), or "
                "choose a provider with orv::LocationService::use(), useGpsd(), "
                "useNmea(), useGeoClue(), useReplay() or useSimulated() before "
                "starting location updates"}));

  SystemProvider system({candidate(absent), candidate({"127.0.0.1", gpsd.port()})});
  sink = std::make_shared<CollectingSink>();
  system.start(sink);
  ASSERT_TRUE(gpsd.accept());  // the probe's connection
  ASSERT_TRUE(gpsd.accept());  // the stream's
  gpsd.greet();
  gpsd.send(tpv(39.4));
  ASSERT_TRUE(sink->waitFor(1));
  EXPECT_EQ(system.authorizationStatus(), AuthorizationStatus::authorizedWhenInUse);
  system.stop(*sink);
  EXPECT_EQ(gpsd.readLine(), "");
}

TEST(PrivateGpsdTest, FixesFromARealGpsd) {
  test::PrivateGpsd gpsd;
  if (!gpsd.skipReason().empty()) GTEST_SKIP() << gpsd.skipReason();
  GpsdProvider provider({"127.0.0.1", gpsd.port()});
  auto sink = std::make_shared<CollectingSink>();
  provider.start(sink);
  ASSERT_TRUE(sink->waitFor(2)) << (sink->errors.empty() ? "" : sink->errors[0]);
  provider.stop(*sink);
  EXPECT_NEAR(sink->fixes[0].coordinate.latitude, 39.9, 1e-9);
  EXPECT_NEAR(sink->fixes[0].coordinate.longitude, 116.4, 1e-9);
  EXPECT_EQ(sink->fixes[0].altitude, 50.0);
  EXPECT_NEAR(sink->fixes[0].course, 90.0, 1e-9);
  EXPECT_TRUE(sink->errors.empty());
}

}  // namespace
}  // namespace orv::detail
