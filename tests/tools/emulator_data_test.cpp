// The bundled data set the emulator answers from, without a server.
#include <gtest/gtest.h>

#include <set>

#include "emulator/place_search.h"
#include "emulator/places.h"

namespace orv::emulator {
namespace {

const PlaceSet& places() { return PlaceSet::bundled(); }

const Place* areaWithCode(const std::string& code) {
  for (const auto& a : places().areas()) {
    if (a.code == code) return &a;
  }
  return nullptr;
}

// Catches a mistyped or swapped coordinate: every place lies near the centre of its district.
TEST(PlaceSetTest, CompletePlacesNearTheirDistricts) {
  auto built = PlaceSet::build();
  ASSERT_TRUE(built.ok()) << built.error().message;
  std::set<std::string> ids;
  for (const auto& p : places().places()) {
    SCOPED_TRACE(p.name);
    EXPECT_TRUE(ids.insert(p.id).second) << "duplicate id " << p.id;
    ASSERT_EQ(p.context.size(), 4u);
    EXPECT_EQ(p.code, p.level("district").code);
    const Place* district = areaWithCode(p.code);
    ASSERT_NE(district, nullptr);
    EXPECT_LT(metresBetween(p.longitude, p.latitude, district->longitude, district->latitude),
              25000.0);
  }
  EXPECT_GE(ids.size(), 250u);
}

}  // namespace
}  // namespace orv::emulator
