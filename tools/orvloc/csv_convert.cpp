#include <algorithm>
#include <string>
#include <vector>

#include "file_convert.h"
#include "text_number.h"

namespace orvloc {
namespace {

struct Field {
  size_t begin, end;  // byte range of the field in its record
};

// Splits a record at commas outside quotes. Returns false while a quote is still open.
bool splitRecord(const std::string& record, std::vector<Field>& fields) {
  fields.clear();
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < record.size(); ++i) {
    const char c = record[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.push_back({start, i});
      start = i + 1;
    }
  }
  fields.push_back({start, record.size()});
  return !quoted;
}

std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// The field's text without surrounding spaces or one pair of quotes.
std::string_view bare(std::string_view s, bool* wasQuoted = nullptr) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  const bool q = s.size() >= 2 && s.front() == '"' && s.back() == '"';
  if (q) s = s.substr(1, s.size() - 2);
  if (wasQuoted) *wasQuoted = q;
  return s;
}

// Reads one record (more than one line when a quoted field holds a line break). Returns false at
// the end. `terminated` tells whether the record ended with a line break; a CR before it is kept
// in `eol` so line endings pass through unchanged.
bool readRecord(std::istream& in, std::string& record, std::string& eol, size_t& line,
                std::vector<Field>& fields) {
  record.clear();
  std::string part;
  bool first = true;
  while (true) {
    if (!std::getline(in, part)) {
      if (first) return false;
      throw InputError("line " + std::to_string(line) + ": unterminated quoted field");
    }
    ++line;
    if (!first) record += '\n';
    record += part;
    first = false;
    if (splitRecord(record, fields)) break;
  }
  eol = in.eof() ? "" : "\n";
  if (!record.empty() && record.back() == '\r') {
    record.pop_back();
    eol.insert(eol.begin(), '\r');
    fields.back().end = std::min(fields.back().end, record.size());
  }
  return true;
}

}  // namespace

void convertCsv(std::istream& in, std::ostream& out, const Conversion& convert) {
  std::string record, eol;
  std::vector<Field> fields;
  size_t line = 0;
  if (!readRecord(in, record, eol, line, fields)) throw InputError("line 1: missing header row");

  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t latCol = kNone, lngCol = kNone;
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string name = lower(
        bare(std::string_view(record).substr(fields[i].begin, fields[i].end - fields[i].begin)));
    if ((name == "lat" || name == "latitude") && latCol == kNone) latCol = i;
    if ((name == "lng" || name == "lon" || name == "longitude") && lngCol == kNone) lngCol = i;
  }
  if (latCol == kNone) throw InputError("line 1: no latitude column (lat or latitude)");
  if (lngCol == kNone) throw InputError("line 1: no longitude column (lng, lon or longitude)");
  const size_t columns = fields.size();
  out << record << eol;

  std::string result;
  while (readRecord(in, record, eol, line, fields)) {
    if (record.empty()) {  // blank lines carry no point
      out << eol;
      continue;
    }
    const std::string where = "line " + std::to_string(line);
    if (fields.size() != columns) {
      throw InputError(where + ": " + std::to_string(fields.size()) + " fields, header has " +
                       std::to_string(columns));
    }
    auto value = [&](size_t col, const char* what) {
      const std::string_view raw =
          std::string_view(record).substr(fields[col].begin, fields[col].end - fields[col].begin);
      const auto v = parseNumber(bare(raw));
      if (!v)
        throw InputError(where + ": " + what + " is not a number: \"" + std::string(raw) + "\"");
      return *v;
    };
    const orv::Coordinate c = convert({value(latCol, "latitude"), value(lngCol, "longitude")});
    result.clear();
    for (size_t i = 0; i < columns; ++i) {
      if (i) result += ',';
      if (i == latCol || i == lngCol) {
        bool quoted = false;
        bare(std::string_view(record).substr(fields[i].begin, fields[i].end - fields[i].begin),
             &quoted);
        const std::string text = formatNumber(i == latCol ? c.latitude : c.longitude);
        result += quoted ? "\"" + text + "\"" : text;
      } else {
        result.append(record, fields[i].begin, fields[i].end - fields[i].begin);
      }
    }
    out << result << eol;
    if (!out) throw std::runtime_error("writing output failed");
  }
  if (in.bad()) throw std::runtime_error("reading input failed");
}

}  // namespace orvloc
