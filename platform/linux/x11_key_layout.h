#pragma once
// X11KeyLayout: KeyLayout over the server's XKB keymap (xkbcommon-x11). It keeps the keymap and
// the current group, rebuilt when the server reports a new keyboard or key map, and tells its
// listener when the keymap or the effective group (the layout) changed; plain modifier
// changes, and a new keyboard with the same keymap (typing moved to another device), are not
// reported.
//
// Created and destroyed on the main thread after the QCoreApplication exists (its events arrive
// through the Qt event loop); `keyCode` may be called from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/result.h"
#include "platform/key_layout.h"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace vesk {

class XcbConnection;
class XcbEventSource;

class X11KeyLayout final : public KeyLayout {
 public:
  // Connects to `display` ("" = $DISPLAY); fails without the XKB extension.
  static Result<std::unique_ptr<X11KeyLayout>> open(const std::string& display);
  ~X11KeyLayout() override;

  std::optional<uint32_t> keyCode(std::string_view typing) const override;
  std::optional<uint32_t> keyCode(uint32_t virtualKey) const override;
  void setChangeHandler(std::function<void()> handler) override;

  // The key symbol a virtual key code stands for; 0 for an unknown code.
  static uint32_t keysymOfVirtualKey(uint32_t virtualKey);

 private:
  X11KeyLayout(std::unique_ptr<XcbConnection> connection, int32_t device, uint8_t xkbEvent);
  // Reads the server's keymap and group; whether they differ from the ones held (false when
  // they can't be read).
  bool reload();
  void handle(const void* event);
  // The first key code, searching the current layout first, whose first-level symbol matches.
  std::optional<uint32_t> findKey(const std::function<bool(uint32_t keysym)>& matches) const;
  std::vector<uint32_t> searchOrder() const;  // with mutex_ held

  std::unique_ptr<XcbConnection> connection_;
  int32_t device_;
  uint8_t xkbEvent_;
  mutable std::mutex mutex_;
  xkb_context* context_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  xkb_state* state_ = nullptr;
  std::string described_;  // the keymap as text, to tell a new keymap from the same one again
  uint32_t group_ = 0;
  std::function<void()> handler_;
  std::unique_ptr<XcbEventSource> events_;
};

}  // namespace vesk
