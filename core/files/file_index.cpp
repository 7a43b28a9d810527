#include "core/files/file_index.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "core/base/worker_pool.h"

namespace vesk {

namespace {

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;
constexpr size_t kMaxEntries = 0x7fffffff;
constexpr size_t kMaxNameBytes = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kLongKey = 255;

}  // namespace

uint64_t fnv1a(std::string_view bytes) {
  uint64_t hash = kFnvOffset;
  for (const char c : bytes) {
    hash ^= static_cast<uint8_t>(c);
    hash *= kFnvPrime;
  }
  return hash;
}

FileIndex::FileIndex(NameHash hash) : hash_(hash) {}

FileIndex::Capacity FileIndex::capacityUsed() const {
  return {entryCount(), names_.size(), keys_.bytes.size()};
}

void FileIndex::reserve(const Capacity& capacity) {
  const size_t entries = capacity.entries;
  const size_t words = (entries + kBlockEntries - 1) / kBlockEntries;
  names_.reserve(capacity.nameBytes);
  nameStarts_.reserve(entries + 1);
  for (auto* column : {&parents_, &lastChild_, &nextSibling_}) {
    column->reserve(entries);
  }
  depths_.reserve(entries);
  flags_.reserve(entries);
  slotHashes_.reserve(entries);
  keys_.reserve(entries - std::min(entries, keys_.size()),
                capacity.keyBytes - std::min(capacity.keyBytes, keys_.bytes.size()));
  for (auto& bitmap : charEntries_) {
    bitmap.reserve(words);
  }
  for (auto& bitmap : longEntries_) {
    bitmap.reserve(words);
  }
  folderEntries_.reserve(words);
  blockShortest_.reserve(words);
  lookup_.reserve(entries, EntryKeys(*this));
}

std::string_view FileIndex::name(int32_t entry) const {
  const uint32_t start = nameStarts_[idx(entry)];
  return {reinterpret_cast<const char*>(names_.data()) + start,
          nameStarts_[idx(entry) + 1] - start};
}

int32_t FileIndex::appendEntry(std::string_view name, int32_t parent, uint8_t flags,
                               const KeyStore* keysFrom, size_t keyIndex) {
  if (entryCount() >= kMaxEntries || names_.size() + name.size() > kMaxNameBytes) {
    return -1;
  }
  const bool isRoot = (flags & kRoot) != 0;
  if (isRoot) {
    keys_.appendEmpty();
  } else if (keysFrom != nullptr ? !keys_.appendCopy(*keysFrom, keyIndex) : !keys_.append(name)) {
    return -1;
  }
  const auto entry = static_cast<int32_t>(entryCount());
  names_.insert(names_.end(), name.begin(), name.end());
  nameStarts_.push_back(static_cast<uint32_t>(names_.size()));
  parents_.push_back(parent);
  const int depth = parent < 0 ? 0 : std::min(depths_[idx(parent)] + 1, 255);
  depths_.push_back(static_cast<uint8_t>(depth));
  flags_.push_back(flags);
  if (!boosts_.empty()) {
    boosts_.push_back(0);
  }
  lastChild_.push_back(-1);
  nextSibling_.push_back(entry);
  slotHashes_.push_back(0);
  if (idx(entry) % kBlockEntries == 0) {
    for (auto& bitmap : charEntries_) {
      bitmap.push_back(0);
    }
    for (auto& bitmap : longEntries_) {
      bitmap.push_back(0);
    }
    folderEntries_.push_back(0);
    blockShortest_.push_back(kLongKey);
  }
  const uint64_t bit = uint64_t{1} << (idx(entry) % kBlockEntries);
  if (flags == kFolder) {
    folderEntries_.back() |= bit;
  }
  if (!isRoot) {
    setSearchBits(idx(entry), true);
    uint8_t& shortest = blockShortest_.back();
    shortest = static_cast<uint8_t>(std::min<uint32_t>(shortest, keys_.length(idx(entry))));
  }
  return entry;
}

int32_t FileIndex::addRoot(std::string_view path) {
  for (const auto& [rootPath, entry] : roots_) {
    if (rootPath == path) {
      return entry;
    }
  }
  const int32_t entry = appendEntry(path, -1, kFolder | kRoot);
  if (entry >= 0) {
    roots_.emplace_back(std::string(path), entry);
  }
  return entry;
}

int32_t FileIndex::add(std::string_view name, int32_t parent, bool isFolder) {
  if (parent < 0 || idx(parent) >= entryCount()) {
    return -1;
  }
  const int32_t entry = appendEntry(name, parent, isFolder ? kFolder : 0);
  if (entry >= 0) {
    attach(parent, entry);
  }
  return entry;
}

void FileIndex::attach(int32_t parent, int32_t child) {
  int32_t& last = lastChild_[idx(parent)];
  if (last >= 0) {
    nextSibling_[idx(child)] = nextSibling_[idx(last)];
    nextSibling_[idx(last)] = child;
  }
  last = child;
  const ChildKey key = keyOf(child);
  slotHashes_[idx(child)] = key.slotHash();
  if (!lookup_.insert(key, child, true, EntryKeys(*this))) {
    collisions_.insert(key);
  }
}

// --- Lookup by path --------------------------------------------------------------------------

int32_t FileIndex::childNamed(int32_t parent, std::string_view piece) const {
  const ChildKey key{parent, hash_(piece)};
  const int32_t slot = lookup_.find(key, EntryKeys(*this));
  if (slot >= 0 && name(lookup_.at(idx(slot))) == piece) {
    return lookup_.at(idx(slot));
  }
  if (!collisions_.contains(key)) {
    return -1;
  }
  const int32_t last = lastChild_[idx(parent)];
  if (last < 0) {
    return -1;
  }
  int32_t child = last;
  do {
    child = nextSibling_[idx(child)];
    if ((flags_[idx(child)] & kRemoved) == 0 && name(child) == piece) {
      return child;
    }
  } while (child != last);
  return -1;
}

std::optional<int32_t> FileIndex::entry(std::string_view path) const {
  const std::pair<std::string, int32_t>* best = nullptr;
  for (const auto& root : roots_) {
    const std::string& rootPath = root.first;
    const bool matches =
        path.starts_with(rootPath) &&
        (path.size() == rootPath.size() || path[rootPath.size()] == '/' || rootPath.ends_with('/'));
    if (matches && (best == nullptr || rootPath.size() > best->first.size())) {
      best = &root;
    }
  }
  if (best == nullptr) {
    return std::nullopt;
  }
  int32_t current = best->second;
  std::string_view rest = path.substr(best->first.size());
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view piece = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (piece.empty()) {
      continue;
    }
    current = childNamed(current, piece);
    if (current < 0) {
      return std::nullopt;
    }
  }
  return current;
}

bool FileIndex::contains(std::string_view path) const {
  const auto found = entry(path);
  return found && (flags_[idx(*found)] & kRoot) == 0;
}

std::optional<bool> FileIndex::isFolder(std::string_view path) const {
  const auto found = entry(path);
  if (!found || (flags_[idx(*found)] & kRoot) != 0) {
    return std::nullopt;
  }
  return (flags_[idx(*found)] & kFolder) != 0;
}

std::string FileIndex::path(int32_t entry) const {
  std::vector<int32_t> chain;
  for (int32_t e = entry; e >= 0; e = parents_[idx(e)]) {
    chain.push_back(e);
  }
  std::string joined;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin() && !joined.ends_with('/')) {
      joined += '/';
    }
    joined += name(*it);
  }
  // File names on Linux are bytes, kept as they are: a repaired name could be another file's.
  return joined;
}

// --- Changes ---------------------------------------------------------------------------------

bool FileIndex::insert(std::string_view path, bool isFolder, int maxDepth) {
  if (const auto found = entry(path)) {
    if ((flags_[idx(*found)] & kRoot) == 0) {
      setFolderBit(*found, isFolder);
    }
    return true;
  }
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    return false;
  }
  const std::string_view parentPath = slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
  const std::string_view childName = path.substr(slash + 1);
  const auto parentEntry = entry(parentPath);
  if (childName.empty() || !parentEntry || (flags_[idx(*parentEntry)] & kFolder) == 0 ||
      depths_[idx(*parentEntry)] >= maxDepth) {
    return false;
  }
  return add(childName, *parentEntry, isFolder) >= 0;
}

void FileIndex::setFolderBit(int32_t entry, bool isFolder) {
  uint8_t& flags = flags_[idx(entry)];
  const bool was = (flags & kFolder) != 0;
  if (was == isFolder) {
    return;
  }
  const uint64_t bit = uint64_t{1} << (idx(entry) % kBlockEntries);
  uint64_t& word = folderEntries_[idx(entry) / kBlockEntries];
  if (isFolder) {
    word |= bit;
    flags |= kFolder;
  } else {
    // A folder that becomes a file loses its contents, so no entry is left under a file.
    removeDescendants(entry);
    word &= ~bit;
    flags &= static_cast<uint8_t>(~kFolder);
  }
}

void FileIndex::setSearchBits(size_t entry, bool live) {
  const size_t word = entry / kBlockEntries;
  const uint64_t bit = uint64_t{1} << (entry % kBlockEntries);
  const auto set = [&](uint64_t& bits) { bits = live ? (bits | bit) : (bits & ~bit); };
  for (uint64_t mask = keys_.masks[entry]; mask != 0; mask &= mask - 1) {
    set(charEntries_[static_cast<size_t>(std::countr_zero(mask))][word]);
  }
  for (size_t c = 0; c < kLongKeys.size() && keys_.length(entry) >= kLongKeys[c]; ++c) {
    set(longEntries_[c][word]);
  }
}

void FileIndex::refreshBlockShortest(size_t block) {
  const size_t begin = block * kBlockEntries;
  const size_t end = std::min(entryCount(), begin + kBlockEntries);
  uint32_t shortest = kLongKey;
  for (size_t i = begin; i < end; ++i) {
    if ((flags_[i] & (kRemoved | kRoot)) == 0) {
      shortest = std::min(shortest, keys_.length(i));
    }
  }
  blockShortest_[block] = static_cast<uint8_t>(shortest);
}

void FileIndex::markRemoved(int32_t entry) {
  uint8_t& flags = flags_[idx(entry)];
  if ((flags & kRemoved) != 0) {
    return;
  }
  flags |= kRemoved;
  ++removedCount_;
  const size_t block = idx(entry) / kBlockEntries;
  setSearchBits(idx(entry), false);
  folderEntries_[block] &= ~(uint64_t{1} << (idx(entry) % kBlockEntries));
  refreshBlockShortest(block);
  const ChildKey key = keyOf(entry);
  const int32_t slot = lookup_.find(key, EntryKeys(*this));
  if (slot < 0 || lookup_.at(idx(slot)) != entry) {
    return;
  }
  if (collisions_.contains(key)) {
    const int32_t last = lastChild_[idx(key.parent)];
    for (int32_t child = nextSibling_[idx(last)];; child = nextSibling_[idx(child)]) {
      if ((flags_[idx(child)] & kRemoved) == 0 && hash_(name(child)) == key.name) {
        lookup_.replace(idx(slot), child);
        return;
      }
      if (child == last) {
        break;
      }
    }
  }
  lookup_.erase(idx(slot), EntryKeys(*this));
}

void FileIndex::removeDescendants(int32_t entry) {
  // Iterative, so that a deep tree cannot exhaust the stack.
  std::vector<int32_t> folders{entry};
  while (!folders.empty()) {
    const int32_t folder = folders.back();
    folders.pop_back();
    const int32_t last = lastChild_[idx(folder)];
    lastChild_[idx(folder)] = -1;
    if (last < 0) {
      continue;
    }
    int32_t child = nextSibling_[idx(last)];
    while (true) {
      const int32_t next = nextSibling_[idx(child)];
      folders.push_back(child);
      markRemoved(child);
      if (child == last) {
        break;
      }
      child = next;
    }
  }
}

void FileIndex::removeDescendants(std::string_view path) {
  if (const auto found = entry(path)) {
    removeDescendants(*found);
    compactIfNeeded();
  }
}

void FileIndex::remove(std::string_view path) {
  const auto found = entry(path);
  if (!found || (flags_[idx(*found)] & kRoot) != 0) {
    return;
  }
  removeDescendants(*found);
  markRemoved(*found);
  compactIfNeeded();
}

bool FileIndex::compactIfNeeded() {
  if (removedCount_ <= kCompactAfter || entryCount() >= 4 * removedCount_) {
    return false;
  }
  FileIndex fresh(hash_);
  std::vector<int32_t> renumbered(entryCount(), -1);
  for (size_t i = 0; i < entryCount(); ++i) {
    const auto old = static_cast<int32_t>(i);
    if ((flags_[i] & kRemoved) != 0) {
      continue;
    }
    int32_t entry = -1;
    if ((flags_[i] & kRoot) != 0) {
      entry = fresh.addRoot(name(old));
    } else if (parents_[i] >= 0 && renumbered[idx(parents_[i])] >= 0) {
      // The key is copied rather than folded again: same bytes, a fraction of the cost.
      const int32_t parent = renumbered[idx(parents_[i])];
      entry = fresh.appendEntry(name(old), parent, flags_[i] & kFolder, &keys_, i);
      if (entry >= 0) {
        fresh.attach(parent, entry);
      }
    }
    renumbered[i] = entry;
    if (entry >= 0 && !boosts_.empty() && boosts_[i] != 0) {
      if (fresh.boosts_.empty()) {
        fresh.boosts_.assign(fresh.entryCount(), 0);
      }
      fresh.boosts_[idx(entry)] = boosts_[i];
    }
  }
  fresh.boostCeiling_ = boostCeiling_;
  *this = std::move(fresh);
  return true;
}

void FileIndex::setBoosts(const FileBoosts& boosts) {
  boosts_.clear();
  boostCeiling_ = 0;
  for (const auto& [path, boost] : boosts) {
    const auto found = entry(path);
    if (!found || boost == 0) {
      continue;
    }
    if (boosts_.empty()) {
      boosts_.assign(entryCount(), 0);
    }
    boosts_[idx(*found)] = boost;
    boostCeiling_ = std::max(boostCeiling_, boost);
  }
}

size_t FileIndex::memoryBytes() const {
  constexpr size_t kI32 = sizeof(int32_t);
  size_t bytes = names_.capacity() + nameStarts_.capacity() * sizeof(uint32_t) +
                 parents_.capacity() * kI32 + depths_.capacity() + flags_.capacity() +
                 keys_.memoryBytes() + boosts_.capacity() * kI32 +
                 (lastChild_.capacity() + nextSibling_.capacity()) * kI32 + lookup_.memoryBytes() +
                 slotHashes_.capacity() * sizeof(uint32_t) +
                 folderEntries_.capacity() * sizeof(uint64_t) + blockShortest_.capacity();
  for (const auto& bitmap : charEntries_) {
    bytes += bitmap.capacity() * sizeof(uint64_t);
  }
  for (const auto& bitmap : longEntries_) {
    bytes += bitmap.capacity() * sizeof(uint64_t);
  }
  bytes += collisions_.size() * (sizeof(ChildKey) + 2 * sizeof(void*));
  for (const auto& root : roots_) {
    bytes += sizeof(root) + root.first.capacity();
  }
  return bytes;
}

void FileIndex::trim() {
  names_.shrink_to_fit();
  nameStarts_.shrink_to_fit();
  parents_.shrink_to_fit();
  depths_.shrink_to_fit();
  flags_.shrink_to_fit();
  keys_.trim();
  boosts_.shrink_to_fit();
  lastChild_.shrink_to_fit();
  nextSibling_.shrink_to_fit();
  slotHashes_.shrink_to_fit();
  folderEntries_.shrink_to_fit();
  for (auto& bitmap : charEntries_) {
    bitmap.shrink_to_fit();
  }
  for (auto& bitmap : longEntries_) {
    bitmap.shrink_to_fit();
  }
  blockShortest_.shrink_to_fit();
}

}  // namespace vesk
