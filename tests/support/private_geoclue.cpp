#include "private_geoclue.h"

#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orv::test {
namespace {

const char* const kTemplate = ORV_SOURCE_DIR "/tests/platform/location/geoclue/geoclue_mock.py";

// The first line a command prints, with its standard error silenced.
std::string firstLine(const std::string& command, FILE** keep = nullptr) {
  FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
  char buf[512] = {};
  const bool got = p && std::fgets(buf, sizeof buf, p);
  if (keep) {
    *keep = p;
  } else if (p) {
    ::pclose(p);
  }
  std::string line = got ? buf : "";
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

}  // namespace

std::string PrivateGeoClue::missingTools() {
  if (::access("/usr/bin/dbus-daemon", X_OK) != 0) return "dbus-daemon is not installed";
  if (std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
    return "python3-dbusmock is not installed";
  }
  return {};
}

// A system bus of our own, everything allowed: nobody else is on it.
PrivateGeoClue::PrivateGeoClue() {
  char dir[] = "/tmp/orv-geoclue-XXXXXX";
  config_ = std::string(::mkdtemp(dir)) + "/bus.conf";
  std::ofstream(config_) << "<busconfig><type>system</type><listen>unix:tmpdir=/tmp</listen>"
                            "<auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                            "<allow own=\"*\"/><allow send_type=\"*\"/><allow receive_type=\"*\"/>"
                            "</policy></busconfig>";
  // Forks into the background once it listens and prints its address, then its pid.
  const std::string out = firstLine("/usr/bin/dbus-daemon --fork --config-file=" + config_ +
                                    " --print-address=1 --print-pid=1 | tr '\\n' ' '");
  const auto space = out.find(' ');
  if (space == std::string::npos || space + 1 >= out.size()) return;
  busPid_ = std::atoi(out.c_str() + space + 1);
  if (const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) savedAddress_ = previous;
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", out.substr(0, space).c_str(), 1);
}

PrivateGeoClue::~PrivateGeoClue() {
  if (mock_) {
    ::kill(mockPid_, SIGTERM);
    ::pclose(mock_);
  }
  if (busPid_ > 0) ::kill(busPid_, SIGTERM);
  if (savedAddress_) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", savedAddress_->c_str(), 1);
  } else {
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }
  std::filesystem::remove_all(std::filesystem::path(config_).parent_path());
}

bool PrivateGeoClue::startMock(const std::string& parameters) {
  // The template prints its pid once loaded, when the bus name is already owned.
  const std::string pid = firstLine("exec /usr/bin/python3 -B -m dbusmock --system -t " +
                                        std::string(kTemplate) + " -p '" + parameters + "'",
                                    &mock_);
  mockPid_ = std::atoi(pid.c_str());
  return mockPid_ > 0;
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
