#pragma once
// ClipboardIndex: every clip of the history in memory, newest first, each with a folded search
// key, and the search over them. A query matches a clip when each of its terms occurs in the
// clip's key as a substring; pinned matches come first, each group newest first.
//
// A value owned by one thread (the main thread); search() may fan out to the shared worker
// pool, and the index must not change while it runs. Keys are folded once, when a clip
// enters; a search folds only its terms and allocates nothing per clip.
//
// The keys live packed in one byte buffer, in position order after a load, so that a search
// streams through memory. A new clip's key is appended at the end; a removed clip's bytes stay
// behind, unused, until they make up a quarter of the buffer, when the live keys are copied
// into a fresh buffer in position order (cost: the live key bytes, amortised over the
// removals that freed as many bytes).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/clipboard/clip.h"

namespace vesk {

class ClipboardIndex final {
 public:
  // Bytes of key text per scanned range: the first range, and each parallel part, holds
  // about this much.
  static constexpr int64_t chunkBytes = 262144;

  ClipboardIndex() = default;
  // Sorts the clips (copied descending, then id descending) and folds every key.
  explicit ClipboardIndex(std::vector<Clip> clips);

  const std::vector<Clip>& clips() const { return clips_; }
  size_t count() const { return clips_.size(); }
  // The folded key of the clip at `position`, and its character-group mask. The bytes stay
  // valid until the index next changes.
  std::span<const uint8_t> keyBytesAt(size_t position) const;
  uint64_t maskAt(size_t position) const { return masks_[position]; }
  // Sum of the lengths of all keys.
  int64_t keyBytes() const { return keyBytes_; }
  // Bytes held for the keys: the key buffer, unused parts included, and the per-clip arrays.
  size_t keyMemory() const;

  // Position of the clip with that id; a linear scan.
  std::optional<size_t> position(int64_t id) const;

  // Replaces any clip with the same id and puts the clip at its place in the order.
  void insert(Clip clip);
  // Removes every clip whose id is listed.
  void remove(std::span<const int64_t> ids);
  // Pins or unpins the clip with that id, if present; the order doesn't change.
  void setPinned(bool pinned, int64_t id);

  // Positions of the clips matching every term of `query`, pinned first, at most `limit`.
  // No terms: the newest `limit` positions.
  std::vector<size_t> search(std::string_view query, size_t limit) const;

  // The first non-empty line of `text` holding every term of `query` (ignoring case and
  // diacritics); none when no line does or the query has no terms.
  static std::optional<std::string> matchingLine(std::string_view text, std::string_view query);

  // The clipboard search's folding (Folding::Mode::caseInsensitive), as bytes.
  static std::vector<uint8_t> fold(std::string_view text);
  // The text a clip is found by: its text, nothing for images, file names for files.
  static std::string keyText(const Clip& clip);

  // The number of processors, read once.
  static size_t cores();

 private:
  struct Range {
    std::vector<size_t> pinned;
    std::vector<size_t> rest;
  };
  struct Term {
    std::vector<uint8_t> bytes;
    uint64_t mask = 0;
  };
  void scan(size_t begin, size_t end, size_t budget, const std::vector<Term>& terms,
            Range& out) const;

  // Where the key of one clip lies in keyData_.
  struct KeySpan {
    uint64_t offset = 0;
    uint32_t length = 0;
  };
  // Appends a folded key to keyData_ and gives its place.
  KeySpan appendKey(std::string_view folded);
  // Copies the live keys into a new buffer in position order, dropping the unused bytes.
  void compact();

  std::vector<Clip> clips_;
  // Per position, in step with clips_:
  std::vector<KeySpan> spans_;
  std::vector<uint64_t> masks_;
  std::vector<uint8_t> pinned_;  // 1 for pinned clips: the scan reads no Clip it rejects
  // All keys, followed by ByteSearch::kPadding readable bytes that belong to none.
  std::vector<uint8_t> keyData_;
  int64_t keyBytes_ = 0;   // sum of the key lengths
  int64_t deadBytes_ = 0;  // bytes of keyData_ that belong to no clip any more
};

}  // namespace vesk
