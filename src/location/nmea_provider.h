// Fixes from an NMEA 0183 receiver: a serial device (raw mode through termios), a TCP server
// (a receiver with a network port, a multiplexer) or a local UDP port, read on a run loop through
// a watched descriptor: working once bytes arrive, reopened with backoff, reported at once while
// it never worked and after a 10 s grace once it did (location/reconnecting_source.h). Managers
// streaming from one provider share one open source (location/shared_upstream.h).
#pragma once

#include <memory>
#include <string>

#include "location/location_stream.h"
#include "location/provider_registry.h"
#include "location/shared_upstream.h"
#include "orv/location_sources.h"
#include "orv/result.h"

namespace orv::detail {

struct NmeaEndpoint {
  enum class Kind { serial, tcp, udp };
  Kind kind = Kind::serial;
  std::string path;   // serial device
  std::string host;   // TCP
  uint16_t port = 0;  // TCP, UDP
  int baudRate = 9600;

  // "/dev/ttyUSB0", "tcp:HOST:PORT" ("tcp:[::1]:PORT" for IPv6) or "udp:PORT".
  static Result<NmeaEndpoint> parse(const std::string& source, int baudRate);
  // For messages: the device path, "HOST:PORT" or "UDP port PORT".
  std::string describe() const;
};

class NmeaProvider final : public OpenOnlyProvider {
 public:
  explicit NmeaProvider(NmeaEndpoint endpoint);

  // A receiver has no permission model.
  AuthorizationStatus authorizationStatus() const override {
    return AuthorizationStatus::authorizedWhenInUse;
  }
  // Every stream shares one open source.
  std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink) override {
    return upstream_->open(sink);
  }

 private:
  std::shared_ptr<SharedUpstream> upstream_;
};

}  // namespace orv::detail
