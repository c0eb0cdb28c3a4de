#include "orv/geocode_res.h"

#include <gtest/gtest.h>

#include <string>

#include "model/json_decode.h"

namespace orv {
namespace {

using List = std::vector<std::shared_ptr<GeocodeRes>>;

constexpr const char* kWorkedReply = R"([
  { "id": "p-0001", "geoPoint": "example point text 1", "type": "poi", "name": "Example Tower",
    "code": "B01", "categories": [ { "id": "k-10", "name": "office building" } ],
    "address": { "name": "Example Street 1, Example City",
                 "context": [ { "type": "city", "name": "Example City", "code": "C01" } ] },
    "relevance": 0.93, "distance": 125.0 },
  { "id": "p-0002", "geoPoint": "example point text 2", "type": "poi", "name": "Example Park",
    "code": "B02", "address": { "name": "Example City", "context": [] },
    "relevance": 0.71, "distance": 240 }
])";

std::string hit(const std::string& extra) {
  return R"({"id":"i","geoPoint":"g","type":"t","name":"n","code":"c",)" + extra +
         R"("address":{"name":"a","context":[]},"relevance":1,"distance":2})";
}

TEST(GeocodeListTest, WorkedReply) {
  auto r = detail::JsonDecode<List>::decode(kWorkedReply);
  ASSERT_TRUE(r.ok()) << r.error().message;
  ASSERT_EQ(r.value().size(), 2u);
  const auto& first = *r.value()[0];
  ASSERT_EQ(first.categories()->size(), 1u);
  EXPECT_EQ((*first.categories())[0]->name(), "office building");
  EXPECT_EQ(first.relevance(), 0.93);
  EXPECT_EQ(r.value()[1]->distance(), 240.0);

  auto empty = decodeGeocodeList(" [ ] ");
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty.value().empty());
}

struct CategoriesCase {
  const char* name;
  std::string extra;
  bool present;
  std::string encodedFragment;
};

void PrintTo(const CategoriesCase& c, std::ostream* os) { *os << c.name; }

class GeocodeCategories : public testing::TestWithParam<CategoriesCase> {};

TEST_P(GeocodeCategories, AbsentDiffersFromEmpty) {
  auto r = GeocodeRes::decode(hit(GetParam().extra));
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(r.value()->categories().has_value(), GetParam().present);
  const std::string encoded = r.value()->encode().value();
  if (GetParam().present) {
    EXPECT_NE(encoded.find(GetParam().encodedFragment), std::string::npos) << encoded;
  } else {
    EXPECT_EQ(encoded.find("categories"), std::string::npos) << encoded;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GeocodeCategories,
    testing::Values(CategoriesCase{"Missing", "", false, ""},
                    CategoriesCase{"Null", R"("categories":null,)", false, ""},
                    CategoriesCase{"Empty", R"("categories":[],)", true, R"("categories":[])"},
                    CategoriesCase{"One", R"("categories":[{"id":"1","name":"x"}],)", true,
                                   R"("categories":[{"id":"1","name":"x"}])"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailCase {
  const char* name;
  std::string body;
  std::string message;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class GeocodeListRejects : public testing::TestWithParam<FailCase> {};

TEST_P(GeocodeListRejects, WholeReplyFails) {
  auto r = decodeGeocodeList(GetParam().body);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, GetParam().message);
}

const std::string kNoCode =
    R"({"id":"i","geoPoint":"g","type":"t","name":"n","address":{"name":"a","context":[]},)"
    R"("relevance":1,"distance":2})";

INSTANTIATE_TEST_SUITE_P(
    Cases, GeocodeListRejects,
    testing::Values(FailCase{"TopLevelObject", hit(""), "typeMismatch: top level expected array"},
                    FailCase{"SecondHitWithoutCode", "[" + hit("") + "," + kNoCode + "]",
                             "keyNotFound: [1].code"},
                    FailCase{
                        "DistanceAsString",
                        R"([{"id":"i","geoPoint":"g","type":"t","name":"n","code":"c",)"
                        R"("address":{"name":"a","context":[]},"relevance":1,"distance":"2"}])",
                        "typeMismatch: [0].distance expected number"},
                    FailCase{"AddressWithoutName",
                             "[" + hit("").replace(hit("").find("\"name\":\"a\","), 11, "") + "]",
                             "keyNotFound: [0].address.name"},
                    FailCase{"CategoriesObject", "[" + hit(R"("categories":{},)") + "]",
                             "typeMismatch: [0].categories expected array"},
                    FailCase{"ElementNotObject", "[1]", "typeMismatch: [0] expected object"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GeocodeResTest, DefaultsAndRoundTrip) {
  GeocodeRes g;
  EXPECT_FALSE(g.categories());
  EXPECT_EQ(g.encode().value(),
            R"({"id":"","geoPoint":"","type":"","name":"","code":"",)"
            R"("address":{"name":"","context":[]},"relevance":0.0,"distance":0.0})");
  g.setName("北京 \"东城\"\n");
  g.setCategories(GeocodeRes::Categories{std::make_shared<OrvCategory>()});
  auto back = GeocodeRes::decode(g.encode().value());
  ASSERT_TRUE(back.ok()) << back.error().message;
  EXPECT_EQ(back.value()->name(), g.name());
  EXPECT_EQ(back.value()->encode().value(), g.encode().value());
}

}  // namespace
}  // namespace orv
