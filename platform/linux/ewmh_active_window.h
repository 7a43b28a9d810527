#pragma once
// EwmhActiveWindow: the active window as the X11 services of Vesk read it, and the request that
// asks the window manager to activate another one.
//
// The active window is the one the window manager publishes in _NET_ACTIVE_WINDOW on the root
// window. When it publishes the root or None there, no window is active: the input focus then
// sits on the root or on a window of the window manager's own, neither of which is anyone's
// application. Only when no window manager publishes the property at all does the input focus
// tell, again with None, PointerRoot and the root meaning no window.
//
// Any thread the connection may be used from.

#include <cstdint>

#include <xcb/xcb.h>

#include "platform/workspace.h"

namespace vesk {

class XcbConnection;

struct EwmhActiveWindow {
  // Who asks for an activation (the first value of the request): an application gets the
  // window manager's focus-stealing checks, a pager is obeyed as the user's own choice.
  enum class Source : uint32_t { application = 1, pager = 2 };

  // The active window; 0 when there is none.
  static WindowId current(XcbConnection& connection);

  // Whether a window manager runs (it publishes _NET_SUPPORTING_WM_CHECK): only then is an
  // activation request answered.
  static bool hasWindowManager(XcbConnection& connection);

  // Asks the window manager to activate `window`, as `source`, at `time` (XCB_CURRENT_TIME when
  // unknown), with `current` the requestor's active window (0: none). Flushes.
  static void request(XcbConnection& connection, xcb_window_t window, Source source,
                      xcb_timestamp_t time, xcb_window_t current = XCB_NONE);
};

}  // namespace vesk
