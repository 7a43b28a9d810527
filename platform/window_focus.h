#pragma once
// WindowFocus: how the panel gets the keyboard focus from the window manager, gives it back,
// and keeps the keys typed right after a hot key.
//
// Window managers with focus-stealing prevention refuse the focus to a window that shows no
// fresh user action, so `activate` stamps the panel with a current server time and asks for
// activation as the user's own request; with no window manager it sets the input focus
// directly. From `holdKeys` until `releaseKeys` the keyboard is grabbed, so keys typed while the
// panel is being mapped reach neither the other app nor nowhere: they are handed back in order.
//
// Main thread only.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/workspace.h"

namespace vesk {

class WindowFocus {
 public:
  // A key press caught while the keyboard was held.
  struct Key {
    int qtKey = 0;        // a Qt::Key value
    int qtModifiers = 0;  // Qt::KeyboardModifiers
    std::string text;     // UTF-8, empty for named keys
    uint32_t time = 0;    // the X server time of the press (0: unknown)
    uint32_t code = 0;    // the key code that typed it (0: unknown)
    uint32_t state = 0;   // the modifier state of the press, as the X server gives it
  };

  WindowFocus() = default;
  virtual ~WindowFocus() = default;
  WindowFocus(const WindowFocus&) = delete;
  WindowFocus& operator=(const WindowFocus&) = delete;
  WindowFocus(WindowFocus&&) = delete;
  WindowFocus& operator=(WindowFocus&&) = delete;

  // The window that has the focus now (the active window, else the input focus); 0 if none.
  virtual WindowId focusedWindow() = 0;
  // Whether the keys typed now reach `window`: the server's input focus is on it or inside it.
  // A window manager may publish a window as the active one before it moves the input focus
  // there (xfwm4 does), so the active window alone doesn't tell where the next key goes.
  virtual bool hasInputFocus(WindowId window) = 0;
  // Before the panel is first shown: keep it out of taskbars and pagers.
  virtual void prepare(WindowId panel) = 0;
  // The panel is mapped: give it the focus.
  virtual void activate(WindowId panel) = 0;
  // The panel was hidden: give the focus back to `previous` unless a window other than the
  // panel took it.
  virtual void giveBack(WindowId previous) = 0;
  // Grab the keyboard until `releaseKeys` (or about half a second, whichever comes first).
  virtual void holdKeys() = 0;
  // End the grab; the keys pressed meanwhile, oldest first.
  virtual std::vector<Key> releaseKeys() = 0;
  // Types `keys` (from `releaseKeys`) again, into the window that has the focus now: the keys
  // typed after one that closed the panel were meant for the window the user is back in. Keys
  // typed with Ctrl, Alt, Super or AltGr are not typed again: a shortcut has no business in
  // another window.
  virtual void replay(const std::vector<Key>& keys) = 0;
  // Wait until the X server has handled every request sent so far (for the latency lines).
  virtual void sync() = 0;
  // Whether a compositing manager draws translucent windows.
  virtual bool hasCompositor() = 0;
};

}  // namespace vesk
