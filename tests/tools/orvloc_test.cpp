// Runs the built orvloc on temporary files and checks its output, exit codes and messages.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli_run.h"
#include "orv/convert.h"
#include "orv/coord_transform.h"

namespace {

namespace fs = std::filesystem;
using T = orv::JyrCoorTransform;
using Outcome = orv::test::CliRun;

class Orvloc : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("orvloc_test_" + std::to_string(::getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome run(const std::string& args) {
    return orv::test::runShell(std::string("'") + ORVLOC_PATH + "' " + args);
  }
  // Converts `content` written to in.<ext>, to standard output unless `out` is given.
  Outcome convertFile(const std::string& args, const std::string& ext, const std::string& content,
                      const fs::path& out = {}) {
    const fs::path in = dir_ / ("in." + ext);
    std::ofstream(in, std::ios::binary) << content;
    return run("convert " + args + " --input '" + in.string() + "'" +
               (out.empty() ? "" : " --output '" + out.string() + "'"));
  }

  fs::path dir_;
};

// What the tool's conversions give: the vector engine, iterative inverse.
orv::Coordinate engine(orv::Direction d, orv::Coordinate c) {
  orv::convert(d, std::span(&c, 1), std::span(&c, 1));
  return c;
}

// Shortest round-trip form, as the tool writes numbers.
std::string fmt(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

TEST_F(Orvloc, ConvertsOnePointDistanceAndVersion) {
  const orv::Coordinate g = engine(orv::Direction::wgsToGcj, {39.9042, 116.3974});
  EXPECT_EQ(run("convert --from wgs84 --to gcj02 39.9042 116.3974").out,
            fmt(g.latitude) + " " + fmt(g.longitude) + "\n");
  EXPECT_EQ(run("convert --from bd09 --to bd09 -33.5 -70.25").out, "-33.5 -70.25\n");
  EXPECT_EQ(run("convert --from wgs84 --to gcj02 -- -90 180").out, "-90 180\n");

  // The inverse is iterative unless the search is asked for.
  const std::string gcj = fmt(g.latitude) + " " + fmt(g.longitude);
  const orv::Coordinate iterative = engine(orv::Direction::gcjToWgs, g);
  const orv::Coordinate search = T::transformFromGCJToWGS(g);
  ASSERT_NE(iterative.latitude, search.latitude);
  EXPECT_EQ(run("convert --from gcj02 --to wgs84 " + gcj).out,
            fmt(iterative.latitude) + " " + fmt(iterative.longitude) + "\n");
  EXPECT_EQ(run("convert --from gcj02 --to wgs84 --inverse search " + gcj).out,
            fmt(search.latitude) + " " + fmt(search.longitude) + "\n");

  EXPECT_EQ(run("distance 39.9 116.4 31.2 121.5").out,
            fmt(T::distanceByPoint(39.9, 31.2, 116.4, 121.5)) + "\n");
  EXPECT_EQ(run("version").out.rfind("orvLib ", 0), 0u);
}

TEST_F(Orvloc, UsageErrorsAreOneLineAndExitTwo) {
  for (const char* args :
       {"", "frobnicate", "convert --from wgs84 1 2", "convert --from mars --to gcj02 1 2",
        "convert --from wgs84 --to gcj02 1", "convert --from wgs84 --to gcj02 1 x",
        "convert --from wgs84 --to gcj02 --input a.txt", "convert --from wgs84 --to gcj02 91 116",
        "convert --from gcj02 --to wgs84 --inverse newton 1 2", "distance 1 2 3 north"}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_TRUE(!r.err.empty() && r.err.find('\n') == r.err.size() - 1) << args << ": " << r.err;
  }
}

// Coordinates change; header spacing and case, quoting, CRLF, empty lines, line breaks inside
// quotes and a missing final line break stay as they were.
TEST_F(Orvloc, CsvConvertsCoordinateColumnsAndKeepsEverythingElse) {
  const auto out = dir_ / "out.csv";
  const Outcome r = convertFile("--from wgs84 --to gcj02 --precision shortest", "csv",
                                "time,Latitude, lon ,note\r\n"
                                "t1,39.9042,116.3974,\"a, \"\"quoted\"\" note\"\r\n"
                                "t2,\"31.2\",121.5,x 1.0e2\r\n"
                                "\r\n"
                                "t3,-33.9,-70.5,\"two\nlines\"",
                                out);
  ASSERT_EQ(r.code, 0) << r.err;
  const auto a = engine(orv::Direction::wgsToGcj, {39.9042, 116.3974});
  const auto b = engine(orv::Direction::wgsToGcj, {31.2, 121.5});
  EXPECT_EQ(orv::test::readFile(out),
            "time,Latitude, lon ,note\r\nt1," + fmt(a.latitude) + "," + fmt(a.longitude) +
                ",\"a, \"\"quoted\"\" note\"\r\nt2,\"" + fmt(b.latitude) + "\"," +
                fmt(b.longitude) + ",x 1.0e2\r\n\r\nt3,-33.9,-70.5,\"two\nlines\"");
}

// Every position converts, whatever it is nested in; other members and spacing stay. A text
// sequence (RS-prefixed) and one object per line stay as they were.
TEST_F(Orvloc, GeoJsonConvertsEveryPositionAndKeepsOtherMembers) {
  const auto a = engine(orv::Direction::wgsToGcj, {39.9042, 116.3974});
  const auto b = engine(orv::Direction::wgsToGcj, {31.2, 121.5});
  const std::string head =
      "{\"type\": \"FeatureCollection\", \"bbox\": [1.0, 2.0],\n \"features\": [\n"
      "  {\"type\": \"Feature\", \"properties\": {\"coordinates\": [116.4, 39.9], \"n\": 1.50e1,"
      " \"s\": \"\\u00e9\\\"\"},\n   \"geometry\": {\"type\": \"Point\", \"coordinates\": [ ";
  const std::string middle =
      ", 50.0 ]}},\n  {\"type\": \"Feature\", \"properties\": null, \"geometry\": {\"type\": "
      "\"Polygon\", \"coordinates\": [[[";
  const std::string tail = "], [-70.5, -33.9]], []]}}\n ]}\n";
  Outcome r = convertFile("--from wgs84 --to gcj02 --precision shortest", "geojson",
                          head + "116.3974 , 39.9042" + middle + "121.5, 31.2" + tail);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, head + fmt(a.longitude) + " , " + fmt(a.latitude) + middle + fmt(b.longitude) +
                       ", " + fmt(b.latitude) + tail);

  const auto c = engine(orv::Direction::wgsToBaidu, {39.9042, 116.3974});
  const auto sequence = [](const std::string& p) {
    return "\x1e{\"type\":\"MultiPoint\",\"coordinates\":[[" + p + "]]}\n{\"type\":\"Point\"," +
           "\"coordinates\":[" + p + "]}\n";
  };
  r = convertFile("--from wgs84 --to bd09 --format geojson --precision shortest", "geojsons",
                  sequence("116.3974,39.9042"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, sequence(fmt(c.longitude) + "," + fmt(c.latitude)));
}

TEST_F(Orvloc, MalformedInputNamesTheSpotAndLeavesNoOutput) {
  const struct {
    const char* ext;
    const char* content;
    const char* message;
  } cases[] = {
      {"csv", "a,lng\n1,2\n", "line 1: no latitude column"},
      {"csv", "lat,\"lng\n1,2\n", "line 1: unterminated quoted field"},
      {"geojson",
       "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\n"
       "\"geometry\":{\"type\":\"LineString\",\"coordinates\":[[116,39],[116,\"x\"]]}}]}",
       "line 2: $.features[0].geometry.coordinates[1][1]: expected a number"},
      {"geojson", "{\"type\":\"Point\",\"coordinates\":[116]}",
       "$.coordinates: a position needs longitude and latitude"},
      {"geojson", "{\"type\":\"Point\" \"coordinates\":[1,2]}", "$.type: expected ',' or '}'"},
      {"geojson", "{\"type\":\"Point\",\"coordinates\":[1,2", "unexpected end of input"},
      {"geojson", "{\"type\":\"Point\",\"coordinates\":[1,2]}\n[]\n",
       "line 2: $: expected a GeoJSON object"},
  };
  for (const auto& c : cases) {
    const auto out = dir_ / (std::string("out.") + c.ext);
    const Outcome r = convertFile("--from wgs84 --to gcj02", c.ext, c.content, out);
    EXPECT_EQ(r.code, 1) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    // Only the input: no output, not even a temporary one.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
        << c.message;
    fs::remove(dir_ / (std::string("in.") + c.ext));
  }
}

// Records that cannot be converted are copied as they were and counted; the rest of the file is
// converted (with the chosen columns, places and threads) and the exit status is 1.
TEST_F(Orvloc, BadRecordsAreCopiedAndCounted) {
  const auto a = engine(orv::Direction::wgsToGcj, {39.9042, 116.3974});
  char lat[32], lng[32];
  std::snprintf(lat, sizeof lat, "%.5f", a.latitude);
  std::snprintf(lng, sizeof lng, "%.5f", a.longitude);
  const std::string bad = "x,abc\n91,116\n1,2,3\nnan,1\n-33.9,-180.5\n1,\"2\n";
  for (const char* threads : {"1", "2"}) {
    const auto out = dir_ / "out.csv";
    const Outcome r = convertFile(
        std::string("--from wgs84 --to gcj02 --lat Y --lng X --precision 5 --threads ") + threads,
        "csv", "y,X\n39.9042,116.3974\n" + bad, out);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "orvloc: " + (dir_ / "in.csv").string() +
                         ": 6 records not converted (lines 3, 4, 5, 6, 7, ...)\n");
    EXPECT_EQ(orv::test::readFile(out), "y,X\n" + std::string(lat) + "," + lng + "\n" + bad);
  }
  const Outcome r = convertFile("--from wgs84 --to gcj02", "geojson",
                                "{\"type\":\"Point\",\"coordinates\":[200,39]}");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "{\"type\":\"Point\",\"coordinates\":[200,39]}");
  EXPECT_NE(r.err.find("1 position not converted (line 1)"), std::string::npos) << r.err;
}

}  // namespace
