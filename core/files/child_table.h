#pragma once
// ChildTable: how FileIndex finds a folder's child by its parent and the hash of its name.
//
// An open-addressing table with linear probing whose slots hold entry numbers (-1 when
// empty). It stores no keys: its owner keeps the 32-bit slot hash of every entry (the low
// bits of ChildKey::Hash, enough to place it in any table up to 2^32 slots) and answers
// whether an entry has a key, so a slot costs four bytes and growing or shifting never
// rehashes a name. It is kept at most three quarters full, and deletion shifts entries back,
// so probing never meets a tombstone.
//
// A value type owned by one FileIndex, with the index's threading: const members may run on
// several threads at once, mutations belong to the owner.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vesk {

// A child's lookup key: its parent's entry number and the hash of its name.
struct ChildKey {
  int32_t parent = -1;
  uint64_t name = 0;

  bool operator==(const ChildKey&) const = default;
  struct Hash {
    size_t operator()(const ChildKey& key) const;
  };
  // The part of the hash a ChildTable keeps per entry.
  uint32_t slotHash() const { return static_cast<uint32_t>(Hash{}(*this)); }
};

class ChildTable final {
 public:
  // What the table asks its owner about the entries in its slots.
  class Keys {
   public:
    // The slot hash of every entry, by entry number.
    virtual std::span<const uint32_t> slotHashes() const = 0;
    // Whether the entry's key is `key` (its slot hash is known to match).
    virtual bool hasKey(int32_t entry, const ChildKey& key) const = 0;

    Keys() = default;
    virtual ~Keys() = default;
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
    Keys(Keys&&) = delete;
    Keys& operator=(Keys&&) = delete;
  };

  static constexpr int32_t kEmptySlot = -1;

  // The slot that holds an entry with `key`, or -1.
  int32_t find(const ChildKey& key, const Keys& keys) const;
  int32_t at(size_t slot) const { return slots_[slot]; }
  // Puts another entry with the same key into a slot.
  void replace(size_t slot, int32_t entry) { slots_[slot] = entry; }
  // Records `entry` under `key`; with `unlessPresent`, false (and nothing recorded) when the
  // key is already there.
  bool insert(const ChildKey& key, int32_t entry, bool unlessPresent, const Keys& keys);
  // Empties the slot `hole`, moving later entries of its probe run back into it.
  void erase(size_t hole, const Keys& keys);
  // Sizes the table for `entries` without growing on the way (only ever enlarges it).
  void reserve(size_t entries, const Keys& keys);

  size_t memoryBytes() const { return slots_.capacity() * sizeof(int32_t); }

 private:
  // Moves every entry into a table of `size` slots, a power of two.
  void rehash(size_t size, std::span<const uint32_t> hashes);
  void place(uint32_t hash, int32_t entry);

  std::vector<int32_t> slots_;
  size_t used_ = 0;
};

}  // namespace vesk
