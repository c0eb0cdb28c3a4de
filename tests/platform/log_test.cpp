#include "platform/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv::detail {
namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setLogSink([this](std::string_view line) { lines.emplace_back(line); });
  }
  void TearDown() override {
    setLogSink({});
    setLogEnabled(false);
  }
  std::vector<std::string> lines;
};

TEST_F(LogTest, SwitchGatesSdkLogButNotWriteLine) {
  setLogEnabled(false);
  sdkLog("hidden");
  writeLine("banner");
  setLogEnabled(true);
  sdkLog("\nshown");
  EXPECT_EQ(lines, (std::vector<std::string>{"banner", "\nshown"}));
}

TEST_F(LogTest, StandardOutputGetsLineAndNewline) {
  setLogSink({});
  setLogEnabled(true);
  testing::internal::CaptureStdout();
  sdkLog("纬度：39.9");
  writeLine("x");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "纬度：39.9\nx\n");
}

}  // namespace
}  // namespace orv::detail
