#pragma once
// ClipDeliverer: delivers a clip in one of the five ways of ClipDelivery: back on the clipboard,
// and for the paste deliveries with the paste key pressed in the target window. Paste-next
// deliveries are queued: each waits for the one before it and for 100 ms after its key press,
// so the target application reads the clipboard before it changes again.
//
// Main thread: the public members and their callbacks. The store reads, clipboard writes and key
// presses run in the background; the paste-next ones on the serial queue "launcher.paste".

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/base/executor.h"
#include "app/clipboard/paster.h"
#include "core/base/result.h"
#include "core/base/serial_queue.h"
#include "core/base/wall_clock.h"
#include "core/clipboard/clip.h"

namespace vesk {

class ClipboardHistory;
class ClipboardStore;

class ClipDeliverer final {
 public:
  static constexpr int pasteNextGapMs = 100;

  // `history` is told to move plain-text deliveries to the top; it must outlive the deliverer.
  ClipDeliverer(Executor& executor, std::shared_ptr<ClipboardStore> store,
                std::shared_ptr<Paster> paster, ClipboardHistory& history,
                WallClock now = secondsSince1970);
  ~ClipDeliverer();
  ClipDeliverer(const ClipDeliverer&) = delete;
  ClipDeliverer& operator=(const ClipDeliverer&) = delete;

  // "Couldn't paste the clip" / "Couldn't copy the clip".
  static std::string failureTitle(ClipDelivery delivery);

  // paste, copy, pastePlainText, copyPlainText. `done` gets the failure of reading the clip or
  // of writing the clipboard, if any; the paste key is pressed only after a write that worked.
  void deliver(const Clip& clip, ClipDelivery delivery, PasteTarget target,
               std::function<void(std::optional<Failure>)> done);

  // Queued behind the paste-next before it. `done` gets whether pasting is allowed (nothing is
  // written when it is not) and the failure of reading the clip or of writing it, if any.
  void pasteNext(const Clip& clip, PasteTarget target,
                 std::function<void(bool trusted, std::optional<Failure>)> done);

 private:
  Executor& executor_;
  std::shared_ptr<ClipboardStore> store_;
  std::shared_ptr<Paster> paster_;
  ClipboardHistory& history_;
  const WallClock now_;
  std::shared_ptr<ClipDeliverer*> self_;
  SerialQueue pasteQueue_;  // last: finishes queued pastes before the rest goes away
};

}  // namespace vesk
