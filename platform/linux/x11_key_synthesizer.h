#pragma once
// X11KeySynthesizer: KeySynthesizer through the XTEST extension. Before pressing Control+V it
// waits (bounded) for the window that was active before Vesk's panel to be active again, and
// it lifts modifiers the user still holds from the hot key (Alt, Shift, Super) for the length
// of the press, so the target sees exactly Control+V (or Control+Shift+V); they are put back
// afterwards, so holding the hot key's modifiers and pressing its key again still works.
//
// Any thread; calls are serialised on one connection of its own.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/base/result.h"
#include "platform/key_synthesizer.h"

namespace vesk {

class XcbConnection;

class X11KeySynthesizer final : public KeySynthesizer {
 public:
  // Connects to `display` ("" = $DISPLAY).
  static Result<std::unique_ptr<X11KeySynthesizer>> open(const std::string& display);
  ~X11KeySynthesizer() override;
  X11KeySynthesizer(const X11KeySynthesizer&) = delete;
  X11KeySynthesizer& operator=(const X11KeySynthesizer&) = delete;
  X11KeySynthesizer(X11KeySynthesizer&&) = delete;
  X11KeySynthesizer& operator=(X11KeySynthesizer&&) = delete;

  bool isTrusted() override;
  void requestTrust() override {}
  bool pressPaste(uint32_t keyCode, bool shift, WindowId target) override;

  // The active window (EwmhActiveWindow); 0 when none.
  WindowId activeWindow();

 private:
  explicit X11KeySynthesizer(std::unique_ptr<XcbConnection> connection);
  // Waits (bounded) for the keys of the hot key to come up and for `target` (0: none) to be
  // active again.
  void awaitPress(WindowId target);

  std::mutex mutex_;
  std::unique_ptr<XcbConnection> connection_;
  bool checked_ = false;
  bool hasXTest_ = false;
};

}  // namespace vesk
