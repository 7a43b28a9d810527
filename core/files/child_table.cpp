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

size_t index(int32_t entry) {
  return static_cast<size_t>(entry);
}

}  // namespace

size_t ChildKey::Hash::operator()(const ChildKey& key) const {
  return mix(key.name ^ (static_cast<uint64_t>(static_cast<uint32_t>(key.parent)) << 17));
}

int32_t ChildTable::find(const ChildKey& key, const Keys& keys) const {
  if (slots_.empty()) {
    return -1;
  }
  const std::span<const uint32_t> hashes = keys.slotHashes();
  const uint32_t hash = key.slotHash();
  const size_t mask = slots_.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const int32_t entry = slots_[slot];
    if (entry == kEmptySlot) {
      return -1;
    }
    if (hashes[index(entry)] == hash && keys.hasKey(entry, key)) {
      return static_cast<int32_t>(slot);
    }
  }
}

bool ChildTable::insert(const ChildKey& key, int32_t entry, bool unlessPresent, const Keys& keys) {
  const std::span<const uint32_t> hashes = keys.slotHashes();
  if ((used_ + 1) * 4 > slots_.size() * 3) {
    rehash(std::max(kFirstSize, slots_.size() * 2), hashes);
  }
  const uint32_t hash = key.slotHash();
  const size_t mask = slots_.size() - 1;
  size_t slot = hash & mask;
  // One probe both looks for the key and finds the free slot.
  for (int32_t occupant = slots_[slot]; occupant != kEmptySlot; occupant = slots_[slot]) {
    if (unlessPresent && hashes[index(occupant)] == hash && keys.hasKey(occupant, key)) {
      return false;
    }
    slot = (slot + 1) & mask;
  }
  slots_[slot] = entry;
  ++used_;
  return true;
}

void ChildTable::place(uint32_t hash, int32_t entry) {
  const size_t mask = slots_.size() - 1;
  size_t slot = hash & mask;
  while (slots_[slot] != kEmptySlot) {
    slot = (slot + 1) & mask;
  }
  slots_[slot] = entry;
}

void ChildTable::reserve(size_t entries, const Keys& keys) {
  size_t size = kFirstSize;
  while (entries * 4 > size * 3) {
    size *= 2;
  }
  if (size > slots_.size()) {
    rehash(size, keys.slotHashes());
  }
}

void ChildTable::rehash(size_t size, std::span<const uint32_t> hashes) {
  std::vector<int32_t> old = std::move(slots_);
  slots_.assign(size, kEmptySlot);
  for (const int32_t entry : old) {
    if (entry != kEmptySlot) {
      place(hashes[index(entry)], entry);
    }
  }
}

// Backward-shift deletion keeps linear probing free of tombstones.
void ChildTable::erase(size_t hole, const Keys& keys) {
  const std::span<const uint32_t> hashes = keys.slotHashes();
  const size_t mask = slots_.size() - 1;
  for (size_t slot = (hole + 1) & mask; slots_[slot] != kEmptySlot; slot = (slot + 1) & mask) {
    const size_t home = hashes[index(slots_[slot])] & mask;
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
