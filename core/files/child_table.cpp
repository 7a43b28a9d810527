#include "core/files/child_table.h"

#include <algorithm>
#include <utility>

namespace vesk {

namespace {

constexpr size_t kFirstSize = 1024;

uint64_t mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  return x;
}

}  // namespace

size_t ChildKey::Hash::operator()(const ChildKey& key) const {
  return mix(key.name ^ (static_cast<uint64_t>(static_cast<uint32_t>(key.parent)) << 17));
}

size_t ChildTable::homeSlot(const ChildKey& key) const {
  return ChildKey::Hash{}(key) & (slots_.size() - 1);
}

int32_t ChildTable::find(const ChildKey& key, const Keys& keys) const {
  if (slots_.empty()) {
    return -1;
  }
  const size_t mask = slots_.size() - 1;
  for (size_t slot = homeSlot(key);; slot = (slot + 1) & mask) {
    const int32_t entry = slots_[slot];
    if (entry == kEmptySlot) {
      return -1;
    }
    if (keys.hasKey(entry, key)) {
      return static_cast<int32_t>(slot);
    }
  }
}

bool ChildTable::insert(const ChildKey& key, int32_t entry, bool unlessPresent, const Keys& keys) {
  if ((used_ + 1) * 4 > slots_.size() * 3) {
    grow(keys);
  }
  const size_t mask = slots_.size() - 1;
  size_t slot = homeSlot(key);
  // One probe both looks for the key and finds the free slot.
  for (int32_t occupant = slots_[slot]; occupant != kEmptySlot; occupant = slots_[slot]) {
    if (unlessPresent && keys.hasKey(occupant, key)) {
      return false;
    }
    slot = (slot + 1) & mask;
  }
  slots_[slot] = entry;
  ++used_;
  return true;
}

void ChildTable::grow(const Keys& keys) {
  std::vector<int32_t> old = std::move(slots_);
  slots_.assign(std::max(kFirstSize, old.size() * 2), kEmptySlot);
  used_ = 0;
  for (const int32_t entry : old) {
    if (entry != kEmptySlot) {
      insert(keys.keyOf(entry), entry, false, keys);
    }
  }
}

// Backward-shift deletion keeps linear probing free of tombstones.
void ChildTable::erase(size_t hole, const Keys& keys) {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = (hole + 1) & mask; slots_[slot] != kEmptySlot; slot = (slot + 1) & mask) {
    const size_t home = homeSlot(keys.keyOf(slots_[slot]));
    // Move the entry into the hole unless its home lies cyclically in (hole, slot].
    const bool homeBetween =
        hole <= slot ? (home > hole && home <= slot) : (home > hole || home <= slot);
    if (!homeBetween) {
      slots_[hole] = slots_[slot];
      hole = slot;
    }
  }
  slots_[hole] = kEmptySlot;
  --used_;
}

}  // namespace vesk
