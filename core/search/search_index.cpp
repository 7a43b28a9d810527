#include "core/search/search_index.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <numeric>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "core/search/fuzzy_matcher.h"

namespace vesk {

namespace {

// The collator of the file browser's order: case- and width-insensitive, accent-sensitive,
// digits compared as numbers, tailored to the default locale. The POSIX locale (what ICU
// reports when no locale is set) orders ASCII by code point, upper case before lower case, so
// it falls back to the root collation. Null when ICU has no collator at all.
std::unique_ptr<icu::Collator> makeCollator() {
  icu::Locale locale = icu::Locale::getDefault();
  if (std::string_view(locale.getVariant()) == "POSIX") {
    locale = icu::Locale::getRoot();
  }
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status) != 0 || collator == nullptr) {
    return nullptr;
  }
  collator->setStrength(icu::Collator::SECONDARY);
  collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
  return U_SUCCESS(status) != 0 ? std::move(collator) : nullptr;
}

// A byte string whose plain comparison is the collator's comparison of `name`; the name's
// own bytes when there is no collator.
std::string sortKey(const icu::Collator* collator, const std::string& name) {
  if (collator == nullptr) {
    return name;
  }
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(name);
  std::string key(name.size() * 2 + 16, '\0');
  auto* buffer = reinterpret_cast<uint8_t*>(key.data());
  int32_t length = collator->getSortKey(text, buffer, static_cast<int32_t>(key.size()));
  if (length > static_cast<int32_t>(key.size())) {
    key.resize(static_cast<size_t>(length));
    buffer = reinterpret_cast<uint8_t*>(key.data());
    length = collator->getSortKey(text, buffer, length);
  }
  key.resize(static_cast<size_t>(std::max(length, 0)));
  return key;
}

// The order that sorts the items stably by name in the collator's order, one collator and one
// sort key per item.
std::vector<size_t> orderByName(const std::vector<Item>& items) {
  const std::unique_ptr<icu::Collator> collator = makeCollator();
  std::vector<std::string> keys;
  keys.reserve(items.size());
  for (const Item& item : items) {
    keys.push_back(sortKey(collator.get(), item.name));
  }
  std::vector<size_t> order(items.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&keys](size_t a, size_t b) { return keys[a] < keys[b]; });
  return order;
}

// Full Unicode lower-casing, independent of the locale; ASCII text without a copy through ICU.
std::string lowercased(std::string_view text) {
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    std::string lower(text);
    for (char& c : lower) {
      if (c >= 'A' && c <= 'Z') {
        c = static_cast<char>(c | 0x20);
      }
    }
    return lower;
  }
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  unicode.toLower(icu::Locale::getRoot());
  std::string lower;
  unicode.toUTF8String(lower);
  return lower;
}

// `text` without spaces and tabs at either end (newlines stay).
std::string_view trimmedOfSpacesAndTabs(std::string_view text) {
  constexpr std::string_view kBlank = " \t";
  const size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) {
    return {};
  }
  const size_t last = text.find_last_not_of(kBlank);
  return text.substr(first, last - first + 1);
}

// The file name of an item's location without its extension, when it differs from the name.
std::optional<SearchKey> fileNameKey(const Item& item) {
  if (item.kind.tag == Item::Kind::Tag::command) {
    return std::nullopt;
  }
  const std::string_view fileName =
      ItemPath::deletingExtension(ItemPath::lastComponent(item.kind.url));
  if (fileName == item.name) {
    return std::nullopt;
  }
  return SearchKey(fileName);
}

}  // namespace

SearchIndex::SearchIndex(std::vector<Item> items, std::vector<Details> details) {
  const std::vector<size_t> order = orderByName(items);
  details.resize(items.size());
  items_.reserve(items.size());
  details_.reserve(items.size());
  for (size_t i : order) {
    items_.push_back(std::move(items[i]));
    details_.push_back(std::move(details[i]));
  }
  names_.reserve(items_.size());
  fileNames_.reserve(items_.size());
  positions_.reserve(items_.size());
  keyStarts_.reserve(items_.size() + 1);
  std::unordered_map<std::string_view, int> apps;  // entry → position of the app itself
  for (size_t i = 0; i < items_.size(); ++i) {
    const Item& item = items_[i];
    names_.emplace_back(item.name);
    fileNames_.push_back(item.isAppAction() ? std::nullopt : fileNameKey(item));
    keyStarts_.push_back(static_cast<uint32_t>(extraKeys_.size()));
    for (const std::string& key : details_[i].keys) {
      if (!key.empty()) {
        extraKeys_.emplace_back(key);
      }
    }
    positions_.try_emplace(item.id, static_cast<int>(i));
    if (item.isApp() && !item.isAppAction()) {
      apps.try_emplace(item.kind.url, static_cast<int>(i));
    }
    if (item.kind.tag == Item::Kind::Tag::command) {
      for (std::string_view alias : vesk::aliases(item.kind.command)) {
        aliases_.insert_or_assign(lowercased(alias), static_cast<int>(i));
      }
    }
  }
  keyStarts_.push_back(static_cast<uint32_t>(extraKeys_.size()));

  // Each app's actions, grouped by app in the order they were given.
  parents_.assign(items_.size(), -1);
  actionRanges_.assign(items_.size(), {0, 0});
  std::vector<std::pair<int, size_t>> byApp;  // (app position, given index) of each action
  for (size_t i = 0; i < items_.size(); ++i) {
    if (!items_[i].isAppAction()) {
      continue;
    }
    if (const auto app = apps.find(items_[i].kind.url); app != apps.end()) {
      parents_[i] = app->second;
      byApp.emplace_back(app->second, i);
    }
  }
  // `order` maps a position to the item's index as given.
  std::sort(byApp.begin(), byApp.end(), [&order](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : order[a.second] < order[b.second];
  });
  for (const auto& [app, position] : byApp) {
    auto& range = actionRanges_[static_cast<size_t>(app)];
    if (range.first == range.second) {
      range = {static_cast<uint32_t>(actionPositions_.size()),
               static_cast<uint32_t>(actionPositions_.size())};
    }
    actionPositions_.push_back(static_cast<int>(position));
    ++range.second;
  }
}

const SearchIndex& SearchIndex::empty() {
  static const SearchIndex kEmpty;
  return kEmpty;
}

const SearchIndex::Details& SearchIndex::details(size_t position) const {
  static const Details kNone;
  return position < details_.size() ? details_[position] : kNone;
}

std::span<const int> SearchIndex::actions(size_t position) const {
  if (position >= actionRanges_.size()) {
    return {};
  }
  const auto [first, last] = actionRanges_[position];
  return std::span<const int>(actionPositions_).subspan(first, last - first);
}

std::optional<int> SearchIndex::position(std::string_view id) const {
  const auto found = positions_.find(id);
  if (found == positions_.end()) {
    return std::nullopt;
  }
  return found->second;
}

void SearchIndex::setAliases(std::span<const std::string> aliases, Command command) {
  const std::optional<int> target = position(Item::command(command).id);
  if (!target) {
    return;
  }
  std::erase_if(aliases_, [&target](const auto& entry) { return entry.second == *target; });
  for (const std::string& alias : aliases) {
    if (!alias.empty()) {
      aliases_.insert_or_assign(lowercased(alias), *target);
    }
  }
}

namespace {

// A result while ranking. Equal scores rank a hit on the name before one on a further key, and
// either before an app's action; then the shorter name, then the lower position.
struct Ranked {
  enum Tier : uint8_t { name, furtherKey, appAction };

  int32_t score = 0;
  Tier tier = name;
  uint32_t length = 0;
  int32_t index = 0;

  bool ranksBefore(const Ranked& other) const {
    if (score != other.score) {
      return score > other.score;
    }
    if (tier != other.tier) {
      return tier < other.tier;
    }
    if (length != other.length) {
      return length < other.length;
    }
    return index < other.index;
  }
};

}  // namespace

std::vector<SearchIndex::Scored> SearchIndex::scoredSearch(std::string_view query, size_t limit,
                                                           std::span<const int32_t> boosts) const {
  const QueryTerms terms(query);
  if (terms.terms.empty()) {
    return {};
  }
  std::vector<FuzzyMatcher> matchers = terms.matchers();
  const bool boosted = boosts.size() == items_.size();

  std::vector<Ranked> found;
  bool hasActions = false;
  for (size_t i = 0; i < items_.size(); ++i) {
    const SearchKey& name = names_[i];
    const std::optional<SearchKey>& fileName = fileNames_[i];
    const std::span<const SearchKey> further(extraKeys_.data() + keyStarts_[i],
                                             keyStarts_[i + 1] - keyStarts_[i]);
    int32_t total = 0;
    bool matchesAll = true;
    bool byFurtherKey = false;
    for (FuzzyMatcher& matcher : matchers) {
      std::optional<int32_t> score = matcher.score(name);
      if (fileName) {
        const std::optional<int32_t> byFileName = matcher.score(*fileName);
        if (byFileName && (!score || *byFileName > *score)) {
          score = byFileName;
        }
      }
      bool termByFurtherKey = false;
      for (const SearchKey& key : further) {
        const std::optional<int32_t> byKey = matcher.score(key);
        if (byKey && (!score || *byKey > *score)) {
          score = byKey;
          termByFurtherKey = true;
        }
      }
      if (!score) {
        matchesAll = false;
        break;
      }
      total += *score;
      byFurtherKey = byFurtherKey || termByFurtherKey;
    }
    if (!matchesAll) {
      continue;
    }
    if (boosted) {
      total += boosts[i];
    }
    Ranked::Tier tier = byFurtherKey ? Ranked::furtherKey : Ranked::name;
    if (parents_[i] >= 0) {
      tier = Ranked::appAction;
      hasActions = true;
    }
    found.push_back(
        {total, tier, static_cast<uint32_t>(name.bytes.size()), static_cast<int32_t>(i)});
  }

  // An app's action never ranks before the app when both are results. `found` is in position
  // order here, so the app's result is found by binary search.
  if (hasActions) {
    const auto byIndex = [](const Ranked& r, int32_t index) { return r.index < index; };
    for (Ranked& result : found) {
      const int parent = parents_[static_cast<size_t>(result.index)];
      if (parent < 0) {
        continue;
      }
      const auto app = std::lower_bound(found.begin(), found.end(), parent, byIndex);
      if (app != found.end() && app->index == parent) {
        result.score = std::min(result.score, app->score);
      }
    }
  }

  const auto alias = aliases_.find(lowercased(trimmedOfSpacesAndTabs(query)));
  if (alias != aliases_.end()) {
    const int position = alias->second;
    std::erase_if(found, [position](const Ranked& r) { return r.index == position; });
    found.push_back({kAliasScore, Ranked::name,
                     static_cast<uint32_t>(names_[static_cast<size_t>(position)].bytes.size()),
                     static_cast<int32_t>(position)});
  }

  const auto ranksBefore = [](const Ranked& a, const Ranked& b) { return a.ranksBefore(b); };
  const size_t kept = std::min(limit, found.size());
  std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(kept), found.end(),
                    ranksBefore);
  std::vector<Scored> results;
  results.reserve(kept);
  for (size_t i = 0; i < kept; ++i) {
    results.push_back({found[i].index, found[i].score});
  }
  return results;
}

std::vector<int> SearchIndex::search(std::string_view query, size_t limit,
                                     std::span<const int32_t> boosts) const {
  const std::vector<Scored> scored = scoredSearch(query, limit, boosts);
  std::vector<int> positions;
  positions.reserve(scored.size());
  for (const Scored& result : scored) {
    positions.push_back(result.index);
  }
  return positions;
}

}  // namespace vesk
