// A local emulator of the location web service: an HTTPS (or plain HTTP) server on loopback that
// answers the five endpoints from a bundled data set, with faults on demand. Runs on its own
// threads; usable in-process (tests, the demo) and from the orv-emulator command.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orv/result.h"

namespace orv::emulator {

inline constexpr const char* kDemoKey = "orv-demo-key";

struct EmulatorOptions {
  // A loopback address only: "127.0.0.1" (any of 127.0.0.0/8), "::1" or "localhost".
  std::string bindAddress = "127.0.0.1";
  int port = 0;  // 0 picks a free port
  // HTTPS with a fresh self-signed certificate for 127.0.0.1, ::1 and localhost.
  bool tls = true;
  std::vector<std::string> keys{kDemoKey};  // the accepted "access_key" values
  int latencyMs = 0;                        // added before every answer
  double failRate = 0.0;                    // share of requests answered 500
  double dropRate = 0.0;                    // share of connections reset without an answer
  uint64_t seed = 1;                        // the same seed repeats the same faults
  // Requests admitted per second (0: no limit); beyond it, 429 with Retry-After in seconds. A
  // sliding window: no one-second span ever holds more admitted requests than this.
  int rate = 0;
  int threads = 8;  // requests served at once
  // Called with one line per request ("POST /path 200 3 ms"), from the server's threads.
  std::function<void(const std::string&)> requestLog;
};

struct EmulatorStats {
  uint64_t requests = 0;  // every request that arrived
  uint64_t dropped = 0;
  uint64_t failed = 0;         // injected 500s
  uint64_t limited = 0;        // answered 429 for the rate limit
  uint64_t busiestSecond = 0;  // the most requests that arrived within any one second
};

class Emulator {
 public:
  // Binds, writes the certificate and starts serving; fails on bad options or when the port
  // cannot be bound. Ignores SIGPIPE if it is at its default, so that writing to a connection
  // the emulator reset cannot end the process.
  static Result<std::unique_ptr<Emulator>> start(EmulatorOptions options);
  ~Emulator();  // stops
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // "https://127.0.0.1:<port>" (or "http://...").
  std::string baseUrl() const;
  // The PEM certificate to trust; empty for plain HTTP. Removed by stop().
  std::string caFile() const;
  int port() const;
  EmulatorStats stats() const;
  // Stops serving, waits for the server's threads and removes the certificate. Idempotent.
  void stop();

  struct Impl;

 private:
  explicit Emulator(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace orv::emulator
