// The emulator over loopback: one request per endpoint read with the library's decoders, each
// fault, the stop, and the loopback-only rule.
#include "emulator/emulator.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>

#include "emulator/faults.h"
#include "orv/coord_transform.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"

namespace orv::emulator {
namespace {

const std::string kTrack = "/location/hub/v1/track_points";
const std::string kGeocode = "/location/scenario/v1/geocode";
const std::string kQuery = "?access_key=orv-demo-key&response_sprf=gcj02";
// The first fix of the bundled walk, WGS-84.
const std::string kTrackBody =
    R"({"timestamp":1733390400123,"id":"REQ-1","asset":{"id":"DEV-1","manufacturer":"Apple"},)"
    R"("location":{"gnss":{"point":{"longitude":116.3915045,"latitude":39.9030112},)"
    R"("accuracy":4.0,"altitude":44.0}}})";

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

std::shared_ptr<LocationRes> post(httplib::Client& client, const std::string& query,
                                  const std::string& json) {
  const auto res = client.Post(kTrack + query, json, "application/json");
  EXPECT_TRUE(res && res->status == 200) << (res ? res->body : httplib::to_string(res.error()));
  auto decoded = LocationRes::decode(res ? res->body : "");
  EXPECT_TRUE(decoded.ok()) << decoded.error().message;
  return decoded ? decoded.value() : std::make_shared<LocationRes>();
}

// The search endpoints are met through orvloc's commands, which print what they answer.
TEST(EmulatorTest, FusionReverseGeocodingAndRefusals) {
  auto emulator = start();
  ASSERT_NE(emulator, nullptr);
  auto client = clientFor(*emulator);
  const auto fused = post(*client, kQuery + "&needAddress=true", kTrackBody);
  const auto* at = fused->location().get();
  ASSERT_TRUE(at && at->place() && at->address() && at->address()->context().size() == 4);
  EXPECT_EQ(fused->id(), "REQ-1");
  const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ({39.9030112, 116.3915045});
  EXPECT_DOUBLE_EQ(at->position()->point()->latitude(), gcj.latitude);
  EXPECT_DOUBLE_EQ(at->position()->point()->longitude(), gcj.longitude);
  EXPECT_LT(at->place()->distance()->line(), 300.0);
  EXPECT_EQ(at->address()->context()[2]->name(), "东城区");

  // The museum's own GCJ-02 point: the nearest place is the museum, at no distance.
  const auto reversed = post(*client, kQuery,
                             R"({"asset":"DEV-2","id":"REQ-2","location":{"position":)"
                             R"({"point":{"longitude":116.401216,"latitude":39.905034},)"
                             R"("spatialReference":"gcj02"}}})");
  at = reversed->location().get();
  ASSERT_TRUE(at && at->place() && at->address());
  EXPECT_EQ(at->place()->name(), "中国国家博物馆");
  EXPECT_LT(at->place()->distance()->line(), 0.5);
  EXPECT_EQ(at->address()->name(), "北京市东城区东长安街16号");

  const auto refused = [](const httplib::Result& res, int status) {
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, status) << res->body;
    EXPECT_EQ(res->body.rfind("{\"code\":" + std::to_string(status) + ",", 0), 0u) << res->body;
    EXPECT_NE(res->body.find("\"message\":"), std::string::npos) << res->body;
  };
  refused(client->Get(kGeocode + "?address=x"), 401);
  refused(client->Get("/location/v2/geocode" + kQuery), 404);
  refused(client->Post(kTrack + kQuery, "{not json", "application/json"), 400);
}

TEST(EmulatorOptionsTest, BindsToLoopbackOnly) {
  for (const char* address : {"0.0.0.0", "10.1.2.3", "example.org"}) {
    EmulatorOptions options;
    options.bindAddress = address;
    EXPECT_FALSE(Emulator::start(options).ok()) << address;
  }
}

// A client that pools its connection (as libcurl does) must not hold the stop for the server's
// keep-alive time of 5 s.
TEST(EmulatorOptionsTest, StopEndsKeptAliveConnectionsAndRemovesTheCertificate) {
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

// Failures follow the seeded plan; a dropped request gets no answer at all. (Latency is met by
// the orvloc time-out test.)
TEST(EmulatorFaultTest, FailuresFollowTheSeedAndDropsGoUnanswered) {
  EmulatorOptions options;
  options.tls = false;
  options.failRate = 0.5;
  options.seed = 42;
  auto failing = start(options);
  ASSERT_NE(failing, nullptr);
  auto client = clientFor(*failing);
  const FaultPlan plan(0.0, 0.5, 42);
  uint64_t failed = 0;
  for (int i = 0; i < 12; ++i) {
    const auto res = client->Get(kGeocode + kQuery + "&address=x");
    const int expected = plan.decide(i) == Fault::fail ? 500 : 200;
    failed += expected == 500;
    EXPECT_EQ(res ? res->status : -1, expected) << i;
  }
  EXPECT_TRUE(failed > 0 && failed < 12) << failed;
  EXPECT_EQ(failing->stats().failed, failed);

  options = {};
  options.dropRate = 1.0;
  auto dropping = start(options);
  ASSERT_NE(dropping, nullptr);
  EXPECT_FALSE(clientFor(*dropping)->Post(kTrack + kQuery, kTrackBody, "application/json"));
  EXPECT_EQ(dropping->stats().dropped, 1u);
}

}  // namespace
}  // namespace orv::emulator
