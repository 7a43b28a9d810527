#pragma once
// SearchIndex: the launcher's own items (applications and commands) with their prepared
// search keys, answering a typed query with a ranked list of positions.
//
// An index is an immutable snapshot, built off the main thread and replaced whole when the
// applications or commands change. Only the aliases change afterwards (`setAliases`, main
// thread). `scoredSearch` makes its own matchers per call, so concurrent searches on copies
// of an index need no locks; one index must not be searched while its aliases change.
//
// An item may bring more than its name: further texts it is found by (an application's generic
// name and keywords), scored like its file name but ranked after an equal hit on the name, and
// a line about it for its row. An app's own actions ("App: Action" items) rank after the app.
//
// Invariants: `items`, `names`, `fileNames` and the details have equal length; every value of
// `positions` and `aliases` is a valid position; `positions` holds the first position of each
// id.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/search/item.h"
#include "core/search/search_key.h"

namespace vesk {

class SearchIndex {
 public:
  // One result: the item's position and its score (terms plus boost, or `kAliasScore`).
  struct Scored {
    int index = 0;
    int32_t score = 0;
    bool operator==(const Scored&) const = default;
  };

  // The score of an item selected by its alias: above every real score.
  static constexpr int32_t kAliasScore = 536870911;  // 2^29 - 1

  // Maps keyed by string that accept string_view look-ups without a copy.
  struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  using StringMap = std::unordered_map<std::string, int, StringHash, std::equal_to<>>;

  // What an item brings besides its name.
  struct Details {
    std::vector<std::string> keys;  // further texts the item is found by
    std::string about;              // a line about the item; empty: none
    std::string icon;               // its own icon (theme name or file); empty: its item's
    bool operator==(const Details&) const = default;
  };

  // No items.
  SearchIndex() = default;
  // Sorts the items by name in the file browser's order (case-insensitive, numbers by value,
  // the default locale's collation; stable for names that compare equal) and prepares keys.
  // `details` runs parallel to `items`; items past its end have none.
  explicit SearchIndex(std::vector<Item> items, std::vector<Details> details = {});

  // A shared index of no items, for use before the first build.
  static const SearchIndex& empty();

  const std::vector<Item>& items() const { return items_; }
  size_t size() const { return items_.size(); }
  // The key of each item's display name.
  const std::vector<SearchKey>& names() const { return names_; }
  // A second key where the item's file name (without extension) differs from its name.
  const std::vector<std::optional<SearchKey>>& fileNames() const { return fileNames_; }
  // The details of the item at `position` (empty ones for a position out of range).
  const Details& details(size_t position) const;
  // The positions of the actions of the app at `position` (items made by `Item::appAction`
  // for its entry), in the order they were given.
  std::span<const int> actions(size_t position) const;
  // Item id → first position with that id.
  const StringMap& positions() const { return positions_; }
  // Lower-cased alias → position of the item it selects.
  const StringMap& aliases() const { return aliases_; }

  // The first position of the item with this id, or none.
  std::optional<int> position(std::string_view id) const;

  // Replaces the aliases of `command`'s item with the non-empty ones given, lower-cased. An
  // alias held by another item moves to this one. No effect when the command is not indexed.
  void setAliases(std::span<const std::string> aliases, Command command);

  // The items matching every term of `query`, best first, at most `limit`. `boosts` holds one
  // value per item, added to its score; any other length is ignored. The query alone (trimmed
  // of spaces and tabs, lower-cased) naming an alias puts that item first with `kAliasScore`.
  // Cost: one mask test per item and term, an alignment for survivors, no allocation per item.
  std::vector<Scored> scoredSearch(std::string_view query, size_t limit,
                                   std::span<const int32_t> boosts = {}) const;
  // The positions of `scoredSearch`.
  std::vector<int> search(std::string_view query, size_t limit,
                          std::span<const int32_t> boosts = {}) const;

 private:
  std::vector<Item> items_;
  std::vector<SearchKey> names_;
  std::vector<std::optional<SearchKey>> fileNames_;
  std::vector<Details> details_;
  // The keys of `Details::keys`, item after item: item i's are [keyStarts_[i], keyStarts_[i+1]).
  std::vector<SearchKey> extraKeys_;
  std::vector<uint32_t> keyStarts_;
  // For an app action, the position of its app (-1: none or not an action); for an app, the
  // range of its actions in `actionPositions_`.
  std::vector<int> parents_;
  std::vector<std::pair<uint32_t, uint32_t>> actionRanges_;
  std::vector<int> actionPositions_;
  StringMap positions_;
  StringMap aliases_;
};

}  // namespace vesk
