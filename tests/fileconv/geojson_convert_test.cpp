// GeoJSON on a pool: runs of features, coordinate arrays or top-level objects cut where their
// brackets close give the bytes, the report and the error of one thread, whatever the block size.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

#include "fileconv/file_convert.h"

namespace {

namespace fc = orv::fileconv;

struct Outcome {
  std::string out, error;
  fc::Report report;
};

Outcome convert(const std::string& in, unsigned threads, size_t blockSize) {
  std::istringstream input(in);
  std::ostringstream output;
  fc::Options options{fc::Conversion(orv::Direction::wgsToGcj), {}, {}, {}, threads, blockSize};
  Outcome o;
  try {
    o.report = fc::convertGeoJson(input, output, options);
    o.out = output.str();
  } catch (const fc::InputError& e) {
    o.error = e.what();
  }
  return o;
}

// Features of every geometry type, nested collections among them, properties whose strings hold
// brackets, braces, escaped quotes and UTF-8, positions off the globe, and varied spacing.
std::string randomCollection(unsigned seed, size_t features) {
  std::mt19937 rng(seed);
  const auto pick = [&](unsigned n) { return rng() % n; };
  const char* gaps[] = {"", " ", "\n", "\r\n  ", "\t"};
  const auto gap = [&] { return std::string(gaps[pick(5)]); };
  const auto position = [&] {
    if (pick(40) == 0) return std::string("[200.5,10]");
    return "[" + std::to_string(75 + pick(62000) / 1000.0) + "," + gap() +
           std::to_string(18 + pick(32000) / 1000.0) + (pick(4) ? "" : ",12.5") + "]";
  };
  const auto ring = [&] {
    std::string s = "[";
    for (unsigned i = 0, n = 1 + pick(6); i < n; ++i) s += (i ? "," + gap() : "") + position();
    return s + "]";
  };
  const auto polygon = [&] { return "[" + ring() + "," + gap() + ring() + "]"; };
  std::function<std::string(int)> geometry = [&](int depth) -> std::string {
    switch (pick(depth > 1 ? 5 : 6)) {
      case 0:
        return "{\"type\":\"Point\",\"coordinates\":" + position() + "}";
      case 1:
        return "{\"type\":\"LineString\",\"coordinates\":" + ring() + "}";
      case 2:
        return "{\"type\":\"Polygon\",\"coordinates\":" + polygon() + "}";
      case 3:
        return "{\"type\":\"MultiPolygon\"," + gap() + "\"coordinates\":[" + polygon() + "," +
               polygon() + "]}";
      case 4:
        return "{\"type\":\"Point\",\"coordinates\":[]}";
      default:
        return "{\"type\":\"GeometryCollection\",\"geometries\":[" + geometry(depth + 1) + "," +
               gap() + geometry(depth + 1) + "]}";
    }
  };
  const char* names[] = {"\"plain\"",
                         "\"a]b}c\"",
                         "\"q\\\"[{\\\\\"",
                         "\"三角 ü\"",
                         "{\"coordinates\":[[1,2]]}",
                         "[\"]\",{\"x\":\"}\"}]"};
  std::string s = "{\"type\":\"FeatureCollection\"," + gap() + "\"features\":[" + gap();
  for (size_t i = 0; i < features; ++i) {
    if (i) s += gap() + "," + gap();
    s += "{\"type\":\"Feature\",\"properties\":{\"name\":" + std::string(names[pick(6)]) +
         "},\"geometry\":" + geometry(0) + "}";
  }
  return s + gap() + "]," + gap() + "\"bbox\":[1,2,3,4]}\n";
}

TEST(GeoJsonConvert, SameOutputReportAndErrorForEveryBlockSizeAndThreadCount) {
  std::vector<std::pair<std::string, std::string>> inputs = {
      {"empty", ""},
      {"spaces only", " \n"},
      {"empty collection", "{\"type\":\"FeatureCollection\",\"features\":[]}"},
      {"bare geometry", "{\"type\":\"Point\",\"coordinates\":[121.5,31.25]}"},
      {"single feature",
       "{\"type\":\"Feature\",\"properties\":{\"s\":\"[{\\\"\"},\"geometry\":{\"type\":"
       "\"MultiPolygon\",\"coordinates\":[[[[121.5,31.25],[121.6,31.3],[121.5,31.25]]],"
       "[[[116.4,39.9],[116.5,39.9],[116.4,39.9]]]]}}"},
      {"sequence, one a line",
       "{\"type\":\"Point\",\"coordinates\":[121.5,31.25]}\n"
       "{\"type\":\"Point\",\"coordinates\":[116.4,39.9]}\n"},
      {"text sequence",
       "\x1e{\"type\":\"Point\",\"coordinates\":[1,2]}\n\x1e"
       "{\"type\":\"Point\",\"coordinates\":[3,4]}\n"},
      {"off the globe",
       "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"geometry\":{"
       "\"type\":\"LineString\",\"coordinates\":[[1,2],[181,2],\n[1,91]]}}]}"},
      // Broken input: the message is the one a single thread gives, also when the break falls
      // inside a run that was cut off, or after one.
      {"broken after a run", "{\"features\":[{\"a\":1},{\"b\":2},{\"c\":]}"},
      {"broken inside a run", "{\"features\":[{\"a\":1},\n{\"b\":tru},{\"c\":3}]}"},
      {"brackets that do not match", "{\"features\":[{\"a\":[1}],{\"b\":2}]}"},
      {"unterminated", "{\"features\":[{\"a\":\"x\\\"}]}"},
      {"missing comma", "{\"features\":[{\"a\":1} {\"b\":2}]}"},
      {"not an object in a sequence", "{\"a\":1}\n{\"b\":2}\n[]\n"},
      {"bad position in a run",
       "{\"type\":\"MultiPoint\",\"coordinates\":[[1,2],[3,4],[5],[6,7]]}"},
      {"every feature broken",
       "{\"features\":[{\"a\":x},{\"a\":x},{\"a\":x},{\"a\":x},{\"a\":x},{\"a\":x},"
       "{\"a\":x},{\"a\":x},{\"a\":x},{\"a\":x},{\"a\":x},{\"a\":x}]}"},
      {"control character", "{\"features\":[{\"a\":\"\x01\"}]}"},
      {"NUL after a backslash", std::string("{\"features\":[{\"a\":\"\\\0\"}]}", 25)},
  };
  for (unsigned seed = 1; seed <= 5; ++seed) {
    inputs.emplace_back("random " + std::to_string(seed), randomCollection(seed, 60));
  }
  for (const auto& [name, in] : inputs) {
    const Outcome want = convert(in, 1, size_t{1} << 20);
    if (std::string_view(name).starts_with("NUL")) {
      EXPECT_NE(want.error.find("invalid escape"), std::string::npos);
    }
    for (const size_t block : {1, 2, 7, 16, 61, 200, 1000, 1 << 16}) {
      for (const unsigned threads : {2u, 3u}) {
        const Outcome got = convert(in, threads, block);
        ASSERT_EQ(got.error, want.error) << name << ", block " << block << ", threads " << threads;
        ASSERT_EQ(got.out, want.out) << name << ", block " << block << ", threads " << threads;
        EXPECT_EQ(got.report.bad, want.report.bad) << name;
        EXPECT_EQ(got.report.badLines, want.report.badLines) << name;
      }
    }
  }
}

}  // namespace
