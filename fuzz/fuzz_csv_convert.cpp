// The CSV converter on arbitrary bytes: it either refuses the input with a located message or
// keeps every line break; its output is the same whatever the block size and thread count;
// converting its own output again (same system, shortest numbers) changes nothing; and the block
// splitter gives back the input, in blocks bounded by the longest record it allows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fileconv/csv_blocks.h"
#include "fileconv/file_convert.h"
#include "fuzz_check.h"

namespace {

namespace fc = orv::fileconv;
using orv::fuzz::check;

struct Outcome {
  bool converted = false;
  std::string out;
  fc::Report report;
};

Outcome convert(const std::string& in, fc::Options options) {
  std::istringstream input(in);
  std::ostringstream output;
  Outcome o;
  try {
    o.report = fc::convertCsv(input, output, options);
    o.converted = true;
  } catch (const fc::InputError& e) {
    check(std::string(e.what()).starts_with("line "), "a refusal names its line");
  }
  o.out = output.str();
  return o;
}

void checkSplitter(const std::string& in, size_t blockSize, size_t maxRecord) {
  std::istringstream input(in);
  fc::BlockReader reader(input, blockSize, maxRecord);
  std::string block, joined;
  while (reader.next(block)) {
    check(!block.empty(), "no empty blocks");
    joined += block;
  }
  check(joined == in, "the blocks are the input");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first bytes pick the block size and the longest record, so records cross block ends
  // at every offset and stray quotes get cut.
  const size_t blockSize = 1 + data[0] % 64;
  const size_t maxRecord = 1 + data[1] % 128;
  const std::string in(reinterpret_cast<const char*>(data + 2), size - 2);
  checkSplitter(in, blockSize, maxRecord);

  fc::Options options;
  options.convert = fc::Conversion(orv::Direction::gcjToWgs);
  options.blockSize = blockSize;
  const Outcome single = convert(in, options);
  if (single.converted) {
    check(std::count(single.out.begin(), single.out.end(), '\n') ==
              std::count(in.begin(), in.end(), '\n'),
          "line breaks kept");
  }
  options.blockSize = 1 << 20;
  const Outcome whole = convert(in, options);
  check(whole.converted == single.converted && whole.out == single.out &&
            whole.report.bad == single.report.bad &&
            whole.report.badLines == single.report.badLines,
        "the block size changes nothing");
  options.blockSize = blockSize;
  options.maxRecord = maxRecord;
  options.threads = 2;
  const Outcome threaded = convert(in, options);
  options.threads = 1;
  const Outcome cut = convert(in, options);
  check(threaded.converted == cut.converted && threaded.out == cut.out &&
            threaded.report.bad == cut.report.bad,
        "threads change nothing");

  const fc::Options same{fc::Conversion(), {fc::Precision::Mode::shortest, 0}, {}, {}, 1,
                         blockSize};
  const Outcome once = convert(in, same);
  if (once.converted) {
    const Outcome twice = convert(once.out, same);
    check(twice.converted && twice.out == once.out, "same-system conversion is stable");
  }
  return 0;
}
