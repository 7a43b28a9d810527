#include "app/clipboard/clipboard_recorder.h"

#include <chrono>
#include <utility>

#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "core/clipboard/clip_reading.h"
#include "core/clipboard/clipboard_store.h"
#include "core/clipboard/pasteboard.h"

namespace vesk {

namespace {}  // namespace

ClipboardRecorder::ClipboardRecorder(Executor& executor, std::shared_ptr<Pasteboard> pasteboard,
                                     std::shared_ptr<ClipboardStore> store,
                                     std::shared_ptr<const ImageCodec> codec, WallClock now)
    : executor_(executor),
      pasteboard_(std::move(pasteboard)),
      store_(std::move(store)),
      codec_(std::move(codec)),
      now_(std::move(now)),
      self_(std::make_shared<ClipboardRecorder*>(this)),
      queue_("launcher.clipboard.watch") {}

ClipboardRecorder::~ClipboardRecorder() {
  *self_ = nullptr;
  // Stop the timer chain; the queue's destructor then runs what is due and joins.
  queue_.sync([this] {
    running_ = false;
    updateTimer();
  });
}

void ClipboardRecorder::start(bool timer) {
  queue_.sync([this, timer] {
    lastChange_ = pasteboard_->changeCount();
    running_ = timer;
    updateTimer();
  });
}

void ClipboardRecorder::setPaused(bool paused) {
  queue_.async([this, paused] {
    if (paused == paused_) {
      return;
    }
    paused_ = paused;
    if (!paused) {
      // Copies made while paused stay unrecorded.
      lastChange_ = pasteboard_->changeCount();
    }
    updateTimer();
  });
}

void ClipboardRecorder::setAsleep(bool asleep) {
  queue_.async([this, asleep] {
    asleep_ = asleep;
    updateTimer();
  });
}

void ClipboardRecorder::setFrontmostApp(std::optional<std::string> app) {
  const std::lock_guard lock(frontmostMutex_);
  frontmostApp_ = std::move(app);
}

void ClipboardRecorder::pollNow() {
  queue_.sync([this] { readIfChanged(); });
}

bool ClipboardRecorder::isPolling() {
  return queue_.sync([this] { return timerActive_; });
}

void ClipboardRecorder::updateTimer() {
  if (!running_ || asleep_ || paused_) {
    if (timerActive_) {
      timerActive_ = false;
      ++timerGeneration_;  // A pending firing of the old timer sees a stale generation.
    }
    return;
  }
  if (!timerActive_) {
    timerActive_ = true;
    schedule(++timerGeneration_);
  }
}

void ClipboardRecorder::schedule(uint64_t generation) {
  queue_.asyncAfter(std::chrono::milliseconds(intervalMs), [this, generation] {
    if (generation != timerGeneration_ || !timerActive_) {
      return;
    }
    readIfChanged();
    schedule(generation);
  });
}

void ClipboardRecorder::readIfChanged() {
  const int64_t count = pasteboard_->changeCount();
  if (count == lastChange_) {
    return;
  }
  lastChange_ = count;
  if (paused_) {
    return;
  }
  // The X11 clipboard never denies a reader, so `denied_` stays false; a platform that can deny
  // reports it here and polling goes on so that recording resumes by itself.
  if (denied_) {
    return;
  }
  std::optional<std::string> frontmost;
  {
    const std::lock_guard lock(frontmostMutex_);
    frontmost = frontmostApp_;
  }
  const std::optional<ClipSnapshot> snapshot =
      ClipReading::snapshot(*pasteboard_, count, frontmost, *codec_, now_());
  if (!snapshot) {
    return;
  }
  Result<Clip> stored = store_->add(snapshot->content, snapshot->source, snapshot->time);
  if (!stored) {
    Log::app.error("Couldn't record a copy: %s", stored.failure().description.c_str());
    return;
  }
  std::weak_ptr<ClipboardRecorder*> weak = self_;
  executor_.deliver([weak, clip = std::move(stored).value()] {
    const auto self = weak.lock();
    if (self && *self != nullptr && (*self)->onRecord) {
      (*self)->onRecord(clip);
    }
  });
}

}  // namespace vesk
