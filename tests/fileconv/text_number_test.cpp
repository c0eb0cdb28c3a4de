// Coordinates written with a chosen number of places read back as the text they came from.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

#include "fileconv/file_convert.h"

namespace {

namespace fc = orv::fileconv;

fc::Options withPrecision(fc::Precision p) {
  fc::Options o;
  o.precision = p;
  return o;
}

TEST(TextNumber, PlacesRoundTripAndChoicesParse) {
  std::mt19937_64 rng(7);
  for (int places = 0; places <= 12; ++places) {
    for (int i = 0; i < 2000; ++i) {
      char text[64];
      const double v = (static_cast<double>(rng() % 360'000'000'000ull) / 1e9) - 180.0;
      std::snprintf(text, sizeof text, "%.*f", places, v);
      const auto parsed = fc::parseNumber(text);
      ASSERT_TRUE(parsed);
      double exact = 0;
      std::from_chars(text, text + std::strlen(text), exact);
      ASSERT_EQ(*parsed, exact) << text;
      std::string back;
      fc::appendNumber(back, *parsed, places);
      ASSERT_EQ(back, text);
      EXPECT_EQ(fc::decimalPlaces(text), places);
    }
  }
  // Written digits are to_chars's, also near halfway points, for tiny values and negative zero.
  for (int i = 0; i < 200000; ++i) {
    const int places = static_cast<int>(rng() % 17);
    const int scale = static_cast<int>(rng() % 12);
    double v = std::ldexp(static_cast<double>(rng() >> 11), -53) * std::pow(10.0, scale - 6);
    if (i % 3 == 0) v = std::nearbyint(v * std::pow(10.0, places + 1)) / std::pow(10.0, places + 1);
    if (i % 2) v = -v;
    char want[400];
    const auto r = std::to_chars(want, want + sizeof want, v, std::chars_format::fixed, places);
    std::string got;
    fc::appendNumber(got, v, places);
    ASSERT_EQ(got, std::string(want, r.ptr)) << places;
  }
  const struct {
    const char* text;
    int places;
  } decimals[] = {{"1", 0}, {"-1.", 0}, {"1.250", 3}, {"1.25e1", 1}, {"125e-2", 2}, {"1e5", 0}};
  for (const auto& d : decimals) EXPECT_EQ(fc::decimalPlaces(d.text), d.places) << d.text;

  EXPECT_EQ(fc::parsePrecision("shortest")->mode, fc::Precision::Mode::shortest);
  EXPECT_EQ(fc::parsePrecision("9")->places, 9);
  for (const char* bad : {"", "-1", "18", "7x", "short"}) EXPECT_FALSE(fc::parsePrecision(bad));
}

// The default keeps the input's places (at least 7); a fixed count or the shortest text on request.
// Positions off the globe are copied as they were and counted with their line.
TEST(TextNumber, PrecisionChoicesInCsvAndGeoJson) {
  using Mode = fc::Precision::Mode;
  const std::string csv = "lat,lng\n31.5,121.123456789012\n";
  const std::string point = "{\"type\":\"Point\",\"coordinates\":[121.5,31.25]}";
  const std::string off = "{\"type\":\"MultiPoint\",\n\"coordinates\":[[1,2],\n[181,2],[1,1e999]]}";
  const struct {
    fc::Format format;
    std::string in;
    fc::Precision precision;
    std::string out;
    std::vector<uint64_t> badLines;
  } cases[] = {
      {fc::Format::csv, csv, {}, "lat,lng\n31.5000000,121.123456789012\n", {}},
      {fc::Format::csv, csv, {Mode::fixed, 3}, "lat,lng\n31.500,121.123\n", {}},
      {fc::Format::csv, csv, {Mode::shortest, 0}, csv, {}},
      {fc::Format::geojson,
       point,
       {},
       "{\"type\":\"Point\",\"coordinates\":[121.5000000,31.2500000]}",
       {}},
      {fc::Format::geojson,
       point,
       {Mode::fixed, 1},
       "{\"type\":\"Point\",\"coordinates\":[121.5,31.2]}",
       {}},
      {fc::Format::geojson, off, {Mode::fixed, 0}, off, {3, 3}},
  };
  for (const auto& c : cases) {
    std::istringstream input(c.in);
    std::ostringstream output;
    const fc::Report report = c.format == fc::Format::csv
                                  ? fc::convertCsv(input, output, withPrecision(c.precision))
                                  : fc::convertGeoJson(input, output, withPrecision(c.precision));
    EXPECT_EQ(output.str(), c.out) << c.in;
    EXPECT_EQ(report.badLines, c.badLines) << c.in;
    EXPECT_EQ(report.bad, c.badLines.size()) << c.in;
  }
}

}  // namespace
