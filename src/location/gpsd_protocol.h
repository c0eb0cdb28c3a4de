// gpsd's JSON protocol as a stream of lines: splitting the byte stream into lines and reading the
// objects the provider cares about (VERSION, WATCH, ERROR, TPV). No I/O here.
#pragma once

#include <simdjson.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "orv/location.h"

namespace orv::detail {

inline constexpr size_t kMaxGpsdLine = 64 * 1024;

// Splits bytes into lines ending in '\n' (a trailing '\r' is dropped). A line longer than
// kMaxGpsdLine is reported as overlong once and its bytes are discarded up to its end.
class GpsdLineSplitter {
 public:
  // `line` is valid during the call only; `overlong` lines come with an empty view.
  using LineHandler = std::function<void(std::string_view line, bool overlong)>;

  void feed(std::string_view bytes, const LineHandler& handle);
  void reset();

 private:
  std::string pending_;
  bool discarding_ = false;
};

struct GpsdMessage {
  enum class Kind {
    skipped,  // not usable: `detail` says why (bad JSON, bad coordinates, ...)
    other,    // a well-formed object of no interest (DEVICES, SKY, a TPV without a fix, ...)
    version,  // `protoMajor`
    watch,    // `watchJson`
    error,    // `detail`: gpsd's message
    fix,      // `fix`
  };
  Kind kind = Kind::other;
  std::string detail;
  int64_t protoMajor = 0;
  bool watchJson = false;
  Location fix;
};

// Reads one line. Reuses `parser` between calls; a line received at `now` without a usable
// "time" takes `now` as the fix's timestamp.
GpsdMessage readGpsdLine(std::string_view line, simdjson::dom::parser& parser,
                         std::chrono::system_clock::time_point now);

// "2026-12-07T00:03:42.125Z" (fraction optional) as a time point.
std::optional<std::chrono::system_clock::time_point> parseGpsdTime(std::string_view text);

}  // namespace orv::detail
