// The emulator over real loopback HTTPS and HTTP, its answers read with the library's decoders.
#include "emulator/emulator.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "emulator/faults.h"
#include "orv/coord_transform.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"

namespace orv::emulator {
namespace {

const std::string kTrack = "/location/hub/v1/track_points";
const std::string kGeocode = "/location/scenario/v1/geocode";
const std::string kPlaceSearch = "/location/scenario/v1/placesearch";
const std::string kNearby = "/location/scenario/v1/nearbysearch";
const std::string kFusionQuery = "?access_key=orv-demo-key&response_sprf=gcj02&needAddress=true";
const std::string kReverseQuery = "?access_key=orv-demo-key&response_sprf=gcj02";

// The first fix of the bundled walk, WGS-84.
constexpr double kWalkLat = 39.9030112, kWalkLng = 116.3915045;

// Every digit, so the emulator sees exactly the double the test compares with.
std::string exact(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

std::string trackBody(double lat, double lng) {
  return R"({"timestamp":1733390400123,"id":"REQ-1","asset":{"id":"DEV-1","manufacturer":"Apple"},)"
         R"("location":{"gnss":{"point":{"longitude":)" +
         exact(lng) + R"(,"latitude":)" + exact(lat) + R"(},"accuracy":4.0,"altitude":44.0}}})";
}

std::string reverseBody(double lat, double lng, const std::string& reference = "gcj02") {
  return R"({"asset":"DEV-2","location":{"position":{"point":{"longitude":)" + exact(lng) +
         R"(,"latitude":)" + exact(lat) + R"(},"spatialReference":")" + reference +
         R"("}},"id":"REQ-2"})";
}

std::unique_ptr<Emulator> startOrFail(EmulatorOptions options) {
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

class EmulatorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { emulator_ = startOrFail({}).release(); }
  static void TearDownTestSuite() {
    delete emulator_;
    emulator_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(emulator_, nullptr);
    client_ = clientFor(*emulator_);
  }

  httplib::Result get(const std::string& path, httplib::Params params, bool withKey = true) {
    if (withKey) params.emplace("access_key", kDemoKey);
    return client_->Get(path, params, httplib::Headers{});
  }
  httplib::Result post(const std::string& target, const std::string& body) {
    return client_->Post(target, body, "application/json");
  }
  std::vector<std::shared_ptr<GeocodeRes>> list(const std::string& path,
                                                const httplib::Params& params) {
    auto res = get(path, params);
    EXPECT_TRUE(res) << httplib::to_string(res.error());
    if (!res) return {};
    EXPECT_EQ(res->status, 200) << res->body;
    auto decoded = decodeGeocodeList(res->body);
    EXPECT_TRUE(decoded.ok()) << decoded.error().message << "\n" << res->body;
    return decoded ? decoded.value() : std::vector<std::shared_ptr<GeocodeRes>>{};
  }

  static Emulator* emulator_;
  std::unique_ptr<httplib::Client> client_;
};

Emulator* EmulatorTest::emulator_ = nullptr;

TEST_F(EmulatorTest, FusionConvertsTheFixAndNamesTheNearestPlace) {
  auto res = post(kTrack + kFusionQuery, trackBody(kWalkLat, kWalkLng));
  ASSERT_TRUE(res) << httplib::to_string(res.error());
  ASSERT_EQ(res->status, 200) << res->body;
  auto decoded = LocationRes::decode(res->body);
  ASSERT_TRUE(decoded.ok()) << decoded.error().message;
  const LocationRes& r = *decoded.value();
  EXPECT_EQ(r.id(), "REQ-1");
  EXPECT_EQ(r.asset(), "DEV-1");
  const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ({kWalkLat, kWalkLng});
  EXPECT_DOUBLE_EQ(r.location()->position()->point()->latitude(), gcj.latitude);
  EXPECT_DOUBLE_EQ(r.location()->position()->point()->longitude(), gcj.longitude);
  ASSERT_NE(r.location()->place(), nullptr);
  EXPECT_LT(r.location()->place()->distance()->line(), 300.0);
  ASSERT_NE(r.location()->address(), nullptr);
  ASSERT_EQ(r.location()->address()->context().size(), 4u);
  EXPECT_EQ(r.location()->address()->context()[2]->name(), "东城区");
}

TEST_F(EmulatorTest, ReverseGeocodingTakesAGcjPoint) {
  // The museum's own GCJ-02 point: the nearest place is the museum, at no distance.
  auto res = post(kTrack + kReverseQuery, reverseBody(39.905034, 116.401216));
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  auto decoded = LocationRes::decode(res->body);
  ASSERT_TRUE(decoded.ok()) << decoded.error().message;
  const auto& detail = *decoded.value()->location();
  EXPECT_EQ(decoded.value()->id(), "REQ-2");
  ASSERT_NE(detail.place(), nullptr);
  EXPECT_EQ(detail.place()->name(), "中国国家博物馆");
  EXPECT_LT(detail.place()->distance()->line(), 0.5);
  EXPECT_EQ(detail.address()->name(), "北京市东城区东长安街16号");
  EXPECT_DOUBLE_EQ(detail.position()->point()->longitude(), 116.401216);
}

struct Rejection {
  const char* name;
  const char* method;
  std::string target;  // path and query, already encoded
  std::string body;
  int status;
};

void PrintTo(const Rejection& c, std::ostream* os) { *os << c.name; }

class EmulatorRejectionTest : public EmulatorTest,
                              public ::testing::WithParamInterface<Rejection> {};

TEST_P(EmulatorRejectionTest, AnswersWithAJsonError) {
  const Rejection& c = GetParam();
  auto res = std::string(c.method) == "GET" ? client_->Get(c.target) : post(c.target, c.body);
  ASSERT_TRUE(res) << httplib::to_string(res.error());
  EXPECT_EQ(res->status, c.status) << res->body;
  EXPECT_NE(res->body.find("\"code\":" + std::to_string(c.status)), std::string::npos) << res->body;
  EXPECT_NE(res->body.find("\"message\":"), std::string::npos) << res->body;
}

const std::string kKey = "access_key=orv-demo-key";

INSTANTIATE_TEST_SUITE_P(
    Cases, EmulatorRejectionTest,
    ::testing::Values(Rejection{"NoKey", "GET", kGeocode + "?address=x", "", 401},
                      Rejection{"UnknownPath", "GET", "/location/v2/geocode?" + kKey, "", 404},
                      Rejection{"NotJson", "POST", kTrack + kFusionQuery, "{not json", 400}),
    [](const auto& info) { return std::string(info.param.name); });

// One query per search endpoint; the search rules themselves belong to the data set.
TEST_F(EmulatorTest, EachSearchEndpointAnswersAList) {
  const auto geocoded = list(kGeocode, {{"address", "王府井百货大楼"}, {"city", "北京"}});
  ASSERT_FALSE(geocoded.empty());
  EXPECT_EQ(geocoded.front()->name(), "王府井百货大楼");
  const auto page = list(kPlaceSearch, {{"name", "店"}, {"city", "北京"}, {"page_size", "4"}});
  EXPECT_EQ(page.size(), 4u);
  const auto near =
      list(kNearby, {{"location", "116.401216,39.905034"}, {"radius", "500"}, {"page_size", "50"}});
  ASSERT_FALSE(near.empty());
  EXPECT_EQ(near.front()->name(), "中国国家博物馆");
  EXPECT_LE(near.back()->distance(), 500.0);
}

TEST(EmulatorOptionsTest, RefusesBadOptions) {
  struct Case {
    const char* name;
    void (*change)(EmulatorOptions&);
  };
  const Case cases[] = {
      {"any address", [](EmulatorOptions& o) { o.bindAddress = "0.0.0.0"; }},
      {"private address", [](EmulatorOptions& o) { o.bindAddress = "10.1.2.3"; }},
      {"host name", [](EmulatorOptions& o) { o.bindAddress = "example.org"; }},
  };
  for (const auto& c : cases) {
    EmulatorOptions options;
    c.change(options);
    EXPECT_FALSE(Emulator::start(options).ok()) << c.name;
  }
}

// A client that pools its connection (as libcurl does) must not hold the stop for the server's
// keep-alive time of 5 s.
TEST(EmulatorOptionsTest, StopEndsKeptAliveConnectionsAndRemovesTheCertificate) {
  auto emulator = startOrFail({});
  ASSERT_NE(emulator, nullptr);
  const std::string ca = emulator->caFile();
  ASSERT_TRUE(std::filesystem::exists(ca));
  auto client = clientFor(*emulator);
  client->set_keep_alive(true);
  ASSERT_TRUE(client->Get("/"));
  const auto started = std::chrono::steady_clock::now();
  emulator->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  emulator->stop();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(ca).parent_path()));
  EXPECT_FALSE(client->Get("/"));
}

// Statuses of `count` requests sent one after another over one connection.
std::vector<int> statuses(const Emulator& emulator, int count) {
  auto client = clientFor(emulator);
  std::vector<int> out;
  for (int i = 0; i < count; ++i) {
    auto res = client->Get(kGeocode, httplib::Params{{"access_key", kDemoKey}, {"address", "外滩"}},
                           httplib::Headers{});
    out.push_back(res ? res->status : -1);
  }
  return out;
}

TEST(EmulatorFaultTest, FailuresFollowTheSeededPlan) {
  EmulatorOptions options;
  options.tls = false;
  options.failRate = 0.5;
  options.seed = 42;
  auto first = startOrFail(options);
  ASSERT_NE(first, nullptr);
  const auto a = statuses(*first, 24);
  const FaultPlan plan(0.0, 0.5, 42);
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i], plan.decide(i) == Fault::fail ? 500 : 200) << i;
  }
  EXPECT_NE(std::count(a.begin(), a.end(), 500), 0);
  EXPECT_NE(std::count(a.begin(), a.end(), 200), 0);
  EXPECT_EQ(first->stats().failed, static_cast<uint64_t>(std::count(a.begin(), a.end(), 500)));
  EXPECT_EQ(first->stats().requests, 24u);
}

class EmulatorDropTest : public ::testing::TestWithParam<bool> {};

TEST_P(EmulatorDropTest, DroppedRequestsGetNoAnswer) {
  EmulatorOptions options;
  options.tls = GetParam();
  options.dropRate = 1.0;
  auto emulator = startOrFail(options);
  ASSERT_NE(emulator, nullptr);
  auto client = clientFor(*emulator);
  for (int i = 0; i < 3; ++i) {
    auto res =
        client->Post(kTrack + kFusionQuery, trackBody(kWalkLat, kWalkLng), "application/json");
    EXPECT_FALSE(res) << "status " << (res ? res->status : 0);
  }
  EXPECT_EQ(emulator->stats().dropped, 3u);
  EXPECT_EQ(emulator->stats().failed, 0u);
}

INSTANTIATE_TEST_SUITE_P(Transports, EmulatorDropTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Https" : "Http"; });

TEST(EmulatorFaultTest, LatencyDelaysEveryAnswer) {
  EmulatorOptions options;
  options.tls = false;
  options.latencyMs = 120;
  auto emulator = startOrFail(options);
  ASSERT_NE(emulator, nullptr);
  auto client = clientFor(*emulator);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(client->Get("/unknown"));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(120));
}

}  // namespace
}  // namespace orv::emulator
