// Fence ids to slots: an open-addressing table of slot numbers whose keys live in the slots
// themselves, 8 bytes per fence at most instead of a hash node holding a copy of the key.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace orv::detail {

class IdTable {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // `idOf(slot)` gives a slot's id; it must stay valid while the slot is in the table.
  template <class IdOf>
  uint32_t find(std::string_view id, IdOf&& idOf) const {
    if (cells_.empty()) return kNone;
    for (std::size_t i = start(id);; i = (i + 1) & mask()) {
      const uint32_t c = cells_[i];
      if (c == kEmpty) return kNone;
      if (c != kDeleted && idOf(c) == id) return c;
    }
  }

  // Precondition: no slot with the same id is in the table.
  template <class IdOf>
  void insert(uint32_t slot, IdOf&& idOf) {
    if ((used_ + 1) * 2 > cells_.size()) rehash(idOf);
    std::size_t i = start(idOf(slot));
    while (cells_[i] != kEmpty && cells_[i] != kDeleted) i = (i + 1) & mask();
    if (cells_[i] == kEmpty) ++used_;
    cells_[i] = slot;
    ++size_;
  }

  template <class IdOf>
  bool erase(std::string_view id, IdOf&& idOf) {
    if (cells_.empty()) return false;
    for (std::size_t i = start(id);; i = (i + 1) & mask()) {
      const uint32_t c = cells_[i];
      if (c == kEmpty) return false;
      if (c != kDeleted && idOf(c) == id) {
        cells_[i] = kDeleted;
        --size_;
        return true;
      }
    }
  }

  std::size_t size() const { return size_; }

  template <class F>
  void forEach(F&& f) const {
    for (uint32_t c : cells_) {
      if (c != kEmpty && c != kDeleted) f(c);
    }
  }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  static constexpr uint32_t kDeleted = UINT32_MAX - 1;

  std::size_t mask() const { return cells_.size() - 1; }
  std::size_t start(std::string_view id) const { return std::hash<std::string_view>{}(id)&mask(); }

  template <class IdOf>
  void rehash(IdOf&& idOf) {
    std::vector<uint32_t> old;
    old.swap(cells_);
    std::size_t n = 16;
    while (n < (size_ + 1) * 2) n *= 2;
    cells_.assign(n, kEmpty);
    used_ = size_ = 0;
    for (uint32_t c : old) {
      if (c != kEmpty && c != kDeleted) insert(c, idOf);
    }
  }

  std::vector<uint32_t> cells_;
  std::size_t used_ = 0;  // cells not empty (tombstones included)
  std::size_t size_ = 0;
};

}  // namespace orv::detail
