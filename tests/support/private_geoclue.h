// A private system bus (dbus-daemon) and, on demand, a mocked GeoClue2 on it (python3-dbusmock
// with tests/platform/location/geoclue/geoclue_mock.py). While it lives, DBUS_SYSTEM_BUS_ADDRESS
// points at the private bus.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace orv::test {

class PrivateGeoClue {
 public:
  // Empty when dbus-daemon and python3-dbusmock are installed, else why the test must skip.
  static std::string missingTools();

  PrivateGeoClue();
  ~PrivateGeoClue();
  PrivateGeoClue(const PrivateGeoClue&) = delete;
  PrivateGeoClue& operator=(const PrivateGeoClue&) = delete;

  bool busRunning() const { return busPid_ > 0; }
  // Starts the mock with the template's JSON parameters ("deny", "no_agent", "initial").
  bool startMock(const std::string& parameters);
  // A uint32 property of the client GeoClue handed out.
  uint32_t clientProperty(const char* name);

 private:
  std::string config_;
  pid_t busPid_ = -1;
  FILE* mock_ = nullptr;
  pid_t mockPid_ = -1;
  std::optional<std::string> savedAddress_;
};

}  // namespace orv::test
