// orvloc's CSV converter on arbitrary bytes: it either refuses the input with a located message
// or keeps every line break; converting its own output again (same system) changes nothing,
// whatever the read size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "file_convert.h"
#include "fuzz_check.h"

namespace {

using orv::fuzz::check;

bool convert(const std::string& in, std::string& out, const orvloc::Conversion& conversion,
             size_t readSize) {
  std::istringstream input(in);
  std::ostringstream output;
  try {
    orvloc::convertCsv(input, output, conversion, readSize);
  } catch (const orvloc::InputError& e) {
    check(std::string(e.what()).starts_with("line "), "a refusal names its line");
    return false;
  }
  out = output.str();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the read size, so records cross the buffer's end at every offset.
  const size_t readSize = 1 + data[0] % 64;
  const std::string in(reinterpret_cast<const char*>(data + 1), size - 1);
  using orvloc::System;
  std::string out;
  if (convert(in, out, {System::kGcj02, System::kWgs84, orv::InverseMethod::iterative}, readSize)) {
    check(std::count(out.begin(), out.end(), '\n') == std::count(in.begin(), in.end(), '\n'),
          "line breaks kept");
  }
  const orvloc::Conversion same(System::kWgs84, System::kWgs84, orv::InverseMethod::iterative);
  std::string once, twice;
  if (convert(in, once, same, readSize)) {
    check(convert(once, twice, same, 1 << 22) && twice == once, "same-system conversion is stable");
  }
  return 0;
}
