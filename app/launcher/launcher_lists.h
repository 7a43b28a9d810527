#pragma once
// LauncherLists: the lists the launcher shows, computed from their inputs: the merge of the
// index's results with the file search's hits, the list of an empty query, and the clipboard
// list. Pure functions of their arguments, called on the main thread.

#include <cstddef>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/launcher/row.h"
#include "core/config/config.h"
#include "core/files/file_index.h"
#include "core/search/search_index.h"

namespace vesk {

class ClipboardIndex;
class History;
class RunningApps;

namespace LauncherLists {

// Rows of a launcher query, the recent list and the clipboard list are bounded.
inline constexpr size_t kResultLimit = 50;
inline constexpr size_t kRecentLimit = 8;
inline constexpr size_t kClipLimit = 100;
// What an indexed item gets over a file hit of the same raw score.
inline constexpr int32_t kIndexBonus = 24;

// Which commands are listed: never the hidden ones; Check for Updates only while checks are on
// and no update is ready; Install Update only while one is ready.
struct CommandRules {
  const std::set<Command>* hidden = nullptr;
  bool checksForUpdates = false;
  bool hasReadyUpdate = false;

  bool lists(const Item& item) const;
};

// Whether `query` holds something other than white space.
bool hasText(std::string_view query);

// Indexed items (score + kIndexBonus, commands filtered) and file hits not already indexed
// (their own score), best first, equal scores in arrival order, at most kResultLimit.
Rows merge(const SearchIndex& index, std::span<const SearchIndex::Scored> scored,
           const std::vector<FileHit>& hits, const CommandRules& rules);

struct Listed {
  Rows rows;
  size_t selection = 0;
};

struct EmptyStateInput {
  Config::EmptyState emptyState = Config::EmptyState::recent;
  const std::vector<std::string>* problems = nullptr;
  CommandRules rules;
  const SearchIndex* index = nullptr;
  const History* history = nullptr;
  const RunningApps* running = nullptr;  // none: no app runs
};

// The problems and the update row, then the recent items, the running apps (then every other
// indexed app) or nothing. The selection skips the head, and in the running list the
// frontmost app when another one runs.
Listed emptyState(const EmptyStateInput& input);

// The indexed item of a running app, else an item made from its desktop entry; none without.
std::optional<Item> runningItem(const std::string& id, const SearchIndex& index,
                                const RunningApps& running);

// The notices (for a blank query) then the matching clips; the first clip is selected.
// `index` none: there is no clipboard history, so no rows.
Listed clips(const ClipboardIndex* index, std::string_view query,
             const std::vector<ClipboardNotice>& notices);

}  // namespace LauncherLists
}  // namespace vesk
