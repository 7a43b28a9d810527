#include "core/search/history.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "core/base/utf8.h"
#include "core/search/item.h"
#include "core/search/search_index.h"

namespace vesk {

namespace {

using nlohmann::json;

constexpr double kSecondsPerDay = 86400;

// Weight of one open by its age: below `maxDays` days it weighs `weight`.
struct AgeWeight {
  double maxDays;
  double weight;
};
constexpr std::array<AgeWeight, 4> kAgeWeights = {{{4, 100}, {14, 70}, {31, 50}, {90, 30}}};
constexpr double kOldestWeight = 10;

// boost = round(log2(frecency / kBoostScale + 1) × kBoostPerDoubling), at most kMaxBoost.
constexpr double kBoostScale = 100;
constexpr double kBoostPerDoubling = 12;

double weight(double ageInDays) {
  for (const AgeWeight& step : kAgeWeights) {
    if (ageInDays < step.maxDays) {
      return step.weight;
    }
  }
  return kOldestWeight;
}

double frecencyOf(const History::Entry& entry, double now) {
  if (entry.opens.empty()) {
    return 0;
  }
  double sum = 0;
  for (double time : entry.opens) {
    sum += weight((now - time) / kSecondsPerDay);
  }
  return sum * static_cast<double>(entry.count) / static_cast<double>(entry.opens.size());
}

// The location of a file or folder id, none for applications and commands.
std::optional<std::string> filePath(std::string_view id) {
  std::optional<Item> item = Item::fromFileID(id);
  if (!item) {
    return std::nullopt;
  }
  return std::move(item->kind.url);
}

Failure malformed(const std::string& what) {
  return Failure{"The history file is malformed: " + what + "."};
}

// The entry of one JSON value, or a failure naming the problem with `id`.
Result<History::Entry> decodeEntry(const std::string& id, const json& value) {
  const std::string where = "the entry \"" + id + "\"";
  if (!value.is_object()) {
    return malformed(where + " is not an object");
  }
  const auto count = value.find("count");
  if (count == value.end()) {
    return malformed(where + " has no \"count\"");
  }
  const auto opens = value.find("opens");
  if (opens == value.end()) {
    return malformed(where + " has no \"opens\"");
  }
  History::Entry entry;
  if (count->is_number_unsigned()) {
    const auto n = count->get<uint64_t>();
    if (n > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return malformed(where + " has a \"count\" that is too large");
    }
    entry.count = static_cast<int64_t>(n);
  } else if (count->is_number_integer()) {
    entry.count = count->get<int64_t>();
    if (entry.count < 0) {
      return malformed(where + " has a negative \"count\"");
    }
  } else {
    return malformed(where + " has a \"count\" that is not an integer");
  }
  if (!opens->is_array()) {
    return malformed(where + " has \"opens\" that are not an array");
  }
  entry.opens.reserve(opens->size());
  for (const json& time : *opens) {
    if (!time.is_number() || !std::isfinite(time.get<double>())) {
      return malformed(where + " has an open time that is not a finite number");
    }
    entry.opens.push_back(time.get<double>());
  }
  return entry;
}

}  // namespace

namespace {

// Folders under which removable and network volumes are mounted on Linux.
constexpr std::array<std::string_view, 3> kMountAreas = {"/media/", "/run/media/", "/mnt/"};

// Whether a missing path under a mount area lies on a volume that is mounted now: its nearest
// existing ancestor is on another device than the area itself. When the volume is away, that
// ancestor is a plain folder of the area (for example /media/me).
bool onMountedVolume(std::string_view area, const std::string& path) {
  struct stat areaInfo {};
  const std::string areaPath(area.substr(0, area.size() - 1));
  if (stat(areaPath.c_str(), &areaInfo) != 0) {
    return false;
  }
  std::string ancestor = path;
  while (ancestor.size() > areaPath.size()) {
    ancestor.resize(ancestor.rfind('/'));
    struct stat info {};
    if (stat(ancestor.c_str(), &info) == 0) {
      return info.st_dev != areaInfo.st_dev;
    }
  }
  return false;
}

}  // namespace

bool pathIsGone(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 || errno != ENOENT) {
    return false;
  }
  for (const std::string_view area : kMountAreas) {
    if (path.starts_with(area)) {
      return onMountedVolume(area, path);
    }
  }
  // The first two non-empty pieces of the path.
  std::string_view rest = path;
  std::array<std::string_view, 2> pieces;
  size_t found = 0;
  while (found < 2 && !rest.empty()) {
    const size_t start = rest.find_first_not_of('/');
    if (start == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(start);
    const size_t end = std::min(rest.find('/'), rest.size());
    pieces[found++] = rest.substr(0, end);
    rest.remove_prefix(end);
  }
  if (found < 2 || pieces[0] != "Volumes") {
    return true;
  }
  const std::string volume = "/Volumes/" + std::string(pieces[1]);
  return stat(volume.c_str(), &info) == 0;
}

std::vector<std::string> History::ids() const {
  std::vector<std::string> ids;
  ids.reserve(entries_.size());
  for (const auto& [id, entry] : entries_) {
    ids.push_back(id);
  }
  return ids;
}

void History::record(std::string_view id, double at) {
  // The file holds JSON, which has only UTF-8 strings; the path of a file whose name is not
  // UTF-8 can't be written back as the same path, so its opens are not kept.
  if (!UTF8::isValid(id)) {
    return;
  }
  auto [recorded, inserted] = entries_.try_emplace(std::string(id));
  Entry& entry = recorded->second;
  // A count read from the file may already be the largest there is; it stays there.
  if (entry.count < std::numeric_limits<int64_t>::max()) {
    entry.count += 1;
  }
  entry.opens.push_back(at);
  if (entry.opens.size() > kMaxOpens) {
    entry.opens.erase(entry.opens.begin(),
                      entry.opens.end() - static_cast<std::ptrdiff_t>(kMaxOpens));
  }
  if (entries_.size() <= kMaxEntries) {
    return;
  }
  auto lowest = entries_.end();
  double lowestFrecency = 0;
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it == recorded) {
      continue;
    }
    const double value = frecencyOf(it->second, at);
    if (lowest == entries_.end() || value < lowestFrecency) {
      lowest = it;
      lowestFrecency = value;
    }
  }
  if (lowest != entries_.end()) {
    entries_.erase(lowest);
  }
}

double History::frecency(std::string_view id, double now) const {
  const auto found = entries_.find(id);
  return found == entries_.end() ? 0 : frecencyOf(found->second, now);
}

int32_t History::boost(double frecency) {
  const long rounded = std::lround(std::log2(frecency / kBoostScale + 1) * kBoostPerDoubling);
  return static_cast<int32_t>(std::min<long>(rounded, kMaxBoost));
}

std::vector<int32_t> History::boosts(const SearchIndex& index, double now) const {
  std::vector<int32_t> boosts(index.size(), 0);
  for (const auto& [id, entry] : entries_) {
    if (const std::optional<int> position = index.position(id)) {
      boosts[static_cast<size_t>(*position)] = boost(frecencyOf(entry, now));
    }
  }
  return boosts;
}

std::unordered_map<std::string, int32_t> History::fileBoosts(double now) const {
  std::unordered_map<std::string, int32_t> boosts;
  for (const auto& [id, entry] : entries_) {
    std::optional<std::string> path = filePath(id);
    if (!path) {
      continue;
    }
    const int32_t value = boost(frecencyOf(entry, now));
    auto [slot, inserted] = boosts.try_emplace(std::move(*path), value);
    slot->second = std::max(slot->second, value);
  }
  return boosts;
}

std::optional<double> History::lastOpened(std::string_view id) const {
  const auto found = entries_.find(id);
  if (found == entries_.end() || found->second.opens.empty()) {
    return std::nullopt;
  }
  return found->second.opens.back();
}

std::vector<std::string> History::recent(size_t limit) const {
  std::vector<std::pair<double, const std::string*>> byTime;
  byTime.reserve(entries_.size());
  for (const auto& [id, entry] : entries_) {
    byTime.emplace_back(entry.opens.empty() ? 0 : entry.opens.back(), &id);
  }
  std::stable_sort(byTime.begin(), byTime.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::string> ids;
  const size_t kept = std::min(limit, byTime.size());
  ids.reserve(kept);
  for (size_t i = 0; i < kept; ++i) {
    ids.push_back(*byTime[i].second);
  }
  return ids;
}

void History::remove(std::string_view id) {
  const auto found = entries_.find(id);
  if (found != entries_.end()) {
    entries_.erase(found);
  }
}

bool History::forget(const std::unordered_set<std::string>& paths) {
  if (paths.empty()) {
    return false;
  }
  const auto isUnderForgottenPath = [&paths](std::string_view path) {
    // The path itself, then each shorter prefix cut at the last "/", never the empty string.
    while (!path.empty()) {
      if (paths.contains(std::string(path))) {
        return true;
      }
      const size_t slash = path.rfind('/');
      path = path.substr(0, slash == std::string_view::npos ? 0 : slash);
    }
    return false;
  };
  const size_t before = entries_.size();
  std::erase_if(entries_, [&](const auto& entry) {
    const std::optional<std::string> path = filePath(entry.first);
    return path && isUnderForgottenPath(*path);
  });
  return entries_.size() != before;
}

History History::droppingDeadFiles(const std::function<bool(const std::string&)>& isGone) const {
  History alive = *this;
  std::erase_if(alive.entries_, [&isGone](const auto& entry) {
    const std::optional<std::string> path = filePath(entry.first);
    return path && isGone(*path);
  });
  return alive;
}

std::string History::toJSON() const {
  json entries = json::object();
  for (const auto& [id, entry] : entries_) {
    entries[id] = {{"count", entry.count}, {"opens", entry.opens}};
  }
  const json root = {{"entries", std::move(entries)}};
  // Ids are paths, which need not be valid UTF-8: replace what JSON cannot hold, never throw.
  return root.dump(-1, ' ', false, json::error_handler_t::replace);
}

Result<History> History::fromJSON(std::string_view text) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::exception& error) {
    return Failure{std::string("The history file is not valid JSON: ") + error.what()};
  }
  if (!root.is_object()) {
    return malformed("the top level is not an object");
  }
  const auto entries = root.find("entries");
  if (entries == root.end()) {
    return malformed("it has no \"entries\"");
  }
  if (!entries->is_object()) {
    return malformed("\"entries\" is not an object");
  }
  History history;
  for (const auto& [id, value] : entries->items()) {
    Result<Entry> entry = decodeEntry(id, value);
    if (!entry) {
      return entry.failure();
    }
    history.entries_.emplace(id, std::move(entry).value());
  }
  return history;
}

}  // namespace vesk
