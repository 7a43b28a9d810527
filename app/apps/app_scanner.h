#pragma once
// AppScanner: finds the applications the launcher lists, one `Item` per desktop entry under the
// XDG application folders. An application's id is its entry's path with links resolved; an
// entry whose desktop id (its path below the root, "/" read as "-") was met in an earlier root
// is shadowed by it, as the freedesktop menu rules say, and is not listed again.
//
// Stateless; `scan` does blocking file-system work and runs off the main thread.

#include <string>
#include <string_view>
#include <vector>

#include "core/search/item.h"
#include "core/search/search_index.h"
#include "platform/app_catalog.h"

namespace vesk {

namespace AppScanner {

// One application found: its item and what its entry says about it.
struct App {
  Item item;
  AppCatalog::Entry entry;
};

// $XDG_DATA_HOME/applications, then the applications folder of each $XDG_DATA_DIRS entry, then
// the flatpak and snap export folders that are not listed already. Folders that do not exist
// are kept: a watcher may see them appear.
std::vector<std::string> defaultRoots();

// The applications under `roots` (entries at depth 1 to `maxDepth`, hidden folders skipped),
// then the `extras` (entry paths), in discovery order.
std::vector<App> scanApps(const std::vector<std::string>& roots,
                          const std::vector<std::string>& extras, int maxDepth,
                          const AppCatalog& catalog);
// The items of `scanApps`.
std::vector<Item> scan(const std::vector<std::string>& roots,
                       const std::vector<std::string>& extras, int maxDepth,
                       const AppCatalog& catalog);

// Appends what the search index holds of an application: its item, found also by its generic
// name and keywords and described by its generic name or else its comment; then one
// "App: Action" item per action of its entry, with the action's own icon.
void addToIndex(App app, std::vector<Item>& items, std::vector<SearchIndex::Details>& details);

// Whether a change at `path` can change the set of applications: only desktop entries count.
bool affectsIndex(std::string_view path);

}  // namespace AppScanner
}  // namespace vesk
