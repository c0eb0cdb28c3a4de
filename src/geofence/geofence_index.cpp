// Fences, their index and the transitions a fix causes.
// GCC 12 sees Boost's R-tree node sorting (fixed-capacity varray) read before written when the
// boxes are float; it is not, and clang agrees.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "geofence/geofence_index.h"

#include <boost/iterator/function_output_iterator.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace orv::detail {
namespace bgi = boost::geometry::index;

namespace {

constexpr uint8_t bit(GeofenceEventKind k) { return static_cast<uint8_t>(k); }

}  // namespace

boost::geometry::model::box<GeofenceIndex::Point> GeofenceIndex::outward(const Box& b) {
  auto down = [](double v) {
    const float f = static_cast<float>(v);
    return f > v ? std::nextafter(f, -HUGE_VALF) : f;
  };
  auto up = [](double v) {
    const float f = static_cast<float>(v);
    return f < v ? std::nextafter(f, HUGE_VALF) : f;
  };
  return {Point(down(b.minLng), down(b.minLat)), Point(up(b.maxLng), up(b.maxLat))};
}

GeofenceIndex::BoxValue GeofenceIndex::treeValue(const FenceShape& shape, uint32_t slot) {
  return {outward(boundingBox(shape)), slot};
}

void GeofenceIndex::insideSetInsert(uint32_t slot) {
  const auto at = std::lower_bound(inside_.begin(), inside_.end(), slot);
  if (at == inside_.end() || *at != slot) inside_.insert(at, slot);
}

void GeofenceIndex::insideSetErase(uint32_t slot) {
  const auto at = std::lower_bound(inside_.begin(), inside_.end(), slot);
  if (at != inside_.end() && *at == slot) inside_.erase(at);
}

Result<bool> GeofenceIndex::add(const Geofence& fence) {
  Result<FenceShape> shape = compileShape(fence);
  if (!shape.ok()) return shape.error();
  return insert(fence, std::move(*shape));
}

Result<std::size_t> GeofenceIndex::addAll(const std::vector<Geofence>& fences,
                                          std::string_view label) {
  std::vector<FenceShape> shapes;
  shapes.reserve(fences.size());
  for (std::size_t i = 0; i < fences.size(); ++i) {
    Result<FenceShape> shape = compileShape(fences[i]);
    if (!shape.ok()) {
      Error e = shape.error();
      if (!label.empty()) e.message = std::string(label) + std::to_string(i) + ": " + e.message;
      return e;
    }
    shapes.push_back(std::move(*shape));
  }
  // Many fences at once: the tree is rebuilt packed, which is faster to build and to query and
  // smaller than one grown by insertion.
  const bool repack = fences.size() >= 1024 && fences.size() >= tree_.size();
  bulkLoading_ = repack;
  std::optional<Error> failed;
  for (std::size_t i = 0; i < fences.size() && !failed; ++i) {
    auto r = insert(fences[i], std::move(shapes[i]));
    if (!r.ok()) failed = r.error();  // only the state file can fail here
  }
  bulkLoading_ = false;
  if (repack) {
    std::vector<BoxValue> values;
    values.reserve(byId_.size());
    byId_.forEach([&](uint32_t slot) { values.push_back(treeValue(slots_[slot].shape, slot)); });
    tree_ = Tree(values.begin(), values.end());
  }
  if (failed) return *failed;
  return fences.size();
}

Result<bool> GeofenceIndex::insert(const Geofence& fence, FenceShape shape) {
  const auto ids = [this](uint32_t slot) { return idOf(slot); };
  FenceState resumed;
  if (byId_.find(fence.id, ids) != IdTable::kNone) {
    // A replaced fence starts over.
    if (!remove(fence.id)) return false;
    if (store_) {
      if (auto err = store_->erase(fence.id)) return *err;
    }
  } else if (store_) {
    resumed = store_->load(fence.id).value_or(FenceState{});
  }
  uint32_t slot;
  if (!free_.empty()) {
    slot = free_.back();
    free_.pop_back();
  } else {
    slot = static_cast<uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  Slot& s = slots_[slot];
  s.id = fence.id;
  s.shape = std::move(shape);
  s.dwell = fence.dwell ? fence.dwell->count() : -1.0;
  s.transitions = fence.transitions;
  s.state = resumed;
  byId_.insert(slot, ids);
  if (!bulkLoading_) tree_.insert(treeValue(s.shape, slot));
  if (s.state.inside) insideSetInsert(slot);
  return true;
}

bool GeofenceIndex::remove(std::string_view id) {
  const auto ids = [this](uint32_t slot) { return idOf(slot); };
  const uint32_t slot = byId_.find(id, ids);
  if (slot == IdTable::kNone) return false;
  byId_.erase(id, ids);
  Slot& s = slots_[slot];
  tree_.remove(treeValue(s.shape, slot));
  insideSetErase(slot);
  if (store_) (void)store_->erase(s.id);  // a stale row is harmless: add() of the id replaces it
  s = Slot{};
  free_.push_back(slot);
  return true;
}

GeofenceIndex::Change& GeofenceIndex::changeFor(uint32_t slot) {
  for (Change& c : changes_) {
    if (c.slot == slot) return c;
  }
  return changes_.emplace_back(Change{slot, slots_[slot].state, 0});
}

Result<std::vector<GeofenceEvent>> GeofenceIndex::update(const Location& fix) {
  const Coordinate p = fix.coordinate;
  if (!std::isfinite(p.latitude) || !std::isfinite(p.longitude) || std::abs(p.latitude) > 90.0 ||
      std::abs(p.longitude) > 180.0) {
    return std::vector<GeofenceEvent>{};
  }
  const double a = std::isfinite(fix.horizontalAccuracy) && fix.horizontalAccuracy > 0.0
                       ? fix.horizontalAccuracy
                       : 0.0;
  const double t = std::chrono::duration<double>(fix.timestamp.time_since_epoch()).count();
  changes_.clear();

  if (a <= kMaxUsefulAccuracy) {
    candidates_.clear();
    double dLat = 0, dLng = 0;
    metresToDegrees(p, a, dLat, dLng);
    const auto query =
        outward(Box{p.latitude - dLat, p.longitude - dLng, p.latitude + dLat, p.longitude + dLng});
    tree_.query(bgi::intersects(query),
                boost::make_function_output_iterator(
                    [this](const BoxValue& v) { candidates_.push_back(v.second); }));
    std::sort(candidates_.begin(), candidates_.end());
    for (uint32_t slot : candidates_) {
      const Slot& s = slots_[slot];
      const Side side = classify(s.shape, p, a);
      if (side == Side::inside && !s.state.inside) {
        changeFor(slot) = Change{slot, FenceState{true, false, t}, bit(GeofenceEventKind::enter)};
      } else if (side == Side::outside && s.state.inside) {
        changeFor(slot) = Change{slot, FenceState{}, bit(GeofenceEventKind::exit)};
      }
    }
    // A fence whose box the fix's circle misses is at least `a` away: outside.
    for (uint32_t slot : inside_) {
      if (!std::binary_search(candidates_.begin(), candidates_.end(), slot)) {
        changeFor(slot) = Change{slot, FenceState{}, bit(GeofenceEventKind::exit)};
      }
    }
  }
  // Dwell: fences inside after this fix, the ones entered by it included.
  auto dwellCheck = [&](uint32_t slot) {
    const Slot& s = slots_[slot];
    if (s.dwell < 0.0) return;
    Change* c = nullptr;
    for (Change& x : changes_) {
      if (x.slot == slot) c = &x;
    }
    const FenceState& st = c ? c->next : s.state;
    if (!st.inside || st.dwellReported || t - st.since < s.dwell) return;
    Change& ch = c ? *c : changeFor(slot);
    ch.next.dwellReported = true;
    ch.kinds |= bit(GeofenceEventKind::dwell);
  };
  for (uint32_t slot : inside_) dwellCheck(slot);
  for (std::size_t i = 0, n = changes_.size(); i < n; ++i) {
    if (changes_[i].kinds & bit(GeofenceEventKind::enter)) dwellCheck(changes_[i].slot);
  }
  if (changes_.empty()) return std::vector<GeofenceEvent>{};

  if (store_) {
    std::vector<StateChange> rows;
    rows.reserve(changes_.size());
    for (const Change& c : changes_) rows.push_back(StateChange{slots_[c.slot].id, c.next});
    if (auto err = store_->save(rows)) return *err;
  }
  std::vector<GeofenceEvent> events;
  for (const Change& c : changes_) {
    Slot& s = slots_[c.slot];
    s.state = c.next;
    if (s.state.inside) {
      insideSetInsert(c.slot);
    } else {
      insideSetErase(c.slot);
    }
    for (GeofenceEventKind k :
         {GeofenceEventKind::enter, GeofenceEventKind::exit, GeofenceEventKind::dwell}) {
      if ((c.kinds & bit(k)) && (s.transitions & bit(k))) events.push_back({k, s.id, fix});
    }
  }
  std::stable_sort(
      events.begin(), events.end(),
      [](const GeofenceEvent& x, const GeofenceEvent& y) { return x.fenceId < y.fenceId; });
  return events;
}

}  // namespace orv::detail
