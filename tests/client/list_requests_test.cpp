// Geocoding and the two place searches against a loopback HTTPS service: query items, the outcome
// lines, and how long each holds the client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "client_fixture.h"
#include "network/service.h"

namespace orv::test {
namespace {

using ::testing::ElementsAre;
using Query = std::multimap<std::string, std::string>;

// Values that only survive if they are percent-encoded as one query component.
const std::string kAwkward = "A&B=C+D 东城区 100%";

struct ListOp {
  std::string name;
  std::string path;
  std::function<void(OrvClientLocation&)> call;
  Query query;  // what the service must receive
  std::string successEvent;
  bool isSearch;  // searches report before their log line and outlive their client
};

void PrintTo(const ListOp& op, std::ostream* os) { *os << op.name; }

// clang-format off
const ListOp kOps[] = {
    {"Geocode", std::string(detail::kGeocodePath),
     [](OrvClientLocation& c) { c.getGeocCode(kAwkward, "北京 市"); },
     {{"access_key", "test-key"}, {"address", kAwkward}, {"city", "北京 市"}},
     "delegate:geocode:", false},
    {"PlaceSearch", std::string(detail::kPlaceSearchPath),
     [](OrvClientLocation& c) { c.poiKeySearch(kAwkward, "010", "", -1, 20); },
     {{"access_key", "test-key"}, {"name", kAwkward}, {"city", ""}, {"city_code", "010"},
      {"page_index", "-1"}, {"page_size", "20"}},
     "delegate:poi:", true},
    {"NearbySearch", std::string(detail::kNearbySearchPath),
     [](OrvClientLocation& c) {
       c.poiNearbySearch("咖啡 & tea", "116.4,39.9", 1000, "050000", "distance=asc", 0, INT32_MIN);
     },
     {{"access_key", "test-key"}, {"name", "咖啡 & tea"}, {"location", "116.4,39.9"},
      {"radius", "1000"}, {"category", "050000"}, {"orderby", "distance=asc"},
      {"page_index", "0"}, {"page_size", "-2147483648"}},
     "delegate:poi:", true},
};
// clang-format on

class ListRequestTest : public ClientTest, public ::testing::WithParamInterface<ListOp> {
 protected:
  std::vector<std::string> run(OrvClientLocation& client, int status, const std::string& body) {
    answer(GetParam().path, status, body);
    trace.events.clear();
    const size_t before = delegate->calls;
    GetParam().call(client);
    EXPECT_EQ(delegate->calls, before) << "reported inside the call";
    EXPECT_TRUE(waitFor([&] { return delegate->calls > before; }));
    return trace.events;
  }
};

TEST_P(ListRequestTest, OutcomesAndTheQuerySent) {
  const ListOp& op = GetParam();
  auto client = makeClient();
  // Any decodable 2xx is a success.
  const auto events = run(*client, 201, kTwoHits);
  const auto r = server.received().at(0);
  EXPECT_EQ(r.method, "GET");
  EXPECT_TRUE(r.body.empty());
  EXPECT_EQ(r.query, op.query);
  const std::string url = "请求URL：" + server.baseUrl() + r.target;
  const std::string line = "请求成功，状态码：201，返回2条结果";
  std::vector<std::string> expected{url, op.successEvent + "2"};
  expected.insert(op.isSearch ? expected.end() : expected.begin() + 1, line);
  EXPECT_EQ(events, expected);
  EXPECT_EQ(delegate->lists.back().at(1)->name(), "Park");
  EXPECT_THAT(run(*client, 404, "not found"),
              ElementsAre(url, "请求失败，状态码：404，错误：请求失败，状态码: 404",
                          "delegate:error:请求失败，状态码: 404"));
  EXPECT_THAT(
      run(*client, 200, R"([{"id":1}])"),
      ElementsAre(url, ::testing::StartsWith("解析错误："),
                  "请求失败，状态码：200，错误：数据解码失败", "delegate:error:数据解码失败"));
}

TEST_P(ListRequestTest, OnlySearchesOutliveTheirClient) {
  answer(GetParam().path, 200, kTwoHits);
  auto client = makeClient();
  GetParam().call(*client);
  client.reset();
  trace.events.clear();
  // Geocoding is aborted with its client, maybe before it went out.
  settle(GetParam().isSearch ? 1 : 0);
  if (GetParam().isSearch) {
    EXPECT_THAT(trace.events,
                ElementsAre(GetParam().successEvent + "2", "请求成功，状态码：200，返回2条结果"));
  } else {
    EXPECT_TRUE(trace.events.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, ListRequestTest, ::testing::ValuesIn(kOps),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace orv::test
