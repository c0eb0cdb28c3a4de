#include "platform/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace orv::detail {
namespace {

std::atomic<bool> g_enabled{false};

struct SinkState {
  std::mutex mutex;
  LogSink sink;
};

SinkState& sinkState() {
  static SinkState state;
  return state;
}

}  // namespace

bool logEnabled() { return g_enabled.load(std::memory_order_relaxed); }

void setLogEnabled(bool enabled) { g_enabled.store(enabled, std::memory_order_relaxed); }

void setLogSink(LogSink sink) {
  auto& s = sinkState();
  std::lock_guard lock(s.mutex);
  s.sink = std::move(sink);
}

void writeLine(std::string_view line) {
  auto& s = sinkState();
  std::lock_guard lock(s.mutex);
  if (s.sink) {
    s.sink(line);
    return;
  }
  // One fwrite per line so lines from different threads never interleave mid-line.
  std::string out;
  out.reserve(line.size() + 1);
  out.append(line);
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

void sdkLog(std::string_view line) {
  if (!logEnabled()) return;
  writeLine(line);
}

}  // namespace orv::detail
