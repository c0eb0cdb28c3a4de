#include "batch_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "fileconv/file_convert.h"

namespace orvloc {

std::optional<std::vector<std::string>> readCsvRecord(std::istream& in) {
  if (in.peek() == std::char_traits<char>::eof()) return std::nullopt;
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
    const char ch = static_cast<char>(c);
    if (quoted) {
      if (ch != '"') {
        fields.back() += ch;
      } else if (in.peek() == '"') {
        fields.back() += static_cast<char>(in.get());
      } else {
        quoted = false;
      }
    } else if (ch == '"') {
      quoted = true;
    } else if (ch == ',') {
      fields.emplace_back();
    } else if (ch == '\n') {
      break;
    } else if (ch != '\r' || in.peek() != '\n') {
      fields.back() += ch;
    }
  }
  return fields;
}

std::string csvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (const char ch : text) {
    if (ch == '"') out += '"';
    out += ch;
  }
  return out + "\"";
}

std::optional<size_t> CsvTable::column(std::initializer_list<std::string_view> names) const {
  for (size_t i = 0; i < header.size(); ++i) {
    for (const std::string_view name : names) {
      if (header[i] == name) return i;
    }
  }
  return std::nullopt;
}

CsvTable readCsvFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
  CsvTable table;
  if (auto header = readCsvRecord(in)) table.header = std::move(*header);
  if (!table.header.empty() && table.header[0].starts_with("\xEF\xBB\xBF")) {
    table.header[0].erase(0, 3);  // a byte order mark
  }
  size_t line = 1;
  while (auto row = readCsvRecord(in)) {
    ++line;
    if (row->size() == 1 && row->front().empty()) continue;  // a blank line
    if (row->size() != table.header.size()) {
      throw orv::fileconv::InputError(path + ": record " + std::to_string(line) + " has " +
                                      std::to_string(row->size()) + " fields, the header " +
                                      std::to_string(table.header.size()));
    }
    table.rows.push_back(std::move(*row));
  }
  return table;
}

size_t prepareResume(const std::string& path, bool csvOutput) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return 0;
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
  }
  // The end of the last complete record: a line break outside quotes (CSV fields may hold line
  // breaks; JSON lines never do).
  size_t complete = 0;
  size_t records = 0;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (csvOutput && text[i] == '"') quoted = !quoted;
    if (text[i] == '\n' && !quoted) {
      complete = i + 1;
      ++records;
    }
  }
  if (complete < text.size()) {
    if (::truncate(path.c_str(), static_cast<off_t>(complete)) != 0) {
      throw std::runtime_error("cannot truncate " + path + ": " + std::strerror(errno));
    }
  }
  if (csvOutput && records > 0) --records;  // the header
  return records;
}

}  // namespace orvloc
