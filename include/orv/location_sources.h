// The location sources the library brings, and what each is configured with. Choose one with
// orv::LocationService (orv/location_service.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "orv/export.h"
#include "orv/location.h"
#include "orv/location_provider.h"

namespace orv {

// A provider driven by hand, for tests and for hosts that get fixes from elsewhere. Fixes and
// errors pushed here reach every location manager that is updating (or waiting for one fix), on
// each manager's own run loop. Thread-safe.
class ORV_API SimulatedLocationProvider : public LocationProvider {
 public:
  virtual void pushLocations(std::vector<Location> locations) = 0;
  void pushLocation(const Location& location) { pushLocations({location}); }
  virtual void pushError(std::string localizedDescription) = 0;
  virtual void setAuthorizationStatus(AuthorizationStatus status) = 0;
  // Status that a permission request moves to (default: stays as it is). The when-in-use request
  // answers only "not determined"; the always request also upgrades "authorized when in use".
  // The answer is immediate, so a test can cover both outcomes of an upgrade.
  virtual void setStatusAfterRequest(std::optional<AuthorizationStatus> whenInUse,
                                     std::optional<AuthorizationStatus> always) = 0;
  // Whether some manager is streaming from this provider.
  virtual bool isUpdating() const = 0;
};

struct ReplayOptions {
  // CSV with a header row: time,lat,lng,alt,hacc,vacc,speed (time in seconds).
  std::string path;
  // 1 = recorded pace; larger is faster; 0 or less = one row per pass of the run loop (a looping
  // track then never lets the loop idle).
  double speed = 1.0;
  bool loop = false;
  // What the authorization query reports while this track plays.
  AuthorizationStatus authorizationStatus = AuthorizationStatus::authorizedWhenInUse;
};

// A gpsd daemon, spoken to over TCP in its JSON protocol.
struct GpsdOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 2947;
};

// An NMEA 0183 receiver.
struct NmeaOptions {
  // A serial device ("/dev/ttyUSB0", "/dev/ttyACM0"), "tcp:HOST:PORT" for a receiver or
  // multiplexer serving NMEA over TCP, or "udp:PORT" for sentences sent to a local UDP port.
  std::string source;
  // Serial devices: 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800 or 921600.
  int baudRate = 9600;
};

// GeoClue2, the desktop's location service (Wi-Fi, cell and IP based positions).
struct GeoClueOptions {
  // The host's desktop file name without ".desktop"; GeoClue's agent shows it when it asks the
  // user, and GeoClue's configuration may allow or refuse it by this name.
  std::string desktopId;
  // Metres, negative for best: up to 10 m asks for exact positions, 100 m street level, 1 km
  // neighborhood, beyond that city.
  double desiredAccuracy = -1.0;
  // Metres the device must move between reported positions.
  double distanceFilter = 3.0;
};

}  // namespace orv
