#include "fileconv/file_convert.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace orv::fileconv {

std::optional<Format> formatOf(std::string_view path) {
  if (path.ends_with(".csv")) return Format::csv;
  for (const char* ext : {".geojson", ".json", ".geojsons", ".geojsonl", ".ndjson", ".jsonl"}) {
    if (path.ends_with(ext)) return Format::geojson;
  }
  return std::nullopt;
}

std::string describe(const Report& report, const char* what) {
  std::string text = std::to_string(report.bad) + " " + what + (report.bad == 1 ? "" : "s") +
                     " not converted (line";
  text += report.badLines.size() > 1 ? "s " : " ";
  for (size_t i = 0; i < report.badLines.size(); ++i) {
    text += (i ? ", " : "") + std::to_string(report.badLines[i]);
  }
  return text + (report.bad > report.badLines.size() ? ", ...)" : ")");
}

unsigned availableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace orv::fileconv
