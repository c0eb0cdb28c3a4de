#include "fileconv/csv_blocks.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace orv::fileconv {

namespace {

// The last '\n' in [begin, end), or npos.
size_t lastBreak(std::string_view data, size_t begin, size_t end) {
  if (begin >= end) return std::string_view::npos;
  const void* p = memrchr(data.data() + begin, '\n', end - begin);
  return p ? static_cast<size_t>(static_cast<const char*>(p) - data.data())
           : std::string_view::npos;
}

}  // namespace

size_t lastRecordEnd(std::string_view data) {
  // Quotes are rare in coordinate files: find them with memchr, then look for the last line
  // break in the stretches outside quotes, from the end.
  std::vector<size_t> quotes;
  for (const char* p = data.data();
       (p = static_cast<const char*>(std::memchr(p, '"', data.data() + data.size() - p))) !=
       nullptr;
       ++p) {
    quotes.push_back(static_cast<size_t>(p - data.data()));
  }
  // Unquoted stretches: [0, q0), (q1, q2), (q3, q4), ..., and after the last quote if even.
  size_t end = quotes.size() % 2 == 0 ? data.size() : quotes.back();
  size_t i = quotes.size() % 2 == 0 ? quotes.size() : quotes.size() - 1;  // quotes before `end`
  while (true) {
    const size_t begin = i == 0 ? 0 : quotes[i - 1] + 1;
    const size_t at = lastBreak(data, begin, end);
    if (at != std::string_view::npos) return at + 1;
    if (i < 2) return 0;
    i -= 2;
    end = quotes[i];
  }
}

BlockReader::BlockReader(std::istream& in, size_t blockSize, size_t maxRecord)
    : in_(in),
      blockSize_(std::max<size_t>(blockSize, 1)),
      maxRecord_(std::max<size_t>(maxRecord, 1)) {}

bool BlockReader::next(std::string& block) {
  block.swap(carry_);
  carry_.clear();
  size_t searched = 0;  // record ends were looked for up to here
  while (!eof_) {
    const size_t old = block.size();
    block.resize(old + blockSize_);
    in_.read(block.data() + old, static_cast<std::streamsize>(blockSize_));
    const auto got = static_cast<size_t>(in_.gcount());
    block.resize(old + got);
    eof_ = got < blockSize_;
    if (eof_) break;
    size_t cut = lastRecordEnd(block);
    if (cut == 0 && block.size() >= maxRecord_) {
      const size_t at = block.find('\n', std::max(maxRecord_, searched) - 1);
      if (at != std::string::npos) cut = at + 1;
      searched = block.size();
    }
    if (cut > 0) {
      carry_.assign(block, cut);
      block.resize(cut);
      return true;
    }
  }
  return !block.empty();
}

}  // namespace orv::fileconv
