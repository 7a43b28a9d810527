#pragma once
// DirectoryWatcher: a recursive change stream over folder trees, on inotify.
//
// Every folder of the trees gets a watch (new folders get one as they appear; nothing under
// an excluded path is watched). Changes are collected on the watcher's own reader thread and
// handed to `handler` in batches on the given SerialQueue, `latency` after the first change
// of a batch, one Event per change in the order the kernel reported them.
//
// Event flags keep the values of the desktop's file event stream so that callers test them
// the same way everywhere: 0x1 the folder's contents must be scanned (given for every new or
// moved-in folder, whose contents may predate its watch), 0x2 and 0x4 changes were dropped
// (0x4 on every root when the kernel queue overflowed), 0x100 created, 0x200 removed, 0x800
// renamed (both the old and the new path), 0x400 metadata changed, 0x1000 written, 0x10000
// a file, 0x20000 a folder.
//
// Running out of watches (fs.inotify.max_user_watches) is logged once per watcher; a folder
// that appears after that is still reported with 0x2, so its contents get looked at, but later
// changes inside it are not seen: the log line says so.
//
// Destroying the watcher stops the stream; a batch already running on the queue finishes,
// none starts afterwards. Create and destroy it from any thread except its own reader.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/serial_queue.h"

namespace vesk {

class DirectoryWatcher final {
 public:
  struct Event {
    static constexpr uint32_t kMustScanSubDirs = 0x1;
    static constexpr uint32_t kUserDropped = 0x2;
    static constexpr uint32_t kKernelDropped = 0x4;
    static constexpr uint32_t kItemCreated = 0x100;
    static constexpr uint32_t kItemRemoved = 0x200;
    static constexpr uint32_t kItemInodeMetaMod = 0x400;
    static constexpr uint32_t kItemRenamed = 0x800;
    static constexpr uint32_t kItemModified = 0x1000;
    static constexpr uint32_t kItemIsFile = 0x10000;
    static constexpr uint32_t kItemIsDir = 0x20000;

    std::string path;
    uint32_t flags = 0;

    // Detail was lost: the tree below `path` has to be looked at again.
    bool mustRescan() const { return (flags & 0x7) != 0; }
    bool isAddedRemovedOrMoved() const { return (flags & 0xB00) != 0; }
    bool operator==(const Event&) const = default;
  };

  using Handler = std::function<void(std::vector<Event>)>;
  // Receives one line per diagnostic (the app routes it to the journal).
  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    // Decides whether a folder below a root gets a watch (and its subfolders a look); empty
    // watches every folder. Called on the reader thread.
    std::function<bool(std::string_view path)> watchFolder;
    // Defaults to standard error.
    LogSink log;
  };

  // Watches `paths` and every folder below them, except at or below the first 8 `excluding`
  // paths. With `fileEvents` each changed item is reported; without, the folder holding the
  // change is. Null when inotify cannot be set up.
  static std::unique_ptr<DirectoryWatcher> create(
      std::vector<std::string> paths, std::vector<std::string> excluding, bool fileEvents,
      std::chrono::milliseconds latency, SerialQueue& queue, Handler handler, Options options = {});
  // Folder-level events, no exclusions.
  static std::unique_ptr<DirectoryWatcher> create(std::vector<std::string> paths,
                                                  std::chrono::milliseconds latency,
                                                  SerialQueue& queue, Handler handler);

  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // The number of folders watched now (for diagnostics and tests).
  size_t watchCount() const;

  // Test seam: behaves exactly as when the kernel reports that its event queue overflowed.
  void simulateOverflow();

  // Test seam: behaves as if the watch limit were reached after `watches` more watches.
  void limitWatchesForTesting(size_t watches);

  struct State;

 private:
  explicit DirectoryWatcher(std::shared_ptr<State> state);
  std::shared_ptr<State> state_;
};

}  // namespace vesk
