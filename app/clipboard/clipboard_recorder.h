#pragma once
// ClipboardRecorder: watches the system clipboard and records each new copy. Twice a second it
// compares the clipboard's change count with the last one seen; when it moved, it reads the copy
// (skipping concealed, transient and generated ones), adds it to the store and hands the stored
// clip to `onRecord` on the main thread. Polling stops entirely while recording is paused, the
// screens sleep or the user switched to another login.
//
// Threads: public members are called on the main thread. All polling state lives on the serial
// queue "launcher.clipboard.watch", which also reads the copy and waits for the store, so a
// large copy never blocks the main thread and copies are stored in the order they were made.
// The recorder must outlive nothing it posted: its destructor stops the queue first.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/base/executor.h"
#include "core/base/serial_queue.h"
#include "core/base/wall_clock.h"
#include "core/clipboard/clip.h"

namespace vesk {

class ClipboardStore;
class ImageCodec;
class Pasteboard;

class ClipboardRecorder final {
 public:
  static constexpr int intervalMs = 500;
  static constexpr int leewayMs = 250;

  ClipboardRecorder(Executor& executor, std::shared_ptr<Pasteboard> pasteboard,
                    std::shared_ptr<ClipboardStore> store, std::shared_ptr<const ImageCodec> codec,
                    WallClock now = secondsSince1970);
  ~ClipboardRecorder();
  ClipboardRecorder(const ClipboardRecorder&) = delete;
  ClipboardRecorder& operator=(const ClipboardRecorder&) = delete;

  // Receives each stored copy, on the main thread.
  std::function<void(const Clip&)> onRecord;
  // Receives whether the clipboard can be read whenever that flips, on the main thread.
  std::function<void(bool)> onAccessChange;

  // Takes the current change count as seen (what is on the clipboard now is never recorded)
  // and, with `timer`, starts polling. Returns once that is done.
  void start(bool timer);
  void setPaused(bool paused);
  // The screens slept or the user switched away (true), or came back (false).
  void setAsleep(bool asleep);
  // The desktop id of the frontmost application: the source of copies that name none.
  void setFrontmostApp(std::optional<std::string> app);

  // One poll now, as the timer would run it; returns when it is done. For tests and for
  // callers that know the clipboard changed.
  void pollNow();

  // Whether the timer polls now (not paused, asleep or stopped), once the calls before it took
  // effect.
  bool isPolling();

 private:
  Executor& executor_;
  void updateTimer();                  // on queue
  void readIfChanged();                // on queue
  void schedule(uint64_t generation);  // on queue

  std::shared_ptr<Pasteboard> pasteboard_;
  std::shared_ptr<ClipboardStore> store_;
  std::shared_ptr<const ImageCodec> codec_;
  const WallClock now_;
  std::mutex frontmostMutex_;
  std::optional<std::string> frontmostApp_;
  // Polling state, touched on `queue_` only.
  int64_t lastChange_ = 0;
  bool running_ = false;
  bool asleep_ = false;
  bool paused_ = false;
  bool denied_ = false;
  bool timerActive_ = false;
  uint64_t timerGeneration_ = 0;
  // Guards callbacks posted to the main thread after the recorder is gone.
  std::shared_ptr<ClipboardRecorder*> self_;
  SerialQueue queue_;  // last: stopped before the rest goes away
};

}  // namespace vesk
