// Runs the built orvloc on temporary files and checks its output, exit codes and messages.
#include <gtest/gtest.h>

#include <algorithm>
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
using orv::test::readFile;

class Orvloc : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("orvloc_test_" + std::to_string(::getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path file(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
    return dir_ / name;
  }
  Outcome run(const std::string& args) {
    return orv::test::runShell(std::string("'") + ORVLOC_PATH + "' " + args, dir_);
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    return names;
  }

  fs::path dir_;
};

// What the tool's conversions give: the vector engine, iterative inverse.
orv::Coordinate engine(orv::Direction d, orv::Coordinate c) {
  orv::convert(d, std::span(&c, 1), std::span(&c, 1));
  return c;
}

std::string fmt(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

TEST_F(Orvloc, ConvertsOnePointInShortestRoundTripForm) {
  const Outcome r = run("convert --from wgs84 --to gcj02 39.9042 116.3974");
  ASSERT_EQ(r.code, 0) << r.err;
  const orv::Coordinate g = engine(orv::Direction::wgsToGcj, {39.9042, 116.3974});
  EXPECT_EQ(r.out, fmt(g.latitude) + " " + fmt(g.longitude) + "\n");
  double lat = 0, lng = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "%lf %lf", &lat, &lng), 2);
  EXPECT_EQ(lat, g.latitude);
  EXPECT_EQ(lng, g.longitude);

  EXPECT_EQ(run("convert --from bd09 --to bd09 -33.5 -70.25").out, "-33.5 -70.25\n");
  EXPECT_EQ(run("convert --from wgs84 --to gcj02 -- -90 180").out, "-90 180\n");
}

TEST_F(Orvloc, InverseMethodIsIterativeUnlessSearchIsAsked) {
  const orv::Coordinate gcj = T::transformFromWGSToGCJ({39.9042, 116.3974});
  const std::string point = fmt(gcj.latitude) + " " + fmt(gcj.longitude);
  const orv::Coordinate iterative = engine(orv::Direction::gcjToWgs, gcj);
  const orv::Coordinate search = T::transformFromGCJToWGS(gcj);
  ASSERT_NE(iterative.latitude, search.latitude);
  EXPECT_EQ(run("convert --from gcj02 --to wgs84 " + point).out,
            fmt(iterative.latitude) + " " + fmt(iterative.longitude) + "\n");
  EXPECT_EQ(run("convert --from gcj02 --to wgs84 --inverse search " + point).out,
            fmt(search.latitude) + " " + fmt(search.longitude) + "\n");
}

TEST_F(Orvloc, DistanceAndVersion) {
  const Outcome d = run("distance 39.9 116.4 31.2 121.5");
  ASSERT_EQ(d.code, 0);
  EXPECT_EQ(d.out, fmt(T::distanceByPoint(39.9, 31.2, 116.4, 121.5)) + "\n");
  EXPECT_EQ(run("distance 1 2 1 2").out, "0\n");
  const Outcome v = run("version");
  EXPECT_EQ(v.code, 0);
  EXPECT_EQ(v.out.rfind("orvLib ", 0), 0u) << v.out;
}

class UsageErrors : public Orvloc, public testing::WithParamInterface<const char*> {};

TEST_P(UsageErrors, OneLineAndExitTwo) {
  const Outcome r = run(GetParam());
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.out.empty());
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageErrors,
    testing::Values("", "frobnicate", "convert --from wgs84 1 2",
                    "convert --from mars --to gcj02 1 2", "convert --from wgs84 --to gcj02 1",
                    "convert --from wgs84 --to gcj02 1 x", "convert --from wgs84 --to gcj02",
                    "convert --from wgs84 --to gcj02 --input a.txt", "distance 1 2 3",
                    "distance 1 2 3 north", "convert --from wgs84 --to gcj02 91 116",
                    "convert --from wgs84 --to gcj02 39.9 200",
                    "convert --from bd09 --to wgs84 -- -90.5 0",
                    "convert --from gcj02 --to wgs84 -- 0 -180.01",
                    "convert --from gcj02 --to wgs84 --inverse newton 1 2"));

TEST_F(Orvloc, CsvConvertsCoordinateColumnsAndKeepsEverythingElse) {
  const std::string in =
      "time,Latitude, lon ,note\r\n"
      "t1,39.9042,116.3974,\"a, \"\"quoted\"\" note\"\r\n"
      "t2,\"31.2\",121.5,x 1.0e2\r\n"
      "\r\n"
      "t3,-33.9,-70.5,\"two\nlines\"";  // no final line break
  const auto path = file("in.csv", in);
  const auto out = dir_ / "out.csv";
  const Outcome r = run("convert --from wgs84 --to gcj02 --input '" + path.string() +
                        "' --output '" + out.string() + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  const auto a = engine(orv::Direction::wgsToGcj, {39.9042, 116.3974});
  const auto b = engine(orv::Direction::wgsToGcj, {31.2, 121.5});
  EXPECT_EQ(readFile(out),
            "time,Latitude, lon ,note\r\n"
            "t1," +
                fmt(a.latitude) + "," + fmt(a.longitude) +
                ",\"a, \"\"quoted\"\" note\"\r\n"
                "t2,\"" +
                fmt(b.latitude) + "\"," + fmt(b.longitude) +
                ",x 1.0e2\r\n"
                "\r\n"
                "t3,-33.9,-70.5,\"two\nlines\"");
}

struct BadInput {
  const char* name;
  const char* format;
  const char* content;
  const char* message;  // must appear in the error
};

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

class MalformedInput : public Orvloc, public testing::WithParamInterface<BadInput> {};

TEST_P(MalformedInput, NamesTheSpotAndLeavesNoOutput) {
  const auto& c = GetParam();
  const auto path = file(std::string("in.") + c.format, c.content);
  const auto out = dir_ / (std::string("out.") + c.format);
  const Outcome r = run("convert --from wgs84 --to gcj02 --input '" + path.string() +
                        "' --output '" + out.string() + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(files().size(), 3u) << "temporary output left behind";  // input, stdout, stderr
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedInput,
    testing::Values(
        BadInput{"csv_value", "csv", "lat,lng\n1,2\n39.9,abc\n",
                 "line 3: longitude is not a number"},
        BadInput{"csv_fields", "csv", "lat,lng,x\n1,2,3\n4,5\n", "line 3: 2 fields"},
        BadInput{"csv_header", "csv", "a,lng\n1,2\n", "line 1: no latitude column"},
        BadInput{"csv_quote", "csv", "lat,lng\n1,\"2\n", "unterminated quoted field"},
        BadInput{"json_position", "geojson",
                 "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\n"
                 "\"geometry\":{\"type\":\"LineString\",\"coordinates\":[[116,39],[116,\"x\"]]}}]}",
                 "line 2: $.features[0].geometry.coordinates[1][1]: expected a number"},
        BadInput{"json_short", "geojson", "{\"type\":\"Point\",\"coordinates\":[116]}",
                 "$.coordinates: a position needs longitude and latitude"},
        BadInput{"json_syntax", "geojson", "{\"type\":\"Point\" \"coordinates\":[1,2]}",
                 "$.type: expected ',' or '}'"},
        BadInput{"json_truncated", "geojson", "{\"type\":\"Point\",\"coordinates\":[1,2",
                 "unexpected end of input"},
        BadInput{"json_number", "geojson", "{\"a\":01}", "$.a: expected ',' or '}'"},
        BadInput{"csv_latitude_range", "csv", "lat,lng\n1,2\n91,116\n",
                 "line 3: latitude out of range [-90, 90]: \"91\""},
        BadInput{"csv_longitude_range", "csv", "lng,lat\n\"-200\",1\n",
                 "line 2: longitude out of range [-180, 180]"},
        BadInput{"csv_not_finite", "csv", "lat,lng\nnan,1\n", "line 2: latitude is not a number"},
        BadInput{"json_longitude_range", "geojson", "{\"type\":\"Point\",\"coordinates\":[200,39]}",
                 "$.coordinates[0]: longitude 200 out of range [-180, 180]"},
        BadInput{"json_latitude_range", "geojson",
                 "{\"type\":\"LineString\",\"coordinates\":[[116,39],[116,-91]]}",
                 "$.coordinates[1][1]: latitude -91 out of range [-90, 90]"},
        BadInput{"json_sequence", "geojson", "{\"type\":\"Point\",\"coordinates\":[1,2]}\n[]\n",
                 "line 2: $: expected a GeoJSON object"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Orvloc, GeoJsonConvertsEveryPositionAndKeepsOtherMembers) {
  const std::string in =
      "{\"type\": \"FeatureCollection\", \"bbox\": [1.0, 2.0],\n"
      " \"features\": [\n"
      "  {\"type\": \"Feature\", \"properties\": {\"coordinates\": [116.4, 39.9], \"n\": 1.50e1,"
      " \"s\": \"\\u00e9\\\"\"},\n"
      "   \"geometry\": {\"type\": \"Point\", \"coordinates\": [ 116.3974 , 39.9042, 50.0 ]}},\n"
      "  {\"type\": \"Feature\", \"properties\": null, \"geometry\": {\"type\": \"Polygon\","
      " \"coordinates\": [[[121.5, 31.2], [-70.5, -33.9]], []]}}\n"
      " ]}\n";
  const auto path = file("in.geojson", in);
  const Outcome r = run("convert --from wgs84 --to gcj02 --input '" + path.string() + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  const auto a = engine(orv::Direction::wgsToGcj, {39.9042, 116.3974});
  const auto b = engine(orv::Direction::wgsToGcj, {31.2, 121.5});
  EXPECT_EQ(r.out,
            "{\"type\": \"FeatureCollection\", \"bbox\": [1.0, 2.0],\n"
            " \"features\": [\n"
            "  {\"type\": \"Feature\", \"properties\": {\"coordinates\": [116.4, 39.9], \"n\": "
            "1.50e1, \"s\": \"\\u00e9\\\"\"},\n"
            "   \"geometry\": {\"type\": \"Point\", \"coordinates\": [ " +
                fmt(a.longitude) + " , " + fmt(a.latitude) +
                ", 50.0 ]}},\n"
                "  {\"type\": \"Feature\", \"properties\": null, \"geometry\": {\"type\": "
                "\"Polygon\", \"coordinates\": [[[" +
                fmt(b.longitude) + ", " + fmt(b.latitude) +
                "], [-70.5, -33.9]], []]}}\n"
                " ]}\n");
}

TEST_F(Orvloc, GeoJsonTextSequenceAndOnePerLine) {
  const std::string in =
      "\x1e{\"type\":\"Feature\",\"geometry\":{\"type\":\"GeometryCollection\",\"geometries\":"
      "[{\"type\":\"MultiPoint\",\"coordinates\":[[116.3974,39.9042]]}]}}\n"
      "{\"type\":\"Point\",\"coordinates\":[121.5,31.2]}\n";
  const auto path = file("in.geojsons", in);
  const Outcome r =
      run("convert --from wgs84 --to bd09 --format geojson --input '" + path.string() + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  const auto a = engine(orv::Direction::wgsToBaidu, {39.9042, 116.3974});
  const auto b = engine(orv::Direction::wgsToBaidu, {31.2, 121.5});
  EXPECT_EQ(
      r.out,
      "\x1e{\"type\":\"Feature\",\"geometry\":{\"type\":\"GeometryCollection\",\"geometries\":"
      "[{\"type\":\"MultiPoint\",\"coordinates\":[[" +
          fmt(a.longitude) + "," + fmt(a.latitude) +
          "]]}]}}\n"
          "{\"type\":\"Point\",\"coordinates\":[" +
          fmt(b.longitude) + "," + fmt(b.latitude) + "]}\n");
}

// Enough records to cross the converter's blocks and read buffer, with quoted fields, line
// breaks inside quotes and CRLF endings among them; then a fault deep in the file.
TEST_F(Orvloc, LargeCsvConvertsAcrossBlocksAndNamesALateFault) {
  std::string in = "id,lng,note,lat\n", expected = in;
  for (int i = 0; i < 150000; ++i) {
    const orv::Coordinate c{20.0 + (i % 3001) * 0.01, 100.0 + (i % 1999) * 0.013};
    const orv::Coordinate g = engine(orv::Direction::gcjToWgs, c);
    const bool quoted = i % 7 == 0;
    const std::string note = i % 11 == 0 ? "\"a,\nb\"" : "n" + std::to_string(i);
    const std::string eol = i % 5 == 0 ? "\r\n" : "\n";
    const auto q = [&](const std::string& v) { return quoted ? "\"" + v + "\"" : v; };
    in += std::to_string(i) + "," + q(fmt(c.longitude)) + "," + note + "," + fmt(c.latitude) + eol;
    expected +=
        std::to_string(i) + "," + q(fmt(g.longitude)) + "," + note + "," + fmt(g.latitude) + eol;
  }
  const auto path = file("big.csv", in);
  const Outcome r = run("convert --from gcj02 --to wgs84 --input '" + path.string() + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.out == expected) << "output differs";

  const auto bad = file("bad.csv", in + "x,1,2\n");
  const auto lines = std::count(in.begin(), in.end(), '\n');
  const Outcome f = run("convert --from gcj02 --to wgs84 --input '" + bad.string() + "'");
  EXPECT_EQ(f.code, 1);
  EXPECT_NE(f.err.find("line " + std::to_string(lines + 1) + ": 3 fields, header has 4"),
            std::string::npos)
      << f.err;
}

}  // namespace
