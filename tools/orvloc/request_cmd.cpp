// orvloc track, reverse, geocode, poi and nearby: one request each through the client, whose one
// outcome is printed.
#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <memory>

#include "batch_cmd.h"
#include "command.h"
#include "output.h"
#include "session.h"
#include "text_number.h"

namespace orvloc {
namespace {

using Start = std::function<void(orv::OrvClientLocation&)>;

int runOneRequest(const ServiceOptions& options, const Start& start,
                  HitMeasure measure = HitMeasure::relevance) {
  Session session(options);
  OutcomePrinter printer(std::cout, std::cerr, options.table, measure);
  bool ok = true;
  session.onOutcome([&](const Outcome& o) { ok = printer.print(o) && ok; });
  start(session.client());
  if (!session.waitFor(1, options.timeout)) {
    std::cerr << "orvloc: no answer within " << formatNumber(options.timeout) << " s\n";
    return kExitFailure;
  }
  return ok ? kExitOk : kExitFailure;
}

double number(const std::string& text, const char* what) {
  const auto n = parseNumber(text);
  if (!n) throw UsageError{std::string(what) + " is not a number: " + text};
  return *n;
}

struct LatLng {
  std::string lat, lng;
};

void addLatLng(CLI::App& cmd, LatLng& p) {
  cmd.add_option("lat", p.lat, "latitude, degrees");
  cmd.add_option("lng", p.lng, "longitude, degrees");
}

// The single form's arguments, or --input for a whole file: exactly one of them.
void requireOneForm(const BatchArgs& batch, bool singleGiven, const char* single) {
  if (batch.input.empty() && !singleGiven)
    throw UsageError{std::string(single) + " or --input is required"};
  if (!batch.input.empty() && singleGiven)
    throw UsageError{std::string(single) + " and --input exclude each other"};
}

std::function<int()> setupTrack(CLI::App& cmd) {
  struct Args {
    ServiceOptions service;
    LatLng point;
    orv::Location fix;
    BatchArgs batch;
  };
  auto a = std::make_shared<Args>();
  addLatLng(cmd, a->point);
  addBatchOptions(cmd, a->batch);
  cmd.add_option("--accuracy", a->fix.horizontalAccuracy, "horizontal accuracy, metres");
  cmd.add_option("--altitude", a->fix.altitude, "altitude, metres");
  cmd.add_option("--vertical-accuracy", a->fix.verticalAccuracy, "vertical accuracy, metres");
  cmd.add_option("--speed", a->fix.speed, "speed, metres per second");
  cmd.add_option("--course", a->fix.course, "course, degrees from north");
  addServiceOptions(cmd, a->service);
  return [a] {
    requireOneForm(a->batch, !a->point.lat.empty(), "LAT LNG");
    if (!a->batch.input.empty()) return runBatch(BatchKind::track, a->batch, a->service);
    orv::Location fix = a->fix;
    fix.coordinate = {number(a->point.lat, "latitude"), number(a->point.lng, "longitude")};
    fix.timestamp = std::chrono::system_clock::now();
    return runOneRequest(a->service, [&](orv::OrvClientLocation& c) { c.getTrackLocation(fix); });
  };
}

std::function<int()> setupReverse(CLI::App& cmd) {
  struct Args {
    ServiceOptions service;
    LatLng point;
    BatchArgs batch;
  };
  auto a = std::make_shared<Args>();
  addLatLng(cmd, a->point);
  addBatchOptions(cmd, a->batch);
  addServiceOptions(cmd, a->service);
  return [a] {
    requireOneForm(a->batch, !a->point.lat.empty(), "LAT LNG");
    if (!a->batch.input.empty()) return runBatch(BatchKind::reverse, a->batch, a->service);
    const double lat = number(a->point.lat, "latitude");
    const double lng = number(a->point.lng, "longitude");
    return runOneRequest(a->service,
                         [&](orv::OrvClientLocation& c) { c.getReverseCode(lat, lng); });
  };
}

std::function<int()> setupGeocode(CLI::App& cmd) {
  struct Args {
    ServiceOptions service;
    std::string address, city;
    BatchArgs batch;
  };
  auto a = std::make_shared<Args>();
  cmd.add_option("address", a->address, "address text");
  cmd.add_option("--city", a->city, "city to search in (with ADDRESS)");
  addBatchOptions(cmd, a->batch);
  addServiceOptions(cmd, a->service);
  return [a] {
    requireOneForm(a->batch, !a->address.empty(), "ADDRESS");
    if (!a->batch.input.empty()) return runBatch(BatchKind::geocode, a->batch, a->service);
    if (a->city.empty()) throw UsageError{"--city is required"};
    return runOneRequest(a->service,
                         [&](orv::OrvClientLocation& c) { c.getGeocCode(a->address, a->city); });
  };
}

struct Paging {
  int32_t page = 1;
  int32_t size = 10;
};

void addPaging(CLI::App& cmd, Paging& p) {
  cmd.add_option("--page", p.page, "page number")->capture_default_str();
  cmd.add_option("--size", p.size, "results per page")->capture_default_str();
}

std::function<int()> setupPoi(CLI::App& cmd) {
  struct Args {
    ServiceOptions service;
    std::string name, city, cityCode;
    Paging paging;
  };
  auto a = std::make_shared<Args>();
  cmd.add_option("name", a->name, "keyword")->required();
  cmd.add_option("--city", a->city, "city name")->required();
  cmd.add_option("--city-code", a->cityCode, "city code")->required();
  addPaging(cmd, a->paging);
  addServiceOptions(cmd, a->service);
  return [a] {
    return runOneRequest(a->service, [&](orv::OrvClientLocation& c) {
      c.poiKeySearch(a->name, a->cityCode, a->city, a->paging.page, a->paging.size);
    });
  };
}

std::function<int()> setupNearby(CLI::App& cmd) {
  struct Args {
    ServiceOptions service;
    std::string keywords, location, category, orderby;
    int32_t radius = 0;
    Paging paging;
  };
  auto a = std::make_shared<Args>();
  cmd.add_option("keywords", a->keywords, "keywords")->required();
  cmd.add_option("--location", a->location, "centre as the service expects it, e.g. \"lng,lat\"")
      ->required();
  cmd.add_option("--radius", a->radius, "radius, metres")->required();
  cmd.add_option("--category", a->category, "category filter");
  cmd.add_option("--orderby", a->orderby, "order, e.g. distance or relevance");
  addPaging(cmd, a->paging);
  addServiceOptions(cmd, a->service);
  return [a] {
    return runOneRequest(
        a->service,
        [&](orv::OrvClientLocation& c) {
          c.poiNearbySearch(a->keywords, a->location, a->radius, a->category, a->orderby,
                            a->paging.page, a->paging.size);
        },
        HitMeasure::distance);
  };
}

const bool registered =
    registerCommand({"track",
                     "enrich one fix LAT LNG (WGS-84), or a recorded track (--input), by fusion "
                     "location",
                     setupTrack}) &&
    registerCommand(
        {"reverse", "reverse-geocode LAT LNG (GCJ-02), or a CSV file (--input)", setupReverse}) &&
    registerCommand(
        {"geocode", "geocode an ADDRESS within a city, or a CSV file (--input)", setupGeocode}) &&
    registerCommand({"poi", "search places by NAME within a city", setupPoi}) &&
    registerCommand({"nearby", "search places by KEYWORDS around a location", setupNearby});

}  // namespace
}  // namespace orvloc
