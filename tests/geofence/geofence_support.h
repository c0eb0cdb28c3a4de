// Building fences and tracks in metres around a point, for the geofence tests.
#pragma once

#include <GeographicLib/Geodesic.hpp>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "orv/geofence.h"

namespace geofence_test {

inline const orv::Coordinate kOrigin{31.2304, 121.4737};

// The point `east` and `north` metres from `origin` (along the geodesic of that direction).
inline orv::Coordinate at(double east, double north, orv::Coordinate origin = kOrigin) {
  double lat = origin.latitude, lng = origin.longitude;
  const double d = std::hypot(east, north);
  if (d > 0) {
    const double azimuth = std::atan2(east, north) * 180.0 / M_PI;
    GeographicLib::Geodesic::WGS84().Direct(origin.latitude, origin.longitude, azimuth, d, lat,
                                            lng);
  }
  return {lat, lng};
}

inline orv::Location fix(orv::Coordinate c, double accuracy, double seconds) {
  orv::Location l;
  l.coordinate = c;
  l.horizontalAccuracy = accuracy;
  l.timestamp = std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::duration<double>(seconds)));
  return l;
}

// A ring of (east, north) metre pairs around kOrigin.
inline std::vector<orv::Coordinate> ring(std::initializer_list<std::pair<double, double>> xy,
                                         orv::Coordinate origin = kOrigin) {
  std::vector<orv::Coordinate> r;
  for (auto [e, n] : xy) r.push_back(at(e, n, origin));
  return r;
}

inline orv::Geofence circle(std::string id, orv::Coordinate centre, double radius) {
  orv::Geofence f;
  f.id = std::move(id);
  f.shape = orv::GeofenceCircle{centre, radius};
  return f;
}

inline orv::Geofence polygons(std::string id, std::vector<orv::GeofencePolygon> ps) {
  orv::Geofence f;
  f.id = std::move(id);
  f.shape = std::move(ps);
  return f;
}

// "enter fence@3" for an event at the track's fix number 3 (times are fix numbers).
inline std::string describe(const orv::GeofenceEvent& e) {
  const double t = std::chrono::duration<double>(e.fix.timestamp.time_since_epoch()).count();
  return std::string(orv::geofenceEventName(e.kind)) + " " + e.fenceId + "@" +
         std::to_string(static_cast<long>(std::lround(t)));
}

}  // namespace geofence_test
