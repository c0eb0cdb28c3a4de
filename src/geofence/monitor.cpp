// The public monitor over the index.
#include "geofence/geofence_index.h"
#include "orv/geofence.h"

namespace orv {

std::string_view geofenceEventName(GeofenceEventKind kind) {
  switch (kind) {
    case GeofenceEventKind::enter:
      return "enter";
    case GeofenceEventKind::exit:
      return "exit";
    case GeofenceEventKind::dwell:
      return "dwell";
  }
  return "unknown";
}

GeofenceMonitor::GeofenceMonitor() : index_(std::make_unique<detail::GeofenceIndex>()) {}

Result<GeofenceMonitor> GeofenceMonitor::open(const std::string& statePath) {
  auto store = detail::StateStore::open(statePath);
  if (!store.ok()) return store.error();
  GeofenceMonitor m;
  m.index_ = std::make_unique<detail::GeofenceIndex>(std::move(*store));
  return m;
}

GeofenceMonitor::GeofenceMonitor(GeofenceMonitor&&) noexcept = default;
GeofenceMonitor& GeofenceMonitor::operator=(GeofenceMonitor&&) noexcept = default;
GeofenceMonitor::~GeofenceMonitor() = default;

Result<bool> GeofenceMonitor::add(const Geofence& fence) { return index_->add(fence); }
Result<std::size_t> GeofenceMonitor::addAll(const std::vector<Geofence>& fences) {
  return index_->addAll(fences, {});
}
Result<std::size_t> GeofenceMonitor::loadGeoJson(std::string_view geojson, Datum datum) {
  auto fences = parseGeofences(geojson, datum);
  if (!fences.ok()) return fences.error();
  return index_->addAll(*fences, "feature ");
}
bool GeofenceMonitor::remove(std::string_view id) { return index_->remove(id); }
std::size_t GeofenceMonitor::size() const { return index_->size(); }
Result<std::vector<GeofenceEvent>> GeofenceMonitor::update(const Location& fix) {
  return index_->update(fix);
}

}  // namespace orv
