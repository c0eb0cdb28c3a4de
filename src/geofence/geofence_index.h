// The monitor's fences, their R-tree and their state.
#pragma once

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "geofence/fence_shape.h"
#include "geofence/id_table.h"
#include "geofence/state_store.h"
#include "orv/geofence.h"

namespace orv::detail {

// A fix whose accuracy is worse than this is uncertain for every fence.
inline constexpr double kMaxUsefulAccuracy = 100'000.0;

class GeofenceIndex {
 public:
  explicit GeofenceIndex(std::unique_ptr<StateStore> store = nullptr) : store_(std::move(store)) {}

  Result<bool> add(const Geofence& fence);
  // All or none; a refused fence's message is prefixed with `label` and its index when `label`
  // is not empty.
  Result<std::size_t> addAll(const std::vector<Geofence>& fences, std::string_view label);
  bool remove(std::string_view id);
  std::size_t size() const { return byId_.size(); }
  Result<std::vector<GeofenceEvent>> update(const Location& fix);

 private:
  // Single precision, rounded outward: half the memory of double boxes, still covering.
  using Point = boost::geometry::model::point<float, 2, boost::geometry::cs::cartesian>;
  using BoxValue = std::pair<boost::geometry::model::box<Point>, uint32_t>;
  using Tree = boost::geometry::index::rtree<BoxValue, boost::geometry::index::rstar<16>>;

  struct Slot {
    std::string id;
    FenceShape shape;
    double dwell = -1.0;  // seconds; negative: no dwell events
    uint8_t transitions = kGeofenceAllTransitions;
    FenceState state;
  };
  struct Change {
    uint32_t slot;
    FenceState next;
    uint8_t kinds;  // GeofenceEventKind bits
  };

  Result<bool> insert(const Geofence& fence, FenceShape shape);
  static BoxValue treeValue(const FenceShape& shape, uint32_t slot);
  static boost::geometry::model::box<Point> outward(const Box& b);
  void insideSetInsert(uint32_t slot);
  void insideSetErase(uint32_t slot);
  Change& changeFor(uint32_t slot);

  std::string_view idOf(uint32_t slot) const { return slots_[slot].id; }

  std::deque<Slot> slots_;
  std::vector<uint32_t> free_;
  IdTable byId_;
  Tree tree_;
  std::vector<uint32_t> inside_;  // sorted slots whose state is inside
  std::unique_ptr<StateStore> store_;
  bool bulkLoading_ = false;  // addAll rebuilds the tree once at the end
  // Reused per fix.
  std::vector<uint32_t> candidates_;
  std::vector<Change> changes_;
};

}  // namespace orv::detail
