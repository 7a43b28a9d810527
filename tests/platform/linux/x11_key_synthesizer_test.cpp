#include "platform/linux/x11_key_synthesizer.h"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/x11_key_layout.h"
#include "tests/platform/linux/qt_pump.h"
#include "tests/platform/linux/test_window.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk {
namespace {

using test::TestWindow;
using test::Xvfb;

struct Keys {
  std::unique_ptr<X11KeySynthesizer> synthesizer;
  uint32_t v = 0;

  bool open() {
    test::qtApp();
    test::resetRootProperties();
    auto layout = X11KeyLayout::open("");
    auto opened = X11KeySynthesizer::open("");
    if (!layout || !opened || !layout.value()->keyCode("v")) {
      return false;
    }
    v = *layout.value()->keyCode("v");
    synthesizer = std::move(opened).value();
    return true;
  }
};

// Whether `window` gets a press of `code` among the presses that arrive within a moment.
bool receivedKey(TestWindow& window, uint32_t code) {
  bool received = false;
  while (XcbEvent press = window.next(XCB_KEY_PRESS, std::chrono::milliseconds(300))) {
    const auto* event = reinterpret_cast<const xcb_key_press_event_t*>(press.get());
    received = received || event->detail == code;
  }
  return received;
}

TEST(X11KeySynthesizer, PasteKeyReachesTheActiveWindowWithControl) {
  VESK_REQUIRE_XVFB();
  Keys keys;
  ASSERT_TRUE(keys.open());
  EXPECT_TRUE(keys.synthesizer->isTrusted());
  TestWindow window;
  window.focus();
  window.publishActive(window.id());
  ASSERT_EQ(keys.synthesizer->activeWindow(), window.id());

  ASSERT_TRUE(keys.synthesizer->pressPaste(keys.v, false, window.id()));
  const XcbEvent press = window.next(XCB_KEY_PRESS);
  ASSERT_TRUE(press);
  // The first press is Control itself; then the key with Control held.
  const XcbEvent key = window.next(XCB_KEY_PRESS);
  ASSERT_TRUE(key);
  const auto* event = reinterpret_cast<const xcb_key_press_event_t*>(key.get());
  EXPECT_EQ(event->detail, keys.v);
  EXPECT_EQ(event->state & 0xFF, XCB_MOD_MASK_CONTROL);
  while (window.next(XCB_KEY_PRESS, std::chrono::milliseconds(100))) {
  }

  // The terminal's paste key: the same key with Control and Shift held.
  ASSERT_TRUE(keys.synthesizer->pressPaste(keys.v, true, window.id()));
  uint16_t state = 0;
  while (XcbEvent next = window.next(XCB_KEY_PRESS, std::chrono::milliseconds(300))) {
    const auto* pressed = reinterpret_cast<const xcb_key_press_event_t*>(next.get());
    if (pressed->detail == keys.v) {
      state = pressed->state & 0xFF;
    }
  }
  EXPECT_EQ(state, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT);
}

TEST(X11KeySynthesizer, HeldHotKeyModifiersAreLiftedForThePressAndRestored) {
  VESK_REQUIRE_XVFB();
  Keys keys;
  ASSERT_TRUE(keys.open());
  TestWindow window;
  window.focus();
  ASSERT_EQ(Xvfb::run("xdotool keydown alt"), 0);
  window.sync();
  while (window.next(XCB_KEY_PRESS, std::chrono::milliseconds(100))) {
  }

  ASSERT_TRUE(keys.synthesizer->pressPaste(keys.v, false, 0));
  std::vector<std::pair<xcb_keycode_t, uint16_t>> presses;
  while (XcbEvent press = window.next(XCB_KEY_PRESS, std::chrono::milliseconds(300))) {
    const auto* event = reinterpret_cast<const xcb_key_press_event_t*>(press.get());
    presses.emplace_back(event->detail, event->state & 0xFF);
  }
  Xvfb::run("xdotool keyup alt");
  const auto v = std::find_if(presses.begin(), presses.end(),
                              [&](const auto& press) { return press.first == keys.v; });
  ASSERT_NE(v, presses.end());
  EXPECT_EQ(v->second, XCB_MOD_MASK_CONTROL);
  // Alt (Alt_L on the server's keymap) is pressed again afterwards, as the user still holds it.
  constexpr xcb_keycode_t kAltL = 64;
  EXPECT_EQ(presses.back().first, kAltL);
}

TEST(X11KeySynthesizer, WaitsForTheTargetWindowToBeActiveAgain) {
  VESK_REQUIRE_XVFB();
  Keys keys;
  ASSERT_TRUE(keys.open());
  TestWindow target;
  TestWindow panel("panel", "Panel");
  target.publishActive(panel.id());

  std::thread windowManager([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    target.publishActive(target.id());
  });
  ASSERT_TRUE(keys.synthesizer->pressPaste(keys.v, false, target.id()));
  // The press went out only after the target was active again.
  EXPECT_EQ(keys.synthesizer->activeWindow(), target.id());
  windowManager.join();
}

TEST(X11KeySynthesizer, TargetThatNeverReturnsStillGetsThePressAfterTheWait) {
  VESK_REQUIRE_XVFB();
  Keys keys;
  ASSERT_TRUE(keys.open());
  TestWindow target;
  TestWindow other("other", "Other");
  other.focus();
  target.publishActive(other.id());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(keys.synthesizer->pressPaste(keys.v, false, target.id()));
  EXPECT_GE(std::chrono::steady_clock::now() - start, KeySynthesizer::kFocusWait);
  EXPECT_TRUE(other.next(XCB_KEY_PRESS));
}

// The hot key that triggers a paste holds an active keyboard grab until its key comes up; the
// paste must wait for that, or the server hands it to the grabbing client instead.
TEST(X11KeySynthesizer, WaitsForTheTriggeringKeyToComeUp) {
  VESK_REQUIRE_XVFB();
  Keys keys;
  ASSERT_TRUE(keys.open());
  TestWindow window;
  window.focus();
  ASSERT_EQ(Xvfb::run("xdotool keydown b"), 0);
  const auto start = std::chrono::steady_clock::now();
  std::thread user([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Xvfb::run("xdotool keyup b");
  });
  ASSERT_TRUE(keys.synthesizer->pressPaste(keys.v, false, 0));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  user.join();
  EXPECT_TRUE(receivedKey(window, keys.v));
}

TEST(X11KeySynthesizer, KeyHeldForeverStillGetsThePasteAfterTheWait) {
  VESK_REQUIRE_XVFB();
  Keys keys;
  ASSERT_TRUE(keys.open());
  TestWindow window;
  window.focus();
  ASSERT_EQ(Xvfb::run("xdotool keydown b"), 0);
  EXPECT_TRUE(keys.synthesizer->pressPaste(keys.v, false, 0));
  Xvfb::run("xdotool keyup b");
  EXPECT_TRUE(receivedKey(window, keys.v));
}

TEST(X11KeySynthesizer, KeyCodeOutsideTheProtocolIsRefused) {
  VESK_REQUIRE_XVFB();
  Keys keys;
  ASSERT_TRUE(keys.open());
  EXPECT_FALSE(keys.synthesizer->pressPaste(0, false, 0));
  EXPECT_FALSE(keys.synthesizer->pressPaste(256, false, 0));
}

}  // namespace
}  // namespace vesk
