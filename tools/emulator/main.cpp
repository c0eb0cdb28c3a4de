// orv-emulator: runs the local emulator of the location web service until SIGINT or SIGTERM.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "emulator/emulator.h"

namespace {

// Written whole under a temporary name, then renamed, so a script waiting for the file never
// reads half of it.
bool writeInfo(const std::string& path, const orv::emulator::Emulator& emulator) {
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::trunc);
    out << "base_url=" << emulator.baseUrl() << "\n"
        << "ca_file=" << emulator.caFile() << "\n";
    if (!out.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(partial, path, ec);
  return !ec;
}

}  // namespace

int main(int argc, char** argv) {
  orv::emulator::EmulatorOptions options;
  options.keys.clear();
  bool http = false;
  bool quiet = false;
  std::string info;
  CLI::App app{"orv-emulator: local emulator of the location web service"};
  app.add_option("--port", options.port, "port on 127.0.0.1, 0 for any free one")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  app.add_flag("--http", http, "serve plain HTTP instead of HTTPS");
  app.add_option("--key", options.keys, "accepted access_key, repeatable (default orv-demo-key)");
  app.add_option("--latency", options.latencyMs, "milliseconds added before every answer")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--fail-rate", options.failRate, "share of requests answered 500 (0 to 1)")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--drop-rate", options.dropRate,
                 "share of connections reset without an answer (0 to 1)")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--rate", options.rate,
                 "requests admitted per second, 429 with Retry-After beyond (0: no limit)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--seed", options.seed, "seed of the fault choice")->capture_default_str();
  app.add_option("--info", info, "write base_url= and ca_file= lines to this file");
  app.add_flag("--quiet", quiet, "do not print a line per request");
  CLI11_PARSE(app, argc, argv);

  options.tls = !http;
  if (options.keys.empty()) options.keys.push_back(orv::emulator::kDemoKey);
  if (!quiet) {
    options.requestLog = [](const std::string& line) {
      std::fprintf(stderr, "%s\n", line.c_str());
    };
  }

  // Blocked before the server's threads exist, so only sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  auto started = orv::emulator::Emulator::start(options);
  if (!started) {
    std::fprintf(stderr, "orv-emulator: %s\n", started.error().message.c_str());
    return 1;
  }
  auto& emulator = *started.value();
  std::printf("base URL: %s\n", emulator.baseUrl().c_str());
  if (!http) std::printf("CA file:  %s\n", emulator.caFile().c_str());
  std::printf("keys:    ");
  for (const auto& key : options.keys) std::printf(" %s", key.c_str());
  std::printf("\n");
  std::fflush(stdout);
  if (!info.empty() && !writeInfo(info, emulator)) {
    std::fprintf(stderr, "orv-emulator: cannot write %s\n", info.c_str());
    return 1;
  }

  int signal = 0;
  sigwait(&stopSignals, &signal);
  emulator.stop();
  if (!info.empty()) std::filesystem::remove(info);
  return 0;
}
