// Geocoding and the two place searches against a loopback HTTPS service: query items, the outcome
// lines, and how long each holds the client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
  bool deliverBeforeLog;
};

void PrintTo(const ListOp& op, std::ostream* os) { *os << op.name; }

std::vector<ListOp> listOps() {
  return {
      {"Geocode",
       std::string(detail::kGeocodePath),
       [](OrvClientLocation& c) { c.getGeocCode(kAwkward, "北京 市"); },
       {{"access_key", "test-key"}, {"address", kAwkward}, {"city", "北京 市"}},
       "delegate:geocode:",
       false},
      {"PlaceSearch",
       std::string(detail::kPlaceSearchPath),
       [](OrvClientLocation& c) { c.poiKeySearch(kAwkward, "010", "", -1, 20); },
       {{"access_key", "test-key"},
        {"name", kAwkward},
        {"city", ""},
        {"city_code", "010"},
        {"page_index", "-1"},
        {"page_size", "20"}},
       "delegate:poi:",
       true},
      {"NearbySearch",
       std::string(detail::kNearbySearchPath),
       [](OrvClientLocation& c) {
         c.poiNearbySearch("咖啡 & tea", "116.4,39.9", 1000, "050000", "distance=asc", 0,
                           -2147483647 - 1);
       },
       {{"access_key", "test-key"},
        {"name", "咖啡 & tea"},
        {"location", "116.4,39.9"},
        {"radius", "1000"},
        {"category", "050000"},
        {"orderby", "distance=asc"},
        {"page_index", "0"},
        {"page_size", "-2147483648"}},
       "delegate:poi:",
       true},
  };
}

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
  std::string urlLine() const {
    return "请求URL：" + server.baseUrl() + server.received().back().target;
  }
};

TEST_P(ListRequestTest, SendsEachValueAsOneQueryItem) {
  auto client = makeClient();
  run(*client, 200, "[]");
  const auto received = server.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "GET");
  EXPECT_TRUE(received[0].body.empty());
  EXPECT_EQ(received[0].query, GetParam().query);
}

TEST_P(ListRequestTest, EveryDecodable2xxIsASuccess) {
  const ListOp& op = GetParam();
  auto client = makeClient();
  for (int status : {200, 201}) {
    const auto events = run(*client, status, kTwoHits);
    const std::string line = "请求成功，状态码：" + std::to_string(status) + "，返回2条结果";
    if (op.deliverBeforeLog) {
      EXPECT_THAT(events, ElementsAre(urlLine(), op.successEvent + "2", line));
    } else {
      EXPECT_THAT(events, ElementsAre(urlLine(), line, op.successEvent + "2"));
    }
  }
  ASSERT_EQ(delegate->lists.back().size(), 2u);
  EXPECT_EQ(delegate->lists.back()[0]->name(), "Tower");
  EXPECT_EQ(delegate->lists.back()[1]->name(), "Park");

  const auto events = run(*client, 200, "[]");
  EXPECT_EQ(events.size(), 3u);
  EXPECT_EQ(trace.count("请求成功，状态码：200，返回0条结果"), 1u);
  EXPECT_EQ(trace.count(op.successEvent + "0"), 1u);
}

TEST_P(ListRequestTest, FailuresReportTheErrorsDescription) {
  auto client = makeClient();
  const auto notFound = run(*client, 404, "not found");
  EXPECT_THAT(notFound, ElementsAre(urlLine(), "请求失败，状态码：404，错误：请求失败，状态码: 404",
                                    "delegate:error:请求失败，状态码: 404"));
  const auto events = run(*client, 200, R"([{"id":1}])");
  EXPECT_THAT(events, ElementsAre(urlLine(), ::testing::StartsWith("解析错误："),
                                  "请求失败，状态码：200，错误：数据解码失败",
                                  "delegate:error:数据解码失败"));
}

TEST_P(ListRequestTest, DelegateWithoutTheOptionalCallbackStillGetsFailures) {
  auto client = makeClient(std::make_shared<RequiredOnlyDelegate>(trace));
  answer(GetParam().path, 200, kTwoHits);
  GetParam().call(*client);
  ASSERT_TRUE(waitFor([&] { return trace.count("请求成功，状态码：200，返回2条结果") == 1; }));
  answer(GetParam().path, 500, "");
  GetParam().call(*client);
  ASSERT_TRUE(waitFor([&] { return trace.count("delegate:error:请求失败，状态码: 500") == 1; }));
}

TEST_P(ListRequestTest, OnlySearchesOutliveTheirClient) {
  answer(GetParam().path, 200, kTwoHits);
  auto client = makeClient();
  GetParam().call(*client);
  client.reset();
  trace.events.clear();
  settle(1);
  if (GetParam().deliverBeforeLog) {  // the searches
    EXPECT_THAT(trace.events,
                ElementsAre(GetParam().successEvent + "2", "请求成功，状态码：200，返回2条结果"));
  } else {
    EXPECT_TRUE(trace.events.empty());
    EXPECT_EQ(delegate->calls, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, ListRequestTest, ::testing::ValuesIn(listOps()),
                         [](const auto& info) { return info.param.name; });

TEST_F(ClientTest, AnUnusableServiceUrlFailsOnTheMainQueue) {
  OrvClientLocation::setServiceConfiguration({"not a url", "", ""});
  auto client = makeClient();
  trace.events.clear();
  client->poiKeySearch("n", "010", "c", 1, 20);
  EXPECT_TRUE(delegate->errors.empty());
  ASSERT_TRUE(waitFor([&] { return delegate->errors.size() == 1; }));
  EXPECT_THAT(trace.events,
              ElementsAre("请求失败，状态码：-1，错误：无效的URL", "delegate:error:无效的URL"));
}

}  // namespace
}  // namespace orv::test
