#pragma once
// FileIndex: every file and folder under the search roots as a tree in flat arrays.
//
// Entries are numbered from 0 in the order they were added, and a parent always comes before
// its children. Each entry keeps its name bytes (a root's name is its whole path), parent,
// depth, flags and prepared search key; paths are rebuilt on demand. A child is found from
// its parent by the FNV-1a hash of its name in a ChildTable; children of one
// parent whose names share a hash are recorded in `collisions` and found by walking the
// parent's child list instead.
//
// Removal is lazy: an entry is flagged and skipped by every reader until more than 1024
// entries and more than a quarter of all are dead, when the index is compacted (entry
// numbers change then).
//
// For the search, the index also keeps bitmaps over the entries: one of the live folders
// (roots aside) and, per bit of the key masks, one of the live entries whose key has it. A
// search reads one bit per entry for each character it needs, so it skips every 64 entries
// where no name holds them all, and it scores only the folders whose names can match an
// earlier term. Bitmaps of the live entries with long keys, and per 64 entries the shortest
// live key, let a search that only a shorter key could satisfy skip the long ones.
//
// A value type. `search` and the other const members may run on several threads at once;
// every mutation belongs to one owner and must not overlap a search.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/files/child_table.h"
#include "core/files/key_store.h"
#include "core/search/fuzzy_matcher.h"

namespace vesk {

// The 64-bit FNV-1a hash of `bytes`; the empty name hashes to the offset basis.
uint64_t fnv1a(std::string_view bytes);

// A file search result.
struct FileHit {
  std::string path;
  bool isFolder = false;
  int32_t score = 0;

  bool operator==(const FileHit&) const = default;
};

// Launch-history boosts by path.
using FileBoosts = std::unordered_map<std::string, int32_t>;

class FileIndex {
 public:
  static constexpr uint8_t kFolder = 1;
  static constexpr uint8_t kRemoved = 2;
  static constexpr uint8_t kRoot = 4;
  // Compaction runs when more entries than this are dead and they are over a quarter.
  static constexpr size_t kCompactAfter = 1024;
  // One search range per this many entries, at most one per processor.
  static constexpr size_t kEntriesPerRange = 4096;
  static constexpr size_t kMaxTerms = 16;
  // Entries per word of the character bitmaps and per block of the shortest keys.
  static constexpr size_t kBlockEntries = 64;
  static constexpr size_t kMaskBits = 64;
  // The key lengths from which on an entry is in each bitmap of long keys.
  static constexpr std::array<uint32_t, 6> kLongKeys{8, 12, 16, 20, 24, 32};

  // The hash of child names. Replaceable so that tests can force collisions.
  using NameHash = uint64_t (*)(std::string_view);

  explicit FileIndex(NameHash hash = fnv1a);

  // How much an index holds: what a fresh index reserves to be filled without regrowing.
  struct Capacity {
    size_t entries = 0;
    size_t nameBytes = 0;
    size_t keyBytes = 0;
  };
  Capacity capacityUsed() const;
  // Room for this much in all, so that filling the index up to it moves nothing; `trim`
  // gives back what stays unused.
  void reserve(const Capacity& capacity);

  // The existing root with exactly this path, or a new one.
  int32_t addRoot(std::string_view path);
  // Appends a child of `parent`; -1 when a size limit would be passed (nothing is added).
  int32_t add(std::string_view name, int32_t parent, bool isFolder);

  // The live entry at `path`, if any.
  std::optional<int32_t> entry(std::string_view path) const;
  // Adds `path` below its indexed parent folder (when the parent is above `maxDepth`), or
  // updates the folder bit of an existing entry. False when the path is outside the tree.
  bool insert(std::string_view path, bool isFolder, int maxDepth);
  // Removes the entry and everything below it; roots stay.
  void remove(std::string_view path);
  // Removes everything below the entry and keeps it.
  void removeDescendants(std::string_view path);
  // The same by entry number (the number stays valid until the next compaction).
  void removeDescendants(int32_t entry);
  // Compacts when enough entries are dead; true when it did (entry numbers changed).
  bool compactIfNeeded();

  bool contains(std::string_view path) const;
  // Absent for an unknown path and for a root.
  std::optional<bool> isFolder(std::string_view path) const;
  // The root's path, then "/" and each name down to `entry`: the real bytes, which need not be
  // UTF-8 (only what is displayed is repaired).
  std::string path(int32_t entry) const;

  void setBoosts(const FileBoosts& boosts);
  // The best `limit` hits, best first. The last term must match an entry's own name; earlier
  // terms may match it or, at half score, a folder above it.
  std::vector<FileHit> search(std::string_view query, int limit) const;

  // Files and folders, not counting roots and removed entries.
  size_t count() const { return entryCount() - removedCount_ - roots_.size(); }
  size_t entryCount() const { return parents_.size(); }
  size_t removedCount() const { return removedCount_; }
  const std::vector<std::pair<std::string, int32_t>>& roots() const { return roots_; }

  std::string_view name(int32_t entry) const;
  int32_t parent(int32_t entry) const { return parents_[idx(entry)]; }
  uint8_t depth(int32_t entry) const { return depths_[idx(entry)]; }
  uint8_t flags(int32_t entry) const { return flags_[idx(entry)]; }
  bool isCollision(const ChildKey& key) const { return collisions_.contains(key); }
  // Bit i % 64 of word i / 64: entry i is a live folder and not a root.
  const std::vector<uint64_t>& folderEntries() const { return folderEntries_; }
  // Bit i % 64 of word i / 64 of bitmap c: entry i is live and its key mask has bit c.
  const std::vector<uint64_t>& charEntries(size_t c) const { return charEntries_[c]; }
  // Bit i % 64 of word i / 64 of bitmap c: entry i is live and its key has kLongKeys[c] or
  // more bytes.
  const std::vector<uint64_t>& longEntries(size_t c) const { return longEntries_[c]; }
  // Block b: the shortest key length (at most 255) among its live entries other than roots;
  // 255 when there are none.
  const std::vector<uint8_t>& blockShortest() const { return blockShortest_; }

  size_t memoryBytes() const;
  void trim();

 private:
  static size_t idx(int32_t entry) { return static_cast<size_t>(entry); }
  ChildKey keyOf(int32_t entry) const { return {parents_[idx(entry)], hash_(name(entry))}; }
  int32_t childNamed(int32_t parent, std::string_view piece) const;
  void markRemoved(int32_t entry);
  void refreshBlockShortest(size_t block);
  // Sets or clears the entry's bits in the character and long-key bitmaps.
  void setSearchBits(size_t entry, bool live);
  void setFolderBit(int32_t entry, bool isFolder);
  // Appends the arrays of one entry; the key is folded from `name`, or copied from entry
  // `keyIndex` of `keysFrom` when given. -1 when a size limit would be passed.
  int32_t appendEntry(std::string_view name, int32_t parent, uint8_t flags,
                      const KeyStore* keysFrom = nullptr, size_t keyIndex = 0);
  // Links a new child under its parent and records it in the child table.
  void attach(int32_t parent, int32_t child);

  // The child table's view of the entries.
  struct EntryKeys final : ChildTable::Keys {
    explicit EntryKeys(const FileIndex& index) : index(index) {}
    std::span<const uint32_t> slotHashes() const override { return index.slotHashes_; }
    bool hasKey(int32_t entry, const ChildKey& key) const override {
      return index.parents_[idx(entry)] == key.parent && index.hash_(index.name(entry)) == key.name;
    }
    const FileIndex& index;
  };

  struct Bounds;
  struct FolderScores;
  // Scores the earlier terms on the folders whose names can match them; returns, per term,
  // the best score.
  std::array<int32_t, kMaxTerms> scoreFolders(const std::vector<FuzzyMatcher>& terms,
                                              FolderScores& scores) const;
  // How many contiguous ranges a search splits the entries into.
  size_t rangeCount() const;
  void scoreRange(size_t begin, size_t end, std::vector<FuzzyMatcher> terms, const Bounds& bounds,
                  const FolderScores& folders, TopMatches& top) const;

  NameHash hash_;
  std::vector<uint8_t> names_;
  std::vector<uint32_t> nameStarts_{0};
  std::vector<int32_t> parents_;
  std::vector<uint8_t> depths_;
  std::vector<uint8_t> flags_;
  KeyStore keys_;
  // Empty until a boost is set, then one per entry; no boost is larger than boostCeiling_.
  std::vector<int32_t> boosts_;
  int32_t boostCeiling_ = 0;
  // Children as a circular list: lastChild_[folder] is its newest child (or -1), and
  // nextSibling_ of the newest child leads back to the oldest.
  std::vector<int32_t> lastChild_;
  std::vector<int32_t> nextSibling_;
  ChildTable lookup_;
  // ChildKey::slotHash of every entry's key (0 for roots), for lookup_.
  std::vector<uint32_t> slotHashes_;
  std::vector<uint64_t> folderEntries_;
  std::array<std::vector<uint64_t>, kMaskBits> charEntries_;
  std::array<std::vector<uint64_t>, kLongKeys.size()> longEntries_;
  std::vector<uint8_t> blockShortest_;
  std::unordered_set<ChildKey, ChildKey::Hash> collisions_;
  std::vector<std::pair<std::string, int32_t>> roots_;
  size_t removedCount_ = 0;
};

}  // namespace vesk
