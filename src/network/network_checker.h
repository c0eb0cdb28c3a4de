// Whether the configured service can be reached now, from the kernel's routing table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orv::detail {

class NetworkChecker {
 public:
  static constexpr uint32_t kReachable = 2;
  static constexpr uint32_t kConnectionRequired = 4;

  // Asks about the configured service's host: an IP literal or "localhost" by the route to that
  // address (loopback and a LAN without a default route count), any other name by the default
  // route (names are never resolved for this).
  static bool isNetworkReachable();
  // No flags (the query failed) counts as unreachable.
  static constexpr bool isReachable(std::optional<uint32_t> flags) {
    return flags && (*flags & kReachable) != 0 && (*flags & kConnectionRequired) == 0;
  }
  // The routing question for a service host, as isNetworkReachable() asks it.
  static std::optional<uint32_t> queryFlagsForHost(const std::string& host);
};

}  // namespace orv::detail
