// The public JSONTestSuite parsing cases, read in place: the reader under the records accepts
// every y_ case, rejects every n_ case and survives every i_ case; our writer reproduces every
// y_ value.
#include <gtest/gtest.h>
#include <simdjson.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model/json_reader.h"
#include "model/json_value.h"
#include "model/json_writer.h"
#include "orv/location_res.h"
#include "test_data.h"

namespace orv::detail {
namespace {

namespace fs = std::filesystem;

struct Case {
  std::string name;
  std::string body;
};

class JsonTestSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string skipReason;
    auto found = test::testData("JSONTestSuite/test_parsing", skipReason);
    if (!found) GTEST_SKIP() << skipReason;
    dir_ = *found;
  }

  // Every case whose file name starts with `prefix`, in name order.
  std::vector<Case> cases(const std::string& prefix) const {
    std::vector<Case> out;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(prefix, 0) != 0 || entry.path().extension() != ".json") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream body;
      body << in.rdbuf();
      out.push_back({name, body.str()});
    }
    std::sort(out.begin(), out.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
    return out;
  }

 private:
  fs::path dir_;
};

TEST_F(JsonTestSuite, AcceptsEveryYesCase) {
  const auto all = cases("y_");
  ASSERT_EQ(all.size(), 95u);
  simdjson::dom::parser parser;
  std::string padded;
  for (const auto& c : all) {
    auto root = parseDocument(c.body, parser, padded);
    EXPECT_TRUE(root.ok()) << c.name << ": " << root.error().message;
    // Through a record decoder, valid JSON of the wrong shape is a shape error, never corrupt.
    auto record = LocationRes::decode(c.body);
    ASSERT_FALSE(record.ok()) << c.name;
    EXPECT_NE(record.error().code, static_cast<int64_t>(DecodingErrorCode::dataCorrupted))
        << c.name << ": " << record.error().message;
  }
}

TEST_F(JsonTestSuite, RejectsEveryNoCase) {
  const auto all = cases("n_");
  ASSERT_EQ(all.size(), 188u);
  simdjson::dom::parser parser;
  std::string padded;
  for (const auto& c : all) {
    EXPECT_FALSE(parseDocument(c.body, parser, padded).ok()) << c.name;
    auto record = LocationRes::decode(c.body);
    ASSERT_FALSE(record.ok()) << c.name;
    EXPECT_EQ(record.error().message.rfind("dataCorrupted: top level invalid JSON: ", 0), 0u)
        << c.name << ": " << record.error().message;
  }
}

// Either answer is allowed; what matters is a clean one.
TEST_F(JsonTestSuite, SurvivesEveryImplementationDefinedCase) {
  const auto all = cases("i_");
  ASSERT_EQ(all.size(), 35u);
  for (const auto& c : all) {
    auto record = LocationRes::decode(c.body);
    ASSERT_FALSE(record.ok()) << c.name;
    EXPECT_FALSE(record.error().message.empty()) << c.name;
  }
}

TEST_F(JsonTestSuite, WriterReproducesEveryYesValue) {
  simdjson::dom::parser original, rewritten;
  std::string padded;
  for (const auto& c : cases("y_")) {
    auto root = parseDocument(c.body, original, padded);
    ASSERT_TRUE(root.ok()) << c.name;
    JsonWriter w;
    writeValue(w, root.value(), JsonPath{});
    auto out = std::move(w).finish();
    ASSERT_TRUE(out.ok()) << c.name << ": " << out.error().message;
    simdjson::dom::element again;
    ASSERT_EQ(rewritten.parse(out.value()).get(again), simdjson::SUCCESS) << c.name;
    EXPECT_TRUE(sameValue(root.value(), again)) << c.name << " wrote " << out.value();
  }
}

TEST(JsonConformanceTest, WriterEscapesKeysAndKeepsIntegers) {
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  ASSERT_EQ(parser
                .parse(std::string_view(R"({"a\"b\u0001":18446744073709551615,)"
                                        R"("":-9223372036854775808,"k":[1.5,-0.0,1E2,true,null]})"))
                .get(root),
            simdjson::SUCCESS);
  JsonWriter w;
  writeValue(w, root, JsonPath{});
  EXPECT_EQ(std::move(w).finish().value(),
            R"({"a\"b\u0001":18446744073709551615,"":-9223372036854775808,)"
            R"("k":[1.5,-0.0,100.0,true,null]})");
}

// The comparison itself must tell values apart, or the test above proves nothing.
TEST(JsonConformanceTest, SameValueTellsValuesApart) {
  struct Pair {
    const char* a;
    const char* b;
    bool same;
  };
  const Pair pairs[] = {
      {"1", "1.0", true},
      {"0.0", "-0.0", false},
      {"[1,2]", "[2,1]", false},
      {R"({"a":1,"b":2})", R"({"b":2,"a":1})", false},
      {"[]", "{}", false},
      {"9223372036854775807", "9223372036854775806", false},
      {R"({"a":[{}]})", R"({"a":[{}]})", true},
  };
  simdjson::dom::parser pa, pb;
  for (const auto& p : pairs) {
    simdjson::dom::element a, b;
    ASSERT_EQ(pa.parse(std::string_view(p.a)).get(a), simdjson::SUCCESS) << p.a;
    ASSERT_EQ(pb.parse(std::string_view(p.b)).get(b), simdjson::SUCCESS) << p.b;
    EXPECT_EQ(sameValue(a, b), p.same) << p.a << " vs " << p.b;
  }
}

}  // namespace
}  // namespace orv::detail
