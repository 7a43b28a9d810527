#include "app/shell/app_indexer.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>

#include "app/apps/app_scanner.h"
#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "core/files/directory_watcher.h"
#include "core/search/item.h"
#include "platform/app_catalog.h"

namespace vesk {

namespace {

constexpr int kAppScanDepth = 3;
constexpr std::chrono::seconds kAppsWatchLatency{1};
// Vesk's own desktop entry is never listed: the launcher does not launch itself.
constexpr std::string_view kOwnEntry = "vesk.desktop";

// Whether `path` is `folder` or lies below it.
bool isWithin(std::string_view path, std::string_view folder) {
  if (!path.starts_with(folder)) {
    return false;
  }
  return path.size() == folder.size() || folder.ends_with('/') || path[folder.size()] == '/';
}

// The nearest folder above `path` that exists, if any.
std::optional<std::string> nearestExistingFolder(const std::filesystem::path& path) {
  std::error_code error;
  for (std::filesystem::path above = path.parent_path(); !above.empty();
       above = above.parent_path()) {
    if (std::filesystem::is_directory(above, error)) {
      return above.string();
    }
    if (above == above.root_path()) {
      break;
    }
  }
  return std::nullopt;
}

}  // namespace

AppIndexer::AppIndexer(Executor& executor, std::vector<std::string> roots,
                       std::shared_ptr<AppCatalog> catalog, OnIndex onIndex)
    : executor_(executor),
      roots_(std::move(roots)),
      catalog_(std::move(catalog)),
      onIndex_(std::move(onIndex)),
      self_(std::make_shared<AppIndexer*>(this)),
      events_("launcher.apps.watch") {}

AppIndexer::~AppIndexer() {
  *self_ = nullptr;
  watcher_.reset();
}

void AppIndexer::watch() {
  // An application folder that doesn't exist yet (the first app installed for one user makes
  // ~/.local/share/applications) is waited for from the nearest folder above it that exists:
  // only the folders on the way to it are watched there, and once it appears the watch moves.
  std::vector<std::string> watched;
  std::vector<std::string> missing;
  for (const std::string& root : roots_) {
    std::error_code error;
    if (std::filesystem::is_directory(root, error)) {
      watched.push_back(root);
    } else if (auto above = nearestExistingFolder(root)) {
      missing.push_back(root);
      watched.push_back(std::move(*above));
    }
  }
  std::sort(watched.begin(), watched.end());
  watched.erase(std::unique(watched.begin(), watched.end()), watched.end());
  std::erase_if(watched, [&watched](const std::string& folder) {
    return std::any_of(watched.begin(), watched.end(), [&folder](const std::string& other) {
      return other != folder && isWithin(folder, other);
    });
  });
  if (watched.empty()) {
    watcher_.reset();
    return;
  }
  const auto isWatchedFolder = [roots = roots_, missing](std::string_view path) {
    return std::any_of(roots.begin(), roots.end(),
                       [path](const std::string& root) { return isWithin(path, root); }) ||
           std::any_of(missing.begin(), missing.end(),
                       [path](const std::string& root) { return isWithin(root, path); });
  };
  std::weak_ptr<AppIndexer*> weak = self_;
  watcher_.reset();
  watcher_ = DirectoryWatcher::create(
      watched, {}, true, std::chrono::duration_cast<std::chrono::milliseconds>(kAppsWatchLatency),
      events_,
      [&executor = executor_, weak, roots = roots_,
       missing](std::vector<DirectoryWatcher::Event> events) {
        bool appeared = false;
        bool affects = false;
        for (const DirectoryWatcher::Event& event : events) {
          appeared = appeared ||
                     std::any_of(missing.begin(), missing.end(), [&event](const std::string& root) {
                       return isWithin(root, event.path);
                     });
          const bool inRoot =
              std::any_of(roots.begin(), roots.end(),
                          [&event](const std::string& root) { return isWithin(event.path, root); });
          affects =
              affects || (inRoot && (event.mustRescan() || AppScanner::affectsIndex(event.path)));
        }
        executor.deliver([weak, appeared, affects] {
          const auto self = weak.lock();
          if (!self || *self == nullptr) {
            return;
          }
          AppIndexer& indexer = **self;
          if (appeared) {
            indexer.watch();
          }
          if (appeared || affects) {
            indexer.rebuild();
          }
          if (indexer.onChangesJudged) {
            indexer.onChangesJudged();
          }
        });
      },
      DirectoryWatcher::Options{isWatchedFolder, [](std::string_view line) {
                                  Log::app.error("%.*s", static_cast<int>(line.size()),
                                                 line.data());
                                }});
  if (!watcher_) {
    Log::app.error("Couldn't watch the application folders; new apps appear after a restart");
  }
}

void AppIndexer::rebuild() {
  const int64_t generation = ++generation_;
  std::weak_ptr<AppIndexer*> weak = self_;
  runInBackground(
      executor_, QoS::utility,
      [roots = roots_, catalog = catalog_] {
        std::vector<Item> items;
        std::vector<SearchIndex::Details> details;
        for (AppScanner::App& app : AppScanner::scanApps(roots, {}, kAppScanDepth, *catalog)) {
          if (ItemPath::lastComponent(app.item.id) != kOwnEntry) {
            AppScanner::addToIndex(std::move(app), items, details);
          }
        }
        for (const Command command : kAllCommands) {
          items.push_back(Item::command(command));
        }
        return SearchIndex(std::move(items), std::move(details));
      },
      [weak, generation](SearchIndex index) {
        const auto self = weak.lock();
        if (!self || *self == nullptr || (*self)->generation_ != generation) {
          return;  // A newer rebuild started: only its index counts.
        }
        const auto apps =
            std::count_if(index.items().begin(), index.items().end(),
                          [](const Item& item) { return item.isApp() && !item.isAppAction(); });
        Log::app.info("Rebuilt the application index (generation %lld): %lld apps",
                      static_cast<long long>(generation), static_cast<long long>(apps));
        for (const Item& item : index.items()) {
          if (item.isApp()) {
            Log::app.debug("Indexed app: %s (%s)", item.name.c_str(), item.id.c_str());
          }
        }
        if ((*self)->onIndex_) {
          (*self)->onIndex_(std::move(index));
        }
      });
}

}  // namespace vesk
