// Aligned text columns for people: widths are terminal cells, so Chinese text (two cells per
// character) lines up with Latin text. Rows are printed as they come, so widths are fixed up front.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace orvloc {

// Terminal cells taken by UTF-8 text: East Asian wide and full-width characters count two.
std::size_t displayWidth(std::string_view utf8);

// Cut to at most `width` cells (ending in "…" when cut), then padded with spaces to `width`.
std::string fitCells(std::string_view utf8, std::size_t width, bool alignRight = false);

struct Column {
  std::string title;
  std::size_t width;
  bool alignRight = false;
};

class Table {
 public:
  explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}
  void printHeader(std::ostream& out) const;
  // Missing cells print empty; extra cells are ignored. The last column is not padded.
  void printRow(std::ostream& out, const std::vector<std::string>& cells) const;

 private:
  std::vector<Column> columns_;
};

}  // namespace orvloc
