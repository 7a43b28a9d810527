#pragma once
// KeyStore: the search keys of many names packed back to back. Key i is the folded bytes
// bytes[starts[i], starts[i+1]) with the same range of `bonus`, and masks[i] is its
// character mask. A key's length may differ from its name's (folding can change it).
//
// A value type; appends are the only mutation, and reading is safe from several threads.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vesk {

struct KeyStore {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> bonus;
  std::vector<uint32_t> starts{0};
  std::vector<uint64_t> masks;

  size_t size() const { return masks.size(); }
  uint32_t length(size_t i) const { return starts[i + 1] - starts[i]; }
  std::span<const uint8_t> keyBytes(size_t i) const {
    return {bytes.data() + starts[i], length(i)};
  }
  std::span<const uint8_t> keyBonus(size_t i) const {
    return {bonus.data() + starts[i], length(i)};
  }

  // Folds `name` onto the end. False, and nothing appended, when the packed bytes would pass
  // 2^32 - 1.
  bool append(std::string_view name);
  // Appends key `i` of `other` as it stands (no folding). Same limit as `append`.
  bool appendCopy(const KeyStore& other, size_t i);
  // Appends an empty key (roots have one).
  void appendEmpty();

  // Room for `keys` more keys of `bytes` bytes in all.
  void reserve(size_t keys, size_t keyBytes);
  void trim();
  size_t memoryBytes() const;

  bool operator==(const KeyStore&) const = default;
};

}  // namespace vesk
