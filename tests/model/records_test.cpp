// The result records: decoding the service's answers and encoding them again.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/json_decode.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"

namespace orv {
namespace {

constexpr const char* kWorkedAnswer = R"({
  "id": "r-0001", "asset": "asset-0001", "location": { "timestamp": 1700000000123,
    "address": { "name": "Example Street 1, Example City", "context": [
        { "type": "city", "name": "Example City", "code": "C01" },
        { "type": "street", "name": "Example Street", "code": "S12" } ] },
    "place": { "type": "building", "name": "Example Tower", "distance": { "line": 42.5 } },
    "position": { "point": { "longitude": 116.4805, "latitude": 39.9965 } } } })";

// A valid answer with `detail` as the body of "location".
std::string withLocation(const std::string& detail) {
  return R"({"id":"r","asset":"a","location":)" + detail + "}";
}

const std::string kPosition = R"("position":{"point":{"longitude":1,"latitude":2}})";

TEST(LocationResDecodeTest, WorkedAnswerRoundTripAndOptionals) {
  auto r = detail::JsonDecode<std::shared_ptr<LocationRes>>::decode(kWorkedAnswer);
  ASSERT_TRUE(r.ok()) << r.error().message;
  const auto& loc = *r.value()->location();
  EXPECT_EQ(loc.timestamp(), 1700000000123);
  EXPECT_EQ(loc.address()->context()[1]->code(), "S12");
  EXPECT_EQ(loc.place()->distance()->line(), 42.5);
  EXPECT_EQ(loc.position()->point()->latitude(), 39.9965);
  auto again = LocationRes::decode(r.value()->encode().value());
  ASSERT_TRUE(again.ok()) << again.error().message;
  EXPECT_EQ(again.value()->encode().value(), r.value()->encode().value());

  // Optional records: missing (place) and null (address) both mean absent, and are left out.
  r = LocationRes::decode(withLocation("{\"timestamp\":1,\"address\":null," + kPosition + "}"));
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_FALSE(r.value()->location()->address() || r.value()->location()->place());
  EXPECT_EQ(r.value()->encode().value(),
            R"({"id":"r","asset":"a","location":{"timestamp":1,)"
            R"("position":{"point":{"longitude":1.0,"latitude":2.0}}}})");
}

// One row per branch of the reader. `error` empty: decodes to `timestamp` and `longitude`.
struct Case {
  const char* name;
  std::string body;
  std::string error;
  int64_t timestamp = 0;
  double longitude = 0;
};

TEST(LocationResDecodeTest, Branches) {
  const Case cases[] = {
      {"RequiredMissing", withLocation(R"({"timestamp":1})"), "keyNotFound: location.position"},
      {"RequiredNull", withLocation(R"({"timestamp":1,"position":null})"),
       "valueNotFound: location.position"},
      {"TopLevelArray", "[]", "typeMismatch: top level expected object"},
      // The first of duplicate keys is read; failures come in field order, not member order.
      {"FirstDuplicateWins", R"({"id":17,"id":"s","asset":"a","location":{}})",
       "typeMismatch: id expected string"},
      {"FieldOrder", R"({"location":{},"asset":1})", "keyNotFound: id"},
      {"FractionalTimestamp", withLocation("{\"timestamp\":1.5," + kPosition + "}"),
       "typeMismatch: location.timestamp expected whole number"},
      {"TimestampAboveInt64", withLocation("{\"timestamp\":9223372036854775808," + kPosition + "}"),
       "dataCorrupted: location.timestamp out of the 64-bit integer range"},
      {"TimestampBeyondUint64",
       withLocation("{\"timestamp\":1234567890123456789012345," + kPosition + "}"),
       "dataCorrupted: location.timestamp out of the 64-bit integer range"},
      {"BigIntegerWithLeadingZero",
       withLocation("{\"timestamp\":1,\"x\":012345678901234567890123," + kPosition + "}"),
       "dataCorrupted: top level invalid JSON: Problem while parsing a number"},
      {"DeepNestingInUnknownKey",
       withLocation("{\"timestamp\":1," + kPosition + ",\"deep\":" + std::string(5000, '[') +
                    std::string(5000, ']') + "}"),
       "dataCorrupted: top level invalid JSON: The JSON document was too deep (too many "
       "nested objects and arrays)"},
      // A whole double for an integer; beyond 64 bits for a double.
      {"ExponentTimestampAndHugeLongitude",
       withLocation(R"({"timestamp":1e3,"position":{"point":{"longitude":18446744073709551616,)"
                    R"("latitude":2}}})"),
       "", 1000, 18446744073709551616.0},
      {"BigIntegersUnderIgnoredKeysAndInStrings",
       withLocation(R"({"timestamp":5,"seq":-99999999999999999999999,"position":{"point":{)"
                    R"("longitude":1,"latitude":2,"raw":[{"k":18446744073709551616}],)"
                    R"("s":"18446744073709551616\"1e999999999999"}}})"),
       "", 5, 1.0},
      // Members in any order, repeated (the first is read) or unknown.
      {"MemberOrderAndDuplicates",
       R"({"x":0,"location":{"position":{"point":{"latitude":2,"longitude":1,"latitude":"no"}},)"
       R"("timestamp":5},"asset":"a","id":"first","id":17,"more":[{}]})",
       "", 5, 1.0},
      // Above the reused parser's capacity a document takes its own parser.
      {"LargeDocument",
       R"({"id":")" + std::string(10 << 20, 'x') + R"(","asset":"a","location":{"timestamp":1,)" +
           kPosition + "}}",
       "", 1, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = LocationRes::decode(c.body);
    if (c.error.empty()) {
      ASSERT_TRUE(r.ok()) << r.error().message;
      EXPECT_EQ(r.value()->location()->timestamp(), c.timestamp);
      EXPECT_EQ(r.value()->location()->position()->point()->longitude(), c.longitude);
      continue;
    }
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().domain, "DecodingError");
    EXPECT_EQ(r.error().message, c.error);
  }
}

TEST(LocationResEncodeTest, DefaultsAndFailures) {
  LocationRes res;
  EXPECT_EQ(res.encode().value(),
            R"({"id":"","asset":"","location":{"timestamp":0,"address":{"name":"","context":[]},)"
            R"("place":{"type":"","name":"","distance":{"line":0.0}},)"
            R"("position":{"point":{"longitude":0.0,"latitude":0.0}}}})");
  res.location()->position()->point()->setLatitude(NAN);
  EXPECT_EQ(res.encode().error().message,
            "invalidValue: location.position.point.latitude is not a finite number");
  res.location()->address()->setContext({nullptr});
  EXPECT_EQ(res.encode().error().message,
            "invalidValue: location.address.context[0] is an empty record");
}

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
  auto r = detail::JsonDecode<std::vector<std::shared_ptr<GeocodeRes>>>::decode(kWorkedReply);
  ASSERT_TRUE(r.ok()) << r.error().message;
  ASSERT_EQ(r.value().size(), 2u);
  EXPECT_EQ((*r.value()[0]->categories())[0]->name(), "office building");
  EXPECT_EQ(r.value()[0]->relevance(), 0.93);
  EXPECT_EQ(r.value()[1]->distance(), 240.0);
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
