#pragma once
// HistoryStore: owns the launch history on the main thread, loads it from and saves it to
// "vesk/history.json" in the user's data folder. Every save carries a full snapshot and runs on
// the serial writer queue "launcher.history", so the last write always holds the latest history
// and the main thread never waits for the disk.
//
// Opens recorded (and paths forgotten) before the start-up load finished are replayed on the
// loaded history, so neither the file's history nor the early opens are lost.
//
// Main thread only, apart from the writer queue.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/base/executor.h"
#include "core/base/serial_queue.h"
#include "core/search/history.h"

namespace vesk {

class HistoryStore final {
 public:
  // A larger file is not read, and not replaced: the history Vesk writes stays far below (a
  // couple of hundred entries of a path and ten times each), so it is somebody else's file.
  static constexpr size_t kMaxFileBytes = size_t{8} << 20;  // "8 MiB" in its log line

  // $XDG_DATA_HOME (else ~/.local/share) + "/vesk/history.json".
  static std::string defaultFile();

  explicit HistoryStore(Executor& executor, std::string file = defaultFile());
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;
  HistoryStore(HistoryStore&&) = delete;
  HistoryStore& operator=(HistoryStore&&) = delete;

  const History& history() const { return history_; }
  const std::string& file() const { return file_; }
  bool isLoaded() const { return loaded_; }

  // Reads the file in the background (dropping entries of files that are gone) and installs
  // the result; `done` runs on the main thread afterwards.
  void load(std::function<void()> done = {});
  // Records one open at `at` (seconds since 1970) and saves.
  void record(const std::string& id, double at);
  // Forgets the file and folder entries at or under the paths and, when that changed
  // anything, saves.
  void forget(const std::unordered_set<std::string>& paths);
  // Blocks until every queued save has been written.
  void flush();

 private:
  Executor& executor_;
  struct Loaded {
    History history;
    bool keepFile = false;  // the file is not Vesk's to replace
  };
  struct Pending {
    std::string id;  // a record when set, else a forget of `paths`
    double at = 0;
    std::unordered_set<std::string> paths;
  };
  void save();

  std::string file_;
  History history_;
  bool loaded_ = false;
  bool keepFile_ = false;
  bool loading_ = false;
  std::vector<Pending> pending_;
  std::shared_ptr<HistoryStore*> self_;
  SerialQueue writer_;  // last: finishes queued saves before the rest goes away
};

}  // namespace vesk
