#include "network/network_checker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <thread>
#include <vector>

#include "../platform/netns_child.h"

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

TEST_F(NetworkCheckerTest, NormalNamespaceWithADefaultRouteIsReachable) {
  if (!testing::hasDefaultRoute()) GTEST_SKIP() << "this machine has no default route";
  EXPECT_TRUE(NetworkChecker::isNetworkReachable());
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
