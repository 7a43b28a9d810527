#pragma once
// AppIndexer: the launcher's application index. It scans the application folders in the
// background (leaving out Vesk's own entry and adding the built-in commands) and scans again
// whenever the folders change.
//
// Main thread only. Each rebuild carries a generation number; an index that a newer rebuild
// overtook is dropped. Callbacks hold the object weakly, so it may go away with work pending.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/base/executor.h"
#include "core/base/serial_queue.h"
#include "core/search/search_index.h"

namespace vesk {

class AppCatalog;
class DirectoryWatcher;

class AppIndexer final {
 public:
  // Told on the main thread with each index that is still the newest.
  using OnIndex = std::function<void(SearchIndex index)>;

  AppIndexer(Executor& executor, std::vector<std::string> roots,
             std::shared_ptr<AppCatalog> catalog, OnIndex onIndex);
  ~AppIndexer();
  AppIndexer(const AppIndexer&) = delete;
  AppIndexer& operator=(const AppIndexer&) = delete;

  // Starts a rebuild under a new generation.
  void rebuild();
  // Rebuilds after every change in the application folders; a folder that doesn't exist yet
  // is watched for from the nearest folder above it. Logs when they can't be watched.
  void watch();
  // The generation of the newest rebuild (0 before the first).
  int64_t generation() const { return generation_; }

  // Told on the main thread once each batch of folder changes has been judged, after the
  // rebuild it started (if any) has begun; lets a caller know a change was seen and let pass.
  std::function<void()> onChangesJudged;

 private:
  Executor& executor_;
  std::vector<std::string> roots_;
  std::shared_ptr<AppCatalog> catalog_;
  OnIndex onIndex_;
  int64_t generation_ = 0;

  std::shared_ptr<AppIndexer*> self_;
  SerialQueue events_;
  std::unique_ptr<DirectoryWatcher> watcher_;  // after its queue: stops first
};

}  // namespace vesk
