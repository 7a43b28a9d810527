#pragma once
// X11KeyHold: the keys typed right after a hot key, kept for the panel so that none is lost or
// reaches another window while the panel comes up.
//
// The hot keys are grabbed with the keyboard in synchronous mode: their press freezes the
// keyboard, and the server queues every key event behind it until the press is handled
// (`duringPress`). If the handler asks to hold the keys (`hold`), the hot key's grab becomes an
// active grab of the whole keyboard from the press on, so the keys typed in the same instant as
// the hot key are kept too; otherwise the keyboard goes on as if nothing happened. Outside a
// press, `hold` grabs the keyboard from now. The kept keys come back, oldest first, from
// `release`; the grab ends by itself after kHoldMs in any case.
//
// The kept keys are decoded as the server would type them: through the XKB keymap, read afresh
// at each hold, with the group and the modifiers each key event carries (Shift, CapsLock,
// NumLock, level 3), so a second layout types its own letters and the keypad its digits. A server
// without XKB is never held: the keys go where it sends them.
//
// Main thread only. The connection belongs to the owner, which passes every key event it reads
// to `take` and must outlive the hold.

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <xcb/xcb.h>

#include "platform/linux/xcb_connection.h"
#include "platform/window_focus.h"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace vesk {

class X11KeyHold final {
 public:
  using Key = WindowFocus::Key;
  using Handler = std::function<void(const xcb_generic_event_t*)>;
  using IsHotKey = std::function<bool(const xcb_key_press_event_t*)>;

  // How long the keyboard stays held at most.
  static constexpr int kHoldMs = 500;

  // `handle` is the owner's event handler: the events other than held keys read while
  // releasing go to it once `release` returned. `isHotKey` tells the presses that are the
  // owner's hot keys, which are never kept (none: every key is kept).
  X11KeyHold(XcbConnection& connection, Handler handle, IsHotKey isHotKey = {});
  ~X11KeyHold();
  X11KeyHold(const X11KeyHold&) = delete;
  X11KeyHold& operator=(const X11KeyHold&) = delete;
  X11KeyHold(X11KeyHold&&) = delete;
  X11KeyHold& operator=(X11KeyHold&&) = delete;

  // Runs the handler of a hot key press that froze the keyboard at `time`; a `hold` within it
  // keeps the keys from that press on. The keyboard goes on when it returns.
  void duringPress(xcb_timestamp_t time, const std::function<void()>& run);
  // Lets a keyboard frozen by a press that is not handled go on.
  void thaw();

  // Grabs the keyboard until `release` (or kHoldMs); false when another client has it or the
  // keymap can't be read.
  bool hold();
  bool holding() const { return holding_; }
  // A key event the owner read: true when it was kept (or dropped as an auto-repeat).
  bool take(const xcb_generic_event_t* event);
  // Whether a press is an auto-repeat of its key, by the releases `take` saw so far (the owner
  // passes it every key event, so it tells the owner's presses too).
  bool isAutoRepeat(const xcb_key_press_event_t* press) const;
  // How many keys are kept so far.
  size_t kept() const { return held_.size(); }
  // Ends the grab; every key the server sent before it, oldest first.
  std::vector<Key> release();

  // A Qt key for a key event with this key symbol and X modifier state.
  static Key keyOf(uint32_t keysym, uint16_t state);

 private:
  void ungrab();
  // Reads the server's keymap; false when it can't.
  bool loadKeymap();
  // The key symbol the server types for a key press (0 when the keymap has none).
  uint32_t keysymOf(const xcb_key_press_event_t* press);

  XcbConnection& connection_;
  Handler handle_;
  IsHotKey isHotKey_;
  int32_t device_ = -1;  // the core keyboard's XKB id; -1 without XKB
  xkb_context* xkb_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  xkb_state* state_ = nullptr;
  bool inPress_ = false;
  xcb_timestamp_t pressTime_ = XCB_CURRENT_TIME;
  bool holding_ = false;
  bool grabbed_ = false;
  std::vector<Key> held_;
  std::map<xcb_keycode_t, xcb_timestamp_t> released_;
  QTimer limit_;
  QTimer handOver_;  // hands the events read on release to the owner, after the caller
  std::vector<XcbEvent> later_;
  std::unique_ptr<QObject> context_;  // the timers' connections end with it
};

}  // namespace vesk
