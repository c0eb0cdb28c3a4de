#include "platform/route_query.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "netns_child.h"

namespace orv::detail {
namespace {

// In a fresh namespace there is no route. A route through an interface without carrier is in
// the table but does not count; it counts once the carrier comes up. IPv4 gone, the IPv6 route
// is asked; `prohibit` routes and policy rules are honoured.
TEST(RouteQueryTest, RouteCountsOnlyThroughARunningInterface) {
  const auto out = testing::inFreshNetns([]() -> std::string {
    const auto flags = [] { return std::to_string(queryDefaultRouteFlags().value_or(99)) + " "; };
    const auto sh = [](const char* cmd) { return std::system(cmd) == 0; };
    std::string seen = flags();
    if (!sh("ip link add v0 type veth peer name v1 && ip link set v0 up &&"
            " ip addr add 10.9.0.1/24 dev v0 && ip route add default via 10.9.0.2 dev v0 &&"
            " ip -6 route add default dev v0")) {
      return "!cannot create a veth pair here";
    }
    seen += flags();  // v1 down: v0 has no carrier
    sh("ip link set v1 up");
    // The carrier reaches the interface's flags a moment later (link watch runs deferred).
    for (int i = 0; i < 100 && queryDefaultRouteFlags() != kRouteReachable; ++i) ::usleep(20'000);
    seen += flags();
    sh("ip route del default");
    seen += flags();  // IPv6 only
    sh("ip -6 route del default && ip -6 route add prohibit default");
    seen += flags();
    sh("ip -6 route del prohibit default && ip -6 route add default dev v0 table 7");
    seen += flags();  // not in the main table
    sh("ip -6 rule add table 7");
    return seen + flags();
  });
  if (!out.answer) GTEST_SKIP() << out.whyNot;
  EXPECT_EQ(*out.answer, "0 0 2 2 0 0 2 ");
}

}  // namespace
}  // namespace orv::detail
