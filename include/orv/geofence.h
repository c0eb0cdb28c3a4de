// Geofencing on the device: circles and polygons watched against a stream of fixes.
//
// A fix with horizontal accuracy a (metres; negative or non-finite counts as 0) is inside a fence
// when its point is inside and at least a from the boundary, outside when its point is outside
// and at least a from the boundary, and uncertain otherwise; an uncertain fix changes nothing.
// Not inside -> inside is `enter`, inside -> outside is `exit`; `dwell` comes once per stay, at
// the first fix at least the fence's dwell time after that stay's `enter`. Time is the fix's own
// timestamp, never the wall clock. Distances are geodesic on WGS-84; polygon edges are geodesics.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "orv/export.h"
#include "orv/location.h"
#include "orv/result.h"

namespace orv {

// The datum a fence's coordinates are given in; fences are converted to WGS-84 once, when added.
enum class Datum { wgs84, gcj02, bd09 };

enum class GeofenceEventKind : uint8_t { enter = 1, exit = 2, dwell = 4 };

// Which transitions a fence reports: a mask of GeofenceEventKind values. State is tracked
// whatever the mask says.
inline constexpr uint8_t kGeofenceAllTransitions = 7;

struct GeofenceCircle {
  Coordinate center;
  double radius = 0.0;  // metres, above 0
};

// rings[0] is the outer ring, the others are holes inside it. A ring needs at least 3 distinct
// vertices; repeating the first vertex at the end is allowed. Either orientation is accepted.
struct GeofencePolygon {
  std::vector<std::vector<Coordinate>> rings;
};

// Several polygons form a multipolygon; they must not overlap.
using GeofenceShape = std::variant<GeofenceCircle, std::vector<GeofencePolygon>>;

struct Geofence {
  std::string id;
  GeofenceShape shape;
  Datum datum = Datum::wgs84;
  std::optional<std::chrono::duration<double>> dwell;  // none: no dwell events
  uint8_t transitions = kGeofenceAllTransitions;
};

struct GeofenceEvent {
  GeofenceEventKind kind = GeofenceEventKind::enter;
  std::string fenceId;
  Location fix;  // the fix that caused it, coordinate in WGS-84
};

// Stable lower-case name of the kind: "enter", "exit", "dwell".
ORV_API std::string_view geofenceEventName(GeofenceEventKind kind);

inline constexpr std::string_view kGeofenceErrorDomain = "orv.geofence";
enum class GeofenceErrorCode : int64_t {
  invalidFence = 1,  // the message names the fence and what is wrong with it
  unknownFence = 2,
  invalidGeoJson = 3,  // the message names the feature's index
  stateFile = 4,       // unreadable, corrupt or of another version; never silently reset
};

// The fences of a GeoJSON FeatureCollection: Polygon and MultiPolygon features, and Point
// features with `properties.radius` in metres. The id comes from the feature's `id`, else
// `properties.id`; `properties.dwell` (seconds) is optional; `properties.datum` ("wgs84",
// "gcj02", "bd09") overrides `datum` for its feature. Errors name the feature's index
// ("feature 3: ..."). The fences are not checked here: GeofenceMonitor::add does that.
ORV_API Result<std::vector<Geofence>> parseGeofences(std::string_view geojson,
                                                     Datum datum = Datum::wgs84);

namespace detail {
class GeofenceIndex;
}

class ORV_API GeofenceMonitor {
 public:
  // A monitor whose state lives in memory only.
  GeofenceMonitor();
  // A monitor that records each fence's state in `statePath` (created when missing) before any
  // event is returned, and resumes it when a fence of the same id is added again after a
  // restart.
  static Result<GeofenceMonitor> open(const std::string& statePath);

  GeofenceMonitor(GeofenceMonitor&&) noexcept;
  GeofenceMonitor& operator=(GeofenceMonitor&&) noexcept;
  ~GeofenceMonitor();

  // Adds a fence, or replaces the fence of the same id (whose state starts over).
  Result<bool> add(const Geofence& fence);
  // Removes the fence and its recorded state; false when there is no such fence.
  // Adds (or replaces) all the fences, or none when one is refused.
  Result<std::size_t> addAll(const std::vector<Geofence>& fences);
  // parseGeofences, then addAll; a refused fence's error also names its feature's index.
  Result<std::size_t> loadGeoJson(std::string_view geojson, Datum datum = Datum::wgs84);
  bool remove(std::string_view id);
  std::size_t size() const;

  // Feeds one fix (WGS-84) and returns the events it causes, in fence-id order, enter before
  // dwell. A fix with a non-finite coordinate is ignored. Fails only when the state file cannot
  // be written; the fences' state is then left as it was.
  Result<std::vector<GeofenceEvent>> update(const Location& fix);

 private:
  std::unique_ptr<detail::GeofenceIndex> index_;
};

}  // namespace orv
