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
  EXPECT_EQ(res->get_header_value("Content-Type").rfind("application/json", 0), 0u);
  auto decoded = LocationRes::decode(res->body);
  ASSERT_TRUE(decoded.ok()) << decoded.error().message;
  const LocationRes& r = *decoded.value();
  EXPECT_EQ(r.id(), "REQ-1");
  EXPECT_EQ(r.asset(), "DEV-1");
  EXPECT_EQ(r.location()->timestamp(), 1733390400123);
  const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ({kWalkLat, kWalkLng});
  EXPECT_DOUBLE_EQ(r.location()->position()->point()->latitude(), gcj.latitude);
  EXPECT_DOUBLE_EQ(r.location()->position()->point()->longitude(), gcj.longitude);
  ASSERT_NE(r.location()->place(), nullptr);
  ASSERT_NE(r.location()->address(), nullptr);
  EXPECT_FALSE(r.location()->place()->name().empty());
  EXPECT_GT(r.location()->place()->distance()->line(), 0.0);
  EXPECT_LT(r.location()->place()->distance()->line(), 300.0);
  const auto& context = r.location()->address()->context();
  ASSERT_EQ(context.size(), 4u);
  EXPECT_EQ(context[0]->type(), "province");
  EXPECT_EQ(context[2]->type(), "district");
  EXPECT_EQ(context[2]->name(), "东城区");
  EXPECT_EQ(context[3]->type(), "street");
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
  EXPECT_EQ(detail.place()->type(), "museum");
  EXPECT_LT(detail.place()->distance()->line(), 0.5);
  EXPECT_EQ(detail.address()->name(), "北京市东城区东长安街16号");
  EXPECT_DOUBLE_EQ(detail.position()->point()->longitude(), 116.401216);
}

TEST_F(EmulatorTest, APointFarFromEveryPlaceHasNoAddressOrPlace) {
  auto res = post(kTrack + kReverseQuery, reverseBody(0.0, 0.0));
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(res->body.find("\"address\""), std::string::npos);
  auto decoded = LocationRes::decode(res->body);
  ASSERT_TRUE(decoded.ok()) << decoded.error().message;
  EXPECT_EQ(decoded.value()->location()->address(), nullptr);
  EXPECT_EQ(decoded.value()->location()->place(), nullptr);
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
const std::string kCentre = "&location=116.401216,39.905034";

INSTANTIATE_TEST_SUITE_P(
    Cases, EmulatorRejectionTest,
    ::testing::Values(
        Rejection{"NoKey", "GET", kGeocode + "?address=x", "", 401},
        Rejection{"EmptyKey", "GET", kGeocode + "?access_key=&address=x", "", 401},
        Rejection{"UnknownKey", "POST", kTrack + "?access_key=nope&needAddress=true",
                  trackBody(kWalkLat, kWalkLng), 401},
        Rejection{"UnknownPath", "GET", "/location/v2/geocode?" + kKey, "", 404},
        Rejection{"UnknownPathWithoutKey", "GET", "/", "", 404},
        Rejection{"WrongMethod", "GET", kTrack + "?" + kKey, "", 405},
        Rejection{"NotJson", "POST", kTrack + kFusionQuery, "{not json", 400},
        Rejection{"EmptyBody", "POST", kTrack + kReverseQuery, "", 400},
        Rejection{"TrackWithoutAccuracy", "POST", kTrack + kFusionQuery,
                  R"({"timestamp":1,"id":"a","asset":{"id":"d"},)"
                  R"("location":{"gnss":{"point":{"longitude":116.4,"latitude":39.9}}}})",
                  400},
        Rejection{"ReverseBodyAskedForAddress", "POST", kTrack + kFusionQuery,
                  reverseBody(39.9, 116.4), 400},
        Rejection{"TrackBodyWithoutNeedAddress", "POST", kTrack + kReverseQuery,
                  trackBody(39.9, 116.4), 400},
        Rejection{"UnknownSpatialReference", "POST", kTrack + kReverseQuery,
                  reverseBody(39.9, 116.4, "bd09"), 400},
        Rejection{"LatitudeOutOfRange", "POST", kTrack + kReverseQuery, reverseBody(91.0, 116.4),
                  400},
        Rejection{"WgsAnswerAsked", "POST", kTrack + "?" + kKey + "&response_sprf=wgs84",
                  reverseBody(39.9, 116.4), 400},
        Rejection{"GeocodeWithoutAddress", "GET", kGeocode + "?" + kKey + "&city=x", "", 400},
        Rejection{"NearbyWithoutLocation", "GET", kNearby + "?" + kKey + "&radius=100", "", 400},
        Rejection{"NearbyLocationNotANumber", "GET", kNearby + "?" + kKey + "&location=a,b", "",
                  400},
        Rejection{"NearbyRadiusZero", "GET", kNearby + "?" + kKey + kCentre + "&radius=0", "", 400},
        Rejection{"NearbyUnknownOrder", "GET", kNearby + "?" + kKey + kCentre + "&orderby=price",
                  "", 400},
        Rejection{"PageIndexZero", "GET", kPlaceSearch + "?" + kKey + "&page_index=0", "", 400},
        Rejection{"PageSizeNotANumber", "GET", kPlaceSearch + "?" + kKey + "&page_size=ten", "",
                  400}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulatorTest, GeocodeFindsAPlaceAndAnArea) {
  auto hits =
      list(kGeocode, {{"address", "北京市东城区王府井大街255号王府井百货大楼"}, {"city", "北京"}});
  ASSERT_FALSE(hits.empty());
  EXPECT_EQ(hits.front()->name(), "王府井百货大楼");
  ASSERT_TRUE(hits.front()->categories().has_value());
  EXPECT_EQ(hits.front()->categories()->size(), 2u);
  EXPECT_EQ(hits.front()->address()->context().size(), 4u);

  auto area = list(kGeocode, {{"address", "北京市东城区"}, {"city", "北京市"}});
  ASSERT_FALSE(area.empty());
  EXPECT_EQ(area.front()->type(), "district");
  EXPECT_EQ(area.front()->code(), "110101");
  EXPECT_FALSE(area.front()->categories().has_value());
  EXPECT_NE(area.front()->geoPoint().find(','), std::string::npos);

  EXPECT_TRUE(list(kGeocode, {{"address", "王府井百货大楼"}, {"city", "深圳"}}).empty());
}

// Ordering, radius and paging rules are checked on the data set; here the query items reach them.
TEST_F(EmulatorTest, PlaceSearchPagesThroughOneOrder) {
  const httplib::Params base{{"name", "店"}, {"city", "北京"}, {"city_code", "110100"}};
  auto all = base;
  all.emplace("page_size", "50");
  auto whole = list(kPlaceSearch, all);
  ASSERT_GT(whole.size(), 7u);
  auto second = base;
  second.emplace("page_index", "2");
  second.emplace("page_size", "4");
  auto hits = list(kPlaceSearch, second);
  ASSERT_EQ(hits.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(hits[i]->id(), whole[4 + i]->id());

  // Without a keyword every place of the city matches; a page is cut to 50.
  EXPECT_EQ(list(kPlaceSearch, {{"city", "北京"}, {"page_size", "500"}}).size(), 50u);
  EXPECT_TRUE(list(kPlaceSearch, {{"name", "店"}, {"city", "拉萨"}}).empty());
}

TEST_F(EmulatorTest, NearbySearchFiltersByRadiusAndCategory) {
  const httplib::Params centre{{"location", "116.401216,39.905034"}, {"page_size", "50"}};
  auto near = centre;
  near.emplace("radius", "500");
  auto hits = list(kNearby, near);
  ASSERT_GE(hits.size(), 3u);
  EXPECT_EQ(hits.front()->name(), "中国国家博物馆");
  EXPECT_LE(hits.back()->distance(), 500.0);
  auto wide = centre;
  wide.emplace("radius", "2000");
  EXPECT_GT(list(kNearby, wide).size(), hits.size());

  auto subway = wide;
  subway.emplace("category", "150500");
  auto stations = list(kNearby, subway);
  ASSERT_FALSE(stations.empty());
  for (const auto& s : stations) {
    ASSERT_TRUE(s->categories().has_value());
    EXPECT_EQ((*s->categories())[1]->name(), "地铁站");
  }

  auto ranked = wide;
  ranked.emplace("name", "博物");
  ranked.emplace("orderby", "relevance");
  auto museums = list(kNearby, ranked);
  ASSERT_GE(museums.size(), 2u);
  EXPECT_GE(museums.front()->relevance(), museums.back()->relevance());
}

TEST(EmulatorOptionsTest, OwnKeysReplaceTheDemoKey) {
  EmulatorOptions options;
  options.tls = false;
  options.keys = {"key-a", "key-b"};
  auto emulator = startOrFail(options);
  ASSERT_NE(emulator, nullptr);
  auto client = clientFor(*emulator);
  for (auto [key, status] : {std::pair{"key-b", 200}, {"key-a", 200}, {kDemoKey, 401}}) {
    auto res = client->Get(kGeocode, httplib::Params{{"access_key", key}, {"address", "外滩"}},
                           httplib::Headers{});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, status) << key;
  }
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
      {"port", [](EmulatorOptions& o) { o.port = 70000; }},
      {"no keys", [](EmulatorOptions& o) { o.keys.clear(); }},
      {"latency", [](EmulatorOptions& o) { o.latencyMs = -1; }},
      {"fail rate", [](EmulatorOptions& o) { o.failRate = 1.5; }},
      {"drop rate", [](EmulatorOptions& o) { o.dropRate = -0.1; }},
      {"threads", [](EmulatorOptions& o) { o.threads = 0; }},
  };
  for (const auto& c : cases) {
    EmulatorOptions options;
    c.change(options);
    EXPECT_FALSE(Emulator::start(options).ok()) << c.name;
  }
}

TEST(EmulatorOptionsTest, StopRemovesTheCertificateAndClosesThePort) {
  auto emulator = startOrFail({});
  ASSERT_NE(emulator, nullptr);
  const std::string ca = emulator->caFile();
  ASSERT_TRUE(std::filesystem::exists(ca));
  EXPECT_EQ(emulator->baseUrl(), "https://127.0.0.1:" + std::to_string(emulator->port()));
  auto client = clientFor(*emulator);
  client->set_keep_alive(false);
  ASSERT_TRUE(client->Get("/"));
  emulator->stop();
  emulator->stop();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(ca).parent_path()));
  EXPECT_FALSE(client->Get("/"));
}

// A client that pools its connection (as libcurl does) must not hold the stop for the server's
// keep-alive time of 5 s.
TEST(EmulatorOptionsTest, StopEndsIdleKeptAliveConnections) {
  auto emulator = startOrFail({});
  ASSERT_NE(emulator, nullptr);
  auto client = clientFor(*emulator);
  client->set_keep_alive(true);
  ASSERT_TRUE(client->Get("/"));
  const auto started = std::chrono::steady_clock::now();
  emulator->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
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
  for (const std::string& path : {kGeocode, std::string("/unknown")}) {
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(client->Get(path));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(120)) << path;
  }
}

}  // namespace
}  // namespace orv::emulator
