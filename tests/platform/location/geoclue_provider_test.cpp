// The GeoClue2 provider against a mocked GeoClue (python3-dbusmock) on a private system bus.
#include "platform/location/geoclue_provider.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "orv/run_loop.h"
#include "platform/location/location_manager.h"

extern char** environ;

namespace orv::detail {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const char* const kPython = "/usr/bin/python3";
const char* const kDbusDaemon = "/usr/bin/dbus-daemon";

// A child whose standard output we read line by line.
struct Child {
  pid_t pid = -1;
  int out = -1;
  bool spawn(std::vector<std::string> argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out = fds[0];
    return rc == 0;
  }
  // Blocks until a whole line arrives (or the child ends).
  std::string readLine() const {
    std::string line;
    char c;
    while (::read(out, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  ~Child() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
    if (out >= 0) ::close(out);
  }
};

struct RecordingDelegate : LocationManagerDelegate {
  void didUpdateLocations(const std::vector<Location>& l) override {
    fixes.insert(fixes.end(), l.begin(), l.end());
  }
  void didFailWithError(const std::string& text) override { errors.push_back(text); }
  std::vector<Location> fixes;
  std::vector<std::string> errors;
};

class GeoClueProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kDbusDaemon, X_OK) != 0) GTEST_SKIP() << "dbus-daemon is not installed";
    if (std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
      GTEST_SKIP() << "python3-dbusmock is not installed";
    }
    dir = fs::temp_directory_path() /
          ("orv_geoclue_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
    fs::create_directories(dir);
    std::ofstream(dir / "bus.conf") << R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" << (dir / "socket").string()
                                    << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
)";
    ASSERT_TRUE(bus.spawn({kDbusDaemon, "--config-file=" + (dir / "bus.conf").string(), "--nofork",
                           "--print-address=1"}));
    const std::string address = bus.readLine();
    ASSERT_FALSE(address.empty());
    const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (previous) savedAddress = previous;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    manager.setDelegate(delegate);
  }
  void TearDown() override {
    manager.stopUpdatingLocation();
    LocationService::useNone();
    loop.processPending();
    if (savedAddress) {
      ::setenv("DBUS_SYSTEM_BUS_ADDRESS", savedAddress->c_str(), 1);
    } else {
      ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    mock.reset();
    if (!dir.empty()) fs::remove_all(dir);
  }
  void startMock(const std::string& parameters) {
    mock = std::make_unique<Child>();
    ASSERT_TRUE(mock->spawn({kPython, "-m", "dbusmock", "--system", "-t",
                             ORV_SOURCE_DIR "/tests/platform/location/geoclue/geoclue_mock.py",
                             "-p", parameters}));
    ASSERT_EQ(mock->readLine(), "ready");
  }
  // A call from the test's own connection to the mock.
  void pushLocation(double lat, double lon, double accuracy, double altitude, double speed,
                    double heading) {
    sd_bus* b = nullptr;
    ASSERT_GE(sd_bus_open_system(&b), 0);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    EXPECT_GE(sd_bus_call_method(b, "org.freedesktop.GeoClue2", "/org/freedesktop/GeoClue2/Manager",
                                 "org.freedesktop.DBus.Mock", "PushLocation", &error, nullptr,
                                 "dddddd", lat, lon, accuracy, altitude, speed, heading),
              0)
        << (error.message ? error.message : "");
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(b);
  }
  uint32_t clientProperty(const char* name) {
    sd_bus* b = nullptr;
    uint32_t value = 0;
    EXPECT_GE(sd_bus_open_system(&b), 0);
    EXPECT_GE(sd_bus_get_property_trivial(
                  b, "org.freedesktop.GeoClue2", "/org/freedesktop/GeoClue2/Client/1",
                  "org.freedesktop.GeoClue2.Client", name, nullptr, 'u', &value),
              0);
    sd_bus_flush_close_unref(b);
    return value;
  }
  bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 15s); }

  static inline int counter = 0;
  fs::path dir;
  Child bus;
  std::unique_ptr<Child> mock;
  std::optional<std::string> savedAddress;
  RunLoop& loop = RunLoop::current();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  LocationManager manager;
};

TEST_F(GeoClueProviderTest, LocationsFromTheStartedClient) {
  startMock(R"({"initial": [39.9, 116.4, 20.0]})");
  auto provider = std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps", 80, 25});
  LocationService::use(provider);
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::notDetermined);
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->fixes.empty(); }));
  Location first = delegate->fixes[0];
  EXPECT_EQ(first.coordinate.latitude, 39.9);
  EXPECT_EQ(first.coordinate.longitude, 116.4);
  EXPECT_EQ(first.horizontalAccuracy, 20.0);
  EXPECT_EQ(first.altitude, 0.0);  // -DBL_MAX: unknown
  EXPECT_EQ(first.verticalAccuracy, -1.0);
  EXPECT_EQ(first.speed, -1.0);
  EXPECT_EQ(first.course, -1.0);
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::authorizedWhenInUse);
  EXPECT_EQ(clientProperty("RequestedAccuracyLevel"), 6u);  // street
  EXPECT_EQ(clientProperty("DistanceThreshold"), 25u);

  pushLocation(30.5, 120.25, 5, 12.5, 1.5, 90);
  ASSERT_TRUE(waitFor([&] { return delegate->fixes.size() >= 2; }));
  const Location& second = delegate->fixes[1];
  EXPECT_EQ(second.coordinate.latitude, 30.5);
  EXPECT_EQ(second.altitude, 12.5);
  EXPECT_EQ(second.speed, 1.5);
  EXPECT_EQ(second.course, 90.0);
  EXPECT_TRUE(delegate->errors.empty());
}

TEST_F(GeoClueProviderTest, AccessDeniedMakesTheStatusDenied) {
  startMock(R"({"deny": true})");
  auto provider = std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"});
  LocationService::use(provider);
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  EXPECT_EQ(delegate->errors[0],
            "GeoClue denied access to the location: Access denied by the test");
  EXPECT_EQ(provider->authorizationStatus(), AuthorizationStatus::denied);
}

TEST_F(GeoClueProviderTest, MissingAgentIsAClearFailureNotAHang) {
  startMock(R"({"no_agent": true})");
  LocationService::use(
      std::make_shared<GeoClueProvider>(GeoClueOptions{"org.example.Maps"}, 300ms));
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  EXPECT_EQ(delegate->errors[0], kGeoClueNoAgentMessage);
}

TEST_F(GeoClueProviderTest, GeoClueNotRunning) {
  ASSERT_TRUE(LocationService::useGeoClue({"org.example.Maps"}).ok());
  manager.startUpdatingLocation();
  ASSERT_TRUE(waitFor([&] { return !delegate->errors.empty(); }));
  EXPECT_EQ(delegate->errors[0], "GeoClue is not available on the system bus");
}

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
