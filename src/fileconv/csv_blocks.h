// Splits a CSV stream into blocks of whole records, so blocks can be converted independently.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

namespace orv::fileconv {

// Where the last record of `data` ends: the position after the last line break outside quotes
// (every '"' toggles quoting, as the record scanner reads them), or 0 when there is none. `data`
// starts at a record boundary.
size_t lastRecordEnd(std::string_view data);

class BlockReader {
 public:
  // Reads `blockSize` bytes at a time. A block that holds no record end grows by another read,
  // until it is `maxRecord` long: then it is cut after the first line break past that point.
  BlockReader(std::istream& in, size_t blockSize, size_t maxRecord);

  // The next block into `block` (its old capacity is reused): whole records, the last block of
  // the input possibly without a final line break. False at the end of the input.
  bool next(std::string& block);

  bool failed() const { return in_.bad(); }

 private:
  std::istream& in_;
  size_t blockSize_, maxRecord_;
  std::string carry_;  // the start of a record that the previous block could not hold
  bool eof_ = false;
};

}  // namespace orv::fileconv
