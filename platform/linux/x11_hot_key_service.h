#pragma once
// X11HotKeyService: HotKeyService through passive key grabs on the root window. Each hot key is
// grabbed with every combination of the lock modifiers (NumLock, CapsLock, ScrollLock), so it
// works whatever lock is on; a grab another client holds is reported as taken. Presses are
// delivered on the main thread; the key's auto-repeat is not a new press. The keys are grabbed
// with the keyboard in synchronous mode, so the press handler may keep the keys typed right
// after it (`keyHold`).
//
// Main thread only (created, called and destroyed there), after the QCoreApplication exists:
// its events arrive through the Qt event loop.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <xcb/xcb.h>

#include "core/base/result.h"
#include "platform/hot_key_service.h"

namespace vesk {

class X11KeyHold;
class XcbConnection;
class XcbEventSource;

class X11HotKeyService final : public HotKeyService {
 public:
  // Connects to `display` ("" = $DISPLAY).
  static Result<std::unique_ptr<X11HotKeyService>> open(const std::string& display);
  ~X11HotKeyService() override;
  X11HotKeyService(const X11HotKeyService&) = delete;
  X11HotKeyService& operator=(const X11HotKeyService&) = delete;
  X11HotKeyService(X11HotKeyService&&) = delete;
  X11HotKeyService& operator=(X11HotKeyService&&) = delete;

  Outcome registerHotKey(uint32_t id, uint32_t keyCode, uint32_t modifiers) override;
  void unregisterHotKey(uint32_t id) override;
  void setPressHandler(PressHandler handler) override;

  // The X modifier mask of Shortcut's modifier bits.
  static uint16_t xModifiers(uint32_t modifiers);

  // The keys typed after a press: a `hold` from within the press handler keeps them from the
  // press on.
  X11KeyHold& keyHold() { return *hold_; }

 private:
  using Grab = std::pair<xcb_keycode_t, uint16_t>;  // key code, X modifiers

  explicit X11HotKeyService(std::unique_ptr<XcbConnection> connection);
  void findLockMasks();
  std::vector<uint16_t> lockCombinations() const;
  void ungrab(const Grab& grab);
  void handle(const xcb_generic_event_t* event);
  // The registration a press fires (not an auto-repeat); none for other keys.
  const std::pair<const uint32_t, Grab>* pressed(const xcb_key_press_event_t* press) const;

  std::unique_ptr<XcbConnection> connection_;
  std::unique_ptr<XcbEventSource> events_;
  std::unique_ptr<X11KeyHold> hold_;
  uint16_t numLock_ = 0;
  uint16_t scrollLock_ = 0;
  std::map<uint32_t, Grab> registrations_;  // id → grab; one grab may serve several ids
  PressHandler handler_;
};

}  // namespace vesk
