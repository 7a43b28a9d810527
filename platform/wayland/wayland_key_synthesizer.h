#pragma once
// WaylandKeySynthesizer: the paste key in a Wayland session, pressed through a virtual keyboard
// (zwp_virtual_keyboard_manager_v1) on its own connection. The keyboard carries the seat's
// current key map (xkbcommon's default one when the seat has no keyboard), so the key codes of
// the X11 layout Vesk reads through XWayland mean the same keys; the chord's modifiers are sent
// as modifier state, and the press, the release and the cleared modifiers go out in one message
// batch, so no key is left down. Should Vesk die anyway, the compositor drops its keyboard and
// the keys on it.
//
// Where the compositor offers no virtual keyboard (KDE Plasma, GNOME), nothing can be pressed:
// `pressPaste` then calls `cannotPress` (the clip is already on the clipboard; the caller tells
// the user to paste it) and returns false.
//
// Threads: as KeySynthesizer; the calls are serialised on one lock.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/base/result.h"
#include "platform/key_synthesizer.h"

namespace vesk {

class WaylandConnection;

class WaylandKeySynthesizer final : public KeySynthesizer {
 public:
  struct Options {
    std::string display;                     // "" = $WAYLAND_DISPLAY
    std::function<void()> cannotPress;       // any thread
    std::function<WindowId()> activeWindow;  // the workspace's active window, for `target`
    // Asks for `target` to be focused again when it isn't within a moment (any thread).
    std::function<void(WindowId)> activate;
    std::function<void(const std::string&)> log;  // error lines; stderr when empty
  };

  // Fails only when there is no compositor; a compositor without the protocol gives a
  // synthesizer that cannot press.
  static Result<std::unique_ptr<WaylandKeySynthesizer>> open(Options options);
  ~WaylandKeySynthesizer() override;
  WaylandKeySynthesizer(const WaylandKeySynthesizer&) = delete;
  WaylandKeySynthesizer& operator=(const WaylandKeySynthesizer&) = delete;
  WaylandKeySynthesizer(WaylandKeySynthesizer&&) = delete;
  WaylandKeySynthesizer& operator=(WaylandKeySynthesizer&&) = delete;

  // Whether the compositor offers the virtual keyboard.
  bool canPress() const;

  // True: where nothing can be pressed, a paste becomes a copy the user is told to paste.
  bool isTrusted() override { return true; }
  void requestTrust() override {}
  // `keyCode` is an X key code (the evdev code + 8). Waits for `target` only while it is an X11
  // window (the X11 active window is all Vesk sees); Wayland windows get the press at once.
  bool pressPaste(uint32_t keyCode, bool shift, WindowId target) override;

 private:
  struct State;
  explicit WaylandKeySynthesizer(Options options, std::unique_ptr<State> state);

  const Options options_;
  std::mutex mutex_;
  std::unique_ptr<State> state_;
};

}  // namespace vesk
