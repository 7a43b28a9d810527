#include "platform/linux/x11_key_hold.h"

#include <string>

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/linux/xcb_connection.h"

namespace vesk {

namespace {

// X key symbols of the named keys → Qt keys.
struct Named {
  uint32_t keysym;
  int key;
};
constexpr std::array<Named, 20> kNamed = {{
    {0xff0d, Qt::Key_Return},
    {0xff8d, Qt::Key_Enter},
    {0xff08, Qt::Key_Backspace},
    {0xff09, Qt::Key_Tab},
    {0xfe20, Qt::Key_Backtab},
    {0xff1b, Qt::Key_Escape},
    {0xff51, Qt::Key_Left},
    {0xff52, Qt::Key_Up},
    {0xff53, Qt::Key_Right},
    {0xff54, Qt::Key_Down},
    {0xffff, Qt::Key_Delete},
    {0xff50, Qt::Key_Home},
    {0xff57, Qt::Key_End},
    // The keypad with NumLock off.
    {0xff95, Qt::Key_Home},
    {0xff96, Qt::Key_Left},
    {0xff97, Qt::Key_Up},
    {0xff98, Qt::Key_Right},
    {0xff99, Qt::Key_Down},
    {0xff9c, Qt::Key_End},
    {0xff9f, Qt::Key_Delete},
}};
constexpr uint32_t kFirstKeypad = 0xff80;  // KP_Space … KP_9, KP_Equal
constexpr uint32_t kLastKeypad = 0xffbd;

}  // namespace

X11KeyHold::X11KeyHold(XcbConnection& connection, Handler handle, IsHotKey isHotKey)
    : connection_(connection),
      handle_(std::move(handle)),
      isHotKey_(std::move(isHotKey)),
      context_(std::make_unique<QObject>()) {
  // Key events carry their group (bits 13 and 14 of the state) only to a connection that uses
  // XKB.
  if (xkb_x11_setup_xkb_extension(
          connection.get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
          XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr) != 0) {
    device_ = xkb_x11_get_core_keyboard_device_id(connection.get());
    xkb_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  }
  limit_.setSingleShot(true);
  limit_.setInterval(kHoldMs);
  // The panel did not take the keys in time: from now on they go where the server sends them;
  // those kept so far wait for `release`.
  QObject::connect(&limit_, &QTimer::timeout, context_.get(), [this] { ungrab(); });
  handOver_.setSingleShot(true);
  handOver_.setInterval(0);
  QObject::connect(&handOver_, &QTimer::timeout, context_.get(), [this] {
    std::vector<XcbEvent> events = std::move(later_);
    later_.clear();
    for (const XcbEvent& event : events) {
      if (handle_) {
        handle_(event.get());
      }
    }
  });
}

X11KeyHold::~X11KeyHold() {
  ungrab();
  if (inPress_) {
    thaw();
  }
  xkb_state_unref(state_);
  xkb_keymap_unref(keymap_);
  xkb_context_unref(xkb_);
}

void X11KeyHold::duringPress(xcb_timestamp_t time, const std::function<void()>& run) {
  inPress_ = true;
  pressTime_ = time;
  run();
  inPress_ = false;
  // An active grab taken within the press already let the keyboard go on.
  if (!grabbed_) {
    thaw();
  }
}

void X11KeyHold::thaw() {
  xcb_allow_events(connection_.get(), XCB_ALLOW_ASYNC_KEYBOARD, XCB_CURRENT_TIME);
  xcb_flush(connection_.get());
}

bool X11KeyHold::loadKeymap() {
  if (device_ < 0 || xkb_ == nullptr) {
    return false;
  }
  xkb_keymap* keymap =
      xkb_x11_keymap_new_from_device(xkb_, connection_.get(), device_, XKB_KEYMAP_COMPILE_NO_FLAGS);
  xkb_state* state = keymap == nullptr ? nullptr : xkb_state_new(keymap);
  if (state == nullptr) {
    xkb_keymap_unref(keymap);
    return false;
  }
  xkb_state_unref(state_);
  xkb_keymap_unref(keymap_);
  keymap_ = keymap;
  state_ = state;
  return true;
}

uint32_t X11KeyHold::keysymOf(const xcb_key_press_event_t* press) {
  if (state_ == nullptr) {
    return 0;
  }
  // The real modifiers are the low byte of the state, in XKB's order of them too.
  const xkb_mod_mask_t modifiers = press->state & 0xFFU;
  const auto group = static_cast<xkb_layout_index_t>((press->state >> 13U) & 0x3U);
  xkb_state_update_mask(state_, modifiers, 0, 0, 0, 0, group);
  return xkb_state_key_get_one_sym(state_, press->detail);
}

bool X11KeyHold::hold() {
  if (!holding_) {
    held_.clear();
    // Read at each hold (it takes well under a millisecond): the layouts may have changed.
    if (!loadKeymap() && keymap_ == nullptr) {
      return false;
    }
  }
  if (!grabbed_) {
    // Within a press this turns the hot key's own grab into a grab of the whole keyboard
    // dating from the press, which also lets the frozen keyboard go on.
    xcb_connection_t* c = connection_.get();
    const XcbReply<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(
        c,
        xcb_grab_keyboard(c, 0, connection_.root(), inPress_ ? pressTime_ : XCB_CURRENT_TIME,
                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr));
    grabbed_ = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
  }
  holding_ = holding_ || grabbed_;
  if (grabbed_) {
    limit_.start();
  }
  return grabbed_;
}

void X11KeyHold::ungrab() {
  limit_.stop();
  if (grabbed_) {
    xcb_ungrab_keyboard(connection_.get(), XCB_CURRENT_TIME);
    xcb_flush(connection_.get());
    grabbed_ = false;
  }
}

bool X11KeyHold::take(const xcb_generic_event_t* event) {
  const uint8_t type = eventType(event);
  if (type == XCB_KEY_RELEASE) {
    const auto* release = reinterpret_cast<const xcb_key_release_event_t*>(event);
    released_[release->detail] = release->time;
    return holding_;
  }
  if (type != XCB_KEY_PRESS || !holding_) {
    return false;
  }
  const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
  // A held hot key does not type.
  if (isAutoRepeat(press)) {
    return true;
  }
  // Keys that neither type nor name anything (modifiers, locks, group switches) are no key.
  Key key = keyOf(keysymOf(press), press->state);
  key.time = press->time;
  key.code = press->detail;
  key.state = press->state;
  if (!key.text.empty() || key.qtKey != Qt::Key_unknown) {
    held_.push_back(std::move(key));
  }
  return true;
}

bool X11KeyHold::isAutoRepeat(const xcb_key_press_event_t* press) const {
  // Auto-repeat sends a release and a press with the same time stamp.
  const auto found = released_.find(press->detail);
  return found != released_.end() && found->second == press->time;
}

std::vector<X11KeyHold::Key> X11KeyHold::release() {
  const bool wasHolding = holding_;
  ungrab();
  if (wasHolding) {
    // A round trip after the ungrab: every key the server sent to the hold is read now, so
    // none is left behind or replayed out of order.
    xcb_connection_t* c = connection_.get();
    const XcbReply<xcb_get_input_focus_reply_t> done(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    while (XcbEvent event{xcb_poll_for_event(c)}) {
      const bool hotKey = eventType(event.get()) == XCB_KEY_PRESS && isHotKey_ &&
                          isHotKey_(reinterpret_cast<const xcb_key_press_event_t*>(event.get()));
      if (hotKey || !take(event.get())) {
        later_.push_back(std::move(event));
      }
    }
  }
  holding_ = false;
  std::vector<Key> keys = std::move(held_);
  held_.clear();
  if (!later_.empty()) {
    // After the caller replayed the keys: a hot key pressed meanwhile acts after them.
    handOver_.start();
  }
  return keys;
}

X11KeyHold::Key X11KeyHold::keyOf(uint32_t keysym, uint16_t state) {
  Key key;
  if ((state & XCB_MOD_MASK_SHIFT) != 0) {
    key.qtModifiers |= Qt::ShiftModifier;
  }
  if ((state & XCB_MOD_MASK_CONTROL) != 0) {
    key.qtModifiers |= Qt::ControlModifier;
  }
  if ((state & XCB_MOD_MASK_1) != 0) {
    key.qtModifiers |= Qt::AltModifier;
  }
  if ((state & XCB_MOD_MASK_4) != 0) {
    key.qtModifiers |= Qt::MetaModifier;
  }
  if (keysym >= kFirstKeypad && keysym <= kLastKeypad) {
    key.qtModifiers |= Qt::KeypadModifier;
  }
  for (const Named& named : kNamed) {
    if (named.keysym == keysym) {
      key.qtKey = named.key;
      return key;
    }
  }
  std::array<char, 8> utf8{};
  const int length = xkb_keysym_to_utf8(keysym, utf8.data(), utf8.size());
  if (length > 1) {
    key.text = std::string(utf8.data(), static_cast<size_t>(length - 1));
  }
  const uint32_t point = xkb_keysym_to_utf32(keysym);
  if (point >= 'a' && point <= 'z') {
    key.qtKey = Qt::Key_A + static_cast<int>(point - 'a');
  } else if (point == ' ') {
    key.qtKey = Qt::Key_Space;
  } else if (point > 0x20 && point < 0x7f) {
    key.qtKey = static_cast<int>(point >= 'a' ? point - 32 : point);
  } else {
    key.qtKey = point != 0 ? static_cast<int>(point) : Qt::Key_unknown;
  }
  if ((key.qtModifiers & Qt::ControlModifier) != 0) {
    key.text.clear();  // Control does not type
  }
  return key;
}

}  // namespace vesk
