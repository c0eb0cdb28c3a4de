// The batch commands' CSV reader on arbitrary bytes: it ends, and writing the records it read
// back as CSV and reading them again gives the same records.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "batch_io.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<std::vector<std::string>> records;
  std::string written;
  while (auto record = orvloc::readCsvRecord(in)) {
    orv::fuzz::check(records.size() <= size, "every record consumes input");
    for (size_t i = 0; i < record->size(); ++i) {
      written += (i ? "," : "") + orvloc::csvField((*record)[i]);
    }
    written += "\n";
    records.push_back(std::move(*record));
  }
  std::istringstream again(written);
  for (const auto& record : records) {
    const auto reread = orvloc::readCsvRecord(again);
    orv::fuzz::check(reread && *reread == record, "a written record reads back the same");
  }
  return 0;
}
