// The GeoClue2 provider against a mocked GeoClue (python3-dbusmock with geoclue/geoclue_mock.py)
// on a private system bus.
#include "location/geoclue_provider.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/epoll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "location/system_provider.h"
#include "manager_fixture.h"
#include "platform/descriptor_watch.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;

// The first line a command prints, with its standard error silenced; `keep` keeps it running.
std::string firstLine(const std::string& command, FILE** keep = nullptr) {
  FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
  char buf[512] = {};
  if (p && std::fgets(buf, sizeof buf, p)) buf[std::strcspn(buf, "\n")] = '\0';
  if (keep) *keep = p;
  if (!keep && p) ::pclose(p);
  return buf;
}

// While a test runs, DBUS_SYSTEM_BUS_ADDRESS points at a system bus of our own (dbus-daemon,
// everything allowed: nobody else is on it); startMock() puts the mocked GeoClue2 on it.
class GeoClueProviderTest : public ManagerTest {
 protected:
  void SetUp() override {
    if (::access("/usr/bin/dbus-daemon", X_OK) != 0) GTEST_SKIP() << "dbus-daemon is not installed";
    if (std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
      GTEST_SKIP() << "python3-dbusmock is not installed";
    }
    char dir[] = "/tmp/orv-geoclue-XXXXXX";
    dir_ = ::mkdtemp(dir);
    std::ofstream(dir_ + "/bus.conf")
        << "<busconfig><type>system</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
           "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
           "<allow send_type=\"*\"/><allow receive_type=\"*\"/></policy></busconfig>";
    // Forks into the background once it listens and prints its address, then its pid.
    const std::string out = firstLine("/usr/bin/dbus-daemon --fork --config-file=" + dir_ +
                                      "/bus.conf --print-address=1 --print-pid=1 | tr '\\n' ' '");
    const auto space = out.find(' ');
    ASSERT_NE(space, std::string::npos) << "dbus-daemon did not start";
    busPid_ = std::atoi(out.c_str() + space + 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", out.substr(0, space).c_str(), 1);
    ManagerTest::SetUp();
  }
  void TearDown() override {
    ManagerTest::TearDown();
    if (mock_) ::kill(mockPid_, SIGTERM), ::pclose(mock_);
    if (busPid_ > 0) ::kill(busPid_, SIGTERM);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  // Starts the mock with the template's JSON parameters; it prints its pid once it owns its name.
  bool startMock(const std::string& parameters) {
    mockPid_ =
        std::atoi(firstLine("exec /usr/bin/python3 -B -m dbusmock --system -t " ORV_SOURCE_DIR
                            "/tests/location/geoclue/geoclue_mock.py -p '" +
                                parameters + "'",
                            &mock_)
                      .c_str());
    return mockPid_ > 0;
  }
  // Runs the loop until the mock's output (its log of calls, and its own lines) holds `text`.
  bool waitForMockOutput(const std::string& text) {
    std::string output;
    bool ended = false;
    const auto watch = DescriptorWatch::create(::fileno(mock_), EPOLLIN, [&](uint32_t) {
      char buf[256];
      const ssize_t n = ::read(::fileno(mock_), buf, sizeof buf);
      if (n > 0) output.append(buf, size_t(n));
      ended = n == 0;
    });
    return waitFor([&] { return ended || output.find(text) != std::string::npos; }) && !ended;
  }
  void killMock() {
    ::kill(mockPid_, SIGKILL);
    ::pclose(std::exchange(mock_, nullptr));
  }
  // A uint32 property of the client GeoClue handed out.
  uint32_t clientProperty(const char* name) {
    sd_bus* b = nullptr;
    uint32_t value = UINT32_MAX;
    if (sd_bus_open_system(&b) < 0) return value;
    sd_bus_get_property_trivial(b, "org.freedesktop.GeoClue2", "/org/freedesktop/GeoClue2/Client/1",
                                "org.freedesktop.GeoClue2.Client", name, nullptr, 'u', &value);
    sd_bus_flush_close_unref(b);
    return value;
  }
  // Starts updates from `provider` and waits for the first error.
  std::string firstError(std::shared_ptr<LocationProvider> provider) {
    LocationService::use(std::move(provider));
    manager->startUpdatingLocation();
    return waitForError() ? delegate->errors[0] : "no error";
  }
  std::string dir_;
  pid_t busPid_ = -1;
  FILE* mock_ = nullptr;
  pid_t mockPid_ = -1;
};

TEST_F(GeoClueProviderTest, LocationsFromTheStartedClient) {
  ASSERT_TRUE(startMock(R"({"initial": [39.9, 116.4, 20.0]})"));
  auto provider = std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps", 80, 25});
  LocationService::use(provider);
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::notDetermined);
  manager->startUpdatingLocation();
  ASSERT_TRUE(waitForFixes(1));
  const Location& first = delegate->fixes[0];
  EXPECT_EQ(
      (std::vector{first.coordinate.latitude, first.coordinate.longitude, first.horizontalAccuracy,
                   first.altitude, first.verticalAccuracy, first.speed, first.course}),
      (std::vector{39.9, 116.4, 20.0, 0.0, -1.0, -1.0, -1.0}));  // -DBL_MAX: unknown
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::authorizedWhenInUse);
  EXPECT_EQ(clientProperty("RequestedAccuracyLevel"), 6u);  // street
  EXPECT_EQ(clientProperty("DistanceThreshold"), 25u);

  EXPECT_TRUE(delegate->errors.empty());
}

TEST_F(GeoClueProviderTest, AccessDeniedMakesTheStatusDenied) {
  ASSERT_TRUE(startMock(R"({"deny": true})"));
  auto provider = std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"});
  EXPECT_EQ(firstError(provider),
            "GeoClue denied access to the location: Access denied by the test");
  EXPECT_EQ(delegate->kinds[0], LocationFailure::permissionDenied);
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::denied);
}

TEST_F(GeoClueProviderTest, MissingAgentIsAClearFailureNotAHang) {
  ASSERT_TRUE(startMock(R"({"no_agent": true})"));
  EXPECT_EQ(
      firstError(std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"}, 300ms)),
      kGeoClueNoAgentMessage);
  EXPECT_EQ(delegate->kinds[0], LocationFailure::permissionPending);
}

TEST_F(GeoClueProviderTest, GeoClueNotRunning) {
  EXPECT_EQ(firstError(std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"})),
            "GeoClue is not available on the system bus");
  EXPECT_EQ(delegate->kinds[0], LocationFailure::sourceUnreachable);
}

// The system default tries gpsd, then GeoClue when it is on the bus; a location's known altitude,
// speed and heading arrive as they are.
TEST_F(GeoClueProviderTest, SystemCandidateAnswersOnlyWhenGeoClueIsOnTheBus) {
  std::vector<std::string> names;
  for (const auto& c : systemCandidates()) names.push_back(c.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"gpsd at 127.0.0.1:2947", "GeoClue2 on the system bus"}));
  const SystemCandidate geoClue = geoClueSystemCandidate();
  EXPECT_EQ(geoClue.probe(), "not on the system bus");
  ASSERT_TRUE(startMock(R"({"initial": [30.5, 120.25, 5, 12.5, 1.5, 90]})"));
  EXPECT_EQ(geoClue.probe(), std::nullopt);
  LocationService::use(geoClue.make());
  manager->startUpdatingLocation();
  ASSERT_TRUE(waitForFixes(1));
  const Location& f = delegate->fixes[0];
  EXPECT_EQ((std::vector{f.coordinate.latitude, f.altitude, f.speed, f.course}),
            (std::vector{30.5, 12.5, 1.5, 90.0}));
}

// What can befall a stream: GeoClue leaves the bus (for good, or back within the grace period) or
// our bus connection drops, mid-stream or while GeoClue holds GetClient for an agent. Each is one
// failure that names it, or none when GeoClue comes back in time.
struct Fault {
  const char* name;
  const char* mock;
  enum class What { geoClueLeaves, geoClueReturns, busDrops } what;
  std::string error;  // empty: none
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class GeoClueFaultTest : public GeoClueProviderTest, public ::testing::WithParamInterface<Fault> {};

const std::string kLeft = "GeoClue left the system bus and did not come back within 0.3 s";
const std::string kBusLost = "lost the system bus connection to GeoClue";
constexpr const char* kStreaming = R"({"initial": [39.9, 116.4, 20.0]})";
constexpr const char* kHolding = R"({"no_agent": true})";

TEST_P(GeoClueFaultTest, OneFailureNamingWhatHappened) {
  const Fault& f = GetParam();
  using What = Fault::What;
  ASSERT_TRUE(startMock(f.mock));
  const auto grace = f.what == What::geoClueReturns ? 60s : 300ms;
  LocationService::use(
      std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"}, 30s, grace));
  manager->startUpdatingLocation();
  if (f.mock == kStreaming) {
    ASSERT_TRUE(waitForFixes(1));
  } else {
    ASSERT_TRUE(waitForMockOutput("GetClient held\n"));
  }
  if (f.what == What::busDrops) {
    ::kill(std::exchange(busPid_, -1), SIGKILL);
  } else {
    killMock();
  }
  if (f.what == What::geoClueReturns) {
    ASSERT_TRUE(startMock(R"({"initial": [31.2, 121.5, 10.0]})"));
    ASSERT_TRUE(waitForFixes(2));
    EXPECT_EQ(delegate->fixes[1].coordinate.latitude, 31.2);
  } else {
    ASSERT_TRUE(waitForError());
  }
  loop.runFor(200ms);  // nothing further may follow
  EXPECT_EQ(delegate->errors,
            f.error.empty() ? std::vector<std::string>{} : std::vector<std::string>{f.error});
  // GeoClue or the bus was there and went.
  EXPECT_EQ(delegate->kinds,
            std::vector<LocationFailure>(delegate->errors.size(), LocationFailure::sourceLost));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, GeoClueFaultTest, ::testing::Values(
    Fault{"GeoClueLeavesMidStream", kStreaming, Fault::What::geoClueLeaves, kLeft},
    Fault{"GeoClueLeavesHoldingGetClient", kHolding, Fault::What::geoClueLeaves, kLeft},
    Fault{"GeoClueComesBackInTime", kStreaming, Fault::What::geoClueReturns, ""},
    Fault{"BusDropsMidStream", kStreaming, Fault::What::busDrops, kBusLost},
    Fault{"BusDropsWhileGetClientIsHeld", kHolding, Fault::What::busDrops, kBusLost}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(GeoClueAccuracy, LevelsFollowTheDesiredAccuracy) {
  EXPECT_EQ(geoClueAccuracyFor(-1), GeoClueAccuracy::exact);
  EXPECT_EQ(geoClueAccuracyFor(10), GeoClueAccuracy::exact);
  EXPECT_EQ(geoClueAccuracyFor(100), GeoClueAccuracy::street);
  EXPECT_EQ(geoClueAccuracyFor(1000), GeoClueAccuracy::neighborhood);
  EXPECT_EQ(geoClueAccuracyFor(3000), GeoClueAccuracy::city);
  EXPECT_FALSE(LocationService::useGeoClue({""}).ok());
}

}  // namespace
}  // namespace orv::detail
