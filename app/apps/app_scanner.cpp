#include "app/apps/app_scanner.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "core/base/xdg_folders.h"
#include "platform/app_catalog.h"

namespace vesk {
namespace AppScanner {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kEntrySuffix = ".desktop";

std::string resolved(const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::canonical(path, error);
  return error ? path : canonical.string();
}

struct Walk {
  const AppCatalog& catalog;
  std::set<std::string> desktopIds;
  std::set<std::string> listed;
  std::vector<App> apps;

  void consider(const std::string& path, const std::string& desktopId) {
    if (!desktopId.empty() && !desktopIds.insert(desktopId).second) {
      return;  // Shadowed by an entry of the same id in an earlier root.
    }
    std::optional<AppCatalog::Entry> entry = catalog.listedEntry(path);
    if (!entry) {
      return;
    }
    std::string id = resolved(path);
    if (!listed.insert(id).second) {
      return;
    }
    Item item = Item::app(entry->name, path, std::move(id));
    apps.push_back({std::move(item), std::move(*entry)});
  }
};

std::string desktopIdOf(const fs::path& relative) {
  std::string id = relative.generic_string();
  std::replace(id.begin(), id.end(), '/', '-');
  return id;
}

void walkRoot(const std::string& root, int maxDepth, Walk& walk) {
  std::error_code error;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  if (error) {
    return;
  }
  // Sorted per folder so that the result does not depend on the directory's own order.
  std::vector<std::pair<std::string, std::string>> entries;
  for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
    if (error) {
      break;
    }
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    const int depth = it.depth() + 1;
    if (name.starts_with(".")) {
      it.disable_recursion_pending();
      continue;
    }
    std::error_code typeError;
    if (it->is_directory(typeError)) {
      if (depth >= maxDepth) {
        it.disable_recursion_pending();
      }
      continue;
    }
    if (name.ends_with(kEntrySuffix)) {
      entries.emplace_back(path.string(), desktopIdOf(path.lexically_relative(root)));
    }
  }
  std::sort(entries.begin(), entries.end());
  for (const auto& [path, desktopId] : entries) {
    walk.consider(path, desktopId);
  }
}

}  // namespace

std::vector<std::string> defaultRoots() {
  std::vector<std::string> roots;
  const auto add = [&roots](std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') {
      folder.pop_back();
    }
    if (folder.empty() || folder[0] != '/') {
      return;
    }
    if (std::find(roots.begin(), roots.end(), folder) == roots.end()) {
      roots.push_back(std::move(folder));
    }
  };
  const XDGFolders folders;
  const std::string dataHome = folders.dataHome();
  add(dataHome + "/applications");
  for (const std::string& dir : folders.dataDirs()) {
    add(dir + "/applications");
  }
  for (const std::string& extra : {dataHome + "/flatpak/exports/share/applications",
                                   std::string("/var/lib/flatpak/exports/share/applications"),
                                   std::string("/var/lib/snapd/desktop/applications")}) {
    std::error_code error;
    if (fs::is_directory(extra, error)) {
      add(extra);
    }
  }
  return roots;
}

std::vector<App> scanApps(const std::vector<std::string>& roots,
                          const std::vector<std::string>& extras, int maxDepth,
                          const AppCatalog& catalog) {
  Walk walk{catalog, {}, {}, {}};
  for (const std::string& root : roots) {
    walkRoot(root, maxDepth, walk);
  }
  for (const std::string& extra : extras) {
    std::error_code error;
    if (fs::exists(extra, error)) {
      walk.consider(extra, {});
    }
  }
  return std::move(walk.apps);
}

std::vector<Item> scan(const std::vector<std::string>& roots,
                       const std::vector<std::string>& extras, int maxDepth,
                       const AppCatalog& catalog) {
  std::vector<Item> items;
  for (App& app : scanApps(roots, extras, maxDepth, catalog)) {
    items.push_back(std::move(app.item));
  }
  return items;
}

void addToIndex(App app, std::vector<Item>& items, std::vector<SearchIndex::Details>& details) {
  AppCatalog::Entry& entry = app.entry;
  SearchIndex::Details about;
  if (!entry.genericName.empty() && entry.genericName != app.item.name) {
    about.keys.push_back(entry.genericName);
  }
  for (std::string& keyword : entry.keywords) {
    about.keys.push_back(std::move(keyword));
  }
  // A generic name that only repeats the name says nothing; the comment does.
  const bool saysMore = !entry.genericName.empty() && entry.genericName != app.item.name;
  about.about = saysMore || entry.comment.empty() ? entry.genericName : entry.comment;
  details.resize(items.size());
  for (AppCatalog::Entry::Action& action : entry.actions) {
    items.push_back(Item::appAction(app.item, action.id, action.name));
    details.push_back({{}, {}, std::move(action.icon)});
  }
  items.push_back(std::move(app.item));
  details.push_back(std::move(about));
}

bool affectsIndex(std::string_view path) {
  return path.ends_with(kEntrySuffix);
}

}  // namespace AppScanner
}  // namespace vesk
