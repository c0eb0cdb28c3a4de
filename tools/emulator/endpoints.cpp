#include "emulator/endpoints.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "emulator/place_search.h"
#include "model/json_reader.h"
#include "model/json_writer.h"
#include "orv/coord_transform.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"

namespace orv::emulator {
namespace {

using detail::DecodeStatus;
using detail::JsonPath;
using simdjson::dom::element;
using simdjson::dom::object;

// What both bodies of the track-points endpoint come down to.
struct FixRequest {
  std::string id;
  std::string asset;
  std::optional<int64_t> timestamp;
  double longitude = 0.0;
  double latitude = 0.0;
  bool wgs84 = false;  // needs converting to GCJ-02
};

Reply badRequest(const std::string& message) { return errorReply(400, "bad_request", message); }

const std::string* param(const Incoming& request, const std::string& key) {
  auto it = request.query.find(key);
  return it == request.query.end() ? nullptr : &it->second;
}

std::string paramOr(const Incoming& request, const std::string& key) {
  const std::string* v = param(request, key);
  return v ? *v : std::string();
}

std::optional<int> parseInt(std::string_view text) {
  int v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::optional<double> parseDouble(std::string_view text) {
  text = trim(text);
  double v = 0.0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return v;
}

bool validCoordinate(double lng, double lat) {
  return std::isfinite(lng) && std::isfinite(lat) && std::abs(lng) <= 180.0 &&
         std::abs(lat) <= 90.0;
}

// "lng,lat" in GCJ-02.
std::optional<std::pair<double, double>> parseLocation(std::string_view text) {
  const auto comma = text.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  auto lng = parseDouble(text.substr(0, comma));
  auto lat = parseDouble(text.substr(comma + 1));
  if (!lng || !lat || !validCoordinate(*lng, *lat)) return std::nullopt;
  return std::pair{*lng, *lat};
}

struct Paging {
  int index = 1;
  int size = 10;
};

// Absent keys take the defaults; a value that is not a whole number of at least 1 is refused.
std::optional<Reply> readPaging(const Incoming& request, Paging& out) {
  const std::pair<const char*, int*> fields[] = {{"page_index", &out.index},
                                                 {"page_size", &out.size}};
  for (auto [key, target] : fields) {
    const std::string* text = param(request, key);
    if (text == nullptr) continue;
    auto v = parseInt(*text);
    if (!v) return badRequest(std::string(key) + " must be a whole number");
    if (*v < 1) return badRequest(std::string(key) + " must be 1 or more");
    *target = *v;
  }
  out.size = std::min(out.size, kMaxPageSize);
  return std::nullopt;
}

DecodeStatus requiredObject(object obj, std::string_view key, const JsonPath& at, object& out) {
  element v;
  if (auto e = detail::requiredField(obj, key, at, v)) return e;
  return detail::expectObject(v, at.child(key), out);
}

DecodeStatus readPoint(object parent, const JsonPath& at, double& lng, double& lat) {
  object point;
  if (auto e = requiredObject(parent, "point", at, point)) return e;
  const JsonPath pointAt = at.child("point");
  if (auto e = detail::requiredDouble(point, "longitude", pointAt, lng)) return e;
  return detail::requiredDouble(point, "latitude", pointAt, lat);
}

// A TrackRequest: the fix is WGS-84.
Result<FixRequest> parseTrackRequest(std::string_view body) {
  return detail::withParsedDocument<FixRequest>(body, [](element root) -> Result<FixRequest> {
    const JsonPath top;
    FixRequest r;
    r.wgs84 = true;
    object obj, asset, location, gnss;
    element v;
    int64_t timestamp = 0;
    double accuracy = 0.0;
    const JsonPath assetAt = top.child("asset"), locationAt = top.child("location");
    const JsonPath gnssAt = locationAt.child("gnss");
    if (auto e = detail::expectObject(root, top, obj)) return *e;
    if (auto e = detail::requiredField(obj, "timestamp", top, v)) return *e;
    if (auto e = detail::readInt64(v, top.child("timestamp"), timestamp)) return *e;
    r.timestamp = timestamp;
    if (auto e = detail::requiredText(obj, "id", top, r.id)) return *e;
    if (auto e = requiredObject(obj, "asset", top, asset)) return *e;
    if (auto e = detail::requiredText(asset, "id", assetAt, r.asset)) return *e;
    if (auto e = requiredObject(obj, "location", top, location)) return *e;
    if (auto e = requiredObject(location, "gnss", locationAt, gnss)) return *e;
    if (auto e = readPoint(gnss, gnssAt, r.longitude, r.latitude)) return *e;
    if (auto e = detail::requiredDouble(gnss, "accuracy", gnssAt, accuracy)) return *e;
    return r;
  });
}

// A ReverseGeoRequest: the point is GCJ-02 unless its spatialReference says "wgs84".
Result<FixRequest> parseReverseRequest(std::string_view body) {
  return detail::withParsedDocument<FixRequest>(body, [](element root) -> Result<FixRequest> {
    const JsonPath top;
    FixRequest r;
    object obj, location, position;
    element v;
    const JsonPath locationAt = top.child("location");
    const JsonPath positionAt = locationAt.child("position");
    if (auto e = detail::expectObject(root, top, obj)) return *e;
    if (auto e = detail::requiredText(obj, "asset", top, r.asset)) return *e;
    if (auto e = requiredObject(obj, "location", top, location)) return *e;
    if (auto e = requiredObject(location, "position", locationAt, position)) return *e;
    if (auto e = readPoint(position, positionAt, r.longitude, r.latitude)) return *e;
    if (detail::optionalField(position, "spatialReference", v)) {
      std::string reference;
      if (auto e = detail::readText(v, positionAt.child("spatialReference"), reference)) return *e;
      if (reference == "wgs84") {
        r.wgs84 = true;
      } else if (reference != "gcj02") {
        return Error{"Request", 1, "unsupported spatialReference \"" + reference + "\""};
      }
    }
    if (detail::optionalField(obj, "timestamp", v)) {
      int64_t timestamp = 0;
      if (auto e = detail::readInt64(v, top.child("timestamp"), timestamp)) return *e;
      r.timestamp = timestamp;
    }
    if (detail::optionalField(obj, "id", v)) {
      if (auto e = detail::readText(v, top.child("id"), r.id)) return *e;
    }
    return r;
  });
}

std::shared_ptr<AddressInfo> addressOf(const Place& place) {
  auto info = std::make_shared<AddressInfo>();
  info->setName(place.address);
  std::vector<std::shared_ptr<Address>> context;
  for (const auto& level : place.context) {
    auto a = std::make_shared<Address>();
    a->setType(level.type);
    a->setName(level.name);
    a->setCode(level.code);
    context.push_back(std::move(a));
  }
  info->setContext(std::move(context));
  return info;
}

std::string geoPointText(const Place& place) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f,%.6f", place.longitude, place.latitude);
  return buf;
}

Reply encoded(const Result<std::string>& json) {
  if (!json)
    return errorReply(500, "internal", "cannot encode the answer: " + json.error().message);
  return Reply{200, json.value()};
}

Reply hitList(const std::vector<Hit>& hits) {
  std::string body = "[";
  for (const Hit& hit : hits) {
    const Place& p = *hit.place;
    GeocodeRes g;
    g.setId(p.id);
    g.setGeoPoint(geoPointText(p));
    g.setType(p.type);
    g.setName(p.name);
    g.setCode(p.code);
    if (!p.isArea()) {
      GeocodeRes::Categories categories;
      for (const auto& c : p.categories) {
        auto category = std::make_shared<OrvCategory>();
        category->setId(c.id);
        category->setName(c.name);
        categories.push_back(std::move(category));
      }
      g.setCategories(std::move(categories));
    }
    g.setAddress(addressOf(p));
    g.setRelevance(hit.relevance);
    g.setDistance(hit.distance);
    auto json = g.encode();
    if (!json) return encoded(json);
    if (body.size() > 1) body += ',';
    body += json.value();
  }
  body += ']';
  return Reply{200, std::move(body)};
}

int64_t nowMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

Reply errorReply(int status, const std::string& kind, const std::string& message) {
  detail::JsonWriter w;
  const JsonPath top;
  w.beginObject();
  w.key("code");
  w.integer(status);
  w.key("error");
  w.string(kind, top);
  w.key("message");
  w.string(message, top);
  w.endObject();
  auto body = std::move(w).finish();
  // Only a message that is not UTF-8 can fail; answer without it rather than not at all.
  if (!body) return Reply{status, "{\"code\":" + std::to_string(status) + "}"};
  return Reply{status, std::move(body).value()};
}

Reply Endpoints::handle(const Incoming& request) const {
  using Handler = Reply (Endpoints::*)(const Incoming&) const;
  struct Route {
    const char* path;
    const char* method;
    Handler handler;
  };
  static constexpr Route kRoutes[] = {
      {kTrackPointsPath, "POST", &Endpoints::trackPoints},
      {kGeocodePath, "GET", &Endpoints::geocode},
      {kPlaceSearchPath, "GET", &Endpoints::placeSearch},
      {kNearbySearchPath, "GET", &Endpoints::nearbySearch},
  };
  const Route* route = nullptr;
  for (const auto& r : kRoutes) {
    if (request.path == r.path) route = &r;
  }
  if (route == nullptr) return errorReply(404, "not_found", "no endpoint at " + request.path);
  if (request.method != route->method) {
    return errorReply(405, "method_not_allowed", request.path + " takes " + route->method);
  }
  const std::string* key = param(request, "access_key");
  if (key == nullptr || std::find(keys_.begin(), keys_.end(), *key) == keys_.end()) {
    return errorReply(401, "unauthorized",
                      key == nullptr ? "access_key is missing" : "access_key is not known");
  }
  return (this->*route->handler)(request);
}

Reply Endpoints::trackPoints(const Incoming& request) const {
  const std::string* sprf = param(request, "response_sprf");
  if (sprf != nullptr && *sprf != "gcj02") {
    return badRequest("response_sprf \"" + *sprf + "\" is not supported; use gcj02");
  }
  const bool fusion = paramOr(request, "needAddress") == "true";
  auto parsed = fusion ? parseTrackRequest(request.body) : parseReverseRequest(request.body);
  if (!parsed) {
    return badRequest(std::string(fusion ? "TrackRequest" : "ReverseGeoRequest") +
                      " body: " + parsed.error().message);
  }
  FixRequest& fix = parsed.value();
  if (!validCoordinate(fix.longitude, fix.latitude)) return badRequest("coordinate out of range");
  if (fix.wgs84) {
    const Coordinate gcj = JyrCoorTransform::transformFromWGSToGCJ({fix.latitude, fix.longitude});
    fix.latitude = gcj.latitude;
    fix.longitude = gcj.longitude;
  }

  LocationRes res;
  const uint64_t n = ++answers_;
  res.setId(fix.id.empty() ? "emu-" + std::to_string(n) : fix.id);
  res.setAsset(fix.asset);
  auto detail = std::make_shared<LocationDetail>();
  detail->setTimestamp(fix.timestamp.value_or(nowMillis()));
  if (auto nearest = nearestPlace(places_, fix.longitude, fix.latitude, kMaxPlaceMetres)) {
    detail->setAddress(addressOf(*nearest->place));
    auto place = std::make_shared<PlaceInfo>();
    place->setType(nearest->place->type);
    place->setName(nearest->place->name);
    auto distance = std::make_shared<DistanceInfo>();
    distance->setLine(nearest->distance);
    place->setDistance(std::move(distance));
    detail->setPlace(std::move(place));
  } else {
    detail->setAddress(nullptr);
    detail->setPlace(nullptr);
  }
  detail->setPosition(
      std::make_shared<Position>(std::make_shared<OrvPoint>(fix.longitude, fix.latitude)));
  res.setLocation(std::move(detail));
  return encoded(res.encode());
}

Reply Endpoints::geocode(const Incoming& request) const {
  const std::string* address = param(request, "address");
  if (address == nullptr) return badRequest("address is required");
  return hitList(emulator::geocode(places_, *address, paramOr(request, "city"), kGeocodeLimit));
}

Reply Endpoints::placeSearch(const Incoming& request) const {
  Paging paging;
  if (auto bad = readPaging(request, paging)) return *bad;
  auto hits = emulator::placeSearch(places_, paramOr(request, "name"), paramOr(request, "city"),
                                    paramOr(request, "city_code"));
  return hitList(page(hits, paging.index, paging.size));
}

Reply Endpoints::nearbySearch(const Incoming& request) const {
  Paging paging;
  if (auto bad = readPaging(request, paging)) return *bad;
  NearbyQuery q;
  const std::string* location = param(request, "location");
  if (location == nullptr) return badRequest("location is required, as \"lng,lat\"");
  auto centre = parseLocation(*location);
  if (!centre) return badRequest("location must be \"lng,lat\" in degrees");
  q.longitude = centre->first;
  q.latitude = centre->second;
  if (const std::string* radius = param(request, "radius")) {
    auto r = parseInt(*radius);
    if (!r || *r < 1 || *r > 50000) return badRequest("radius must be 1 to 50000 metres");
    q.radius = *r;
  }
  const std::string orderby = paramOr(request, "orderby");
  if (orderby == "relevance") {
    q.byRelevance = true;
  } else if (!orderby.empty() && orderby != "distance") {
    return badRequest("orderby must be \"distance\" or \"relevance\"");
  }
  q.keyword = paramOr(request, "name");
  q.category = paramOr(request, "category");
  return hitList(page(emulator::nearbySearch(places_, q), paging.index, paging.size));
}

}  // namespace orv::emulator
