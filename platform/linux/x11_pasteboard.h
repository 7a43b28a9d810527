#pragma once
// X11Pasteboard: the X11 CLIPBOARD selection, read as Vesk's Pasteboard and written as its
// PasteboardWriter. It has its own connection and its own thread, which waits for the server's
// events: XFixes owner-change notifications raise the change count, conversion requests for
// Vesk's own writes are answered at once, and reads and writes from other threads are run
// there one at a time (the calling thread waits for the result).
//
// Reading converts TARGETS, then each wanted target, waiting at most `stepTimeout` for each
// step of a transfer, so an owner that never answers costs a few seconds, not a hang. A copy
// larger than `maxBytes` is not read (logged once per copy). All the reads of one copy together
// take at most `copyTimeout`: an owner that answers slowly but steadily holds the clipboard
// thread (and Vesk's own pastes) no longer than that; the copy is then given up, logged once.
// A copy marked as concealed, transient or generated (or with KDE's password hint) is seen as
// such whatever its other targets, before any of its data is read.
//
// Unless another one runs, it is also the desktop's clipboard manager (X11ClipboardManager on the
// same thread): copies whose applications quit, handing them over within `handOverBytes` or
// not, stay pasteable. Vesk never takes the clipboard from a live owner and lets go as soon as
// another application copies.
//
// Every member may be called from any thread. Destruction stops the thread; calls still
// waiting then give nothing.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/base/result.h"
#include "core/clipboard/pasteboard.h"
#include "platform/pasteboard_writer.h"

namespace vesk {

class X11Pasteboard final : public Pasteboard, public PasteboardWriter {
 public:
  // Long enough for the largest copy read (`maxBytes`) from a local owner, short enough that a
  // stalled one doesn't hold up recording and pasting for long.
  static constexpr std::chrono::milliseconds kCopyTimeout{5000};

  struct Options {
    std::string display;                                  // "" = $DISPLAY
    std::chrono::milliseconds stepTimeout{1000};          // one step of a transfer
    uint64_t maxBytes = uint64_t{256} << 20;              // the largest copy read
    std::chrono::milliseconds copyTimeout{kCopyTimeout};  // all steps of one copy
    std::function<void(const std::string&)> log;          // error lines; stderr when empty
    bool manageClipboard = true;  // act as the clipboard manager when no other one runs
    // What a hand-over keeps at most: its text types and one image type, together.
    uint64_t handOverBytes = uint64_t{64} << 20;
  };

  static Result<std::unique_ptr<X11Pasteboard>> open(Options options);

  // The line logged when the reads of a copy took longer than `copyTimeout` (here and on
  // Wayland).
  static std::string gaveUpLine(std::chrono::milliseconds copyTimeout);
  ~X11Pasteboard() override;
  X11Pasteboard(const X11Pasteboard&) = delete;
  X11Pasteboard& operator=(const X11Pasteboard&) = delete;
  X11Pasteboard(X11Pasteboard&&) = delete;
  X11Pasteboard& operator=(X11Pasteboard&&) = delete;

  int64_t changeCount() override;
  std::optional<std::vector<std::vector<std::string>>> itemTypes() override;
  std::optional<std::vector<uint8_t>> data(size_t item, const std::string& type) override;
  std::optional<std::string> string(size_t item, const std::string& type) override;
  std::optional<std::string> plainString() override;
  bool gaveUp(int64_t changeCount) override;

  Result<int64_t> write(const ClipItems& items) override;

  // Whether Vesk owns the clipboard now (its last write, or a copy it keeps for an application
  // that quit, was not replaced yet).
  bool ownsClipboard();
  // Whether Vesk is the desktop's clipboard manager (it owns CLIPBOARD_MANAGER).
  bool managesClipboard();

 private:
  class Worker;
  explicit X11Pasteboard(std::unique_ptr<Worker> worker);

  std::unique_ptr<Worker> worker_;
};

}  // namespace vesk
