#pragma once
// KeySynthesizer: presses keys in other applications, for pasting a clip.
//
// Threads: `isTrusted` and `pressPaste` block (a server round trip; pressing waits up to
// kFocusWait for the target window) and belong on a background thread; both are safe to call
// from any thread, concurrently. `requestTrust` may be called on any thread.

#include <chrono>
#include <cstdint>

#include "platform/workspace.h"

namespace vesk {

class KeySynthesizer {
 public:
  // How long `pressPaste` waits for the target window to be active again.
  static constexpr std::chrono::milliseconds kFocusWait{300};

  virtual ~KeySynthesizer() = default;

  // Whether synthesised presses reach other applications (the accessibility trust of the
  // desktop; on X11 whether the server offers the XTEST extension).
  virtual bool isTrusted() = 0;

  // Asks the user to allow synthesised presses; does nothing where no permission exists.
  virtual void requestTrust() = 0;

  // The paste key: waits (at most kFocusWait) until `target` is the active window, unless it
  // is 0, then presses and releases `keyCode` (the key typing "v", from KeyLayout) with the
  // Control modifier, and Shift too when `shift` (terminals paste with Control+Shift+V).
  // False when the press could not be sent; a target that never became active still gets the
  // press, as the user expects something to happen.
  virtual bool pressPaste(uint32_t keyCode, bool shift, WindowId target) = 0;
};

}  // namespace vesk
