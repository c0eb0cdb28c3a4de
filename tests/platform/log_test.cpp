#include "platform/log.h"

#include <gtest/gtest.h>

namespace orv::detail {
namespace {

// The switch gates sdkLog() but not writeLine(); without a sink both go to standard output, a
// line each.
TEST(LogTest, SwitchGatesSdkLogButNotWriteLine) {
  std::string sunk;
  setLogEnabled(false);
  setLogSink([&](std::string_view line) { sunk += std::string(line) + "|"; });
  sdkLog("hidden");
  writeLine("banner");
  setLogEnabled(true);
  sdkLog("\nshown");
  EXPECT_EQ(sunk, "banner|\nshown|");
  setLogSink({});
  testing::internal::CaptureStdout();
  sdkLog("纬度：39.9");
  writeLine("x");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "纬度：39.9\nx\n");
  setLogEnabled(false);
}

}  // namespace
}  // namespace orv::detail
