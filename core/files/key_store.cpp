#include "core/files/key_store.h"

#include <limits>

#include "core/search/search_key.h"

namespace vesk {

namespace {

constexpr size_t kMaxBytes = std::numeric_limits<uint32_t>::max();

}  // namespace

bool KeyStore::append(std::string_view name) {
  const size_t before = bytes.size();
  Folding::fold(name, bytes, bonus);
  const size_t after = bytes.size();
  if (after > kMaxBytes) {
    bytes.resize(before);
    bonus.resize(before);
    return false;
  }
  starts.push_back(static_cast<uint32_t>(after));
  masks.push_back(Folding::mask({bytes.data() + before, after - before}));
  return true;
}

bool KeyStore::appendCopy(const KeyStore& other, size_t i) {
  const auto key = other.keyBytes(i);
  if (bytes.size() + key.size() > kMaxBytes) {
    return false;
  }
  const auto keyBonus = other.keyBonus(i);
  bytes.insert(bytes.end(), key.begin(), key.end());
  bonus.insert(bonus.end(), keyBonus.begin(), keyBonus.end());
  starts.push_back(static_cast<uint32_t>(bytes.size()));
  masks.push_back(other.masks[i]);
  return true;
}

void KeyStore::appendEmpty() {
  starts.push_back(static_cast<uint32_t>(bytes.size()));
  masks.push_back(0);
}

void KeyStore::reserve(size_t keys, size_t keyBytes) {
  bytes.reserve(bytes.size() + keyBytes);
  bonus.reserve(bonus.size() + keyBytes);
  starts.reserve(starts.size() + keys);
  masks.reserve(masks.size() + keys);
}

void KeyStore::trim() {
  bytes.shrink_to_fit();
  bonus.shrink_to_fit();
  starts.shrink_to_fit();
  masks.shrink_to_fit();
}

size_t KeyStore::memoryBytes() const {
  return bytes.capacity() + bonus.capacity() + starts.capacity() * sizeof(uint32_t) +
         masks.capacity() * sizeof(uint64_t);
}

}  // namespace vesk
