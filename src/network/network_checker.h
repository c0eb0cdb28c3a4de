// Whether the device can use the network now, from the default route's reachability flags.
#pragma once

#include <cstdint>
#include <optional>

namespace orv::detail {

class NetworkChecker {
 public:
  static constexpr uint32_t kReachable = 2;
  static constexpr uint32_t kConnectionRequired = 4;

  static bool isNetworkReachable();
  // No flags (the query failed) counts as unreachable.
  static constexpr bool isReachable(std::optional<uint32_t> flags) {
    return flags && (*flags & kReachable) != 0 && (*flags & kConnectionRequired) == 0;
  }
};

}  // namespace orv::detail
