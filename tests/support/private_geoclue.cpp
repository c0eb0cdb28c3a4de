#include "private_geoclue.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace orv::test {
namespace {

const char* const kPython = "/usr/bin/python3";
const char* const kDbusDaemon = "/usr/bin/dbus-daemon";
const char* const kTemplate = ORV_SOURCE_DIR "/tests/platform/location/geoclue/geoclue_mock.py";

// Everything allowed: the bus is ours alone.
const char* const kPolicy = R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="*"/>
    <allow receive_type="*"/>
  </policy>
</busconfig>
)";

}  // namespace

bool ChildProcess::spawn(std::vector<std::string> argv) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  out_ = fds[0];
  if (rc != 0) pid_ = -1;
  return rc == 0;
}

std::string ChildProcess::readLine() const {
  std::string line;
  char c;
  while (::read(out_, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
}

std::string PrivateGeoClue::missingTools() {
  if (::access(kDbusDaemon, X_OK) != 0) return "dbus-daemon is not installed";
  if (std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
    return "python3-dbusmock is not installed";
  }
  return {};
}

PrivateGeoClue::PrivateGeoClue() {
  static std::atomic<int> counter{0};
  dir_ = std::filesystem::temp_directory_path() /
         ("orv_geoclue_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
  std::filesystem::create_directories(dir_);
  std::ofstream(dir_ / "bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n  <type>system</type>\n  <listen>unix:path="
      << (dir_ / "socket").string() << kPolicy;
  if (!bus_.spawn({kDbusDaemon, "--config-file=" + (dir_ / "bus.conf").string(), "--nofork",
                   "--print-address=1"})) {
    return;
  }
  address_ = bus_.readLine();  // printed once the bus listens
  if (const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) savedAddress_ = previous;
  if (!address_.empty()) ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateGeoClue::~PrivateGeoClue() {
  if (savedAddress_) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", savedAddress_->c_str(), 1);
  } else {
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }
  mock_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

bool PrivateGeoClue::startMock(const std::string& parameters) {
  mock_ = std::make_unique<ChildProcess>();
  // The template prints "ready" once loaded, when the bus name is already owned.
  return mock_->spawn({kPython, "-m", "dbusmock", "--system", "-t", kTemplate, "-p", parameters}) &&
         mock_->readLine() == "ready";
}

bool PrivateGeoClue::pushLocation(double lat, double lon, double accuracy, double altitude,
                                  double speed, double heading) {
  sd_bus* b = nullptr;
  if (sd_bus_open_system(&b) < 0) return false;
  const int r =
      sd_bus_call_method(b, "org.freedesktop.GeoClue2", "/org/freedesktop/GeoClue2/Manager",
                         "org.freedesktop.DBus.Mock", "PushLocation", nullptr, nullptr, "dddddd",
                         lat, lon, accuracy, altitude, speed, heading);
  sd_bus_flush_close_unref(b);
  return r >= 0;
}

uint32_t PrivateGeoClue::clientProperty(const char* name) {
  sd_bus* b = nullptr;
  uint32_t value = UINT32_MAX;
  if (sd_bus_open_system(&b) < 0) return value;
  sd_bus_get_property_trivial(b, "org.freedesktop.GeoClue2", "/org/freedesktop/GeoClue2/Client/1",
                              "org.freedesktop.GeoClue2.Client", name, nullptr, 'u', &value);
  sd_bus_flush_close_unref(b);
  return value;
}

}  // namespace orv::test
