#include "fileconv/json_source.h"

#include <algorithm>

namespace orv::fileconv {
namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

bool space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

JsonSource::JsonSource(std::istream& in, size_t blockSize)
    : in_(&in), blockSize_(std::max<size_t>(blockSize, 1)) {}

bool JsonSource::more() {
  if (!in_ || eof_) return false;
  own_.erase(0, pos_);  // what was read goes; memory holds the unread part and one block
  pos_ = 0;
  const size_t old = own_.size();
  own_.resize(old + blockSize_);
  in_->read(own_.data() + old, static_cast<std::streamsize>(blockSize_));
  const auto got = static_cast<size_t>(in_->gcount());
  own_.resize(old + got);
  eof_ = got < blockSize_;
  data_ = own_;
  return got > 0;
}

int JsonSource::at(size_t offset) {
  while (pos_ + offset >= data_.size()) {
    if (!more()) return kEnd;
  }
  return static_cast<unsigned char>(data_[pos_ + offset]);
}

// Where the array or object at `begin` ends (offsets from the next byte), or kNone when it does
// not within `limit` bytes.
size_t JsonSource::valueEnd(size_t begin, size_t limit) {
  int depth = 0;
  bool quoted = false, escaped = false;
  const size_t stop = begin + limit;
  for (size_t i = begin; i < stop;) {
    if (pos_ + i >= data_.size() && !more()) return kNone;
    const char* d = data_.data() + pos_;  // what is buffered, from the next byte
    for (const size_t n = std::min(stop, data_.size() - pos_); i < n; ++i) {
      const char c = d[i];
      if (quoted) {
        if (escaped) {
          escaped = false;
        } else if (c == '\\') {
          escaped = true;
        } else if (c == '"') {
          quoted = false;
        }
      } else if (c == '"') {
        quoted = true;
      } else if (c == '{' || c == '[') {
        ++depth;
      } else if ((c == '}' || c == ']') && --depth == 0) {
        return i + 1;
      }
    }
  }
  return kNone;
}

JsonSource::Run JsonSource::run(Values kind, size_t target, size_t limit) {
  const auto opens = [kind](int c) {
    return kind == Values::objects  ? c == '{'
           : kind == Values::arrays ? c == '['
                                    : c == '{' || c == '[';
  };
  Run r;
  if (!opens(at(0))) return r;
  for (size_t begin = 0;;) {
    const size_t end = valueEnd(begin, limit);
    if (end == kNone) return r;
    r.length = end;
    ++r.values;
    if (end >= target) return r;
    // The separator: spaces around one comma, or spaces and record separators.
    size_t next = end;
    bool comma = false;
    for (int c = at(next);; c = at(++next)) {
      if (next - end > limit) return r;
      if (space(c) || (kind == Values::objects && c == 0x1e)) continue;
      if (c == ',' && kind != Values::objects && !comma) {
        comma = true;
        continue;
      }
      if ((kind == Values::objects || comma) && opens(c)) break;
      return r;
    }
    begin = next;
  }
}

}  // namespace orv::fileconv
