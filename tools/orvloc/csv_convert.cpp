// CSV conversion in blocks: large reads, records located in the read buffer, each block's
// coordinates converted together by the vector engine, the output assembled in one buffer. Memory
// stays at a few megabytes whatever the file size (one record may grow the buffer).
#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "file_convert.h"
#include "text_number.h"

namespace orvloc {
namespace {

constexpr size_t kBlockRecords = 8192;
constexpr size_t kFlushAt = size_t{1} << 20;
constexpr size_t kNone = static_cast<size_t>(-1);

struct Span {
  size_t begin, end;
  size_t size() const { return end - begin; }
};

// One data record of the current block, as offsets into the read buffer.
struct Row {
  Span record;         // without its line break
  Span eol;            // the line break as it was: "\n", "\r\n", or nothing at the end of the input
  Span first, second;  // the coordinate fields in the order they appear
  bool firstQuoted, secondQuoted, latFirst, blank;
};

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

class CsvConverter {
 public:
  CsvConverter(std::istream& in, std::ostream& out, const Conversion& convert, size_t readSize)
      : in_(in),
        out_(out),
        convert_(convert),
        buf_(std::make_unique_for_overwrite<char[]>(readSize)),
        capacity_(readSize) {}

  void run() {
    fill();
    Next next;
    while ((next = locate()) == Next::kNeedMore) compact();
    if (next == Next::kEnd) throw InputError("line 1: missing header row");
    readHeader();
    while (!done_) {
      try {
        readBlock();
      } catch (const InputError&) {
        writeBlock();  // what came before the fault is still written, as a stream would
        throw;
      }
      writeBlock();
      if (needMore_) compact();
    }
    flush();
    if (in_.bad()) throw std::runtime_error("reading input failed");
  }

 private:
  std::string_view text(Span s) const { return {buf_.get() + s.begin, s.size()}; }
  std::string where() const { return "line " + std::to_string(recordLine_); }

  // Moves the unread rest (part of a record) to the front of the buffer and reads more after it.
  void compact() {
    std::memmove(buf_.get(), buf_.get() + pos_, size_ - pos_);
    size_ -= pos_;
    pos_ = 0;
    fill();
  }

  void fill() {
    if (eof_) return;
    if (size_ == capacity_) {  // one record fills the buffer
      auto bigger = std::make_unique_for_overwrite<char[]>(2 * capacity_);
      std::memcpy(bigger.get(), buf_.get(), size_);
      buf_ = std::move(bigger);
      capacity_ *= 2;
    }
    in_.read(buf_.get() + size_, static_cast<std::streamsize>(capacity_ - size_));
    const auto got = static_cast<size_t>(in_.gcount());
    size_ += got;
    eof_ = got == 0 || !in_;
  }

  enum class Next { kRecord, kNeedMore, kEnd };

  // Locates the record at pos_ and its fields.
  Next locate() {
    if (pos_ == size_) return eof_ ? Next::kEnd : Next::kNeedMore;
    if (scanRecord()) return Next::kRecord;
    if (!eof_) return Next::kNeedMore;
    // The last record, without a line break after it.
    if (quoted_) {
      throw InputError("line " + std::to_string(recordLine_) + ": unterminated quoted field");
    }
    finishRecord(size_, size_);
    return Next::kRecord;
  }

  // Scans from pos_ for the line break that ends the record; false if the buffer ends first.
  bool scanRecord() {
    fields_.clear();
    quoted_ = false;
    fieldStart_ = pos_;
    recordLine_ = line_ + 1;
    const char* data = buf_.get();
    for (size_t i = pos_; i < size_; ++i) {
      const char c = data[i];
      if (c == '"') {
        quoted_ = !quoted_;
      } else if (c == ',' && !quoted_) {
        fields_.push_back({fieldStart_, i});
        fieldStart_ = i + 1;
      } else if (c == '\n') {
        if (!quoted_) return finishRecord(i, i + 1), true;
        if (i + 1 < size_ || !eof_) ++recordLine_;
      }
    }
    return false;
  }

  // The record ends at `end`; the input continues at `next`. A CR before the line break stays
  // with the line break, so line endings pass through unchanged.
  void finishRecord(size_t end, size_t next) {
    size_t recordEnd = end;
    if (recordEnd > pos_ && buf_[recordEnd - 1] == '\r') --recordEnd;
    fields_.push_back({fieldStart_, std::max(fieldStart_, recordEnd)});
    record_ = {pos_, recordEnd};
    eol_ = {recordEnd, next};
    line_ = recordLine_;
    pos_ = next;
  }

  void readHeader() {
    for (size_t i = 0; i < fields_.size(); ++i) {
      const std::string name = lower(bare(text(fields_[i])));
      if ((name == "lat" || name == "latitude") && latCol_ == kNone) latCol_ = i;
      if ((name == "lng" || name == "lon" || name == "longitude") && lngCol_ == kNone) lngCol_ = i;
    }
    if (latCol_ == kNone) throw InputError("line 1: no latitude column (lat or latitude)");
    if (lngCol_ == kNone) throw InputError("line 1: no longitude column (lng, lon or longitude)");
    columns_ = fields_.size();
    appendRaw(record_.begin, eol_.end);
  }

  double value(Span field, const char* what, double limit) const {
    const std::string_view raw = text(field);
    const auto v = parseNumber(bare(raw));
    if (!v) {
      throw InputError(where() + ": " + what + " is not a number: \"" + std::string(raw) + "\"");
    }
    if (std::abs(*v) > limit) {
      throw InputError(where() + ": " + what + " out of range [" + formatNumber(-limit) + ", " +
                       formatNumber(limit) + "]: \"" + std::string(raw) + "\"");
    }
    return *v;
  }

  // Locates and reads up to a block of records (whole records only; the rest waits for the
  // next block, after the buffer is compacted).
  void readBlock() {
    while (rows_.size() < kBlockRecords) {
      const Next next = locate();
      needMore_ = next == Next::kNeedMore;
      if (next == Next::kEnd) done_ = true;
      if (next != Next::kRecord) return;
      Row row{record_, eol_, {}, {}, false, false, true, record_.begin == record_.end};
      if (!row.blank) {
        if (fields_.size() != columns_) {
          throw InputError(where() + ": " + std::to_string(fields_.size()) +
                           " fields, header has " + std::to_string(columns_));
        }
        lat_.push_back(value(fields_[latCol_], "latitude", 90.0));
        lng_.push_back(value(fields_[lngCol_], "longitude", 180.0));
        row.latFirst = latCol_ < lngCol_;
        row.first = fields_[std::min(latCol_, lngCol_)];
        row.second = fields_[std::max(latCol_, lngCol_)];
        bare(text(row.first), &row.firstQuoted);
        bare(text(row.second), &row.secondQuoted);
      }
      rows_.push_back(row);
    }
  }

  void appendRaw(size_t begin, size_t end) { out_buf_.append(buf_.get() + begin, end - begin); }

  void appendNumber(double v, bool quoted) {
    char digits[400];
    const auto r = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed);
    if (quoted) out_buf_ += '"';
    out_buf_.append(digits, r.ptr);
    if (quoted) out_buf_ += '"';
  }

  void writeBlock() {
    convert_(lat_, lng_);
    size_t point = 0;
    for (const Row& row : rows_) {
      if (!row.blank) {
        const double a = row.latFirst ? lat_[point] : lng_[point];
        const double b = row.latFirst ? lng_[point] : lat_[point];
        ++point;
        appendRaw(row.record.begin, row.first.begin);
        appendNumber(a, row.firstQuoted);
        appendRaw(row.first.end, row.second.begin);
        appendNumber(b, row.secondQuoted);
        appendRaw(row.second.end, row.record.end);
      }
      appendRaw(row.eol.begin, row.eol.end);
      if (out_buf_.size() >= kFlushAt) flush();
    }
    rows_.clear();
    lat_.clear();
    lng_.clear();
  }

  void flush() {
    out_.write(out_buf_.data(), static_cast<std::streamsize>(out_buf_.size()));
    if (!out_) throw std::runtime_error("writing output failed");
    out_buf_.clear();
  }

  std::istream& in_;
  std::ostream& out_;
  const Conversion& convert_;
  std::unique_ptr<char[]> buf_;  // not zeroed: only [0, size_) is ever read
  size_t capacity_, pos_ = 0, size_ = 0;
  bool eof_ = false, done_ = false, needMore_ = false;

  std::vector<Span> fields_;
  Span record_{}, eol_{};
  size_t fieldStart_ = 0, line_ = 0, recordLine_ = 0;
  bool quoted_ = false;

  size_t latCol_ = kNone, lngCol_ = kNone, columns_ = 0;
  std::vector<Row> rows_;
  std::vector<double> lat_, lng_;
  std::string out_buf_;
};

}  // namespace

void convertCsv(std::istream& in, std::ostream& out, const Conversion& convert, size_t readSize) {
  CsvConverter(in, out, convert, std::max<size_t>(readSize, 1)).run();
}

}  // namespace orvloc
