#pragma once
// History: what the user opened from the launcher, how often and how lately, turned into small
// ranking boosts ("frecency").
//
// A plain value: one entry per item id (an application's path, "file:" or "folder:" + path,
// "command:" + raw value). Bounded to `kMaxEntries` entries of at most `kMaxOpens` times each,
// so every operation is cheap enough to run whole on each use, without caching. Dates are
// seconds since 1970-01-01 00:00 UTC as doubles. Its owner (the history store) confines it to
// one thread; copies are independent.
//
// The file form is one compact JSON object: {"entries":{"ID":{"count":N,"opens":[T,…]},…}}.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/base/result.h"

namespace vesk {

class SearchIndex;

// Whether a remembered file or folder is gone for good. An existing path, or one that cannot be
// examined (any lstat error but ENOENT), is not gone. A missing path is gone, except under
// /Volumes/NAME while /Volumes/NAME itself is missing: the volume is unmounted, not the file
// deleted, so removable and network volumes keep their history while away. The Linux mount
// areas (/media, /run/media, /mnt) follow the same idea: a missing path there is gone only
// while the volume holding it is mounted.
bool pathIsGone(const std::string& path);

class History {
 public:
  struct Entry {
    // How many times the item was opened, ever. Never negative.
    int64_t count = 0;
    // The most recent opens, oldest first; at most `kMaxOpens`.
    std::vector<double> opens;

    bool operator==(const Entry&) const = default;
  };

  static constexpr size_t kMaxEntries = 200;
  static constexpr size_t kMaxOpens = 10;
  // The largest boost, worth three matched bytes.
  static constexpr int32_t kMaxBoost = 48;

  History() = default;

  // Ordered by id, which fixes the scan order of pruning and the order of the file.
  const std::map<std::string, Entry, std::less<>>& entries() const { return entries_; }
  bool isEmpty() const { return entries_.empty(); }
  // Every id, in id order.
  std::vector<std::string> ids() const;

  // Counts one open of `id` at `at`, keeping its newest `kMaxOpens` times. Past `kMaxEntries`
  // entries, deletes the one with the lowest frecency at `at` (the first in id order among
  // equals), never `id` itself. An id that is not UTF-8 is not recorded.
  void record(std::string_view id, double at);

  // The mean weight of the entry's recent opens by age, times its count; 0 without an entry or
  // without times.
  double frecency(std::string_view id, double now) const;
  // min(round(log2(frecency / 100 + 1) × 12), 48), rounding halves away from zero.
  static int32_t boost(double frecency);

  // One boost per item of `index`, in item order; 0 for items never opened.
  std::vector<int32_t> boosts(const SearchIndex& index, double now) const;
  // Path → boost for every file and folder entry. Two entries with the same path (a file and a
  // folder id, or ids differing in a trailing "/") keep the larger boost.
  std::unordered_map<std::string, int32_t> fileBoosts(double now) const;

  // The last time of the entry's opens, or none.
  std::optional<double> lastOpened(std::string_view id) const;
  // The ids of the `limit` most recently opened entries, newest first (an entry without times
  // counts as opened at 0; equal times in id order).
  std::vector<std::string> recent(size_t limit) const;

  // Deletes the entry of `id`, if any.
  void remove(std::string_view id);
  // Deletes the file and folder entries at or under any of `paths` (absolute, without a
  // trailing "/"). Returns whether anything was deleted.
  bool forget(const std::unordered_set<std::string>& paths);

  // A copy without the file and folder entries whose path `isGone` reports gone. The load of
  // the history file calls it off the main thread with `pathIsGone`.
  History droppingDeadFiles(
      const std::function<bool(const std::string& path)>& isGone = pathIsGone) const;

  // Compact JSON.
  std::string toJSON() const;
  // The history of the JSON `text`, or a failure naming the first problem: anything but the exact
  // shape (a root object with an "entries" object whose values are objects with a
  // non-negative integer "count" and an array of numbers "opens") fails as a whole. Unknown
  // extra keys are ignored.
  static Result<History> fromJSON(std::string_view text);

  bool operator==(const History&) const = default;

 private:
  std::map<std::string, Entry, std::less<>> entries_;
};

}  // namespace vesk
