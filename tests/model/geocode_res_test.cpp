#include "orv/geocode_res.h"

#include <gtest/gtest.h>

#include <string>

#include "model/json_decode.h"

namespace orv {
namespace {

using List = std::vector<std::shared_ptr<GeocodeRes>>;

constexpr const char* kWorkedReply = R"([
  { "id": "p-0001", "geoPoint": "point 1", "type": "poi", "name": "Example Tower", "code": "B01",
    "categories": [ { "id": "k-10", "name": "office building" } ], "address": { "name": "Example City",
    "context": [ { "type": "city", "name": "Example City", "code": "C01" } ] },
    "relevance": 0.93, "distance": 125.0 },
  { "id": "p-0002", "geoPoint": "point 2", "type": "poi", "name": "Example Park", "code": "B02",
    "address": { "name": "Example City", "context": [] }, "relevance": 0.71, "distance": 240 } ])";

std::string hit(const std::string& extra) {
  return R"({"id":"i","geoPoint":"g","type":"t","name":"n","code":"c",)" + extra +
         R"("address":{"name":"a","context":[]},"relevance":1,"distance":2})";
}

TEST(GeocodeListTest, WorkedReply) {
  auto r = detail::JsonDecode<List>::decode(kWorkedReply);
  ASSERT_TRUE(r.ok()) << r.error().message;
  ASSERT_EQ(r.value().size(), 2u);
  EXPECT_EQ((*r.value()[0]->categories())[0]->name(), "office building");
  EXPECT_EQ(r.value()[0]->relevance(), 0.93);
  EXPECT_EQ(r.value()[1]->distance(), 240.0);
  EXPECT_TRUE(decodeGeocodeList(" [ ] ").value().empty());
}

// Missing or null categories are absent and left out; an empty list stays an empty list.
TEST(GeocodeListTest, AbsentCategoriesDifferFromEmpty) {
  const std::pair<const char*, bool> cases[] = {
      {"", false}, {R"("categories":null,)", false}, {R"("categories":[],)", true}};
  for (const auto& [extra, present] : cases) {
    auto r = GeocodeRes::decode(hit(extra));
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r.value()->categories().has_value(), present) << extra;
    EXPECT_EQ(r.value()->encode().value().find(R"("categories":[])") != std::string::npos, present)
        << extra;
  }
}

TEST(GeocodeListTest, WholeReplyFailsAtPath) {
  const std::pair<std::string, std::string> cases[] = {
      {hit(""), "typeMismatch: top level expected array"},
      {"[" + hit("") + "," + hit("").replace(hit("").find("\"code\":\"c\","), 11, "") + "]",
       "keyNotFound: [1].code"},
      {"[" + hit("").replace(hit("").find("\"distance\":2"), 12, "\"distance\":\"2\"") + "]",
       "typeMismatch: [0].distance expected number"},
  };
  for (const auto& [body, message] : cases) {
    auto r = decodeGeocodeList(body);
    ASSERT_FALSE(r.ok()) << body;
    EXPECT_EQ(r.error().message, message);
  }
}

TEST(GeocodeResTest, EncodesDefaultsAndCategories) {
  GeocodeRes g;
  EXPECT_EQ(g.encode().value(),
            R"({"id":"","geoPoint":"","type":"","name":"","code":"",)"
            R"("address":{"name":"","context":[]},"relevance":0.0,"distance":0.0})");
  g.setCategories(GeocodeRes::Categories{std::make_shared<OrvCategory>()});
  EXPECT_NE(g.encode().value().find(R"("code":"","categories":[{"id":"","name":""}],"address")"),
            std::string::npos);
}

}  // namespace
}  // namespace orv
