#include "platform/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

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

// A sink that calls back into the log from inside a call: it neither deadlocks nor nests, and
// every line arrives once, whole, in the order written.
struct ReentryCase {
  const char* name;
  // Runs inside the sink on its first line; `sunk` is what the sinks received so far.
  std::function<void(std::vector<std::string>& sunk)> reenter;
  std::vector<std::string> expected;
};

class LogReentryTest : public testing::TestWithParam<ReentryCase> {
 protected:
  void TearDown() override { setLogSink({}); }
};

TEST_P(LogReentryTest, SinkCallsBackIntoTheLog) {
  std::vector<std::string> sunk;
  bool first = true;
  setLogSink([&](std::string_view line) {
    sunk.emplace_back(line);
    if (std::exchange(first, false)) GetParam().reenter(sunk);
  });
  writeLine("one");
  writeLine("two");
  EXPECT_EQ(sunk, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogReentryTest,
    testing::Values(
        // The nested line waits for the call that wrote it to return.
        ReentryCase{"LogsFromTheSink",
                    [](auto& sunk) {
                      writeLine("nested");
                      sunk.emplace_back("returned");
                    },
                    {"one", "returned", "nested", "two"}},
        // The next line goes to the replacement; the replaced sink is never called again.
        ReentryCase{"ReplacesTheSink",
                    [](auto& sunk) {
                      setLogSink([&sunk](std::string_view line) {
                        sunk.emplace_back("new:" + std::string(line));
                      });
                    },
                    {"one", "new:two"}},
        // A line written before the sink removed itself is not handed to the removed sink.
        ReentryCase{"LogsThenRemovesTheSink",
                    [](auto& sunk) {
                      writeLine("queued");
                      setLogSink([&sunk](std::string_view line) {
                        sunk.emplace_back("new:" + std::string(line));
                      });
                    },
                    {"one", "new:queued", "new:two"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Threads write while the sink is replaced again and again: calls never overlap, each line
// reaches exactly one sink whole, each thread's lines keep their order, and once setLogSink
// returns the replaced sink is never called again.
TEST(LogConcurrencyTest, ReplacingTheSinkWhileThreadsWrite) {
  constexpr int kThreads = 3, kLines = 2000, kSwaps = 200;
  struct Generation {
    std::atomic<bool> retired{false};
    std::vector<std::string> lines;
  };
  std::vector<std::unique_ptr<Generation>> generations;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0}, lateCalls{0};
  const auto sinkFor = [&](Generation* g) {
    return [&, g](std::string_view line) {
      if (inside.fetch_add(1) != 0) ++overlaps;
      if (g->retired) ++lateCalls;
      g->lines.emplace_back(line);
      inside.fetch_sub(1);
    };
  };
  generations.push_back(std::make_unique<Generation>());
  setLogSink(sinkFor(generations.back().get()));
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) writeLine(std::to_string(t) + ":" + std::to_string(i));
    });
  }
  for (int swap = 0; swap < kSwaps; ++swap) {
    Generation* old = generations.back().get();
    generations.push_back(std::make_unique<Generation>());
    setLogSink(sinkFor(generations.back().get()));
    old->retired = true;
  }
  for (auto& w : writers) w.join();
  setLogSink({});
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(lateCalls, 0);
  std::vector<int> next(kThreads, 0);
  for (const auto& g : generations) {
    for (const auto& line : g->lines) {
      const int t = std::stoi(line.substr(0, line.find(':')));
      ASSERT_EQ(line, std::to_string(t) + ":" + std::to_string(next[t])) << "torn or out of order";
      ++next[t];
    }
  }
  EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
}

}  // namespace
}  // namespace orv::detail
