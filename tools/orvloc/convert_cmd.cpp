// orvloc convert: one coordinate from the command line, or a whole CSV or GeoJSON file.
#include <CLI/CLI.hpp>
#include <cmath>
#include <fstream>
#include <iostream>
#include <memory>

#include "command.h"
#include "fileconv/file_convert.h"
#include "fileconv/output_file.h"
#include "systems.h"
#include "text_number.h"

namespace orvloc {
namespace {

namespace fc = orv::fileconv;

struct ConvertOptions {
  System from = System::kWgs84, to = System::kGcj02;
  std::vector<std::string> point;
  std::string input, output, format;
  orv::InverseMethod inverse = orv::InverseMethod::iterative;
  fc::Precision precision;
  std::string lat, lng;
  unsigned threads = fc::availableCores();
};

fc::Format formatOf(const ConvertOptions& o) {
  if (!o.format.empty()) return o.format == "csv" ? fc::Format::csv : fc::Format::geojson;
  for (const auto& name : {o.input, o.output}) {
    if (const auto f = fc::formatOf(name)) return *f;
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
  const orv::Coordinate r = fc::Conversion(directionOf(o.from, o.to), o.inverse)({*lat, *lng});
  std::cout << formatNumber(r.latitude) << ' ' << formatNumber(r.longitude) << '\n';
  return kExitOk;
}

int convertFile(const ConvertOptions& o) {
  const fc::Format format = formatOf(o);
  std::ifstream in(o.input, std::ios::binary);
  if (!in) {
    std::cerr << "orvloc: cannot open " << o.input << '\n';
    return kExitFailure;
  }
  fc::OutputFile out(o.output);
  try {
    fc::Options options{fc::Conversion(directionOf(o.from, o.to), o.inverse), o.precision, o.lat,
                        o.lng, o.threads};
    const bool csv = format == fc::Format::csv;
    const fc::Report report = csv ? fc::convertCsv(in, out.stream(), options)
                                  : fc::convertGeoJson(in, out.stream(), options);
    out.commit();
    if (report.bad > 0) {
      std::cerr << "orvloc: " << o.input << ": "
                << fc::describe(report, csv ? "record" : "position") << '\n';
      return kExitFailure;
    }
  } catch (const fc::InputError& e) {
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
  cmd.add_option_function<std::string>(
         "--precision",
         [o](const std::string& text) {
           const auto p = fc::parsePrecision(text);
           if (!p) throw CLI::ValidationError("--precision: a number of places 0-17 or shortest");
           o->precision = *p;
         },
         "decimal places written: N (0-17), or shortest (round-trip); default: as many as the "
         "input value had, at least 7")
      ->needs(input);
  cmd.add_option("--lat", o->lat, "CSV latitude column (default: lat or latitude)")->needs(input);
  cmd.add_option("--lng", o->lng, "CSV longitude column (default: lng, lon or longitude)")
      ->needs(input);
  cmd.add_option("--threads", o->threads, "conversion threads (default: the cores available)")
      ->check(CLI::Range(1u, 1024u))
      ->needs(input);
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
