// Whole-file conversion of CSV and GeoJSON, streaming: memory stays flat whatever the file size.
// Shared by orvloc and the Python module; the engine (orv/convert.h) comes from whoever links it.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fileconv/conversion.h"
#include "fileconv/text_number.h"

namespace orv::fileconv {

// Input that cannot be converted at all (no header, no coordinate columns, broken JSON): the
// message names the line (and the JSON path).
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Options {
  Conversion convert;
  Precision precision;
  // CSV coordinate columns by header name; empty: lat/latitude and lng/lon/longitude (any case).
  std::string latColumn, lngColumn;
  unsigned threads = 1;                 // 1 converts on the calling thread
  size_t blockSize = size_t{1} << 18;   // bytes read at a time (a few blocks stay in cache)
  size_t maxRecord = size_t{16} << 20;  // CSV: a longer record is cut at a line break (below)
};

// What was left unconverted: records (CSV) or positions (GeoJSON) that did not parse or lie off
// the globe, copied as they were.
struct Report {
  static constexpr size_t kLinesKept = 5;
  uint64_t bad = 0;
  std::vector<uint64_t> badLines;  // the first kLinesKept, 1-based, in order
};

// Header row first; the coordinate columns are converted, every other byte is copied as it was.
// Records are split at line breaks outside quotes; a quote left open for more than `maxRecord`
// bytes is taken as a stray one and the record is cut at the next line break (and counted as
// bad), so one bad quote cannot hold the rest of the file in memory. The output is the same
// for every `threads` value. Empty input gives empty output.
Report convertCsv(std::istream& in, std::ostream& out, const Options& options);

// One GeoJSON object, or a sequence of them (one per line, or RFC 8142 text sequence). Every
// position under a "coordinates" member is converted; everything else is copied as it was.
// With `threads` > 1, runs of about `blockSize` bytes of whole features (or coordinate arrays, or
// top-level objects) are converted on a pool; one longer than 4 `blockSize` is converted in
// line. The output, the report and the error are the same for every `threads` value.
Report convertGeoJson(std::istream& in, std::ostream& out, const Options& options);

enum class Format { csv, geojson };

// From a file name's extension: .csv; .geojson, .json, .geojsons, .geojsonl, .ndjson, .jsonl.
std::optional<Format> formatOf(std::string_view path);

// "3 records not converted (lines 4, 9, 12)"; `what` names the unit ("record", "position").
std::string describe(const Report& report, const char* what);

// The cores this process may run on (its affinity mask), at least 1.
unsigned availableCores();

}  // namespace orv::fileconv
