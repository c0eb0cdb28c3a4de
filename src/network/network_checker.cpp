#include "network/network_checker.h"

#include "platform/route_query.h"

namespace orv::detail {

bool NetworkChecker::isNetworkReachable() {
  auto flags = queryDefaultRouteFlags();
  if (!flags) return false;
  return isReachable(static_cast<uint32_t>(*flags));
}

}  // namespace orv::detail
