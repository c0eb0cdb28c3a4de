#include "output.h"

#include <cstdio>
#include <ostream>

namespace orvloc {

std::string fixedText(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::vector<Column> locationColumns() {
  return {
      {"lat", 10, true}, {"lng", 11, true}, {"address", 34}, {"place", 18}, {"distance", 8, true}};
}

std::vector<std::string> locationCells(const orv::LocationRes& res) {
  const auto& detail = res.location();
  if (!detail) return {};
  std::vector<std::string> cells(5);
  if (detail->position() && detail->position()->point()) {
    cells[0] = fixedText(detail->position()->point()->latitude(), 6);
    cells[1] = fixedText(detail->position()->point()->longitude(), 6);
  }
  if (detail->address()) cells[2] = detail->address()->name();
  if (detail->place() && !detail->place()->name().empty()) {
    cells[3] = detail->place()->name();
    if (detail->place()->distance()) {
      cells[4] = fixedText(detail->place()->distance()->line(), 0) + " m";
    }
  }
  return cells;
}

Table hitTable(HitMeasure measure) {
  return Table({{"name", 22},
                {"type", 11},
                {"location", 21},
                {measure == HitMeasure::distance ? "distance" : "relevance", 9, true},
                {"address", 30}});
}

std::vector<std::string> hitCells(const orv::GeocodeRes& hit, HitMeasure measure) {
  return {hit.name(), hit.type(), hit.geoPoint(),
          measure == HitMeasure::distance ? fixedText(hit.distance(), 0) + " m"
                                          : fixedText(hit.relevance(), 2),
          hit.address() ? hit.address()->name() : std::string()};
}

bool OutcomePrinter::printJson(const orv::Result<std::string>& json) {
  if (!json) {
    err_ << "orvloc: cannot print a result: " << json.error().message << '\n';
    return false;
  }
  out_ << json.value() << '\n';
  return true;
}

bool OutcomePrinter::print(const Outcome& o) {
  bool ok = true;
  switch (o.kind) {
    case Outcome::Kind::error:
      err_ << "orvloc: " << o.message << '\n';
      ok = false;
      break;
    case Outcome::Kind::location:
    case Outcome::Kind::reverse:
      if (!o.location) break;
      if (!table_) {
        ok = printJson(o.location->encode());
        break;
      }
      if (!locationHeaderDone_) {
        locationTable().printHeader(out_);
        locationHeaderDone_ = true;
      }
      locationTable().printRow(out_, locationCells(*o.location));
      break;
    case Outcome::Kind::geocode:
    case Outcome::Kind::poi:
      if (!table_) {
        for (const auto& hit : o.hits) ok = printJson(hit->encode()) && ok;
        break;
      }
      if (o.hits.empty()) {
        out_ << "(no results)\n";
        break;
      }
      {
        const Table table = hitTable(measure_);
        table.printHeader(out_);
        for (const auto& hit : o.hits) table.printRow(out_, hitCells(*hit, measure_));
      }
      break;
  }
  out_.flush();
  return ok;
}

}  // namespace orvloc
