// CSV conversion in blocks of whole records: the reader splits the input at record ends, each
// block is parsed, converted (its coordinates together, by the vector engine) and formatted on
// its own, on the calling thread or on a small pool, and blocks are written in input order. A
// record is converted the same way whatever block it falls in, so the output does not depend on
// the thread count.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fileconv/csv_blocks.h"
#include "fileconv/file_convert.h"
#include "fileconv/ordered_pool.h"

namespace orv::fileconv {
namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
constexpr size_t kChunk = 4096;  // records converted together

struct Span {
  size_t begin = 0, end = 0;
};

// The coordinate columns, by index, and how many fields a record has.
struct Layout {
  size_t lat = kNone, lng = kNone, columns = 0;
};

// One record of a block, as offsets into it.
struct Record {
  size_t begin = 0, end = 0, next = 0;  // text [begin, end), line break as it was [end, next)
  size_t lines = 0;                     // line breaks from begin to next
  size_t fields = 0;
  Span lat, lng;
  bool open = false;  // a quote still open where the block ends
};

// Scans the record at `pos`: every '"' toggles quoting; ',' and '\n' outside quotes end a field
// and a record. A CR before the line break stays with the line break, so line endings pass
// through unchanged.
Record scan(std::string_view data, size_t pos, const Layout& layout) {
  Record r;
  r.begin = pos;
  const char* d = data.data();
  const size_t n = data.size();
  bool quoted = false;
  size_t fieldStart = pos, field = 0;
  const auto close = [&](size_t end) {
    if (field == layout.lat) r.lat = {fieldStart, end};
    if (field == layout.lng) r.lng = {fieldStart, end};
    ++field;
  };
  size_t i = pos;
  for (; i < n; ++i) {
    const char c = d[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',') {
      if (!quoted) close(i), fieldStart = i + 1;
    } else if (c == '\n') {
      if (!quoted) break;
      ++r.lines;
    }
  }
  r.open = quoted;
  r.next = i < n ? i + 1 : n;
  r.lines += i < n;
  r.end = (i > pos && d[i - 1] == '\r') ? i - 1 : i;
  close(std::max(fieldStart, r.end));
  r.fields = field;
  return r;
}

// The same as scan() for data without quotes, where a record is a line: memchr finds its end.
Record scanLine(std::string_view data, size_t pos, const Layout& layout) {
  Record r;
  r.begin = pos;
  const char* d = data.data();
  const char* nl = static_cast<const char*>(std::memchr(d + pos, '\n', data.size() - pos));
  const size_t i = nl ? static_cast<size_t>(nl - d) : data.size();
  r.next = nl ? i + 1 : i;
  r.lines = nl != nullptr;
  r.end = (i > pos && d[i - 1] == '\r') ? i - 1 : i;
  size_t fieldStart = pos, field = 0;
  while (true) {
    size_t at = fieldStart;  // fields are short: a loop beats a call
    while (at < i && d[at] != ',') ++at;
    const bool comma = at < i;
    const size_t end = comma ? at : std::max(fieldStart, r.end);
    if (field == layout.lat) r.lat = {fieldStart, end};
    if (field == layout.lng) r.lng = {fieldStart, end};
    ++field;
    if (!comma) break;
    fieldStart = end + 1;
  }
  r.fields = field;
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

std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

Layout readHeader(std::string_view data, const Record& head, const Options& o) {
  if (head.open) throw InputError("line 1: unterminated quoted field");
  Layout layout;
  size_t start = head.begin, index = 0;
  bool quoted = false;
  for (size_t i = head.begin; i <= head.end; ++i) {
    if (i < head.end && data[i] == '"') quoted = !quoted;
    if (i < head.end && (data[i] != ',' || quoted)) continue;
    const std::string name = lower(bare(data.substr(start, i - start)));
    const bool isLat =
        o.latColumn.empty() ? name == "lat" || name == "latitude" : name == lower(o.latColumn);
    const bool isLng = o.lngColumn.empty() ? name == "lng" || name == "lon" || name == "longitude"
                                           : name == lower(o.lngColumn);
    if (isLat && layout.lat == kNone) layout.lat = index;
    if (isLng && layout.lng == kNone) layout.lng = index;
    start = i + 1;
    ++index;
  }
  layout.columns = index;
  if (layout.lat == kNone) {
    throw InputError(o.latColumn.empty() ? "line 1: no latitude column (lat or latitude)"
                                         : "line 1: no column \"" + o.latColumn + "\"");
  }
  if (layout.lng == kNone) {
    throw InputError(o.lngColumn.empty() ? "line 1: no longitude column (lng, lon or longitude)"
                                         : "line 1: no column \"" + o.lngColumn + "\"");
  }
  return layout;
}

// A block with its output and the scratch space its conversion reuses.
struct Block {
  std::string in, out;
  uint64_t lines = 0, bad = 0;
  std::vector<uint64_t> badLines;  // 0-based lines within the block, the first few

  struct Row {
    Record record;
    bool converted, latQuoted, lngQuoted;
    int latPlaces, lngPlaces;
  };
  std::vector<Row> rows;
  std::vector<double> lat, lng;
};

class BlockConverter {
 public:
  BlockConverter(const Layout& layout, const Options& options)
      : layout_(layout), options_(options) {}

  // Records are read, converted and written a chunk at a time, so the scratch space stays small.
  void operator()(Block& b) const {
    b.badLines.clear();
    b.lines = b.bad = 0;
    b.out.clear();
    b.out.reserve(b.in.size() + b.in.size() / 4);
    const std::string_view in = b.in;
    // Most coordinate files hold no quotes at all: their records are lines.
    const bool quotes = in.find('"') != std::string_view::npos;
    for (size_t pos = 0; pos < in.size();) {
      b.rows.clear(), b.lat.clear(), b.lng.clear();
      for (; pos < in.size() && b.rows.size() < kChunk; pos = b.rows.back().record.next) {
        Block::Row row{quotes ? scan(in, pos, layout_) : scanLine(in, pos, layout_),
                       false,
                       false,
                       false,
                       0,
                       0};
        const Record& r = row.record;
        if (r.begin != r.end || r.open) {  // blank lines pass as they are
          row.converted = read(in, row, b);
          if (!row.converted) {
            if (b.badLines.size() < Report::kLinesKept) b.badLines.push_back(b.lines);
            ++b.bad;
          }
        }
        b.lines += r.lines;
        b.rows.push_back(row);
      }
      options_.convert(b.lat, b.lng);
      write(b);
    }
  }

 private:
  bool read(std::string_view in, Block::Row& row, Block& b) const {
    const Record& r = row.record;
    if (r.open || r.fields != layout_.columns) return false;
    const std::string_view lat =
        bare(in.substr(r.lat.begin, r.lat.end - r.lat.begin), &row.latQuoted);
    const std::string_view lng =
        bare(in.substr(r.lng.begin, r.lng.end - r.lng.begin), &row.lngQuoted);
    int latPlaces = 0, lngPlaces = 0;
    const auto a = parseNumber(lat, &latPlaces), o = parseNumber(lng, &lngPlaces);
    if (!a || !o || std::abs(*a) > 90.0 || std::abs(*o) > 180.0) return false;
    b.lat.push_back(*a);
    b.lng.push_back(*o);
    row.latPlaces = placesFor(options_.precision, latPlaces);
    row.lngPlaces = placesFor(options_.precision, lngPlaces);
    return true;
  }

  static void number(std::string& out, double v, int places, bool quoted) {
    if (quoted) out += '"';
    appendNumber(out, v, places);
    if (quoted) out += '"';
  }

  void write(Block& b) const {
    const char* in = b.in.data();
    std::string& out = b.out;
    size_t point = 0;
    for (const Block::Row& row : b.rows) {
      const Record& r = row.record;
      if (!row.converted) {
        out.append(in + r.begin, r.next - r.begin);
        continue;
      }
      const bool latFirst = r.lat.begin < r.lng.begin;
      const Span first = latFirst ? r.lat : r.lng, second = latFirst ? r.lng : r.lat;
      const double lat = b.lat[point], lng = b.lng[point];
      ++point;
      out.append(in + r.begin, first.begin - r.begin);
      if (latFirst) {
        number(out, lat, row.latPlaces, row.latQuoted);
      } else {
        number(out, lng, row.lngPlaces, row.lngQuoted);
      }
      out.append(in + first.end, second.begin - first.end);
      if (latFirst) {
        number(out, lng, row.lngPlaces, row.lngQuoted);
      } else {
        number(out, lat, row.latPlaces, row.latQuoted);
      }
      out.append(in + second.end, r.next - second.end);
    }
  }

  Layout layout_;
  const Options& options_;
};

}  // namespace

Report convertCsv(std::istream& in, std::ostream& out, const Options& options) {
  BlockReader reader(in, options.blockSize, options.maxRecord);
  auto first = std::make_unique<Block>();
  if (!reader.next(first->in)) {
    if (reader.failed()) throw std::runtime_error("reading input failed");
    return {};
  }
  const Record head = scan(first->in, 0, {});
  const BlockConverter convert(readHeader(first->in, head, options), options);
  out.write(first->in.data(), static_cast<std::streamsize>(head.next));
  first->in.erase(0, head.next);

  Report report;
  uint64_t lines = head.lines;  // line breaks written so far
  const auto deliver = [&](const Block& b) {
    out.write(b.out.data(), static_cast<std::streamsize>(b.out.size()));
    if (!out) throw std::runtime_error("writing output failed");
    for (const uint64_t at : b.badLines) {
      if (report.badLines.size() < Report::kLinesKept) report.badLines.push_back(lines + at + 1);
    }
    report.bad += b.bad;
    lines += b.lines;
  };
  if (options.threads <= 1) {
    do {
      convert(*first);
      deliver(*first);
    } while (reader.next(first->in));
  } else {
    OrderedPool<Block> pool(options.threads, convert);
    pool.submit(std::move(first), deliver);
    for (auto block = pool.spare(); reader.next(block->in); block = pool.spare()) {
      pool.submit(std::move(block), deliver);
    }
    pool.drain(deliver);
  }
  if (reader.failed()) throw std::runtime_error("reading input failed");
  return report;
}

}  // namespace orv::fileconv
