// The bundled data set, the search rules over it and the fault plan, without a server.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "emulator/faults.h"
#include "emulator/place_search.h"
#include "emulator/places.h"
#include "orv/coord_transform.h"

namespace orv::emulator {
namespace {

const PlaceSet& places() { return PlaceSet::bundled(); }

const Place& placeNamed(const std::string& name) {
  for (const auto& p : places().places()) {
    if (p.name == name) return p;
  }
  ADD_FAILURE() << "no place " << name;
  return places().places().front();
}

const Place* areaWithCode(const std::string& code) {
  for (const auto& a : places().areas()) {
    if (a.code == code) return &a;
  }
  return nullptr;
}

TEST(PlaceSetTest, BuildsAFewHundredCompletePlaces) {
  auto built = PlaceSet::build();
  ASSERT_TRUE(built.ok()) << built.error().message;
  const auto& list = places().places();
  EXPECT_GE(list.size(), 250u);
  EXPECT_LE(list.size(), 600u);
  std::set<std::string> ids, cities;
  for (const auto& p : list) {
    SCOPED_TRACE(p.name);
    EXPECT_TRUE(ids.insert(p.id).second) << "duplicate id " << p.id;
    ASSERT_EQ(p.context.size(), 4u);
    const char* levels[] = {"province", "city", "district", "street"};
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(p.context[i].type, levels[i]);
      EXPECT_FALSE(p.context[i].name.empty());
      EXPECT_FALSE(p.context[i].code.empty());
    }
    EXPECT_EQ(p.code, p.level("district").code);
    EXPECT_EQ(p.categories.size(), 2u);
    EXPECT_NE(p.address.find(p.level("street").name), std::string::npos);
    cities.insert(p.level("city").name);
  }
  EXPECT_GE(cities.size(), 6u);
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                             [](const Place& a, const Place& b) { return a.id < b.id; }));
}

// Catches a mistyped or swapped coordinate: every place lies near the centre of its district.
TEST(PlaceSetTest, EveryPlaceLiesNearItsDistrict) {
  for (const auto& p : places().places()) {
    const Place* district = areaWithCode(p.code);
    ASSERT_NE(district, nullptr) << p.name;
    EXPECT_LT(metresBetween(p.longitude, p.latitude, district->longitude, district->latitude),
              25000.0)
        << p.name;
  }
}

TEST(PlaceSetTest, CoversTheSampleWalk) {
  std::ifstream in(std::string(ORV_SOURCE_DIR) + "/data/sample-track.csv");
  if (!in) GTEST_SKIP() << "no sample track";
  std::string line;
  std::getline(in, line);  // header: time,lat,lng,...
  int points = 0;
  while (std::getline(in, line)) {
    std::stringstream row(line);
    std::string time, lat, lng;
    std::getline(row, time, ',');
    std::getline(row, lat, ',');
    std::getline(row, lng, ',');
    const Coordinate gcj =
        JyrCoorTransform::transformFromWGSToGCJ({std::stod(lat), std::stod(lng)});
    auto nearest = nearestPlace(places(), gcj.longitude, gcj.latitude, 300.0);
    ASSERT_TRUE(nearest.has_value()) << line;
    EXPECT_EQ(nearest->place->level("district").name, "东城区");
    ++points;
  }
  EXPECT_GT(points, 10);
}

TEST(PlaceSearchTest, KeywordRelevance) {
  const Place& tiananmen = placeNamed("天安门");
  struct Case {
    const char* keyword;
    std::optional<double> low, high;  // expected range; none when it must not match
  };
  const Case cases[] = {
      {"天安门", 1.0, 1.0},
      {"天安", 0.5, 1.0},
      {"景点", 0.4, 0.4},
      {"东长安街", 0.3, 0.3},
      {"咖啡", std::nullopt, std::nullopt},
      {"", 0.0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyword);
    auto r = keywordRelevance(tiananmen, c.keyword);
    ASSERT_EQ(r.has_value(), c.low.has_value());
    if (r) {
      EXPECT_GE(*r, *c.low);
      EXPECT_LE(*r, *c.high);
    }
  }
}

TEST(PlaceSearchTest, CityFilter) {
  const Place& p = placeNamed("中国国家博物馆");
  struct Case {
    const char* city;
    const char* code;
    bool match;
  };
  const Case cases[] = {
      {"", "", true},       {"北京", "", true},   {"北京市", "", true},      {"110100", "", true},
      {"东城区", "", true}, {"东城", "", true},   {"上海", "", false},       {"北", "", false},
      {"", "110101", true}, {"", "110100", true}, {"北京", "310100", false}, {"", "31010", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(inCity(p, c.city, c.code), c.match) << c.city << " / " << c.code;
  }
}

TEST(PlaceSearchTest, GeocodePrefersTheMostSpecificMatch) {
  auto exact = geocode(places(), "天安门", "北京", 10);
  ASSERT_FALSE(exact.empty());
  EXPECT_EQ(exact.front().place->name, "天安门");
  EXPECT_EQ(exact.front().relevance, 1.0);

  auto street = geocode(places(), "北京市东城区东长安街", "北京", 10);
  ASSERT_FALSE(street.empty());
  EXPECT_EQ(street.front().place->type, "street");
  EXPECT_EQ(street.front().place->name, "东长安街");
  EXPECT_LE(street.size(), 10u);
  for (std::size_t i = 1; i < street.size(); ++i) {
    EXPECT_GE(street[i - 1].relevance, street[i].relevance);
  }

  EXPECT_TRUE(geocode(places(), "天安门", "上海", 10).empty());
  EXPECT_TRUE(geocode(places(), "", "北京", 10).empty());
}

TEST(PlaceSearchTest, NearbyKeepsTheRadiusAndOrder) {
  const Place& centre = placeNamed("中国国家博物馆");
  NearbyQuery q;
  q.longitude = centre.longitude;
  q.latitude = centre.latitude;
  q.radius = 600;
  auto hits = nearbySearch(places(), q);
  ASSERT_GE(hits.size(), 5u);
  EXPECT_EQ(hits.front().place, &centre);
  EXPECT_LT(hits.front().distance, 0.5);  // the chord formula leaves ~0.1 m at zero
  std::size_t inside = 0;
  for (const auto& p : places().places()) {
    inside += metresBetween(q.longitude, q.latitude, p.longitude, p.latitude) <= 600 ? 1 : 0;
  }
  EXPECT_EQ(hits.size(), inside);
  for (std::size_t i = 1; i < hits.size(); ++i) {
    EXPECT_LE(hits[i - 1].distance, hits[i].distance);
    EXPECT_LE(hits[i].distance, 600.0);
  }

  q.radius = 3000;
  q.keyword = "博物";
  q.byRelevance = true;
  auto ranked = nearbySearch(places(), q);
  ASSERT_GE(ranked.size(), 2u);
  for (std::size_t i = 1; i < ranked.size(); ++i) {
    EXPECT_GE(ranked[i - 1].relevance, ranked[i].relevance);
  }

  q.keyword.clear();
  q.category = "地铁站";
  for (const auto& h : nearbySearch(places(), q)) EXPECT_EQ(h.place->type, "subway");
}

TEST(PlaceSearchTest, Paging) {
  std::vector<Hit> hits(7);
  for (std::size_t i = 0; i < hits.size(); ++i) hits[i].distance = static_cast<double>(i);
  struct Case {
    int index, size;
    std::vector<double> distances;
  };
  const Case cases[] = {
      {1, 3, {0, 1, 2}}, {2, 3, {3, 4, 5}}, {3, 3, {6}}, {4, 3, {}}, {1, 10, {0, 1, 2, 3, 4, 5, 6}},
      {0, 3, {}},        {1, 0, {}},        {-1, 3, {}},
  };
  for (const auto& c : cases) {
    std::vector<double> got;
    for (const auto& h : page(hits, c.index, c.size)) got.push_back(h.distance);
    EXPECT_EQ(got, c.distances) << c.index << "/" << c.size;
  }
}

TEST(FaultPlanTest, SameSeedSameFaults) {
  const FaultPlan a(0.2, 0.3, 7), b(0.2, 0.3, 7), other(0.2, 0.3, 8);
  int differing = 0;
  for (uint64_t n = 0; n < 200; ++n) {
    EXPECT_EQ(a.decide(n), b.decide(n));
    differing += a.decide(n) != other.decide(n) ? 1 : 0;
  }
  EXPECT_GT(differing, 20);
}

TEST(FaultPlanTest, RatesAreHonoured) {
  struct Case {
    double drop, fail;
    double expectDrop, expectFail;  // shares of all requests
  };
  const Case cases[] = {
      {0.0, 0.0, 0.0, 0.0},   {1.0, 0.0, 1.0, 0.0}, {0.0, 1.0, 0.0, 1.0},
      {0.25, 0.0, 0.25, 0.0}, {0.5, 1.0, 0.5, 0.5}, {0.2, 0.5, 0.2, 0.4},
  };
  for (const auto& c : cases) {
    const FaultPlan plan(c.drop, c.fail, 99);
    int drops = 0, fails = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
      const Fault f = plan.decide(static_cast<uint64_t>(i));
      drops += f == Fault::drop ? 1 : 0;
      fails += f == Fault::fail ? 1 : 0;
    }
    EXPECT_NEAR(drops / double(n), c.expectDrop, 0.015) << c.drop << "/" << c.fail;
    EXPECT_NEAR(fails / double(n), c.expectFail, 0.015) << c.drop << "/" << c.fail;
  }
}

}  // namespace
}  // namespace orv::emulator
