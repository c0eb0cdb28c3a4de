#include "network/network_checker.h"

#include "network/request_builder.h"
#include "network/service.h"
#include "platform/route_query.h"

namespace orv::detail {

static_assert(NetworkChecker::kReachable == kRouteReachable);
static_assert(NetworkChecker::kConnectionRequired == kRouteConnectionRequired);

bool NetworkChecker::isNetworkReachable() {
  const std::optional<std::string> host = urlHost(serviceBaseUrl());
  return host && isReachable(queryFlagsForHost(*host));
}

std::optional<uint32_t> NetworkChecker::queryFlagsForHost(const std::string& host) {
  if (equalsIgnoringCase(host, "localhost") || equalsIgnoringCase(host, "localhost.")) {
    // Whichever loopback family the transfer ends up using.
    const auto v4 = queryAddressRouteFlags("127.0.0.1");
    return isReachable(v4) ? v4 : queryAddressRouteFlags("::1");
  }
  return isIpLiteral(host) ? queryAddressRouteFlags(host) : queryDefaultRouteFlags();
}

}  // namespace orv::detail
