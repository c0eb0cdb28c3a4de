// Any bytes as an NMEA stream, fed in two chunks split by the first byte. Every fix that comes out
// holds coordinates in range and accuracies, speed and course that are either -1 or meaningful.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "location/nmea_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orv::fuzz::check;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const size_t split = size == 0 ? 0 : data[0] % (size + 1);
  orv::detail::NmeaParser parser([] { return std::chrono::system_clock::time_point{}; });
  std::vector<orv::Location> fixes;
  parser.feed(bytes.substr(0, split), fixes);
  parser.feed(bytes.substr(split), fixes);
  parser.flush(fixes);
  const auto unknownOrAtLeastZero = [](double v) {
    return v == -1.0 || (std::isfinite(v) && v >= 0);
  };
  for (const auto& f : fixes) {
    check(std::fabs(f.coordinate.latitude) <= 90, "latitude in range");
    check(std::fabs(f.coordinate.longitude) <= 180, "longitude in range");
    check(std::isfinite(f.altitude), "altitude finite");
    check(unknownOrAtLeastZero(f.horizontalAccuracy), "horizontal accuracy");
    check(unknownOrAtLeastZero(f.verticalAccuracy), "vertical accuracy");
    check(unknownOrAtLeastZero(f.speed), "speed");
    check(f.course == -1.0 || (f.course >= 0 && f.course < 360), "course");
  }
  return 0;
}
