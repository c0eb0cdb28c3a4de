// CSV conversion in blocks: the same bytes out whatever the block size and thread count, records
// that cannot be converted copied and counted, and memory bounded by a stray quote.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

#include "fileconv/csv_blocks.h"
#include "fileconv/file_convert.h"

namespace {

namespace fc = orv::fileconv;

struct Outcome {
  std::string out;
  fc::Report report;
};

Outcome convert(const std::string& in, unsigned threads, size_t blockSize,
                size_t maxRecord = size_t{16} << 20) {
  std::istringstream input(in);
  std::ostringstream output;
  fc::Options options{
      fc::Conversion(orv::Direction::wgsToGcj), {}, {}, {}, threads, blockSize, maxRecord};
  Outcome o;
  o.report = fc::convertCsv(input, output, options);
  o.out = output.str();
  return o;
}

// Random rows: LF or CRLF, quoted fields holding commas, quotes, line breaks and UTF-8, quoted
// and spaced coordinates, blank lines, and records that cannot be converted.
std::string randomCsv(unsigned seed, size_t rows, bool finalBreak) {
  std::mt19937 rng(seed);
  const auto pick = [&](int n) { return static_cast<int>(rng() % n); };
  const char* notes[] = {"plain",          "\"a, \"\"quoted\"\" note\"",
                         "\"two\nlines\"", "\"三行\r\n文字\n\"",
                         "é ü ß",          "\"\""};
  const char* eol = pick(2) ? "\n" : "\r\n";
  std::string s = std::string("id,Lat, lng ,note") + eol;
  for (size_t i = 0; i < rows; ++i) {
    char lat[32], lng[32];
    std::snprintf(lat, sizeof lat, "%.*f", 1 + pick(9), 18 + (rng() % 3200000) / 1e5);
    std::snprintf(lng, sizeof lng, "%.*f", 1 + pick(9), 75 + (rng() % 6200000) / 1e5);
    switch (pick(12)) {
      case 0:
        s += "";
        break;  // blank line
      case 1:
        s += std::to_string(i) + ",x," + lng + ",bad";
        break;  // not a number
      case 2:
        s += std::to_string(i) + ",91," + lng + ",off";
        break;  // off the globe
      case 3:
        s += std::to_string(i) + "," + lat + "," + lng;
        break;  // a field short
      case 4:
        s += std::to_string(i) + ",\"" + lat + "\", " + lng + " ,q";
        break;
      default:
        s += std::to_string(i) + "," + lat + "," + lng + "," + notes[pick(6)];
    }
    if (i + 1 < rows || finalBreak) s += eol;
  }
  return s;
}

TEST(CsvConvert, SameOutputForEveryBlockSizeAndThreadCount) {
  std::vector<std::pair<std::string, std::string>> inputs = {
      {"empty", ""},
      {"header only", "lat,lng\n"},
      {"header without break", "lat,lng"},
      {"last line without break", "lat,lng\r\n31.5,121.5\r\n40,116"},
      {"quoted line break at the end", "lat,lng,n\n31.5,121.5,\"a\nb\"\n"},
      {"open quote at the end", "lat,lng,n\n31.5,121.5,x\n1,2,\"open\n3,4,y\n"},
  };
  for (unsigned seed = 1; seed <= 6; ++seed) {
    inputs.emplace_back("random " + std::to_string(seed), randomCsv(seed, 300, seed % 2));
  }
  for (const auto& [name, in] : inputs) {
    const Outcome want = convert(in, 1, size_t{1} << 20);
    for (const size_t block : {1, 2, 3, 5, 16, 61, 1000}) {
      for (const unsigned threads : {1u, 2u, 3u}) {
        const Outcome got = convert(in, threads, block);
        ASSERT_EQ(got.out, want.out) << name << ", block " << block << ", threads " << threads;
        EXPECT_EQ(got.report.bad, want.report.bad) << name;
        EXPECT_EQ(got.report.badLines, want.report.badLines) << name;
      }
    }
  }
}

// What is converted, what is copied and counted, and the lines the report names.
TEST(CsvConvert, RecordsThatCannotBeConvertedAreCopiedAndCounted) {
  const struct {
    const char* in;
    uint64_t bad;
    std::vector<uint64_t> lines;
  } cases[] = {
      {"lat,lng\n1,2\n", 0, {}},
      {"lat,lng\n\n\r\n", 0, {}},
      {"lat,lng\n1,abc\n91,0\n0,-180.5\n1,2,3\n1\n\"1\",\"nan\"\n1,1e999\n", 7, {2, 3, 4, 5, 6}},
      {"lat,n,lng\n1,\"a\nb\",x\n1,\"open\n2,3\n", 2, {2, 4}},
  };
  for (const auto& c : cases) {
    const Outcome o = convert(c.in, 1, 4);
    EXPECT_EQ(o.report.bad, c.bad) << c.in;
    EXPECT_EQ(o.report.badLines, c.lines) << c.in;
    if (c.bad > 0) {
      EXPECT_EQ(o.out, c.in);  // every record here is bad: nothing changes
    }
  }
  EXPECT_EQ(fc::describe(convert(cases[2].in, 1, 4).report, "record"),
            "7 records not converted (lines 2, 3, 4, 5, 6, ...)");
}

TEST(CsvConvert, HeaderWithoutCoordinateColumnsIsRefused) {
  for (const char* in : {"a,lng\n1,2\n", "lat,b\n", "lat,\"lng\n"}) {
    EXPECT_THROW(convert(in, 2, 3), fc::InputError) << in;
  }
}

// Record ends are line breaks outside quotes; a quote left open is cut short at `maxRecord`, so
// blocks stay bounded, and the cut record is counted, not converted.
TEST(CsvBlocks, RecordEndsAndAStrayQuoteBoundTheBlocks) {
  const struct {
    const char* data;
    size_t end;
  } ends[] = {
      {"", 0},         {"abc", 0},          {"a\nb", 2},           {"a\nb\n", 4},
      {"\"a\nb\"", 0}, {"\"a\nb\"\n", 6},   {"x\n\"a\nb", 2},      {"x\n\"a\"\"\nb\"c\nd", 11},
      {"\"\"\n\"", 3}, {"\n\"\n\"\"\n", 1}, {"\"\n\"\n\"\n\"", 4},
  };
  for (const auto& e : ends) EXPECT_EQ(fc::lastRecordEnd(e.data), e.end) << e.data;

  std::string in = "lat,lng,n\n1,2,\"stray\n";
  for (int i = 0; i < 2000; ++i) in += "31.5,121.5,x\n";
  std::istringstream input(in);
  fc::BlockReader reader(input, 64, 1024);
  std::string block, joined;
  while (reader.next(block)) {
    EXPECT_LE(block.size(), 1024u + 64u + 13u);
    joined += block;
  }
  EXPECT_EQ(joined, in);
  const Outcome single = convert(in, 1, 64, 1024), threaded = convert(in, 2, 64, 1024);
  EXPECT_EQ(threaded.out, single.out);
  EXPECT_EQ(single.report.bad, 1u);
  EXPECT_EQ(single.report.badLines, std::vector<uint64_t>{2});
}

}  // namespace
