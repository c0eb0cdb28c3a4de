// How the service commands print outcomes: JSON lines (one record per line, as the records
// encode themselves) on standard output, or aligned table rows; failures go to standard error.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "orv/geocode_res.h"
#include "orv/location_res.h"
#include "session.h"
#include "table.h"

namespace orvloc {

// Fixed-point text with `decimals` places.
std::string fixedText(double value, int decimals);

// A JSON string literal of UTF-8 text.
std::string jsonString(std::string_view text);

// Coordinates, address, nearest place and its distance; blank cells for what the answer lacks.
std::vector<Column> locationColumns();
inline Table locationTable() { return Table(locationColumns()); }
std::vector<std::string> locationCells(const orv::LocationRes& res);

// One hit of a geocode or place search, with its relevance, or its distance from the centre of
// a nearby search (the service sends 0 where there is no centre).
enum class HitMeasure { relevance, distance };
Table hitTable(HitMeasure measure);
std::vector<std::string> hitCells(const orv::GeocodeRes& hit, HitMeasure measure);

class OutcomePrinter {
 public:
  OutcomePrinter(std::ostream& out, std::ostream& err, bool table,
                 HitMeasure measure = HitMeasure::relevance)
      : out_(out), err_(err), table_(table), measure_(measure) {}
  // Returns false for a failure (printed to `err` as "orvloc: <message>").
  bool print(const Outcome& outcome);

 private:
  bool printJson(const orv::Result<std::string>& json);

  std::ostream& out_;
  std::ostream& err_;
  bool table_;
  HitMeasure measure_;
  bool locationHeaderDone_ = false;
};

}  // namespace orvloc
