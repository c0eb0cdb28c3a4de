#include "platform/log.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace orv::detail {
namespace {

std::atomic<bool> g_enabled{false};

using SharedSink = std::shared_ptr<const LogSink>;

// A line waiting for its turn, with the sink in force when it was written (null: standard output).
struct Pending {
  std::string line;
  SharedSink sink;
};

// Sinks run outside the lock, so a sink may log, replace the sink or call into the library. One
// thread at a time delivers: a line written meanwhile is queued and handed over by that thread,
// so sink calls never overlap and keep the order the lines were written in.
struct SinkState {
  std::mutex mutex;
  std::condition_variable delivered;
  SharedSink sink;
  std::deque<Pending> queue;
  bool delivering = false;
  std::thread::id deliverer;
  uint64_t written = 0;    // lines accepted so far
  uint64_t completed = 0;  // lines handed to their sink (or standard output) so far
};

SinkState& sinkState() {
  // Never destroyed: threads may still log while the process exits.
  static auto* state = new SinkState();
  return *state;
}

void deliver(const SharedSink& sink, std::string_view line) {
  if (sink) {
    try {
      (*sink)(line);
    } catch (...) {
      // The line is lost, never the code that logged it.
    }
    return;
  }
  // One fwrite per line so lines from different processes sharing the stream stay whole.
  std::string out;
  out.reserve(line.size() + 1);
  out.append(line);
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

bool logEnabled() { return g_enabled.load(std::memory_order_relaxed); }

void setLogEnabled(bool enabled) { g_enabled.store(enabled, std::memory_order_relaxed); }

void setLogSink(LogSink sink) {
  SharedSink next = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
  auto& s = sinkState();
  std::unique_lock lock(s.mutex);
  SharedSink previous = std::exchange(s.sink, std::move(next));
  if (s.delivering && s.deliverer == std::this_thread::get_id()) {
    // Called from a sink: the lines still queued go to the new sink, since the caller may free
    // what the old one uses as soon as this returns.
    for (auto& p : s.queue) {
      if (p.sink == previous) p.sink = s.sink;
    }
  } else {
    // Lines written before the swap reach the old sink before this returns; after it, the old
    // sink is never called again.
    const uint64_t before = s.written;
    s.delivered.wait(lock, [&] { return s.completed >= before; });
  }
  lock.unlock();
  // `previous` dies here, outside the lock: its captures may take other locks (the GIL).
}

void writeLine(std::string_view line) {
  auto& s = sinkState();
  std::unique_lock lock(s.mutex);
  ++s.written;
  if (s.delivering) {
    s.queue.push_back({std::string(line), s.sink});
    return;
  }
  s.delivering = true;
  s.deliverer = std::this_thread::get_id();
  Pending current{{}, s.sink};
  std::string_view text = line;  // the caller's own line needs no copy
  for (;;) {
    lock.unlock();
    deliver(current.sink, text);
    current = {};  // the last reference to a replaced sink dies outside the lock
    lock.lock();
    ++s.completed;
    s.delivered.notify_all();
    if (s.queue.empty()) break;
    current = std::move(s.queue.front());
    s.queue.pop_front();
    text = current.line;
  }
  s.delivering = false;
  s.deliverer = {};
}

void sdkLog(std::string_view line) {
  if (!logEnabled()) return;
  writeLine(line);
}

}  // namespace orv::detail
