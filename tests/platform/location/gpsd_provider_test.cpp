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

struct CollectingSink final : LocationSink {
  void deliverLocations(std::vector<Location> locations) override {
    std::lock_guard lock(mutex);
    for (auto& l : locations) fixes.push_back(l);
    changed.notify_all();
  }
  void deliverError(std::string text) override {
    std::lock_guard lock(mutex);
    errors.push_back(std::move(text));
    changed.notify_all();
  }
  bool waitFixes(size_t n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 5s, [&] { return fixes.size() >= n; });
  }
  bool waitErrors(size_t n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 5s, [&] { return errors.size() >= n; });
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
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

// Short waits so reconnect cases take milliseconds.
const GpsdTiming kFast{10ms, 40ms, 150ms, 2s};

class GpsdProviderTest : public ::testing::Test {
 protected:
  void start() { provider.start(sink); }
  FakeGpsd gpsd;
  GpsdProvider provider{{"127.0.0.1", gpsd.port()}, kFast};
  std::shared_ptr<CollectingSink> sink = std::make_shared<CollectingSink>();
};

TEST_F(GpsdProviderTest, WatchesAndDeliversEveryFixSkippingBadInput) {
  const size_t fds = entries("/proc/self/fd");
  const size_t threads = entries("/proc/self/task");
  start();
  ASSERT_TRUE(gpsd.accept());
  EXPECT_EQ(gpsd.greet(), R"(?WATCH={"enable":true,"json":true})");
  gpsd.send("garbage\r\n{\"class\":\"TPV\",\"mode\":3,\"lat\":95,\"lon\":1}\r\n");
  gpsd.send(std::string(70 * 1024, ' ') + "\r\n");
  gpsd.send("{\"class\":\"TPV\",\"mode\":3,\"lat\":\"\xc3\x28\"}\r\n");
  const std::string line = tpv(39.1, 2);
  gpsd.send(line.substr(0, 20));  // one line over two reads
  gpsd.send(line.substr(20) + tpv(39.2) + "{\"class\":\"SKY\"}\r\n");
  ASSERT_TRUE(sink->waitFixes(2));
  EXPECT_EQ(sink->fixes[0].coordinate.latitude, 39.1);
  EXPECT_EQ(sink->fixes[1].coordinate.latitude, 39.2);  // same epoch: both, the newest last
  EXPECT_TRUE(sink->errors.empty());

  provider.stop(*sink);
  EXPECT_EQ(entries("/proc/self/fd"), fds + 1);  // the fake's end of the connection
  EXPECT_EQ(entries("/proc/self/task"), threads);
  EXPECT_EQ(gpsd.readLine(), "");  // the provider closed its end
}

struct FailureCase {
  const char* name;
  int protoMajor;
  bool watchJson;
  std::string after;  // sent once greeted
  std::string text;   // after "127.0.0.1:<port>"
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class GpsdFailureTest : public GpsdProviderTest,
                        public ::testing::WithParamInterface<FailureCase> {};

TEST_P(GpsdFailureTest, IsReportedOnce) {
  const FailureCase& c = GetParam();
  start();
  ASSERT_TRUE(gpsd.accept());
  gpsd.greet(c.protoMajor, c.watchJson);
  gpsd.send(c.after);
  ASSERT_TRUE(sink->waitErrors(1));
  EXPECT_EQ(sink->errors[0], "gpsd at 127.0.0.1:" + std::to_string(gpsd.port()) + c.text);
  EXPECT_EQ(gpsd.readLine(), "");
  EXPECT_TRUE(sink->fixes.empty());
  provider.stop(*sink);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, GpsdFailureTest,
    ::testing::Values(FailureCase{"WrongMajor", 2, true, "", " speaks protocol 2, not 3"},
                      FailureCase{"RefusedWatch", 3, false, tpv(39), " refused the WATCH request"},
                      FailureCase{"ErrorObject", 3, true,
                                  R"({"class":"ERROR","message":"Can't parse"})"
                                  "\n",
                                  " reported an error: Can't parse"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GpsdProviderTest, AServerThatIsNotGpsdFails) {
  start();
  ASSERT_TRUE(gpsd.accept());
  gpsd.send("SSH-2.0-OpenSSH_9.2\r\n");
  ASSERT_TRUE(sink->waitErrors(1));
  EXPECT_EQ(sink->errors[0], "the server at 127.0.0.1:" + std::to_string(gpsd.port()) +
                                 " is not gpsd (it did not begin with VERSION)");
}

TEST_F(GpsdProviderTest, UnreachableAtStartFailsAtOnce) {
  gpsd.stopListening();
  start();
  ASSERT_TRUE(sink->waitErrors(1));
  EXPECT_EQ(sink->errors[0], "cannot connect to gpsd at 127.0.0.1:" + std::to_string(gpsd.port()) +
                                 ": Connection refused");
  provider.stop(*sink);
}

TEST_F(GpsdProviderTest, ReconnectsAfterALossWithoutReporting) {
  start();
  ASSERT_TRUE(gpsd.accept());
  gpsd.greet();
  gpsd.send(tpv(39.1));
  ASSERT_TRUE(sink->waitFixes(1));
  gpsd.disconnect();
  ASSERT_TRUE(gpsd.accept());
  gpsd.greet();
  gpsd.send(tpv(39.2));
  ASSERT_TRUE(sink->waitFixes(2));
  EXPECT_TRUE(sink->errors.empty());
  provider.stop(*sink);
}

TEST_F(GpsdProviderTest, AnOutageLongerThanTheLimitIsReportedAndRetriesGoOn) {
  start();
  ASSERT_TRUE(gpsd.accept());
  gpsd.greet();
  gpsd.stopListening();
  gpsd.disconnect();
  ASSERT_TRUE(sink->waitErrors(1));
  EXPECT_EQ(sink->errors[0],
            "lost the connection to gpsd at 127.0.0.1:" + std::to_string(gpsd.port()) +
                " and could not reconnect: Connection refused");
  gpsd.listenAgain();
  ASSERT_TRUE(gpsd.accept());
  gpsd.greet();
  gpsd.send(tpv(39.3));
  ASSERT_TRUE(sink->waitFixes(1));
  EXPECT_EQ(sink->errors.size(), 1u);
  provider.stop(*sink);
}

TEST(SystemProviderTest, UsesTheFirstSourceThatAnswersElseSaysWhatWasTried) {
  FakeGpsd gpsd;
  const GpsdOptions absent{"127.0.0.1", static_cast<uint16_t>(test::unusedLoopbackPort())};
  const GpsdOptions present{"127.0.0.1", gpsd.port()};
  const auto candidate = [](const GpsdOptions& o) {
    return SystemCandidate{"gpsd at " + gpsdAddress(o), [o] { return probeTcp(o, 1s); },
                           [o] { return std::make_shared<GpsdProvider>(o, kFast); }};
  };
  SystemProvider none({candidate(absent)});
  auto sink = std::make_shared<CollectingSink>();
  EXPECT_EQ(none.authorizationStatus(), AuthorizationStatus::notDetermined);
  none.start(sink);
  ASSERT_EQ(sink->errors.size(), 1u);
  EXPECT_EQ(sink->errors[0], "No system location source answered (tried gpsd at " +
                                 gpsdAddress(absent) +
                                 " (Connection refused)). Start gpsd (or GeoClue on a "
                                 "desktop), or choose a provider with "
                                 "orv::LocationService::use(), useGpsd(), useNmea(), useGeoClue(), "
                                 "useReplay() or useSimulated() before starting location updates");

  SystemProvider system({candidate(absent), candidate(present)});
  sink = std::make_shared<CollectingSink>();
  system.start(sink);
  ASSERT_TRUE(gpsd.accept());  // the probe's connection
  ASSERT_TRUE(gpsd.accept());  // the stream's
  gpsd.greet();
  gpsd.send(tpv(39.4));
  ASSERT_TRUE(sink->waitFixes(1));
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
  ASSERT_TRUE(sink->waitFixes(2)) << (sink->errors.empty() ? "" : sink->errors[0]);
  provider.stop(*sink);
  EXPECT_NEAR(sink->fixes[0].coordinate.latitude, 39.9, 1e-9);
  EXPECT_NEAR(sink->fixes[0].coordinate.longitude, 116.4, 1e-9);
  EXPECT_EQ(sink->fixes[0].altitude, 50.0);
  EXPECT_NEAR(sink->fixes[0].course, 90.0, 1e-9);
  EXPECT_TRUE(sink->errors.empty());
}

}  // namespace
}  // namespace orv::detail
