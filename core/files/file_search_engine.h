#pragma once
// FileSearchEngine: owns the file index and everything that happens to it: full rebuilds
// when the rules change, incremental updates from the directory watcher, launch-history
// boosts, and the searches run on every keystroke.
//
// All state lives on the serial queue "launcher.files". Scans and the watcher's set-up run
// on a background queue and hand back one value; `canRead` runs on a queue of its own
// because it may block. Searches always run against the index in use, never waiting for a
// rebuild; a search that a newer one superseded is skipped and yields nothing.
//
// Folders the desktop may guard with a permission prompt are asked about without blocking a
// rebuild for more than 100 ms; those not yet allowed are left out and join through a
// follow-up rebuild once allowed.
//
// Every public member may be called from any thread. Results come back as futures, or for a
// search also through a callback. The destructor waits for work already running.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/serial_queue.h"
#include "core/files/directory_watcher.h"
#include "core/files/file_index.h"
#include "core/files/file_rules.h"
#include "core/files/folder_access.h"

namespace vesk {

class FileSearchEngine final {
 public:
  using Access = FolderAccess::Access;

  // Called on the engine's queue with the paths that left the index, in order.
  using OnRemoved = std::function<void(const std::vector<std::string>&)>;
  using CanRead = FolderAccess::CanRead;
  using LogSink = DirectoryWatcher::LogSink;
  using Hits = std::optional<std::vector<FileHit>>;

  // Waiting for access answers is capped at this per rebuild.
  static constexpr std::chrono::milliseconds kAccessWait{100};
  static constexpr std::chrono::milliseconds kWatchLatency{500};
  static constexpr size_t kWatchExclusions = 8;

  explicit FileSearchEngine(OnRemoved onRemoved = {}, CanRead canRead = canListFolder,
                            LogSink log = {});
  ~FileSearchEngine();
  FileSearchEngine(const FileSearchEngine&) = delete;
  FileSearchEngine& operator=(const FileSearchEngine&) = delete;
  FileSearchEngine(FileSearchEngine&&) = delete;
  FileSearchEngine& operator=(FileSearchEngine&&) = delete;

  // Rebuilds the index under `rules`. Ready when the new index is in use or a newer rebuild
  // superseded this one.
  std::future<void> rebuild(FileRules rules);
  // Up to `limit` hits, best first; absent when a search with another generation was started
  // before this one ran.
  std::future<Hits> search(std::string query, int limit, int64_t generation);
  // The same search, its hits handed to `done` on the engine's queue, so that no thread waits
  // for them. `done` must not block: it hands the hits on.
  void search(std::string query, int limit, int64_t generation, std::function<void(Hits)> done);
  void setBoosts(FileBoosts boosts);
  std::future<size_t> count();
  // Asks again about every folder whose access was refused.
  void recheckRefused();

  // Called on the queue after a new index was installed and after each batch of events was
  // applied, so that a caller can refresh what it shows.
  void setOnApplied(std::function<void()> onApplied);
  // Called on the queue for every change an event brought to the index: "added", "removed",
  // "replaced", "rescanned" or "rebuild", with the path. For diagnostics.
  using OnChange = std::function<void(std::string_view change, const std::string& path)>;
  void setOnChange(OnChange onChange);

  // Test seams: `afterScan` runs on the background queue when a rebuild's scan is done and
  // before its index is installed; `eventsHeld` runs on the queue whenever events are held
  // for a running scan. Set them before the first rebuild.
  struct TestHooks {
    std::function<void()> afterScan;
    std::function<void()> eventsHeld;
  };
  void setTestHooks(TestHooks hooks) { hooks_ = std::move(hooks); }
  // The number of the newest rebuild.
  uint64_t rebuildNumber() const { return rebuilds_.load(); }

  // Test seam: the index in use. Read only from the engine's queue (through `onQueue`).
  const FileIndex& indexForTesting() const { return index_; }
  // Test seam: the watcher in use, so that tests can simulate what the kernel does to it.
  // Call only from the engine's queue (through `onQueue`).
  DirectoryWatcher* watcherForTesting() { return watcher_.get(); }
  // Runs `work` on the engine's queue and waits for it.
  void onQueue(const std::function<void()>& work) { queue_.sync(work); }
  // The access answer for a folder, if it was asked about.
  std::optional<Access> access(const std::string& folder);

 private:
  using Done = std::shared_ptr<std::promise<void>>;

  bool isNewest(uint64_t g) const { return g == rebuilds_.load(); }
  void answered(const std::string& folder, bool allowed);
  void settleAccess(uint64_t g, FileRules rules, const Done& done);
  void install(uint64_t g, FileRules requested, FileRules effective, std::set<std::string> deferred,
               std::unique_ptr<DirectoryWatcher> watcher, const Done& done);
  void finish(uint64_t g, FileIndex index, const Done& done);
  std::unique_ptr<DirectoryWatcher> makeWatcher(uint64_t g, const FileRules& effective);
  void onEvents(uint64_t g, std::vector<DirectoryWatcher::Event> events);

  // Event application (on the queue).
  void apply(const std::vector<DirectoryWatcher::Event>& events);
  void report(std::string_view change, const std::string& path) const {
    if (onChange_) {
      onChange_(change, path);
    }
  }

  OnRemoved onRemoved_;
  std::function<void()> onApplied_;
  TestHooks hooks_;
  OnChange onChange_;
  LogSink log_;
  std::atomic<int64_t> latestSearch_{0};
  std::atomic<uint64_t> rebuilds_{0};
  std::atomic<bool> stopping_{false};

  // Queue-confined state.
  FileIndex index_;
  std::optional<FileRules> requested_;
  std::optional<FileRules> rules_;
  std::set<std::string> deferred_;
  FileBoosts boosts_;
  std::unique_ptr<DirectoryWatcher> watcher_;
  uint64_t watcherGeneration_ = 0;
  std::optional<std::vector<DirectoryWatcher::Event>> pendingEvents_;

  // Declared last: destroyed first, while the state above is still alive.
  SerialQueue queue_{"launcher.files"};
  SerialQueue background_{"launcher.files.scan"};
  FolderAccess access_;
};

}  // namespace vesk
