#include "network/network_checker.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <ostream>

#include "../platform/netns_child.h"
#include "orv/service_configuration.h"

namespace orv::detail {
namespace {

// Any flag but "reachable" and "connection required" is ignored.
TEST(NetworkChecker, ReachableOnlyWithoutARequiredConnection) {
  EXPECT_TRUE(NetworkChecker::isReachable(2u));
  EXPECT_TRUE(NetworkChecker::isReachable(0xFFFFFFFBu));
  EXPECT_FALSE(NetworkChecker::isReachable(2u | 4u));
  EXPECT_FALSE(NetworkChecker::isReachable(0u));
  EXPECT_FALSE(NetworkChecker::isReachable(std::nullopt));  // the query failed
}

// The configured service decides what is asked: an IP literal or localhost by its own route
// (loopback and a LAN without a default route count), a name by the default route, unresolved.
TEST(NetworkChecker, AsksAboutTheConfiguredServiceHost) {
  const auto out = testing::inFreshNetns([]() -> std::string {
    auto sh = [](const char* cmd) { return std::system(cmd) == 0; };
    auto reachable = [](const char* baseUrl) {
      setServiceConfiguration({baseUrl, "", ""});
      return NetworkChecker::isNetworkReachable() ? "1" : "0";
    };
    const char* urls[] = {"https://127.0.0.1:8443",  "https://localhost",      "https://[::1]:1",
                          "https://10.9.0.5",        "https://[fd00::5]",      "https://10.10.0.5",
                          "https://service.example", "https://255.255.255.255"};
    auto row = [&] {
      std::string seen;
      for (const char* url : urls) seen += reachable(url);
      return seen;
    };
    std::string seen = row();  // loopback down, no other interface
    if (!sh("ip link set lo up")) return "!cannot configure the namespace";
    seen += " " + row();
    if (!sh("ip link add v0 type veth peer name v1 && ip link set v1 up && ip link set v0 up &&"
            " ip addr add 10.9.0.1/24 dev v0 && ip -6 addr add fd00::1/64 dev v0 nodad")) {
      return "!cannot create a veth pair here";
    }
    // The carrier reaches the interface's flags a moment later (link watch runs deferred).
    for (int i = 0; i < 100 && reachable("https://10.9.0.5")[0] == '0'; ++i) ::usleep(20'000);
    seen += " " + row();
    sh("ip route add default via 10.9.0.2 dev v0");
    seen += " " + row();
    setServiceConfiguration({});
    return seen;
  });
  if (!out.answer) GTEST_SKIP() << out.whyNot;
  // 127 localhost ::1 LAN LAN6 other-LAN name broadcast
  EXPECT_EQ(*out.answer, "00000000 11100000 11111000 11111110");
}

TEST(NetworkChecker, NormalNamespaceWithADefaultRouteIsReachable) {
  if (!testing::hasDefaultRoute()) GTEST_SKIP() << "this machine has no default route";
  EXPECT_TRUE(NetworkChecker::isNetworkReachable());  // the default service is a name
}

}  // namespace
}  // namespace orv::detail
