#include "table.h"

#include <algorithm>

namespace orvloc {
namespace {

// Decodes one code point; an invalid or cut sequence counts as one narrow character per byte.
char32_t next(std::string_view s, std::size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const int extra = b < 0x80             ? 0
                    : (b & 0xE0) == 0xC0 ? 1
                    : (b & 0xF0) == 0xE0 ? 2
                    : (b & 0xF8) == 0xF0 ? 3
                                         : -1;
  if (extra <= 0 || i + extra >= s.size()) {
    ++i;
    return extra == 0 ? b : U'?';
  }
  char32_t c = b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto cont = static_cast<unsigned char>(s[i + k]);
    if ((cont & 0xC0) != 0x80) {
      ++i;
      return U'?';
    }
    c = (c << 6) | (cont & 0x3F);
  }
  i += extra + 1;
  return c;
}

bool isWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

std::size_t displayWidth(std::string_view utf8) {
  std::size_t cells = 0;
  for (std::size_t i = 0; i < utf8.size();) cells += isWide(next(utf8, i)) ? 2 : 1;
  return cells;
}

std::string fitCells(std::string_view utf8, std::size_t width, bool alignRight) {
  std::string text;
  std::size_t cells = displayWidth(utf8);
  if (cells <= width) {
    text = utf8;
  } else {
    // Keep whole characters that fit beside the one-cell ellipsis.
    cells = 0;
    for (std::size_t i = 0; i < utf8.size();) {
      const std::size_t start = i;
      const std::size_t w = isWide(next(utf8, i)) ? 2 : 1;
      if (cells + w + 1 > width) break;
      cells += w;
      text.append(utf8.substr(start, i - start));
    }
    if (width > 0) {
      text += "…";
      ++cells;
    }
  }
  const std::string pad(width - cells, ' ');
  return alignRight ? pad + text : text + pad;
}

void Table::printHeader(std::ostream& out) const {
  std::vector<std::string> titles;
  for (const auto& c : columns_) titles.push_back(c.title);
  printRow(out, titles);
}

void Table::printRow(std::ostream& out, const std::vector<std::string>& cells) const {
  std::string line;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const std::string cell = i < cells.size() ? cells[i] : std::string();
    const bool last = i + 1 == columns_.size();
    if (i > 0) line += "  ";
    // The last column is never cut: nothing follows it.
    const std::size_t width = last && !columns_[i].alignRight
                                  ? std::max(columns_[i].width, displayWidth(cell))
                                  : columns_[i].width;
    line += fitCells(cell, width, columns_[i].alignRight);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  out << line << '\n';
}

}  // namespace orvloc
