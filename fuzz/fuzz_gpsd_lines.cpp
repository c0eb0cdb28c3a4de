// Any bytes as a gpsd stream, split at a point the input chooses: every line is read without a
// crash, and a fix has in-range, finite coordinates.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "location/gpsd_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orv::detail::GpsdMessage;
  using orv::fuzz::check;
  static simdjson::dom::parser parser;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const size_t split = size == 0 ? 0 : data[0] % (size + 1);
  orv::detail::GpsdLineSplitter splitter;
  const auto handle = [](std::string_view line, bool overlong) {
    check(!overlong || line.empty(), "overlong lines come empty");
    check(line.size() <= orv::detail::kMaxGpsdLine, "line within the limit");
    const GpsdMessage m = orv::detail::readGpsdLine(line, parser, {});
    if (m.kind != GpsdMessage::Kind::fix) return;
    const auto& c = m.fix.coordinate;
    check(std::isfinite(c.latitude) && std::abs(c.latitude) <= 90, "latitude");
    check(std::isfinite(c.longitude) && std::abs(c.longitude) <= 180, "longitude");
  };
  splitter.feed(bytes.substr(0, split), handle);
  splitter.feed(bytes.substr(split), handle);
  return 0;
}
