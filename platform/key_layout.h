#pragma once
// KeyLayout: the current keyboard layout, for finding the key that types a character and for
// hearing when the layout changes. Key codes here are platform key codes (X key codes on X11),
// the codes HotKeyService and KeySynthesizer take; Shortcut's virtual key codes (the ANSI
// positions) are translated by `keyCode(virtualKey)`.
//
// Threads: `keyCode` may be called on any thread; the change handler runs on the main thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace vesk {

class KeyLayout {
 public:
  virtual ~KeyLayout() = default;

  // The first key code that types `typing` (one character, UTF-8) with no modifier other than
  // the shortcut modifiers, trying the current layout first and then the other layouts of
  // the keyboard in order.
  // None when no key of the layout types it.
  virtual std::optional<uint32_t> keyCode(std::string_view typing) const = 0;

  // The key code of one of Shortcut's virtual key codes (9 = "v", 36 = return, 122 = f1, ...),
  // through the key symbol the virtual key stands for. None when the keyboard has no such key.
  virtual std::optional<uint32_t> keyCode(uint32_t virtualKey) const = 0;

  // Called on the main thread after the keyboard layout or the key map changed (one handler;
  // replaces the previous one).
  virtual void setChangeHandler(std::function<void()> handler) = 0;
};

}  // namespace vesk
