#include "platform/linux/x11_key_synthesizer.h"

#include <array>
#include <thread>
#include <utility>
#include <vector>

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include "platform/linux/ewmh_active_window.h"
#include "platform/linux/xcb_connection.h"

namespace vesk {
namespace {

constexpr xcb_keysym_t kControlL = 0xffe3;
constexpr xcb_keysym_t kShiftL = 0xffe1;
constexpr auto kFocusPoll = std::chrono::milliseconds(10);

// Modifier indices of the core protocol: Shift, Lock, Control, Mod1 … Mod5.
constexpr int kControlIndex = 2;
// Held modifiers lifted for the press: Shift, Mod1 (Alt), Mod3, Mod4 (Super), Mod5 (AltGr).
// Lock (CapsLock) and Mod2 (NumLock) are toggles and stay as they are.
constexpr std::array<int, 5> kLiftedIndices{0, 3, 5, 6, 7};

// How long the paste waits for the keys of the hot key that triggered it to come up.
constexpr auto kKeyReleaseWait = std::chrono::milliseconds(500);

bool isDown(const xcb_query_keymap_reply_t& keymap, xcb_keycode_t code) {
  return (keymap.keys[code / 8] & (1U << (code % 8))) != 0;
}

// Whether a key other than a modifier is held. While the key of a grabbed hot key is down, the
// server delivers every key event, synthetic ones included, to the grabbing client, so a paste
// sent then would never reach the target window.
bool nonModifierKeyDown(xcb_connection_t* c) {
  const XcbReply<xcb_query_keymap_reply_t> keymap(
      xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
  const XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
  if (!keymap || !mapping) {
    return false;
  }
  std::array<bool, 256> modifier{};
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
  const int count = xcb_get_modifier_mapping_keycodes_length(mapping.get());
  for (int i = 0; i < count; ++i) {
    modifier[codes[i]] = true;
  }
  for (int code = 8; code < 256; ++code) {
    if (!modifier[code] && isDown(*keymap, static_cast<xcb_keycode_t>(code))) {
      return true;
    }
  }
  return false;
}

// The modifier keys the user holds: whether Control is among them, and the keys of the others
// that the paste lifts.
struct HeldModifiers {
  bool control = false;
  std::vector<xcb_keycode_t> lifted;
};

HeldModifiers heldModifiers(xcb_connection_t* c) {
  const XcbReply<xcb_query_keymap_reply_t> keymap(
      xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
  const XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
  HeldModifiers held;
  if (!keymap || !mapping) {
    return held;
  }
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
  const int perModifier = mapping->keycodes_per_modifier;
  const auto down = [&](int index, int i) {
    const xcb_keycode_t code = codes[index * perModifier + i];
    return code != 0 && isDown(*keymap, code) ? code : xcb_keycode_t{0};
  };
  for (int i = 0; i < perModifier; ++i) {
    held.control = held.control || down(kControlIndex, i) != 0;
  }
  for (const int index : kLiftedIndices) {
    for (int i = 0; i < perModifier; ++i) {
      if (const xcb_keycode_t code = down(index, i); code != 0) {
        held.lifted.push_back(code);
      }
    }
  }
  return held;
}

}  // namespace

Result<std::unique_ptr<X11KeySynthesizer>> X11KeySynthesizer::open(const std::string& display) {
  auto opened = XcbConnection::open(display);
  if (!opened) {
    return opened.failure();
  }
  return std::unique_ptr<X11KeySynthesizer>(new X11KeySynthesizer(std::move(opened).value()));
}

X11KeySynthesizer::X11KeySynthesizer(std::unique_ptr<XcbConnection> connection)
    : connection_(std::move(connection)) {}

X11KeySynthesizer::~X11KeySynthesizer() = default;

bool X11KeySynthesizer::isTrusted() {
  const std::lock_guard lock(mutex_);
  if (!checked_) {
    hasXTest_ = connection_->hasExtension("XTEST");
    checked_ = true;
  }
  return hasXTest_;
}

WindowId X11KeySynthesizer::activeWindow() {
  return EwmhActiveWindow::current(*connection_);
}

void X11KeySynthesizer::awaitPress(WindowId target) {
  {
    const std::lock_guard lock(mutex_);
    const auto deadline = XcbConnection::Clock::now() + kKeyReleaseWait;
    while (nonModifierKeyDown(connection_->get()) && XcbConnection::Clock::now() < deadline) {
      std::this_thread::sleep_for(kFocusPoll);
    }
  }
  if (target != 0) {
    const auto deadline = XcbConnection::Clock::now() + kFocusWait;
    while (activeWindow() != target && XcbConnection::Clock::now() < deadline) {
      std::this_thread::sleep_for(kFocusPoll);
    }
  }
}

bool X11KeySynthesizer::pressPaste(uint32_t keyCode, bool shift, WindowId target) {
  if (!isTrusted() || keyCode < 8 || keyCode > 255) {
    return false;
  }
  awaitPress(target);
  const std::lock_guard lock(mutex_);
  xcb_connection_t* c = connection_->get();
  const xcb_window_t root = connection_->root();

  xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
  const XcbReply<xcb_keycode_t> controlCodes(xcb_key_symbols_get_keycode(symbols, kControlL));
  const XcbReply<xcb_keycode_t> shiftCodes(xcb_key_symbols_get_keycode(symbols, kShiftL));
  xcb_key_symbols_free(symbols);
  if (!controlCodes || *controlCodes == XCB_NO_SYMBOL) {
    return false;
  }
  if (shift && (!shiftCodes || *shiftCodes == XCB_NO_SYMBOL)) {
    return false;
  }
  const xcb_keycode_t control = *controlCodes;

  const auto [controlHeld, lifted] = heldModifiers(c);

  const auto fake = [&](uint8_t type, xcb_keycode_t code) {
    xcb_test_fake_input(c, type, code, XCB_CURRENT_TIME, root, 0, 0, 0);
  };
  for (const xcb_keycode_t code : lifted) {
    fake(XCB_KEY_RELEASE, code);
  }
  if (!controlHeld) {
    fake(XCB_KEY_PRESS, control);
  }
  if (shift) {
    fake(XCB_KEY_PRESS, *shiftCodes);
  }
  fake(XCB_KEY_PRESS, static_cast<xcb_keycode_t>(keyCode));
  fake(XCB_KEY_RELEASE, static_cast<xcb_keycode_t>(keyCode));
  if (shift) {
    fake(XCB_KEY_RELEASE, *shiftCodes);
  }
  if (!controlHeld) {
    fake(XCB_KEY_RELEASE, control);
  }
  for (const xcb_keycode_t code : lifted) {
    fake(XCB_KEY_PRESS, code);
  }
  // A round trip makes sure the server has taken the presses before we report them sent.
  const XcbReply<xcb_get_input_focus_reply_t> sync(
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  return sync != nullptr;
}

}  // namespace vesk
