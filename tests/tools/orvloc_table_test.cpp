// Column widths in terminal cells: what keeps Chinese and Latin text aligned.
#include "table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace orvloc {
namespace {

struct WidthCase {
  const char* text;
  std::size_t cells;
};

// Test names stay ASCII: other bytes as \xNN.
std::string ascii(const char* text) {
  std::string out;
  for (const char* p = text; *p != 0; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    char buf[8];
    std::snprintf(buf, sizeof buf, c < 0x80 ? "%c" : "\\x%02X", c);
    out += buf;
  }
  return out;
}

void PrintTo(const WidthCase& c, std::ostream* os) { *os << '"' << ascii(c.text) << '"'; }

class DisplayWidth : public testing::TestWithParam<WidthCase> {};

TEST_P(DisplayWidth, CountsCells) { EXPECT_EQ(displayWidth(GetParam().text), GetParam().cells); }

INSTANTIATE_TEST_SUITE_P(Cases, DisplayWidth,
                         testing::Values(WidthCase{"", 0}, WidthCase{"abc", 3},
                                         WidthCase{"人民广场", 8}, WidthCase{"a人b", 4},
                                         WidthCase{"（，）", 6},    // full-width punctuation
                                         WidthCase{"…é", 2},        // narrow non-ASCII
                                         WidthCase{"\xff\xfe", 2},  // not UTF-8
                                         WidthCase{"\xe4\xba", 2},  // cut sequence
                                         WidthCase{"\xf0\xa0\x80\x80", 2}));  // plane 2

struct FitCase {
  const char* text;
  std::size_t width;
  bool right;
  const char* expected;
};

void PrintTo(const FitCase& c, std::ostream* os) {
  *os << '"' << ascii(c.text) << "\" in " << c.width << (c.right ? " right" : "");
}

class FitCells : public testing::TestWithParam<FitCase> {};

TEST_P(FitCells, CutsAndPads) {
  const auto& c = GetParam();
  EXPECT_EQ(fitCells(c.text, c.width, c.right), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FitCells,
                         testing::Values(FitCase{"abc", 5, false, "abc  "},
                                         FitCase{"abc", 5, true, "  abc"},
                                         FitCase{"abcdef", 4, false, "abc…"},
                                         // a wide character that would overrun is left out
                                         FitCase{"人民大道", 5, false, "人民…"},
                                         FitCase{"人民大道", 4, false, "人… "},
                                         FitCase{"人民大道", 8, false, "人民大道"}));

TEST(Table, AlignsMixedTextAndNeverCutsTheLastColumn) {
  Table table({{"name", 6}, {"n", 3, true}, {"address", 4}});
  std::ostringstream out;
  table.printHeader(out);
  table.printRow(out, {"人民", "7", "上海市黄浦区"});
  table.printRow(out, {"ab"});
  EXPECT_EQ(out.str(),
            "name      n  address\n"
            "人民      7  上海市黄浦区\n"
            "ab\n");
}

}  // namespace
}  // namespace orvloc
