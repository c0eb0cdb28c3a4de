// Where and how the library reaches the location web service; set by the host, process-wide.
#pragma once

#include <string>

#include "orv/export.h"

namespace orv {

struct ServiceConfiguration {
  // Scheme and host (and optional port/path prefix) of the service, e.g. "https://loc.example.com".
  // Empty means the build-time default.
  std::string baseUrl;
  // PEM bundle of trusted certificate authorities; empty means the system store.
  std::string caFile;
  // Proxy URL handed to the transport ("http://host:port", "socks5://..."); empty means none.
  std::string proxy;
};

// Thread-safe. Takes effect for requests started afterwards.
ORV_API void setServiceConfiguration(ServiceConfiguration configuration);
ORV_API ServiceConfiguration serviceConfiguration();

}  // namespace orv
