// orvlib.convert_file: whole CSV or GeoJSON files through the same converter as orvloc.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "bindings.h"
#include "columns.h"
#include "fileconv/file_convert.h"
#include "fileconv/output_file.h"

namespace py = pybind11;
namespace fc = orv::fileconv;

namespace orvpy {
namespace {

std::string path(const py::object& p) {
  return py::module_::import("os").attr("fspath")(p).cast<std::string>();
}

fc::Precision precisionOf(const py::object& p) {
  if (p.is_none()) return {};
  if (py::isinstance<py::str>(p)) {
    const auto parsed = fc::parsePrecision(p.cast<std::string>());
    if (parsed && parsed->mode == fc::Precision::Mode::shortest) return *parsed;
  } else if (py::isinstance<py::int_>(p) && !py::isinstance<py::bool_>(p)) {
    const auto parsed = fc::parsePrecision(std::to_string(p.cast<long long>()));
    if (parsed) return *parsed;
  }
  throw py::value_error("precision must be None, an int from 0 to 17 or \"shortest\"");
}

py::dict convertFile(const py::object& src, const py::object& dst, const std::string& srcCrs,
                     const std::string& dstCrs, const std::string& lat, const std::string& lng,
                     const py::object& precision, const py::object& threads,
                     const py::object& format, const std::string& inverse) {
  const std::string in = path(src), out = path(dst);
  fc::Options options{
      fc::Conversion(directionOf(parseSystem(srcCrs, "src_crs"), parseSystem(dstCrs, "dst_crs")),
                     parseInverse(inverse) == Inverse::search ? orv::InverseMethod::search
                                                              : orv::InverseMethod::iterative),
      precisionOf(precision), lat, lng,
      threads.is_none() ? fc::availableCores() : threads.cast<unsigned>()};
  if (options.threads == 0) throw py::value_error("threads must be at least 1");
  std::optional<fc::Format> kind;
  if (format.is_none()) {
    kind = fc::formatOf(in);
    if (!kind) kind = fc::formatOf(out);
    if (!kind) throw py::value_error("cannot tell the format of " + in + ": pass format=");
  } else {
    const std::string f = format.cast<std::string>();
    if (f != "csv" && f != "geojson")
      throw py::value_error("format must be \"csv\" or \"geojson\"");
    kind = f == "csv" ? fc::Format::csv : fc::Format::geojson;
  }
  if (out.empty()) throw py::value_error("dst must name a file");

  std::ifstream input(in, std::ios::binary);
  if (!input) {
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, in.c_str());
    throw py::error_already_set();
  }
  fc::Report report;
  try {
    py::gil_scoped_release unlocked;
    fc::OutputFile output(out);
    report = *kind == fc::Format::csv ? fc::convertCsv(input, output.stream(), options)
                                      : fc::convertGeoJson(input, output.stream(), options);
    output.commit();
  } catch (const fc::InputError& e) {
    throw py::value_error(in + ": " + e.what());
  } catch (const std::runtime_error& e) {
    PyErr_SetString(PyExc_OSError, e.what());
    throw py::error_already_set();
  }
  py::dict result;
  result["bad"] = report.bad;
  result["bad_lines"] = report.badLines;
  return result;
}

}  // namespace

void bindFileConvert(py::module_& m) {
  m.def("convert_file", &convertFile, py::arg("src"), py::arg("dst"), py::kw_only(),
        py::arg("src_crs") = "wgs84", py::arg("dst_crs") = "gcj02", py::arg("lat") = "",
        py::arg("lng") = "", py::arg("precision") = py::none(), py::arg("threads") = py::none(),
        py::arg("format") = py::none(), py::arg("inverse") = "iterative",
        R"(Converts a CSV or GeoJSON file from `src_crs` to `dst_crs`, written to `dst`.

The same converter as `orvloc convert --input`: CSV columns `lat`/`lng` (by default lat or
latitude, lng, lon or longitude) or every GeoJSON position; everything else is copied byte for
byte. `precision`: None (as many places as the input had, at least 7), an int (places), or
"shortest". `threads`: None for every available core. `format`: None (from the extension),
"csv" or "geojson". `dst` appears only when complete. Records that do not parse or lie off the
globe are copied as they were; returns {"bad": count, "bad_lines": first few line numbers}.
Raises ValueError for input that cannot be converted at all (no coordinate columns, broken JSON)
and OSError for files that cannot be read or written.)");
}

}  // namespace orvpy
