// Whether the device can use the network now, from the default route's reachability flags.
#pragma once

#include <cstdint>
#include <functional>
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

  // Test seam: while set, isNetworkReachable() reads its flags from `query` instead of the
  // platform (nullopt from the query = the platform query failed). An empty function restores
  // the platform query. Thread-safe.
  using FlagsQuery = std::function<std::optional<uint32_t>()>;
  static void setFlagsQueryForTesting(FlagsQuery query);
};

}  // namespace orv::detail
