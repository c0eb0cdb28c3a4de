#include "platform/route_query.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

#include "netns_child.h"

namespace orv::detail {
namespace {

std::string flagsText(std::optional<uint32_t> flags) {
  return flags ? std::to_string(*flags) : "failed";
}

TEST(RouteQueryTest, FreshNamespaceHasNoRoute) {
  const auto out = testing::inFreshNetns([] { return flagsText(queryDefaultRouteFlags()); });
  if (!out.answer) GTEST_SKIP() << out.whyNot;
  EXPECT_EQ(*out.answer, "0");
}

TEST(RouteQueryTest, DefaultRouteIsReachable) {
  if (!testing::hasDefaultRoute()) GTEST_SKIP() << "this machine has no default route";
  EXPECT_EQ(queryDefaultRouteFlags(), std::optional<uint32_t>(kRouteReachable));
}

// A route through an interface without carrier is still in the table but must not count; it
// counts once the carrier comes up. IPv4 gone, the IPv6 route is asked; policy rules and
// `prohibit` routes are honoured.
TEST(RouteQueryTest, RouteCountsOnlyThroughARunningInterface) {
  const auto out = testing::inFreshNetns([]() -> std::string {
    auto sh = [](const char* cmd) { return std::system(cmd) == 0; };
    if (!sh("ip link add v0 type veth peer name v1 && ip link set v0 up &&"
            " ip addr add 10.9.0.1/24 dev v0 && ip route add default via 10.9.0.2 dev v0 &&"
            " ip -6 route add default dev v0")) {
      return "!cannot create a veth pair here";
    }
    std::string seen = flagsText(queryDefaultRouteFlags());  // v1 down: v0 has no carrier
    sh("ip link set v1 up");
    // The carrier reaches the interface's flags a moment later (link watch runs deferred).
    for (int i = 0; i < 100 && queryDefaultRouteFlags() != kRouteReachable; ++i) ::usleep(20'000);
    seen += " " + flagsText(queryDefaultRouteFlags());
    sh("ip route del default");
    seen += " " + flagsText(queryDefaultRouteFlags());  // IPv6 only
    sh("ip -6 route del default && ip -6 route add prohibit default");
    seen += " " + flagsText(queryDefaultRouteFlags());
    sh("ip -6 route del prohibit default && ip -6 route add default dev v0 table 7");
    seen += " " + flagsText(queryDefaultRouteFlags());  // not in the main table
    sh("ip -6 rule add table 7");
    seen += " " + flagsText(queryDefaultRouteFlags());
    return seen;
  });
  if (!out.answer) GTEST_SKIP() << out.whyNot;
  EXPECT_EQ(*out.answer, "0 2 2 0 0 2");
}

}  // namespace
}  // namespace orv::detail
