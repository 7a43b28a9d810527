#pragma once
// X11WindowFocus: WindowFocus over its own X connection. A fresh server time comes from a
// property change on a helper window; activation stamps the panel's _NET_WM_USER_TIME with it
// and sends _NET_ACTIVE_WINDOW as the application's request (source 1), or sets the input
// focus when no window manager runs (no _NET_SUPPORTING_WM_CHECK). Held keys are read from an
// active keyboard grab and turned into Qt keys with the server's keyboard map.
//
// Main thread only; opened after the QGuiApplication exists.

#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include "core/base/result.h"
#include "platform/window_focus.h"

namespace vesk {

class XcbConnection;
class XcbEventSource;

class X11WindowFocus final : public WindowFocus {
 public:
  // How long the keyboard stays held at most.
  static constexpr int kHoldMs = 500;

  // Connects to `display` ("" = $DISPLAY).
  static Result<std::unique_ptr<X11WindowFocus>> open(const std::string& display);
  ~X11WindowFocus() override;
  X11WindowFocus(const X11WindowFocus&) = delete;
  X11WindowFocus& operator=(const X11WindowFocus&) = delete;

  WindowId focusedWindow() override;
  void prepare(WindowId panel) override;
  void activate(WindowId panel) override;
  void giveBack(WindowId previous) override;
  void holdKeys() override;
  std::vector<Key> releaseKeys() override;
  void sync() override;
  bool hasCompositor() override;

  // A Qt key for a key event with this key symbol and X modifier state.
  static Key keyOf(uint32_t keysym, uint16_t state);

 private:
  explicit X11WindowFocus(std::unique_ptr<XcbConnection> connection);
  void handle(const xcb_generic_event_t* event);
  uint32_t serverTime();
  bool hasWindowManager();
  bool tryGrab();

  std::unique_ptr<XcbConnection> connection_;
  std::unique_ptr<XcbEventSource> events_;
  xcb_key_symbols_t* symbols_ = nullptr;
  xcb_window_t helper_ = 0;
  bool holding_ = false;
  bool grabbed_ = false;
  std::vector<Key> held_;
  QTimer retry_;
  QTimer limit_;
};

}  // namespace vesk
