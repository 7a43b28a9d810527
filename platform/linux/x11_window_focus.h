#pragma once
// X11WindowFocus: WindowFocus over its own X connection. A fresh server time comes from a
// property change on a helper window; activation stamps the panel's _NET_WM_USER_TIME with it
// and sends _NET_ACTIVE_WINDOW as the application's request (source 1), or sets the input
// focus when no window manager runs (no _NET_SUPPORTING_WM_CHECK). Keys are held on the hot
// keys' connection when there is one, so a hold taken while a hot key is handled starts at its
// press (X11KeyHold); otherwise on this connection, from the moment they are asked for.
//
// Main thread only; opened after the QGuiApplication exists.

#include <memory>
#include <string>
#include <vector>

#include <xcb/xcb.h>

#include "core/base/result.h"
#include "platform/window_focus.h"

namespace vesk {

class X11HotKeyService;
class X11KeyHold;
class XcbConnection;
class XcbEventSource;

class X11WindowFocus final : public WindowFocus {
 public:
  // Connects to `display` ("" = $DISPLAY); `hotKeys`, when it is there, holds the keys.
  static Result<std::unique_ptr<X11WindowFocus>> open(const std::string& display,
                                                      std::weak_ptr<X11HotKeyService> hotKeys = {});
  ~X11WindowFocus() override;
  X11WindowFocus(const X11WindowFocus&) = delete;
  X11WindowFocus& operator=(const X11WindowFocus&) = delete;
  X11WindowFocus(X11WindowFocus&&) = delete;
  X11WindowFocus& operator=(X11WindowFocus&&) = delete;

  WindowId focusedWindow() override;
  bool hasInputFocus(WindowId window) override;
  void prepare(WindowId panel) override;
  void activate(WindowId panel) override;
  void giveBack(WindowId previous) override;
  void holdKeys() override;
  std::vector<Key> releaseKeys() override;
  void replay(const std::vector<Key>& keys) override;
  void sync() override;
  bool hasCompositor() override;

 private:
  X11WindowFocus(std::unique_ptr<XcbConnection> connection,
                 std::weak_ptr<X11HotKeyService> hotKeys);
  void handle(const xcb_generic_event_t* event);
  uint32_t serverTime();
  // The hold to use now: the hot keys' while they are there, else this connection's.
  X11KeyHold& hold();

  std::unique_ptr<XcbConnection> connection_;
  std::unique_ptr<XcbEventSource> events_;
  std::unique_ptr<X11KeyHold> ownHold_;
  std::weak_ptr<X11HotKeyService> hotKeys_;
  std::shared_ptr<X11HotKeyService> holdingOn_;  // the hot keys holding the keys now
  WindowId panel_ = 0;                           // the window last given the focus
  xcb_window_t helper_ = 0;
};

}  // namespace vesk
