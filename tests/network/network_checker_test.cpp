#include "network/network_checker.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ostream>
#include <thread>
#include <vector>

#include "../platform/netns_child.h"
#include "orv/service_configuration.h"

namespace orv::detail {
namespace {

class NetworkCheckerTest : public ::testing::Test {
 protected:
  void TearDown() override { NetworkChecker::setFlagsQueryForTesting(nullptr); }
};

struct FlagsCase {
  const char* name;
  std::optional<uint32_t> flags;  // nullopt: the platform query failed
  bool reachable;
};

void PrintTo(const FlagsCase& c, std::ostream* os) { *os << c.name; }

class FlagTableTest : public NetworkCheckerTest, public ::testing::WithParamInterface<FlagsCase> {};

TEST_P(FlagTableTest, AnswersFromTheFlags) {
  const auto flags = GetParam().flags;
  NetworkChecker::setFlagsQueryForTesting([flags] { return flags; });
  EXPECT_EQ(NetworkChecker::isNetworkReachable(), GetParam().reachable);
}

INSTANTIATE_TEST_SUITE_P(NetworkChecker, FlagTableTest,
                         ::testing::Values(FlagsCase{"ReachableOnly", 2u, true},
                                           FlagsCase{"ReachableNeedingAConnection", 2u | 4u, false},
                                           FlagsCase{"NoFlags", 0u, false},
                                           FlagsCase{"QueryFailed", std::nullopt, false},
                                           FlagsCase{"ConnectionRequiredOnly", 4u, false},
                                           FlagsCase{"ReachableWithOtherFlags",
                                                     2u | 1u | 8u | 0x10000u | 0x80000000u, true},
                                           FlagsCase{"EveryFlag", 0xFFFFFFFFu, false},
                                           FlagsCase{"EveryFlagButConnectionRequired", 0xFFFFFFFBu,
                                                     true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetworkCheckerTest, ClearingTheSeamAsksThePlatformAgain) {
  NetworkChecker::setFlagsQueryForTesting([] { return std::optional<uint32_t>(2); });
  const auto out = testing::inFreshNetns([] {
    std::string seen = NetworkChecker::isNetworkReachable() ? "true" : "false";
    NetworkChecker::setFlagsQueryForTesting(nullptr);
    return seen + (NetworkChecker::isNetworkReachable() ? " true" : " false");
  });
  if (!out.answer) GTEST_SKIP() << out.whyNot;
  EXPECT_EQ(*out.answer, "true false");
}

// The configured service decides what is asked: an IP literal or localhost by its own route
// (loopback and a LAN without a default route count), a name by the default route, unresolved.
TEST_F(NetworkCheckerTest, AsksAboutTheConfiguredServiceHost) {
  const auto out = testing::inFreshNetns([]() -> std::string {
    auto sh = [](const char* cmd) { return std::system(cmd) == 0; };
    auto reachable = [](const char* baseUrl) {
      setServiceConfiguration({baseUrl, "", ""});
      return NetworkChecker::isNetworkReachable() ? "1" : "0";
    };
    const char* urls[] = {"https://127.0.0.1:8443", "https://localhost", "https://[::1]:1",
                          "https://10.9.0.5",       "https://[fd00::5]", "https://10.10.0.5",
                          "https://service.example"};
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
  //                    127  localhost  ::1  LAN  LAN6  other  name
  EXPECT_EQ(*out.answer, "0000000 1110000 1111100 1111111");
}

TEST_F(NetworkCheckerTest, NormalNamespaceWithADefaultRouteIsReachable) {
  if (!testing::hasDefaultRoute()) GTEST_SKIP() << "this machine has no default route";
  EXPECT_TRUE(NetworkChecker::isNetworkReachable());  // the default service is a name
}

// Meaningful under TSan: the seam may change while other threads ask.
TEST_F(NetworkCheckerTest, SeamIsSafeToChangeWhileOthersAsk) {
  NetworkChecker::setFlagsQueryForTesting([] { return std::optional<uint32_t>(0); });
  std::atomic<bool> done{false};
  std::vector<std::thread> askers;
  for (int i = 0; i < 3; ++i) {
    askers.emplace_back([&] {
      while (!done) NetworkChecker::isNetworkReachable();
    });
  }
  for (uint32_t i = 0; i < 2000; ++i) {
    NetworkChecker::setFlagsQueryForTesting([i] { return std::optional<uint32_t>(i & 6); });
  }
  done = true;
  for (auto& t : askers) t.join();
  NetworkChecker::setFlagsQueryForTesting([] { return std::optional<uint32_t>(2); });
  EXPECT_TRUE(NetworkChecker::isNetworkReachable());
}

}  // namespace
}  // namespace orv::detail
