// The public JSONTestSuite parsing cases, read in place: the reader accepts every y_ case, rejects
// every n_ case and survives every i_ case; the writer reproduces every y_ value.
#include <gtest/gtest.h>
#include <simdjson.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "json_value.h"
#include "model/json_reader.h"
#include "model/json_writer.h"
#include "orv/location_res.h"
#include "test_data.h"

namespace orv::detail {
namespace {

// Writes `value` and parses the text again.
std::string rewrite(simdjson::dom::element value) {
  JsonWriter w;
  writeValue(w, value, JsonPath{});
  auto out = std::move(w).finish();
  return out.ok() ? out.value() : "<" + out.error().message + ">";
}

TEST(JsonTestSuite, EveryParsingCase) {
  std::string skipReason;
  auto dir = test::testData("JSONTestSuite/test_parsing", skipReason);
  if (!dir) GTEST_SKIP() << skipReason;
  std::map<char, int> counts;
  simdjson::dom::parser parser, again;
  std::string padded;
  for (const auto& entry : std::filesystem::directory_iterator(*dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".json" || name[1] != '_') continue;
    SCOPED_TRACE(name);
    ++counts[name[0]];
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string body = text.str();
    // No case is a valid LocationRes, and none may take the record decoder down.
    EXPECT_FALSE(LocationRes::decode(body).ok());
    auto root = parseDocument(body, parser, padded);
    if (name[0] == 'y') {
      ASSERT_TRUE(root.ok()) << root.error().message;
      const std::string written = rewrite(root.value());
      simdjson::dom::element back;
      ASSERT_EQ(again.parse(written).get(back), simdjson::SUCCESS) << written;
      EXPECT_TRUE(sameValue(root.value(), back)) << written;
    } else if (name[0] == 'n') {
      EXPECT_FALSE(root.ok());
    }
  }
  EXPECT_EQ(counts, (std::map<char, int>{{'i', 35}, {'n', 188}, {'y', 95}}));
}

// Exact bytes for escapes, integers beyond either 64-bit type's range and doubles that need all
// their digits.
TEST(JsonConformanceTest, WriterBytes) {
  const std::string_view in =
      R"({"a\"b\u0001\u0000\u007f\n\r\t\b\f/\\北京😀":[18446744073709551615,-9223372036854775808,)"
      R"(1.5,-0.0,1E2,0.1,5e-324,-1.7976931348623157e308,9223372036854775808.0,39.90923,true,null]})";
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  ASSERT_EQ(parser.parse(in).get(root), simdjson::SUCCESS);
  EXPECT_EQ(rewrite(root),
            R"({"a\"b\u0001\u0000)"
            "\x7f"
            R"(\n\r\t\b\f/\\北京😀":[18446744073709551615,)"
            R"(-9223372036854775808,1.5,-0.0,100.0,0.1,5e-324,-1.7976931348623157e+308,)"
            R"(9223372036854775808.0,39.90923,true,null]})");
}

}  // namespace
}  // namespace orv::detail
