// Column widths in terminal cells: what keeps Chinese and Latin text aligned.
#include "table.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

namespace orvloc {
namespace {

TEST(Table, DisplayWidthCountsCells) {
  const std::pair<const char*, std::size_t> cases[] = {
      {"a人b", 4},
      {"（，）", 6},             // full-width punctuation
      {"…é", 2},                 // narrow non-ASCII
      {"\xff\xfe", 2},           // not UTF-8
      {"\xe4\xba", 2},           // cut sequence
      {"\xe4xy", 3},             // a lead byte without its continuation
      {"\xf0\xa0\x80\x80", 2}};  // plane 2
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(displayWidth(cases[i].first), cases[i].second) << "case " << i;
  }
}

TEST(Table, FitCellsCutsAndPads) {
  EXPECT_EQ(fitCells("abc", 5, false), "abc  ");
  EXPECT_EQ(fitCells("abc", 5, true), "  abc");
  EXPECT_EQ(fitCells("abcdef", 4, false), "abc…");
  EXPECT_EQ(fitCells("人民大道", 4, false), "人… ");  // a wide character that would overrun
}

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
