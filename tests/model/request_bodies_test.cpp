#include "model/request_bodies.h"

#include <gtest/gtest.h>

namespace orv::detail {
namespace {

TrackRequest workedTrackRequest() {
  TrackRequest r;
  r.timestamp = 1733390400123;
  r.id = "3F2A9C1E-7B4D-4E8A-9C21-5D6E7F8A9B0C";
  r.asset.id = "A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF";
  r.asset.manufacturer = "Apple";
  r.asset.model = "iPhone";
  r.asset.os = OSInfo{"iOS", "17.4.1"};
  r.location.gnss.point = {116.397428, 39.90923};
  r.location.gnss.accuracy = 35.2;
  r.location.gnss.altitude = 43.6;
  r.location.gnss.verticalAccuracy = 12.3;
  r.location.gnss.velocity = 0.8;
  return r;
}

TEST(TrackRequestTest, WorkedExampleBytes) {
  EXPECT_EQ(workedTrackRequest().toJson().value(),
            R"({"timestamp":1733390400123,"id":"3F2A9C1E-7B4D-4E8A-9C21-5D6E7F8A9B0C",)"
            R"("asset":{"id":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF","manufacturer":"Apple",)"
            R"("model":"iPhone","os":{"type":"iOS","version":"17.4.1"}},"location":{"gnss":)"
            R"({"point":{"longitude":116.397428,"latitude":39.90923},"accuracy":35.2,)"
            R"("altitude":43.6,"verticalAccuracy":12.3,"velocity":0.8}}})");
}

// Zero is a value, not absence; absent optionals leave their keys out. A text that is not UTF-8
// fails the body, naming the field.
TEST(TrackRequestTest, AbsentOptionalsAndInvalidText) {
  GnssData gnss;
  gnss.altitude = 0.0;
  EXPECT_EQ(gnss.toJson().value(),
            R"({"point":{"longitude":0.0,"latitude":0.0},"accuracy":0.0,"altitude":0.0})");
  TrackRequest r = workedTrackRequest();
  r.asset.model = std::string("iPh\xC3one");
  auto json = r.toJson();
  ASSERT_FALSE(json.ok());
  EXPECT_EQ(json.error().domain, "EncodingError");
  EXPECT_EQ(json.error().message, "invalidValue: asset.model is not valid UTF-8");
}

TEST(ReverseGeoRequestTest, WorkedExampleBytes) {
  ReverseGeoRequest r;
  r.asset = "A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF";
  r.location.position.point = {116.403963, 39.915119};
  r.location.position.spatialReference = "gcj02";
  r.timestamp = 1733390400123;
  r.id = "9C8B7A6D-5E4F-4321-8765-0FEDCBA98765";
  EXPECT_EQ(r.toJson().value(),
            R"({"asset":"A1B2C3D4-E5F6-4711-8899-AABBCCDDEEFF","location":{"position":)"
            R"({"point":{"longitude":116.403963,"latitude":39.915119},"spatialReference":)"
            R"("gcj02"}},"timestamp":1733390400123,"id":"9C8B7A6D-5E4F-4321-8765-0FEDCBA98765"})");
}

}  // namespace
}  // namespace orv::detail
