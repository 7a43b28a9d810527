#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>
#define explicit explicit_  // xcb/xkb.h names a member `explicit`
#include <xcb/xkb.h>
#undef explicit

#include "platform/linux/x11_hot_key_service.h"
#include "platform/linux/x11_key_hold.h"
#include "platform/linux/x11_key_layout.h"
#include "platform/linux/x11_window_focus.h"
#include "platform/linux/xcb_event_source.h"
#include "tests/platform/linux/qt_pump.h"
#include "tests/platform/linux/test_window.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk {
namespace {

using test::pumpUntil;
using test::qtApp;
using test::Xvfb;

constexpr uint32_t kCtrlAlt = HotKeyService::kCtrl | HotKeyService::kAlt;

struct Fixture {
  std::unique_ptr<X11KeyLayout> layout;
  std::unique_ptr<X11HotKeyService> hotKeys;
  std::vector<std::pair<uint32_t, double>> presses;

  bool open() {
    qtApp();
    auto openedLayout = X11KeyLayout::open("");
    auto openedKeys = X11HotKeyService::open("");
    if (!openedLayout || !openedKeys) {
      return false;
    }
    layout = std::move(openedLayout).value();
    hotKeys = std::move(openedKeys).value();
    hotKeys->setPressHandler([this](uint32_t id, double at) { presses.emplace_back(id, at); });
    return true;
  }
};

// Another X client, holding a grab of its own.
class OtherClient {
 public:
  OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {}
  ~OtherClient() { xcb_disconnect(connection_); }
  OtherClient(const OtherClient&) = delete;
  OtherClient& operator=(const OtherClient&) = delete;

  bool grab(uint32_t keyCode, uint16_t modifiers) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const auto cookie =
        xcb_grab_key_checked(connection_, 1, root, modifiers, static_cast<xcb_keycode_t>(keyCode),
                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    const XcbReply<xcb_generic_error_t> error(xcb_request_check(connection_, cookie));
    return !error;
  }

 private:
  xcb_connection_t* connection_;
};

// Whether `window` gets a press of `keyCode` (the modifiers typed before a hot key do reach it).
bool receivesPress(test::TestWindow& window, uint32_t keyCode,
                   std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
  while (const XcbEvent event = window.next(XCB_KEY_PRESS, timeout)) {
    if (reinterpret_cast<const xcb_key_press_event_t*>(event.get())->detail == keyCode) {
      return true;
    }
  }
  return false;
}

TEST(X11HotKeyService, PressSentByAnotherClientArrivesWithItsTime) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  const auto v = fixture.layout->keyCode("v");
  ASSERT_TRUE(v);
  ASSERT_EQ(fixture.hotKeys->registerHotKey(7, *v, kCtrlAlt), HotKeyService::Outcome::registered);

  const double before = monotonicNow();
  ASSERT_EQ(Xvfb::run("xdotool key ctrl+alt+v"), 0);
  ASSERT_TRUE(pumpUntil([&] { return !fixture.presses.empty(); }));
  const double after = monotonicNow();
  EXPECT_EQ(fixture.presses[0].first, 7U);
  EXPECT_GE(fixture.presses[0].second, before - 0.01);
  EXPECT_LE(fixture.presses[0].second, after);
}

TEST(X11HotKeyService, ModifiersMustMatchExactlyAndLocksDoNotMatter) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  const auto v = fixture.layout->keyCode("v");
  const auto p = fixture.layout->keyCode("p");
  ASSERT_TRUE(v && p);
  ASSERT_EQ(fixture.hotKeys->registerHotKey(1, *v, kCtrlAlt), HotKeyService::Outcome::registered);
  ASSERT_EQ(fixture.hotKeys->registerHotKey(2, *p, HotKeyService::kCmd),
            HotKeyService::Outcome::registered);

  // Ctrl+V alone is not the hot key; with NumLock and CapsLock on, ctrl+alt+v still is.
  ASSERT_EQ(Xvfb::run("xdotool key ctrl+v Num_Lock Caps_Lock ctrl+alt+v super+p"), 0);
  ASSERT_TRUE(pumpUntil([&] { return fixture.presses.size() >= 2; }));
  Xvfb::run("xdotool key Num_Lock Caps_Lock");
  EXPECT_EQ(fixture.presses.size(), 2U);
  EXPECT_EQ(fixture.presses[0].first, 1U);
  EXPECT_EQ(fixture.presses[1].first, 2U);
}

TEST(X11HotKeyService, HoldingTheKeyIsOnePress) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  const auto v = fixture.layout->keyCode("v");
  ASSERT_TRUE(v);
  ASSERT_EQ(fixture.hotKeys->registerHotKey(1, *v, kCtrlAlt), HotKeyService::Outcome::registered);
  // Held past the server's auto-repeat delay (660 ms by default), then pressed once more.
  ASSERT_EQ(Xvfb::run("xdotool keydown ctrl+alt+v sleep 1 keyup v keyup alt keyup ctrl"), 0);
  ASSERT_EQ(Xvfb::run("xdotool key ctrl+alt+v"), 0);
  ASSERT_TRUE(pumpUntil([&] { return fixture.presses.size() >= 2; }));
  pumpUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(fixture.presses.size(), 2U);
}

TEST(X11HotKeyService, KeyHeldByAnotherApplicationIsTaken) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  const auto v = fixture.layout->keyCode("v");
  ASSERT_TRUE(v);
  {
    OtherClient other;
    ASSERT_TRUE(other.grab(*v, X11HotKeyService::xModifiers(kCtrlAlt)));
    EXPECT_EQ(fixture.hotKeys->registerHotKey(1, *v, kCtrlAlt), HotKeyService::Outcome::taken);
  }
  // Once the other application is gone, the key is free; and ours is then refused to others.
  EXPECT_TRUE(pumpUntil([&] {
    return fixture.hotKeys->registerHotKey(1, *v, kCtrlAlt) == HotKeyService::Outcome::registered;
  }));
  OtherClient late;
  EXPECT_FALSE(late.grab(*v, X11HotKeyService::xModifiers(kCtrlAlt)));
}

TEST(X11HotKeyService, UnregisteringReleasesEveryLockCombination) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  const auto k = fixture.layout->keyCode("k");
  ASSERT_TRUE(k);
  const uint16_t mods = X11HotKeyService::xModifiers(kCtrlAlt);
  ASSERT_EQ(fixture.hotKeys->registerHotKey(3, *k, kCtrlAlt), HotKeyService::Outcome::registered);
  // A second id on the same key shares the grab; the key stays ours until both are gone.
  ASSERT_EQ(fixture.hotKeys->registerHotKey(4, *k, kCtrlAlt), HotKeyService::Outcome::registered);
  fixture.hotKeys->unregisterHotKey(3);
  {
    OtherClient other;
    EXPECT_FALSE(other.grab(*k, mods));
  }
  fixture.hotKeys->unregisterHotKey(4);
  OtherClient other;
  EXPECT_TRUE(other.grab(*k, mods));
  EXPECT_TRUE(other.grab(*k, mods | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2));
}

// The keys typed in the same instant as the hot key: held from its press, they are all caught in
// order, and none reaches the window that has the focus.
TEST(X11HotKeyService, AHoldTakenAtThePressCatchesEveryKeyTypedWithIt) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  const auto p = fixture.layout->keyCode("p");
  ASSERT_TRUE(p);
  ASSERT_EQ(fixture.hotKeys->registerHotKey(1, *p, HotKeyService::kCmd),
            HotKeyService::Outcome::registered);
  X11KeyHold& hold = fixture.hotKeys->keyHold();
  fixture.hotKeys->setPressHandler([&](uint32_t id, double at) {
    fixture.presses.emplace_back(id, at);
    EXPECT_TRUE(hold.hold());
  });
  test::TestWindow other;
  other.focus();

  ASSERT_EQ(Xvfb::run("xdotool key --delay 0 super+p m A r k Return"), 0);
  ASSERT_TRUE(pumpUntil([&] { return hold.kept() >= 5; }));
  const std::vector<X11KeyHold::Key> keys = hold.release();
  std::string typed;
  for (const X11KeyHold::Key& key : keys) {
    // Appended piece by piece: GCC 12 at -O3 takes `"<" + std::to_string(…)` for an
    // overlapping copy (-Wrestrict).
    if (key.text.empty()) {
      typed += '<';
      typed += std::to_string(key.qtKey);
      typed += '>';
    } else {
      typed += key.text;
    }
  }
  std::string expected = "mArk<";
  expected += std::to_string(Qt::Key_Return);
  expected += '>';
  EXPECT_EQ(typed, expected);
  EXPECT_EQ(fixture.presses.size(), 1U);
  for (const char* letter : {"m", "a", "r", "k"}) {
    EXPECT_FALSE(
        receivesPress(other, *fixture.layout->keyCode(letter), std::chrono::milliseconds(50)))
        << letter;
  }

  // Once released, typing reaches the focused window again.
  ASSERT_EQ(Xvfb::run("xdotool key x"), 0);
  EXPECT_TRUE(receivesPress(other, *fixture.layout->keyCode("x")));
}

// A press that holds nothing lets the keyboard go on: the keys typed with it reach the window
// that has the focus, as if Vesk had not been there.
TEST(X11HotKeyService, APressThatHoldsNothingLetsTheKeysThrough) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  const auto v = fixture.layout->keyCode("v");
  ASSERT_TRUE(v);
  ASSERT_EQ(fixture.hotKeys->registerHotKey(1, *v, kCtrlAlt), HotKeyService::Outcome::registered);
  test::TestWindow other;
  other.focus();

  ASSERT_EQ(Xvfb::run("xdotool key --delay 0 ctrl+alt+v a"), 0);
  ASSERT_TRUE(pumpUntil([&] { return !fixture.presses.empty(); }));
  EXPECT_TRUE(receivesPress(other, *fixture.layout->keyCode("a")));
}

TEST(X11HotKeyService, ImpossibleKeyCodeFails) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  EXPECT_EQ(fixture.hotKeys->registerHotKey(1, 3, kCtrlAlt), HotKeyService::Outcome::failed);
  EXPECT_EQ(fixture.hotKeys->registerHotKey(1, 300, kCtrlAlt), HotKeyService::Outcome::failed);
}

// Types by key code, as a keyboard does, whatever the layout (xdotool remaps keys to type the
// symbols it is given), and locks XKB groups; in order, on one connection.
class Typist {
 public:
  Typist() : connection_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    free(xcb_xkb_use_extension_reply(connection_, xcb_xkb_use_extension(connection_, 1, 0),
                                     nullptr));  // NOLINT(cppcoreguidelines-no-malloc)
  }
  ~Typist() { xcb_disconnect(connection_); }
  Typist(const Typist&) = delete;
  Typist& operator=(const Typist&) = delete;

  void press(uint8_t code) { fake(XCB_KEY_PRESS, code); }
  void release(uint8_t code) { fake(XCB_KEY_RELEASE, code); }
  void tap(uint8_t code) {
    press(code);
    release(code);
  }
  void lockGroup(uint8_t group) {
    xcb_xkb_latch_lock_state(connection_, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
    xcb_flush(connection_);
  }

 private:
  void fake(uint8_t type, uint8_t code) {
    xcb_test_fake_input(connection_, type, code, XCB_CURRENT_TIME, root_, 0, 0, 0);
    xcb_flush(connection_);
  }

  xcb_connection_t* connection_;
  xcb_window_t root_ = 0;
};

// The held keys as text, named keys as <Qt key>, keypad keys marked with #.
std::string typedText(const std::vector<X11KeyHold::Key>& keys) {
  std::string typed;
  for (const X11KeyHold::Key& key : keys) {
    if ((key.qtModifiers & Qt::KeypadModifier) != 0) {
      typed += '#';
    }
    if (key.text.empty()) {
      typed += '<';
      typed += std::to_string(key.qtKey);
      typed += '>';
    } else {
      typed += key.text;
    }
  }
  return typed;
}

// Held keys come out as the layout types them: the level-3 key, CapsLock, the keypad with and
// without NumLock, and the letters of the second group, with and without Shift.
TEST(X11KeyHold, KeysAreDecodedWithTheirGroupAndModifiers) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  ASSERT_EQ(Xvfb::run("setxkbmap -layout de,ru"), 0);
  X11KeyHold& hold = fixture.hotKeys->keyHold();
  ASSERT_TRUE(hold.hold());
  // PC key codes: E 26, Q 24, A 38, S 39, D 40, right Alt 108 (AltGr in de), Shift 50,
  // CapsLock 66, NumLock 77, keypad 1 87 and 2 88. No key twice: xdotool's pace, a release and
  // a press in the same millisecond, is taken for auto-repeat.
  Typist typist;
  typist.tap(26);
  typist.press(108);
  typist.tap(24);
  typist.release(108);
  typist.tap(66);
  typist.tap(38);
  typist.tap(66);
  typist.tap(77);
  typist.tap(87);
  typist.tap(77);
  typist.tap(88);
  typist.lockGroup(1);
  typist.tap(39);
  typist.press(50);
  typist.tap(40);
  typist.release(50);
  typist.lockGroup(0);
  const bool all = pumpUntil([&] { return hold.kept() >= 7; });
  const std::string typed = typedText(hold.release());
  Xvfb::run("setxkbmap -layout us");
  ASSERT_TRUE(all) << typed;
  EXPECT_EQ(typed, "e@A#1#<" + std::to_string(Qt::Key_Down) + ">ыВ");
}

// Keys held from the hot key and typed again elsewhere are the keys that were typed, Shift
// included; a shortcut is not typed again.
TEST(X11WindowFocus, KeysTypedAgainAreTheTextKeysThatWereTyped) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  ASSERT_EQ(Xvfb::run("setxkbmap -layout us"), 0);
  auto focus = X11WindowFocus::open("", {});
  ASSERT_TRUE(focus);
  X11KeyHold& hold = fixture.hotKeys->keyHold();
  ASSERT_TRUE(hold.hold());
  // PC key codes: A 38, B 56, C 54, Shift 50, Control 37.
  Typist typist;
  typist.tap(38);
  typist.press(50);
  typist.tap(56);
  typist.release(50);
  typist.press(37);
  typist.tap(54);
  typist.release(37);
  ASSERT_TRUE(pumpUntil([&] { return hold.kept() >= 3; }));
  const std::vector<X11KeyHold::Key> typed = hold.release();

  // The hold catches the keys typed again, as the window before would get them.
  ASSERT_TRUE(hold.hold());
  focus.value()->replay(typed);
  const bool both = pumpUntil([&] { return hold.kept() >= 2; });
  const std::vector<X11KeyHold::Key> again = hold.release();
  ASSERT_TRUE(both) << typedText(again);
  EXPECT_EQ(typedText(again), "aB");
}

TEST(X11KeyLayout, FindsKeysForCharactersAndVirtualKeys) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  ASSERT_EQ(Xvfb::run("setxkbmap -layout us"), 0);
  ASSERT_TRUE(pumpUntil([&] { return fixture.layout->keyCode("v") == 55U; }));
  EXPECT_EQ(fixture.layout->keyCode(9U), 55U);    // "v" by position
  EXPECT_EQ(fixture.layout->keyCode(36U), 36U);   // return
  EXPECT_EQ(fixture.layout->keyCode(122U), 67U);  // f1
  EXPECT_EQ(fixture.layout->keyCode(90U), 198U);  // f20
  EXPECT_EQ(fixture.layout->keyCode("ж"), std::nullopt);
  EXPECT_EQ(fixture.layout->keyCode("vv"), std::nullopt);
  EXPECT_EQ(fixture.layout->keyCode(""), std::nullopt);
  EXPECT_EQ(fixture.layout->keyCode(1000U), std::nullopt);
}

TEST(X11KeyLayout, LayoutChangeIsReportedAndFollowed) {
  VESK_REQUIRE_XVFB();
  Fixture fixture;
  ASSERT_TRUE(fixture.open());
  int changes = 0;
  fixture.layout->setChangeHandler([&] { ++changes; });

  ASSERT_EQ(Xvfb::run("setxkbmap -layout ru"), 0);
  ASSERT_TRUE(pumpUntil([&] { return changes > 0; }));
  EXPECT_TRUE(fixture.layout->keyCode("ж").has_value());
  // The same keymap again, and the first key of another device (the server sends a new
  // keyboard for both), are no change.
  const int before = changes;
  ASSERT_EQ(Xvfb::run("setxkbmap -layout ru && xdotool key shift"), 0);
  // No Cyrillic key types "v": the paste key falls back to the key at the place of "v".
  EXPECT_EQ(fixture.layout->keyCode("v"), std::nullopt);
  EXPECT_EQ(fixture.layout->keyCode(9U), 55U);

  // With two layouts, the second group is the fallback for characters.
  ASSERT_EQ(Xvfb::run("setxkbmap -layout ru,us"), 0);
  ASSERT_TRUE(pumpUntil([&] { return fixture.layout->keyCode("v").has_value(); }));
  EXPECT_EQ(changes, before + 1);
  EXPECT_EQ(fixture.layout->keyCode("v"), 55U);
  Xvfb::run("setxkbmap -layout us");
}

}  // namespace
}  // namespace vesk
