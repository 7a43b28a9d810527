#include "app/clipboard/clipboard_history.h"

#include <utility>

#include "app/base/log.h"
#include "app/base/run_in_background.h"

namespace vesk {

namespace {

// Runs `work` with the store in the background and `then` on the main thread while the
// history still exists.
template <class Work, class Then>
void withStore(Executor& executor, const std::shared_ptr<ClipboardHistory*>& self,
               const std::shared_ptr<ClipboardStore>& store, Work work, Then then) {
  std::weak_ptr<ClipboardHistory*> weak = self;
  runInBackground(
      executor, QoS::userInitiated, [store, work = std::move(work)] { return work(*store); },
      [weak, then = std::move(then)](auto result) {
        const auto alive = weak.lock();
        if (alive && *alive != nullptr) {
          then(**alive, std::move(result));
        }
      });
}

}  // namespace

ClipboardHistory::ClipboardHistory(Executor& executor, std::shared_ptr<ClipboardStore> store,
                                   WallClock now)
    : executor_(executor),
      store_(std::move(store)),
      now_(std::move(now)),
      self_(std::make_shared<ClipboardHistory*>(this)) {}

ClipboardHistory::~ClipboardHistory() {
  *self_ = nullptr;
}

void ClipboardHistory::load(std::function<void()> done) {
  // Folding every key can take a while, so the index is built in the background too.
  withStore(
      executor_, self_, store_,
      [](ClipboardStore& store) -> Result<ClipboardIndex> {
        auto clips = store.load();
        if (!clips) {
          return clips.failure();
        }
        return ClipboardIndex(std::move(clips).value());
      },
      [done = std::move(done)](ClipboardHistory& history, Result<ClipboardIndex> loaded) {
        if (loaded) {
          // Copies recorded while loading are newer than anything loaded: keep them.
          ClipboardIndex index = std::move(loaded).value();
          for (const Clip& clip : history.index_.clips()) {
            index.insert(clip);
          }
          std::vector<int64_t> gone(history.removed_.begin(), history.removed_.end());
          index.remove(gone);
          history.index_ = std::move(index);
        } else {
          Log::app.error("Couldn't load the clipboard history: %s",
                         loaded.failure().description.c_str());
          history.loadFailure_ = loaded.failure();
        }
        history.isLoaded_ = true;
        history.prune();
        if (history.onChange) {
          history.onChange();
        }
        if (done) {
          done();
        }
      });
}

void ClipboardHistory::recorded(const Clip& clip) {
  if (removed_.contains(clip.id)) {
    return;
  }
  index_.insert(clip);
  ++copies_;
  if (onChange) {
    onChange();
  }
  prune();
}

void ClipboardHistory::prune() {
  if (!isLoaded_ || !retention_) {
    return;
  }
  const ClipboardStore::Retention retention = *retention_;
  const double now = now_();
  withStore(
      executor_, self_, store_,
      [retention, now](ClipboardStore& store) { return store.prune(retention, now); },
      [](ClipboardHistory& history, Result<std::vector<int64_t>> pruned) {
        if (!pruned) {
          Log::app.error("Couldn't prune the clipboard history: %s",
                         pruned.failure().description.c_str());
          return;
        }
        if (!pruned.value().empty()) {
          history.remove(pruned.value());
        }
      });
}

void ClipboardHistory::setRetention(ClipboardStore::Retention retention) {
  retention_ = retention;
  prune();
}

void ClipboardHistory::setPinned(bool pinned, int64_t id) {
  withStore(
      executor_, self_, store_,
      [pinned, id](ClipboardStore& store) { return store.setPinned(pinned, id); },
      [pinned, id](ClipboardHistory& history, Result<void> done) {
        if (!done) {
          Log::app.error("Couldn't pin a clip: %s", done.failure().description.c_str());
          return;
        }
        history.index_.setPinned(pinned, id);
        if (history.onChange) {
          history.onChange();
        }
      });
}

void ClipboardHistory::deleteClip(int64_t id) {
  withStore(
      executor_, self_, store_, [id](ClipboardStore& store) { return store.deleteClip(id); },
      [id](ClipboardHistory& history, Result<void> done) {
        if (!done) {
          Log::app.error("Couldn't delete a clip: %s", done.failure().description.c_str());
          return;
        }
        history.remove({id});
      });
}

void ClipboardHistory::moveToTop(int64_t id, double time) {
  withStore(
      executor_, self_, store_, [id, time](ClipboardStore& store) { return store.touch(id, time); },
      [](ClipboardHistory& history, Result<Clip> touched) {
        if (!touched) {
          Log::app.error("Couldn't move a clip to the top: %s",
                         touched.failure().description.c_str());
          return;
        }
        history.index_.insert(std::move(touched).value());
        ++history.copies_;
        if (history.onChange) {
          history.onChange();
        }
      });
}

void ClipboardHistory::remove(const std::vector<int64_t>& ids) {
  removed_.insert(ids.begin(), ids.end());
  index_.remove(ids);
  if (onChange) {
    onChange();
  }
}

}  // namespace vesk
