// Whole-file conversion: streaming, one record at a time, so memory does not grow with the file.
#pragma once

#include <istream>
#include <ostream>
#include <stdexcept>

#include "systems.h"

namespace orvloc {

// Malformed input: the message names the line (CSV) or the line and JSON path (GeoJSON).
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Header row first; columns lat/latitude and lng/lon/longitude are converted, every other byte is
// copied as it was. Input is read `readSize` bytes at a time (a record longer than that grows the
// buffer); the fuzzer uses small reads so records often cross the buffer's end.
void convertCsv(std::istream& in, std::ostream& out, const Conversion& convert,
                size_t readSize = size_t{1} << 22);

// One GeoJSON object, or a sequence of them (one per line, or RFC 8142 text sequence). Every
// position under a "coordinates" member is converted; everything else is copied as it was.
void convertGeoJson(std::istream& in, std::ostream& out, const Conversion& convert);

}  // namespace orvloc
