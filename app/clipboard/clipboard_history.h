#pragma once
// ClipboardHistory: the application's view of the clipboard history. It owns the in-memory
// index over the store, loads it at start, applies recorded copies, pins, deletes, moves clips
// to the top, clears and prunes: always the store first, the index after, and `onChange` once
// the index changed. It counts the copies recorded or moved to the top in this run, which a
// paste-next run uses to notice a new copy.
//
// Main thread only. Store calls run in the background; their results come back to the main
// thread and are dropped when the history is gone. `removed` keeps a copy that was still being
// stored from bringing back a clip deleted meanwhile.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "app/base/executor.h"
#include "core/base/wall_clock.h"
#include "core/clipboard/clipboard_index.h"
#include "core/clipboard/clipboard_store.h"

namespace vesk {

class ClipboardHistory final {
 public:
  explicit ClipboardHistory(Executor& executor, std::shared_ptr<ClipboardStore> store,
                            WallClock now = secondsSince1970);
  ~ClipboardHistory();
  ClipboardHistory(const ClipboardHistory&) = delete;
  ClipboardHistory& operator=(const ClipboardHistory&) = delete;

  const std::shared_ptr<ClipboardStore>& store() const { return store_; }
  const ClipboardIndex& index() const { return index_; }
  bool isLoaded() const { return isLoaded_; }
  // Why the load failed, when it did; the store then refuses every change for this run.
  const std::optional<ClipboardStore::Failure>& loadFailure() const { return loadFailure_; }
  int64_t copies() const { return copies_; }
  const std::optional<ClipboardStore::Retention>& retention() const { return retention_; }

  // Called after every change of the index.
  std::function<void()> onChange;

  // Reads every clip, builds the index in the background and installs it; `done` runs after.
  void load(std::function<void()> done = {});
  // A copy the recorder stored.
  void recorded(const Clip& clip);
  void setPinned(bool pinned, int64_t id);
  void deleteClip(int64_t id);
  void moveToTop(int64_t id, double time);
  // Applies the retention (after loading, once one is set).
  void prune();
  // Setting the retention prunes.
  void setRetention(ClipboardStore::Retention retention);
  // Takes out of the index the clips the store already removed.
  void remove(const std::vector<int64_t>& ids);

 private:
  Executor& executor_;
  std::shared_ptr<ClipboardStore> store_;
  const WallClock now_;
  ClipboardIndex index_;
  std::optional<ClipboardStore::Retention> retention_;
  bool isLoaded_ = false;
  std::optional<ClipboardStore::Failure> loadFailure_;
  int64_t copies_ = 0;
  std::set<int64_t> removed_;
  std::shared_ptr<ClipboardHistory*> self_;
};

}  // namespace vesk
