// orvloc convert: one coordinate from the command line, or a whole CSV or GeoJSON file.
#include <CLI/CLI.hpp>
#include <cmath>
#include <fstream>
#include <iostream>
#include <memory>

#include "command.h"
#include "file_convert.h"
#include "output_file.h"
#include "systems.h"
#include "text_number.h"

namespace orvloc {
namespace {

struct ConvertOptions {
  System from = System::kWgs84, to = System::kGcj02;
  std::vector<std::string> point;
  std::string input, output, format;
  orv::InverseMethod inverse = orv::InverseMethod::iterative;
};

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string formatOf(const ConvertOptions& o) {
  if (!o.format.empty()) return o.format;
  for (const auto& name : {o.input, o.output}) {
    if (endsWith(name, ".csv")) return "csv";
    for (const char* ext : {".geojson", ".json", ".geojsons", ".geojsonl", ".ndjson", ".jsonl"}) {
      if (endsWith(name, ext)) return "geojson";
    }
  }
  throw UsageError{"cannot tell the format of " + o.input + ": use --format csv|geojson"};
}

int convertPoint(const ConvertOptions& o) {
  const auto lat = parseNumber(o.point[0]);
  const auto lng = parseNumber(o.point[1]);
  if (!lat || !lng) throw UsageError{"LAT and LNG must be decimal numbers"};
  if (std::abs(*lat) > 90 || std::abs(*lng) > 180) {
    throw UsageError{"LAT must be within [-90, 90] and LNG within [-180, 180]"};
  }
  const orv::Coordinate r = Conversion(o.from, o.to, o.inverse)({*lat, *lng});
  std::cout << formatNumber(r.latitude) << ' ' << formatNumber(r.longitude) << '\n';
  return kExitOk;
}

int convertFile(const ConvertOptions& o) {
  const std::string format = formatOf(o);
  std::ifstream in(o.input, std::ios::binary);
  if (!in) {
    std::cerr << "orvloc: cannot open " << o.input << '\n';
    return kExitFailure;
  }
  OutputFile out(o.output);
  try {
    const Conversion convert(o.from, o.to, o.inverse);
    if (format == "csv") {
      convertCsv(in, out.stream(), convert);
    } else {
      convertGeoJson(in, out.stream(), convert);
    }
    out.commit();
  } catch (const InputError& e) {
    std::cout.flush();
    std::cerr << "orvloc: " << o.input << ": " << e.what() << '\n';
    return kExitFailure;
  }
  return kExitOk;
}

std::function<int()> setupConvert(CLI::App& cmd) {
  auto o = std::make_shared<ConvertOptions>();
  const auto system = [o](System& target) {
    return [&target](const std::string& text) {
      for (const auto& [name, value] : systemNames()) {
        if (name == text) return void(target = value);
      }
      throw CLI::ValidationError("unknown coordinate system \"" + text +
                                 "\" (use wgs84, gcj02 or bd09)");
    };
  };
  cmd.add_option_function<std::string>("--from", system(o->from), "wgs84, gcj02 or bd09")
      ->required();
  cmd.add_option_function<std::string>("--to", system(o->to), "wgs84, gcj02 or bd09")->required();
  cmd.add_option("point", o->point, "LAT LNG of one coordinate")->expected(2);
  auto* input = cmd.add_option("--input", o->input, "CSV or GeoJSON file to convert");
  cmd.add_option("--output", o->output, "write here instead of standard output")->needs(input);
  cmd.add_option("--format", o->format, "csv or geojson (default: from the file extension)")
      ->check(CLI::IsMember({"csv", "geojson"}))
      ->needs(input);
  cmd.add_option_function<std::string>(
         "--inverse",
         [o](const std::string& text) {
           o->inverse =
               text == "search" ? orv::InverseMethod::search : orv::InverseMethod::iterative;
         },
         "how GCJ-02 and BD-09 go back to WGS-84: iterative (default; within 1e-9 degree of "
         "the exact preimage) or search (the quadrant search of the single forms, about 1 m)")
      ->check(CLI::IsMember({"iterative", "search"}));
  return [o] {
    if (o->input.empty() == o->point.empty()) {
      throw UsageError{"give either LAT LNG or --input FILE"};
    }
    return o->input.empty() ? convertPoint(*o) : convertFile(*o);
  };
}

const bool registered = registerCommand(
    {"convert", "convert coordinates between WGS-84, GCJ-02 and BD-09", setupConvert});

}  // namespace
}  // namespace orvloc
