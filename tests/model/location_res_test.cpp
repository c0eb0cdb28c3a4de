#include "orv/location_res.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>

#include "model/json_decode.h"

namespace orv {
namespace {

constexpr const char* kWorkedAnswer = R"({
  "id": "r-0001", "asset": "asset-0001",
  "location": {
    "timestamp": 1700000000123,
    "address": {
      "name": "Example Street 1, Example District, Example City",
      "context": [
        { "type": "city", "name": "Example City", "code": "C01" },
        { "type": "district", "name": "Example District", "code": "D07" },
        { "type": "street", "name": "Example Street", "code": "S12" }
      ]
    },
    "place": { "type": "building", "name": "Example Tower", "distance": { "line": 42.5 } },
    "position": { "point": { "longitude": 116.4805, "latitude": 39.9965 } }
  }
})";

// A valid answer with `detail` as the body of "location".
std::string withLocation(const std::string& detail) {
  return R"({"id":"r","asset":"a","location":)" + detail + "}";
}

const std::string kPosition = R"("position":{"point":{"longitude":1,"latitude":2}})";

TEST(LocationResDecodeTest, WorkedAnswer) {
  auto r = detail::JsonDecode<std::shared_ptr<LocationRes>>::decode(kWorkedAnswer);
  ASSERT_TRUE(r.ok()) << r.error().message;
  const auto& res = *r.value();
  EXPECT_EQ(res.location()->timestamp(), 1700000000123);
  ASSERT_EQ(res.location()->address()->context().size(), 3u);
  EXPECT_EQ(res.location()->address()->context()[2]->code(), "S12");
  EXPECT_EQ(res.location()->place()->distance()->line(), 42.5);
  EXPECT_EQ(res.location()->position()->point()->latitude(), 39.9965);
  // Encoding and decoding again gives the same tree.
  auto again = LocationRes::decode(res.encode().value());
  ASSERT_TRUE(again.ok()) << again.error().message;
  EXPECT_EQ(again.value()->encode().value(), res.encode().value());
}

struct OptionalCase {
  const char* name;
  std::string detail;
  bool addressPresent;
  bool placePresent;
};

void PrintTo(const OptionalCase& c, std::ostream* os) { *os << c.name; }

class LocationDetailOptionals : public testing::TestWithParam<OptionalCase> {};

TEST_P(LocationDetailOptionals, MissingOrNullMeansAbsent) {
  auto r = LocationRes::decode(withLocation(GetParam().detail));
  ASSERT_TRUE(r.ok()) << r.error().message;
  const auto& loc = *r.value()->location();
  EXPECT_EQ(loc.address() != nullptr, GetParam().addressPresent);
  EXPECT_EQ(loc.place() != nullptr, GetParam().placePresent);
  const std::string encoded = r.value()->encode().value();
  EXPECT_EQ(encoded.find("\"address\"") != std::string::npos, GetParam().addressPresent);
  EXPECT_EQ(encoded.find("\"place\"") != std::string::npos, GetParam().placePresent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocationDetailOptionals,
    testing::Values(
        OptionalCase{"BothMissing", "{\"timestamp\":1," + kPosition + "}", false, false},
        OptionalCase{"BothNull",
                     "{\"timestamp\":1,\"address\":null,\"place\":null," + kPosition + "}", false,
                     false},
        OptionalCase{"EmptyContext",
                     R"({"timestamp":1,"address":{"name":"n","context":[]},)" + kPosition + "}",
                     true, false},
        OptionalCase{"PlaceOnly",
                     R"({"timestamp":1,"place":{"type":"t","name":"n","distance":{"line":3}},)" +
                         kPosition + "}",
                     false, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailCase {
  const char* name;
  std::string body;
  std::string message;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class LocationResRejects : public testing::TestWithParam<FailCase> {};

// A message ending in '*' is matched as a prefix.
TEST_P(LocationResRejects, WholeAnswerFailsAtPath) {
  auto r = LocationRes::decode(GetParam().body);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().domain, "DecodingError");
  const std::string& want = GetParam().message;
  if (want.ends_with('*')) {
    EXPECT_TRUE(r.error().message.starts_with(want.substr(0, want.size() - 1)))
        << r.error().message;
  } else {
    EXPECT_EQ(r.error().message, want);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocationResRejects,
    testing::Values(
        FailCase{"EmptyAddressObject",
                 withLocation("{\"timestamp\":1,\"address\":{}," + kPosition + "}"),
                 "keyNotFound: location.address.name"},
        FailCase{"ContextElementWithoutCode",
                 withLocation(R"({"timestamp":1,"address":{"name":"n","context":[)"
                              R"({"type":"t","name":"n","code":"c"},{"type":"t","name":"n"}]},)" +
                              kPosition + "}"),
                 "keyNotFound: location.address.context[1].code"},
        FailCase{"AddressNotObject",
                 withLocation("{\"timestamp\":1,\"address\":\"x\"," + kPosition + "}"),
                 "typeMismatch: location.address expected object"},
        FailCase{"PositionMissing", withLocation(R"({"timestamp":1})"),
                 "keyNotFound: location.position"},
        FailCase{"PositionNull", withLocation(R"({"timestamp":1,"position":null})"),
                 "valueNotFound: location.position"},
        FailCase{"FractionalTimestamp", withLocation("{\"timestamp\":1.5," + kPosition + "}"),
                 "typeMismatch: location.timestamp expected whole number"},
        FailCase{"TimestampAboveInt64",
                 withLocation("{\"timestamp\":9223372036854775808," + kPosition + "}"),
                 "dataCorrupted: location.timestamp out of the 64-bit integer range"},
        FailCase{"TimestampBeyondUint64",
                 withLocation("{\"timestamp\":1234567890123456789012345," + kPosition + "}"),
                 "dataCorrupted: location.timestamp out of the 64-bit integer range"},
        FailCase{"BigIntegerWithLeadingZero",
                 withLocation("{\"timestamp\":1,\"x\":012345678901234567890123," + kPosition + "}"),
                 "dataCorrupted: top level invalid JSON: Problem while parsing a number"},
        FailCase{"TimestampHugeDouble", withLocation("{\"timestamp\":1e19," + kPosition + "}"),
                 "dataCorrupted: location.timestamp out of the 64-bit integer range"},
        FailCase{"IdAsNumber", R"({"id":17,"asset":"a","location":{}})",
                 "typeMismatch: id expected string"},
        FailCase{"TopLevelArray", "[]", "typeMismatch: top level expected object"},
        FailCase{"InvalidUtf8", "{\"id\":\"\xff\",\"asset\":\"a\"}",
                 "dataCorrupted: top level invalid JSON: The input is not valid UTF-8"},
        FailCase{"DeepNestingInUnknownKey",
                 withLocation("{\"timestamp\":1," + kPosition +
                              ",\"deep\":" + std::string(5000, '[') + std::string(5000, ']') + "}"),
                 "dataCorrupted: top level invalid JSON*"},
        FailCase{"HugeNumberInUnknownKey",
                 withLocation("{\"timestamp\":1," + kPosition + ",\"n\":1e999}"),
                 "dataCorrupted: top level invalid JSON*"},
        FailCase{"LoneSurrogate", R"({"id":"\ud800","asset":"a"})",
                 "dataCorrupted: top level invalid JSON*"}),
    [](const auto& info) { return std::string(info.param.name); });

struct AcceptCase {
  const char* name;
  std::string detail;
  int64_t timestamp;
  double longitude;
};

void PrintTo(const AcceptCase& c, std::ostream* os) { *os << c.name; }

class LocationResAccepts : public testing::TestWithParam<AcceptCase> {};

TEST_P(LocationResAccepts, NumberForms) {
  auto r = LocationRes::decode(withLocation(GetParam().detail));
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(r.value()->location()->timestamp(), GetParam().timestamp);
  EXPECT_EQ(r.value()->location()->position()->point()->longitude(), GetParam().longitude);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocationResAccepts,
    testing::Values(
        AcceptCase{"WholeLongitude",
                   R"({"timestamp":1700000000123,"position":{"point":{"longitude":120,)"
                   R"("latitude":2}}})",
                   1700000000123, 120.0},
        AcceptCase{"TimestampOnePointZero",
                   R"({"timestamp":1.0,"position":{"point":{"longitude":-0.5,"latitude":2}}})", 1,
                   -0.5},
        AcceptCase{"TimestampExponent",
                   R"({"timestamp":1e3,"position":{"point":{"longitude":1e2,"latitude":2}}})", 1000,
                   100.0},
        // JSON integers beyond 64 bits: a double field reads them, an ignored key skips them.
        AcceptCase{"LongitudeBeyondUint64",
                   R"({"timestamp":5,"position":{"point":{"longitude":18446744073709551616,)"
                   R"("latitude":2}}})",
                   5, 18446744073709551616.0},
        AcceptCase{"LongitudeBelowInt64",
                   R"({"timestamp":5,"position":{"point":{"longitude":-9223372036854775809,)"
                   R"("latitude":2}}})",
                   5, -9223372036854775809.0},
        AcceptCase{"BigIntegersUnderIgnoredKeys",
                   R"({"timestamp":5,"seq":1234567890123456789012345,"position":{"point":{)"
                   R"("longitude":1,"latitude":2,"raw":[-99999999999999999999999,)"
                   R"({"k":18446744073709551616}],"s":"18446744073709551616\"1e999999999999"}}})",
                   5, 1.0},
        AcceptCase{"TimestampMin",
                   R"({"timestamp":-9223372036854775808,"position":{"point":{"longitude":1,)"
                   R"("latitude":2},"accuracy":5},"extra":[1,2]})",
                   INT64_MIN, 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

// Members may come in any order, repeat, or trail after every known key; the first occurrence
// of a key is the one read.
TEST(LocationResDecodeTest, MemberOrderAndDuplicates) {
  auto r = LocationRes::decode(
      R"({"x":0,"location":{"position":{"point":{"latitude":2,"longitude":1,"latitude":"no"}},)"
      R"("timestamp":5,"address":null,"place":{"distance":{"line":3},"name":"n","type":"t"}},)"
      R"("asset":"a","id":"first","id":17,"more":[{}]})");
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(r.value()->id(), "first");
  EXPECT_EQ(r.value()->location()->timestamp(), 5);
  EXPECT_FALSE(r.value()->location()->address());
  EXPECT_EQ(r.value()->location()->place()->distance()->line(), 3.0);
  EXPECT_EQ(r.value()->location()->position()->point()->longitude(), 1.0);
  EXPECT_EQ(r.value()->location()->position()->point()->latitude(), 2.0);

  auto wrongFirst = LocationRes::decode(R"({"id":17,"id":"second","asset":"a","location":{}})");
  ASSERT_FALSE(wrongFirst.ok());
  EXPECT_EQ(wrongFirst.error().message, "typeMismatch: id expected string");
  // Failures are reported in field order, whatever the order of the members.
  auto firstInFieldOrder = LocationRes::decode(R"({"location":{},"asset":1})");
  ASSERT_FALSE(firstInFieldOrder.ok());
  EXPECT_EQ(firstInFieldOrder.error().message, "keyNotFound: id");
}

TEST(LocationResDecodeTest, EmptyTextsAndUnknownKeys) {
  auto r = LocationRes::decode(R"({"id":"","asset":"a","more":{"x":1},"location":)"
                               R"({"timestamp":0,"position":{"point":{"longitude":0,)"
                               R"("latitude":0},"accuracy":3}}})");
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(r.value()->id(), "");
  const std::string encoded = r.value()->encode().value();
  EXPECT_EQ(encoded.find("accuracy"), std::string::npos);
  EXPECT_EQ(encoded.find("more"), std::string::npos);

  const std::string big(10 << 20, 'x');
  auto large = LocationRes::decode(R"({"id":")" + big + R"(","asset":"a","location":{)" +
                                   "\"timestamp\":1," + kPosition + "}}");
  ASSERT_TRUE(large.ok()) << large.error().message;
  EXPECT_EQ(large.value()->id().size(), big.size());
}

TEST(LocationResDefaultsTest, DefaultEncodesEveryKey) {
  EXPECT_EQ(LocationRes().encode().value(),
            R"({"id":"","asset":"","location":{"timestamp":0,"address":{"name":"","context":[]},)"
            R"("place":{"type":"","name":"","distance":{"line":0.0}},)"
            R"("position":{"point":{"longitude":0.0,"latitude":0.0}}}})");
}

TEST(LocationResEncodeTest, FailuresNameTheField) {
  LocationRes res;
  res.location()->position()->point()->setLatitude(NAN);
  EXPECT_EQ(res.encode().error().message,
            "invalidValue: location.position.point.latitude is not a finite number");
  res.location()->setPosition(nullptr);
  EXPECT_EQ(res.encode().error().message, "invalidValue: location.position is an empty record");
  LocationRes other;
  other.location()->address()->setContext({nullptr});
  EXPECT_EQ(other.encode().error().message,
            "invalidValue: location.address.context[0] is an empty record");
}

}  // namespace
}  // namespace orv
