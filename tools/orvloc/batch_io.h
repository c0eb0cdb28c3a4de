// The files of the batch commands: CSV rows in, one record per row out (JSON lines or CSV), and
// the resume rule for an output that a killed run left behind.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvloc {

// RFC 4180 records: quoted fields may hold commas, quotes ("") and line breaks; a CR before LF is
// dropped. Returns nothing at the end of the input.
std::optional<std::vector<std::string>> readCsvRecord(std::istream& in);

// A field for a CSV line: quoted only when it needs to be.
std::string csvField(std::string_view text);

struct CsvTable {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  // The column named `name` (or one of its aliases), or nothing.
  std::optional<size_t> column(std::initializer_list<std::string_view> names) const;
};

// Reads a whole CSV file with its header row; throws InputError on a row whose width differs.
CsvTable readCsvFile(const std::string& path);

// Makes `path` ready for appending after a killed run: a trailing record without its final line
// break is cut off, and the complete records are counted (the header of a CSV output is not a
// row). The output is written in input order, so the count is the number of rows done. A missing
// file counts zero.
size_t prepareResume(const std::string& path, bool csvOutput);

}  // namespace orvloc
