#pragma once
// X11ClipboardManager: Vesk as the desktop's clipboard manager, beside the X11SelectionOwner
// that serves Vesk's own copies. Unless another manager runs it owns CLIPBOARD_MANAGER: an
// application that quits and hands its clipboard over (converting CLIPBOARD_MANAGER to
// SAVE_TARGETS) has its text types and one image type read, within `handOverBytes`, and served
// by Vesk. Only the clipboard's owner may hand it over, one hand-over at a time, and a write of
// Vesk's own ends a hand-over being read. It also keeps what the history read of the current
// copy: when the owner goes away without a hand-over, Vesk serves that (so a concealed or
// transient copy, never read, is not served). It never takes the clipboard from a live owner.
// Another manager taking CLIPBOARD_MANAGER ends the role.
//
// Runs on the clipboard thread only: its owner passes it every event first.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <xcb/xcb.h>

#include "core/clipboard/clip.h"
#include "platform/linux/kept_copy.h"
#include "platform/linux/x11_selection_owner.h"

namespace vesk {

class X11SelectionReader;
class XcbConnection;

class X11ClipboardManager final {
 public:
  // What the clipboard thread lends the manager.
  struct Thread {
    std::function<void(std::function<void()>)> post;  // runs a task after the current event
    std::function<void(const std::string&)> log;
    std::function<int64_t()> changeCount;   // the clipboard's owner changes so far
    std::function<bool()> writeWaiting;     // a write of Vesk's own is queued
    std::function<void()> readingHandOver;  // the reader starts reading a hand-over
  };

  // `reader` and `owner` work on the clipboard for `window`, as this does.
  X11ClipboardManager(XcbConnection& connection, xcb_window_t window, X11SelectionReader& reader,
                      X11SelectionOwner& owner, std::chrono::milliseconds copyTimeout,
                      uint64_t handOverBytes, Thread thread);
  ~X11ClipboardManager() = default;
  X11ClipboardManager(const X11ClipboardManager&) = delete;
  X11ClipboardManager& operator=(const X11ClipboardManager&) = delete;
  X11ClipboardManager(X11ClipboardManager&&) = delete;
  X11ClipboardManager& operator=(X11ClipboardManager&&) = delete;

  // Takes CLIPBOARD_MANAGER unless another clipboard manager holds it (logged then).
  void start();
  bool manages() const { return managing_; }

  // Handles requests to CLIPBOARD_MANAGER and its loss; true when `event` was one of them.
  bool handle(const xcb_generic_event_t* event);

  // A representation the history read of the copy `changeCount`, one that may outlive its
  // owner (not concealed, transient or generated).
  void keep(int64_t changeCount, size_t item, const std::string& type, const Bytes& bytes);

  // The clipboard changed hands, the count going past `before`; `ownerGone` when its owner went
  // away rather than another one taking it.
  void ownerChanged(int64_t before, bool ownerGone);

 private:
  using Chosen = std::vector<std::pair<xcb_atom_t, std::string>>;

  void answer(const xcb_selection_request_event_t& request);
  bool fromClipboardOwner(xcb_window_t window);
  void save(const xcb_selection_request_event_t& request);
  Chosen chosenHandOver(const std::vector<xcb_atom_t>& wanted);
  X11SelectionOwner::SharedOffer readHandOver(const Chosen& chosen);
  void adopt(int64_t count);

  XcbConnection& connection_;
  const xcb_window_t window_;
  X11SelectionReader& reader_;
  X11SelectionOwner& owner_;
  const std::chrono::milliseconds copyTimeout_;
  const uint64_t handOverBytes_;
  const Thread thread_;
  const xcb_atom_t clipboard_, manager_, targets_, saveTargets_, timestamp_, hint_;
  std::vector<xcb_atom_t> markers_;  // the skip markers
  std::vector<xcb_atom_t> unsaved_;  // targets that are requests, not data
  bool managing_ = false;            // Vesk owns CLIPBOARD_MANAGER
  xcb_timestamp_t managerTime_ = XCB_CURRENT_TIME;
  bool saving_ = false;  // a hand-over is queued or being read
  KeptCopy kept_;        // what the history read of the current copy
};

}  // namespace vesk
