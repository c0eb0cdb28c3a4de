// Column widths in terminal cells: what keeps Chinese and Latin text aligned, whatever the bytes.
#include "table.h"

#include <gtest/gtest.h>

#include <sstream>

namespace orvloc {
namespace {

TEST(Table, CountsCellsAndCutsOnWholeCharacters) {
  EXPECT_EQ(displayWidth("a人（）…é"), 9u);         // wide CJK and full-width, narrow others
  EXPECT_EQ(displayWidth("\xf0\xa0\x80\x80"), 2u);  // plane 2
  EXPECT_EQ(displayWidth("\xff\xe4\xba"), 3u);      // not UTF-8, then a cut sequence
  EXPECT_EQ(displayWidth("\xe4xy"), 3u);            // a lead byte without its continuation
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
