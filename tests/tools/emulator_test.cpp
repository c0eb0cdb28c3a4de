// The emulator over loopback: each fault, the stop, and the loopback-only rule. Its endpoints are
// met through orvloc's commands, which print what they decode, and its refusals through the
// clients' error tests.
#include "emulator/emulator.h"

#include "emulator/faults.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>

namespace orv::emulator {
namespace {

const std::string kTrack = "/location/hub/v1/track_points?access_key=orv-demo-key";
const std::string kGeocode = "/location/scenario/v1/geocode?address=x";

std::unique_ptr<Emulator> start(EmulatorOptions options = {}) {
  auto started = Emulator::start(std::move(options));
  EXPECT_TRUE(started.ok()) << started.error().message;
  return started ? std::move(started).value() : nullptr;
}

std::unique_ptr<httplib::Client> clientFor(const Emulator& emulator) {
  auto client = std::make_unique<httplib::Client>(emulator.baseUrl());
  if (!emulator.caFile().empty()) {
    client->set_ca_cert_path(emulator.caFile());
    client->enable_server_certificate_verification(true);
  }
  client->set_read_timeout(10, 0);
  return client;
}

TEST(EmulatorTest, BindsToLoopbackOnly) {
  for (const char* address : {"0.0.0.0", "10.1.2.3", "example.org"}) {
    EmulatorOptions options;
    options.bindAddress = address;
    EXPECT_FALSE(Emulator::start(options).ok()) << address;
  }
}

// A client that pools its connection (as libcurl does) must not hold the stop for the server's
// keep-alive time of 5 s.
TEST(EmulatorTest, StopEndsKeptAliveConnectionsAndRemovesTheCertificate) {
  auto emulator = start();
  ASSERT_NE(emulator, nullptr);
  const std::filesystem::path ca = emulator->caFile();
  auto client = clientFor(*emulator);
  client->set_keep_alive(true);
  ASSERT_TRUE(client->Get("/"));
  const auto started = std::chrono::steady_clock::now();
  emulator->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  emulator->stop();
  EXPECT_FALSE(std::filesystem::exists(ca.parent_path()));
  EXPECT_FALSE(client->Get("/"));
}

// Each fault once: an injected failure, a dropped connection. (Latency is met by orvloc's
// time-out test.)
TEST(EmulatorTest, FailuresAndDrops) {
  EmulatorOptions options;
  options.failRate = 1.0;
  auto failing = start(options);
  ASSERT_NE(failing, nullptr);
  const auto res = clientFor(*failing)->Get(kGeocode + "&access_key=orv-demo-key");
  EXPECT_TRUE(res && res->status == 500);
  EXPECT_EQ(failing->stats().failed, 1u);

  options = {};
  options.dropRate = 1.0;
  auto dropping = start(options);
  ASSERT_NE(dropping, nullptr);
  EXPECT_FALSE(clientFor(*dropping)->Post(kTrack, "{}", "application/json"));
  EXPECT_EQ(dropping->stats().dropped, 1u);
}

// The window slides: at most `limit` admitted in any one second, wherever it starts, and the
// Retry-After is the whole seconds until the oldest admitted one leaves it.
TEST(EmulatorTest, RateWindowAdmitsAtMostTheLimitInAnySecond) {
  using std::chrono::milliseconds;
  RateWindow window(3);
  const RateWindow::Clock::time_point t0{};
  struct Step {
    int atMs;
    int retryAfter;  // 0: admitted
  };
  const Step steps[] = {{0, 0},    {100, 0},  {900, 0},  {950, 1},  {999, 1},
                        {1000, 0}, {1050, 1}, {1100, 0}, {1899, 1}, {1900, 0}};
  for (const Step& step : steps) {
    const auto refused = window.admit(t0 + milliseconds(step.atMs));
    EXPECT_EQ(refused ? refused->count() : 0, step.retryAfter) << step.atMs << " ms";
  }
  EXPECT_EQ(window.busiestSecond(), 7u);  // 900..1899 ms: refused arrivals count too

  RateWindow unlimited(0);
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(unlimited.admit(t0));
  EXPECT_EQ(unlimited.busiestSecond(), 100u);
}

TEST(EmulatorTest, RateLimitAnswers429WithRetryAfter) {
  EmulatorOptions options;
  options.rate = 2;
  options.tls = false;
  auto limited = start(options);
  ASSERT_NE(limited, nullptr);
  auto client = clientFor(*limited);
  int refused = 0;
  for (int i = 0; i < 3; ++i) {
    const auto res = client->Get(kGeocode + "&access_key=orv-demo-key");
    ASSERT_TRUE(res);
    if (res->status == 429) {
      ++refused;
      EXPECT_EQ(res->get_header_value("Retry-After"), "1");
    }
  }
  // Three requests well within a second (a stalled machine may spread them further).
  EXPECT_LE(refused, 1);
  EXPECT_EQ(limited->stats().limited, static_cast<uint64_t>(refused));
}

}  // namespace
}  // namespace orv::emulator
