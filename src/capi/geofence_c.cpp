// The geofence monitor behind an opaque handle.
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capi/capi_internal.h"
#include "orv/geofence.h"

using orv::capi::checkCoordinate;
using orv::capi::checkText;
using orv::capi::fail;
using orv::capi::guarded;

namespace {

template <class Body>
orv_status withGeofence(orv_geofence* geofence, Body&& body) {
  return guarded([&] {
    if (!geofence) return fail(ORV_STATUS_NULL_ARGUMENT, "geofence is NULL");
    return body(*geofence->monitor);
  });
}

orv_status toDatum(orv_datum datum, orv::Datum& out) {
  switch (orv::capi::rawValue(datum)) {
    case ORV_DATUM_WGS84:
      out = orv::Datum::wgs84;
      return ORV_STATUS_OK;
    case ORV_DATUM_GCJ02:
      out = orv::Datum::gcj02;
      return ORV_STATUS_OK;
    case ORV_DATUM_BD09:
      out = orv::Datum::bd09;
      return ORV_STATUS_OK;
    default:
      return fail(ORV_STATUS_OUT_OF_RANGE, "datum is not an orv_datum value");
  }
}

// A fence with the id and options checked; the shape is the caller's.
orv_status makeFence(const char* id, const orv_geofence_options* options, orv::Geofence& out) {
  if (auto s = checkText(id, "id")) return s;
  out.id = id;
  if (!options) return ORV_STATUS_OK;
  if (auto s = toDatum(options->datum, out.datum)) return s;
  if (!std::isfinite(options->dwell_seconds)) {
    return fail(ORV_STATUS_OUT_OF_RANGE, "dwell_seconds must be a finite number");
  }
  if (options->dwell_seconds >= 0)
    out.dwell = std::chrono::duration<double>(options->dwell_seconds);
  if (options->transitions > orv::kGeofenceAllTransitions) {
    return fail(ORV_STATUS_OUT_OF_RANGE, "transitions must be a mask of the event kinds (0 to 7)");
  }
  out.transitions = static_cast<uint8_t>(options->transitions);
  return ORV_STATUS_OK;
}

// The monitor's refusal of a fence or a file, with its own message.
template <class T>
orv_status settle(const orv::Result<T>& result) {
  return result ? ORV_STATUS_OK : fail(ORV_STATUS_FAILED, result.error().message);
}

}  // namespace

extern "C" {

orv_status orv_geofence_new(const char* state_path, orv_geofence** out) {
  return guarded([&] {
    if (!out) return fail(ORV_STATUS_NULL_ARGUMENT, "out is NULL");
    *out = nullptr;
    if (auto s = orv::capi::checkOptionalText(state_path, "state_path")) return s;
    auto handle = std::make_unique<orv_geofence>();
    if (state_path) {
      auto opened = orv::GeofenceMonitor::open(state_path);
      if (!opened) return fail(ORV_STATUS_FAILED, opened.error().message);
      handle->monitor = std::make_shared<orv::GeofenceMonitor>(std::move(*opened));
    } else {
      handle->monitor = std::make_shared<orv::GeofenceMonitor>();
    }
    *out = handle.release();
    return ORV_STATUS_OK;
  });
}

void orv_geofence_free(orv_geofence* geofence) { delete geofence; }

orv_status orv_geofence_set_event_callback(orv_geofence* geofence,
                                           void (*callback)(void* user,
                                                            const orv_geofence_event* event),
                                           void* user) {
  return withGeofence(geofence, [&](orv::GeofenceMonitor&) {
    geofence->callback = callback;
    geofence->user = user;
    return ORV_STATUS_OK;
  });
}

orv_status orv_geofence_add_circle(orv_geofence* geofence, const char* id, orv_coordinate center,
                                   double radius_m, const orv_geofence_options* options) {
  return withGeofence(geofence, [&](orv::GeofenceMonitor& monitor) {
    orv::Geofence fence;
    if (auto s = makeFence(id, options, fence)) return s;
    if (auto s = checkCoordinate(center.latitude, center.longitude)) return s;
    if (!(std::isfinite(radius_m) && radius_m > 0)) {
      return fail(ORV_STATUS_OUT_OF_RANGE, "radius_m must be a finite number above 0");
    }
    fence.shape = orv::GeofenceCircle{{center.latitude, center.longitude}, radius_m};
    return settle(monitor.add(fence));
  });
}

orv_status orv_geofence_add_polygon(orv_geofence* geofence, const char* id,
                                    const orv_coordinate* const* rings, const size_t* ring_sizes,
                                    size_t ring_count, const orv_geofence_options* options) {
  return withGeofence(geofence, [&](orv::GeofenceMonitor& monitor) {
    orv::Geofence fence;
    if (auto s = makeFence(id, options, fence)) return s;
    if (!rings || !ring_sizes) return fail(ORV_STATUS_NULL_ARGUMENT, "rings is NULL");
    if (ring_count == 0) return fail(ORV_STATUS_OUT_OF_RANGE, "a polygon needs an outer ring");
    orv::GeofencePolygon polygon;
    for (size_t r = 0; r < ring_count; ++r) {
      if (!rings[r] && ring_sizes[r] > 0) return fail(ORV_STATUS_NULL_ARGUMENT, "a ring is NULL");
      auto& ring = polygon.rings.emplace_back();
      for (size_t i = 0; i < ring_sizes[r]; ++i) {
        const orv_coordinate& at = rings[r][i];
        if (auto s = checkCoordinate(at.latitude, at.longitude)) return s;
        ring.push_back({at.latitude, at.longitude});
      }
    }
    fence.shape = std::vector<orv::GeofencePolygon>{std::move(polygon)};
    return settle(monitor.add(fence));
  });
}

orv_status orv_geofence_load_geojson(orv_geofence* geofence, const char* geojson, orv_datum datum,
                                     size_t* added) {
  return withGeofence(geofence, [&](orv::GeofenceMonitor& monitor) {
    if (auto s = checkText(geojson, "geojson")) return s;
    orv::Datum d{};
    if (auto s = toDatum(datum, d)) return s;
    const auto loaded = monitor.loadGeoJson(geojson, d);
    if (loaded && added) *added = *loaded;
    return settle(loaded);
  });
}

orv_status orv_geofence_remove(orv_geofence* geofence, const char* id, bool* removed) {
  return withGeofence(geofence, [&](orv::GeofenceMonitor& monitor) {
    if (auto s = checkText(id, "id")) return s;
    const bool found = monitor.remove(id);
    if (removed) *removed = found;
    return ORV_STATUS_OK;
  });
}

size_t orv_geofence_count(const orv_geofence* geofence) {
  return geofence ? geofence->monitor->size() : 0;
}

orv_status orv_geofence_update(orv_geofence* geofence, const orv_location* fix) {
  return withGeofence(geofence, [&](orv::GeofenceMonitor& monitor) {
    if (!fix) return fail(ORV_STATUS_NULL_ARGUMENT, "fix is NULL");
    orv::Location location;
    if (auto s = orv::capi::toLocation(*fix, location)) return s;
    // The monitor and callback of this call, whatever the callback changes meanwhile.
    const std::shared_ptr<orv::GeofenceMonitor> keep = geofence->monitor;
    const auto callback = geofence->callback;
    void* const user = geofence->user;
    const auto events = monitor.update(location);
    if (!events) return fail(ORV_STATUS_FAILED, events.error().message);
    if (callback) {
      for (const orv::GeofenceEvent& event : *events) {
        orv::capi::withCEvent(event, [&](const orv_geofence_event* e) { callback(user, e); });
      }
    }
    return ORV_STATUS_OK;
  });
}

}  // extern "C"
