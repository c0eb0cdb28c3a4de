// The GeoJSON file converter on arbitrary bytes: it either refuses the input with a located
// message or converts it, and on a pool (runs cut where their brackets close, at any block size)
// it gives the bytes, the report and the message of one thread.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fileconv/file_convert.h"
#include "fuzz_check.h"

namespace {

namespace fc = orv::fileconv;
using orv::fuzz::check;

struct Outcome {
  std::string out, error;
  fc::Report report;
};

Outcome convert(const std::string& in, unsigned threads, size_t blockSize) {
  std::istringstream input(in);
  std::ostringstream output;
  fc::Options options;
  options.convert = fc::Conversion(orv::Direction::wgsToGcj);
  options.threads = threads;
  options.blockSize = blockSize;
  Outcome o;
  try {
    o.report = fc::convertGeoJson(input, output, options);
    o.out = output.str();
  } catch (const fc::InputError& e) {
    o.error = e.what();
    check(o.error.starts_with("line "), "a refusal names its line");
  }
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t blockSize = 1 + data[0] % 64;  // runs of every length, cut at every offset
  const std::string in(reinterpret_cast<const char*>(data + 1), size - 1);
  const Outcome single = convert(in, 1, 1 << 16);
  const Outcome pooled = convert(in, 2, blockSize);
  check(pooled.error == single.error, "threads give the same message");
  check(pooled.out == single.out, "threads give the same bytes");
  check(pooled.report.bad == single.report.bad && pooled.report.badLines == single.report.badLines,
        "threads give the same report");
  return 0;
}
