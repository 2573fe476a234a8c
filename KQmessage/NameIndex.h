// A hash index of the positions of named entries that live in an array owned
// by someone else (the labels of a label list, the pairs of a message). The
// index stores only positions and hashes, never names: a lookup reads the name
// of a candidate through the caller's `nameAt(position)` and compares it with
// the caller's `equal`. So names are not copied, and moving the owner's array
// (which moves its strings) does not invalidate the index.
//
// Open addressing with linear probing; the table is a power of two and at
// most half full. Positions are non-negative 32-bit numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class NameIndex {
 public:
  // The position stored for a name equal to `name`, or -1.
  template <class NameAt, class Equal>
  std::int32_t Find(std::string_view name, std::size_t hash, NameAt&& nameAt, Equal&& equal) const {
    if (slots_.empty()) return -1;
    for (std::size_t i = Short(hash) & Mask();; i = (i + 1) & Mask()) {
      const Slot& slot = slots_[i];
      if (slot.position < 0) return -1;
      if (slot.hash == Short(hash) && equal(nameAt(slot.position), name)) return slot.position;
    }
  }

  // Records `position` under `hash`; the name must not be in the index yet.
  void Insert(std::size_t hash, std::int32_t position) {
    if (2 * (used_ + 1) > slots_.size()) Grow();
    Place(Short(hash), position);
    ++used_;
  }

  // Removes the entry stored with `position` under `hash` (it must be there).
  void Erase(std::size_t hash, std::int32_t position) {
    std::size_t hole = SlotOf(hash, position);
    slots_[hole].position = -1;
    --used_;
    // Backward shift: entries after the hole move up when the hole lies
    // between their home slot and their slot, so probes never stop early.
    for (std::size_t j = (hole + 1) & Mask(); slots_[j].position >= 0; j = (j + 1) & Mask()) {
      const std::size_t home = slots_[j].hash & Mask();
      const bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
      if (!movable) continue;
      slots_[hole] = slots_[j];
      slots_[j].position = -1;
      hole = j;
    }
  }

  // The entry stored with `from` under `hash` is now at `to`.
  void Move(std::size_t hash, std::int32_t from, std::int32_t to) { slots_[SlotOf(hash, from)].position = to; }

  std::size_t size() const { return used_; }
  void Clear() {
    slots_.clear();
    used_ = 0;
  }

 private:
  struct Slot {
    std::uint32_t hash;
    std::int32_t position;  // -1: empty
  };

  static std::uint32_t Short(std::size_t hash) { return static_cast<std::uint32_t>(hash); }
  std::size_t Mask() const { return slots_.size() - 1; }

  std::size_t SlotOf(std::size_t hash, std::int32_t position) const {
    std::size_t i = Short(hash) & Mask();
    while (slots_[i].position != position) i = (i + 1) & Mask();
    return i;
  }

  void Place(std::uint32_t hash, std::int32_t position) {
    std::size_t i = hash & Mask();
    while (slots_[i].position >= 0) i = (i + 1) & Mask();
    slots_[i] = Slot{hash, position};
  }

  void Grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : slots_.size() * 2, Slot{0, -1});
    old.swap(slots_);
    for (const Slot& slot : old)
      if (slot.position >= 0) Place(slot.hash, slot.position);
  }

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};
