// JSON text as the GeoJSON converter reads it: from a stream in blocks, or one piece held whole;
// and a scanner that finds where a run of values ends without parsing them, so that runs can be
// cut off and converted on other threads.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

namespace orv::fileconv {

class JsonSource {
 public:
  static constexpr int kEnd = -1;

  JsonSource(std::istream& in, size_t blockSize);
  explicit JsonSource(std::string_view text) : data_(text) {}

  int peek() { return pos_ < data_.size() ? static_cast<unsigned char>(data_[pos_]) : refill(); }
  void skip() { ++pos_; }  // after a peek() that was not kEnd

  // How values follow each other: array elements ('[' or '{', or '[' only, between commas), or
  // the top-level objects of a sequence ('{', between spaces and record separators).
  enum class Values { elements, arrays, objects };
  struct Run {
    size_t length = 0;  // from the next byte through the end of the last value
    size_t values = 0;
  };

  // The longest run of whole values of `kind` starting at the next byte, each shorter than
  // `limit`, stopping after the first value that brings it to `target` bytes. Values are only
  // delimited (brackets outside strings), not checked: when they are malformed the cut falls
  // where the parser fails anyway. Nothing is consumed; empty when the first value is longer.
  Run run(Values kind, size_t target, size_t limit);

  // What is buffered from the next byte on (possibly nothing; peek() reads more).
  std::string_view buffered() const { return data_.substr(pos_); }

  // Consumes `n` bytes (no more than a run's length or what is buffered).
  std::string_view take(size_t n) {
    const std::string_view s = data_.substr(pos_, n);
    pos_ += n;
    return s;
  }

  bool failed() const { return in_ && in_->bad(); }

 private:
  int refill() { return more() ? static_cast<unsigned char>(data_[pos_]) : kEnd; }
  bool more();            // appends a block of the stream to what is unread; false at its end
  int at(size_t offset);  // the byte `offset` past the next one, reading ahead as needed
  size_t valueEnd(size_t begin, size_t limit);

  std::istream* in_ = nullptr;
  size_t blockSize_ = 0;
  std::string own_;
  std::string_view data_;
  size_t pos_ = 0;
  bool eof_ = false;
};

}  // namespace orv::fileconv
