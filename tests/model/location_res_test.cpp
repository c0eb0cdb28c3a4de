#include "orv/location_res.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/json_decode.h"

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

TEST(LocationResDecodeTest, WorkedAnswerAndRoundTrip) {
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
}

// Optional records: missing (place) and null (address) both mean absent, and absent ones are
// left out when encoding.
TEST(LocationResDecodeTest, MissingOrNullOptionalsAreAbsent) {
  auto r =
      LocationRes::decode(withLocation("{\"timestamp\":1,\"address\":null," + kPosition + "}"));
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_FALSE(r.value()->location()->address());
  EXPECT_FALSE(r.value()->location()->place());
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

}  // namespace
}  // namespace orv
