#include "app/shell/app_indexer.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <utility>

#include "app/apps/app_scanner.h"
#include "app/shell/log.h"
#include "app/shell/run_in_background.h"
#include "core/files/directory_watcher.h"
#include "core/search/item.h"
#include "platform/app_catalog.h"

namespace vesk {

namespace {

constexpr int kAppScanDepth = 3;
constexpr std::chrono::seconds kAppsWatchLatency{1};
// Vesk's own desktop entry is never listed: the launcher does not launch itself.
constexpr std::string_view kOwnEntry = "vesk.desktop";

}  // namespace

AppIndexer::AppIndexer(std::vector<std::string> roots, std::shared_ptr<AppCatalog> catalog,
                       OnIndex onIndex)
    : roots_(std::move(roots)),
      catalog_(std::move(catalog)),
      onIndex_(std::move(onIndex)),
      self_(std::make_shared<AppIndexer*>(this)),
      events_("launcher.apps.watch") {}

AppIndexer::~AppIndexer() {
  *self_ = nullptr;
  watcher_.reset();
}

void AppIndexer::watch() {
  std::vector<std::string> roots;
  for (const std::string& root : roots_) {
    std::error_code error;
    if (std::filesystem::is_directory(root, error)) {
      roots.push_back(root);
    }
  }
  if (roots.empty()) {
    return;
  }
  std::weak_ptr<AppIndexer*> weak = self_;
  watcher_ = DirectoryWatcher::create(
      roots, {}, true, std::chrono::duration_cast<std::chrono::milliseconds>(kAppsWatchLatency),
      events_,
      [weak](std::vector<DirectoryWatcher::Event> events) {
        const bool affects = std::any_of(events.begin(), events.end(), [](const auto& event) {
          return event.mustRescan() || AppScanner::affectsIndex(event.path);
        });
        if (!affects) {
          return;
        }
        postToMain([weak] {
          if (const auto self = weak.lock(); self && *self != nullptr) {
            (*self)->rebuild();
          }
        });
      },
      DirectoryWatcher::Options{{}, [](std::string_view line) {
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
      QoS::utility,
      [roots = roots_, catalog = catalog_] {
        std::vector<Item> items = AppScanner::scan(roots, {}, kAppScanDepth, *catalog);
        std::erase_if(
            items, [](const Item& item) { return ItemPath::lastComponent(item.id) == kOwnEntry; });
        for (const Command command : kAllCommands) {
          items.push_back(Item::command(command));
        }
        return SearchIndex(std::move(items));
      },
      [weak, generation](SearchIndex index) {
        const auto self = weak.lock();
        if (!self || *self == nullptr || (*self)->generation_ != generation) {
          return;  // A newer rebuild started: only its index counts.
        }
        const auto apps = std::count_if(index.items().begin(), index.items().end(),
                                        [](const Item& item) { return item.isApp(); });
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
