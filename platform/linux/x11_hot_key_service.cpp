#include "platform/linux/x11_hot_key_service.h"

#include <algorithm>

#include <xcb/xcb_keysyms.h>

#include "platform/linux/x11_key_hold.h"
#include "platform/linux/xcb_connection.h"
#include "platform/linux/xcb_event_source.h"

namespace vesk {
namespace {

constexpr uint8_t kBadAccess = 10;
constexpr xcb_keysym_t kNumLock = 0xff7f;
constexpr xcb_keysym_t kScrollLock = 0xff14;

}  // namespace

Result<std::unique_ptr<X11HotKeyService>> X11HotKeyService::open(const std::string& display) {
  auto opened = XcbConnection::open(display);
  if (!opened) {
    return opened.failure();
  }
  return std::unique_ptr<X11HotKeyService>(new X11HotKeyService(std::move(opened).value()));
}

X11HotKeyService::X11HotKeyService(std::unique_ptr<XcbConnection> connection)
    : connection_(std::move(connection)) {
  findLockMasks();
  const auto handler = [this](const xcb_generic_event_t* event) { handle(event); };
  events_ = std::make_unique<XcbEventSource>(*connection_, handler);
  hold_ = std::make_unique<X11KeyHold>(
      *connection_, handler,
      [this](const xcb_key_press_event_t* press) { return pressed(press) != nullptr; });
}

X11HotKeyService::~X11HotKeyService() {
  events_.reset();
  hold_.reset();
  std::vector<Grab> grabs;
  for (const auto& entry : registrations_) {
    grabs.push_back(entry.second);
  }
  std::sort(grabs.begin(), grabs.end());
  grabs.erase(std::unique(grabs.begin(), grabs.end()), grabs.end());
  for (const Grab& grab : grabs) {
    ungrab(grab);
  }
  xcb_flush(connection_->get());
}

uint16_t X11HotKeyService::xModifiers(uint32_t modifiers) {
  uint16_t mask = 0;
  if ((modifiers & kCmd) != 0) {
    mask |= XCB_MOD_MASK_4;
  }
  if ((modifiers & kShift) != 0) {
    mask |= XCB_MOD_MASK_SHIFT;
  }
  if ((modifiers & kAlt) != 0) {
    mask |= XCB_MOD_MASK_1;
  }
  if ((modifiers & kCtrl) != 0) {
    mask |= XCB_MOD_MASK_CONTROL;
  }
  return mask;
}

void X11HotKeyService::findLockMasks() {
  xcb_connection_t* c = connection_->get();
  xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
  const XcbReply<xcb_keycode_t> numCodes(xcb_key_symbols_get_keycode(symbols, kNumLock));
  const XcbReply<xcb_keycode_t> scrollCodes(xcb_key_symbols_get_keycode(symbols, kScrollLock));
  xcb_key_symbols_free(symbols);
  const XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
  if (!mapping) {
    return;
  }
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
  const int perModifier = mapping->keycodes_per_modifier;
  const auto holds = [](const XcbReply<xcb_keycode_t>& list, xcb_keycode_t code) {
    for (const xcb_keycode_t* entry = list.get(); entry != nullptr && *entry != XCB_NO_SYMBOL;
         ++entry) {
      if (*entry == code) {
        return true;
      }
    }
    return false;
  };
  for (int modifier = 0; modifier < 8; ++modifier) {
    for (int i = 0; i < perModifier; ++i) {
      const xcb_keycode_t code = codes[modifier * perModifier + i];
      if (code == 0) {
        continue;
      }
      if (holds(numCodes, code)) {
        numLock_ = static_cast<uint16_t>(1U << modifier);
      }
      if (holds(scrollCodes, code)) {
        scrollLock_ = static_cast<uint16_t>(1U << modifier);
      }
    }
  }
}

std::vector<uint16_t> X11HotKeyService::lockCombinations() const {
  std::vector<uint16_t> combinations{0};
  for (const uint16_t lock : {numLock_, static_cast<uint16_t>(XCB_MOD_MASK_LOCK), scrollLock_}) {
    if (lock == 0) {
      continue;
    }
    const size_t count = combinations.size();
    for (size_t i = 0; i < count; ++i) {
      combinations.push_back(static_cast<uint16_t>(combinations[i] | lock));
    }
  }
  return combinations;
}

HotKeyService::Outcome X11HotKeyService::registerHotKey(uint32_t id, uint32_t keyCode,
                                                        uint32_t modifiers) {
  unregisterHotKey(id);
  if (keyCode < 8 || keyCode > 255) {
    return Outcome::failed;
  }
  const Grab grab{static_cast<xcb_keycode_t>(keyCode), xModifiers(modifiers)};
  // The server gives one client one grab per combination: share it between ids.
  for (const auto& entry : registrations_) {
    if (entry.second == grab) {
      registrations_[id] = grab;
      return Outcome::registered;
    }
  }
  xcb_connection_t* c = connection_->get();
  std::vector<xcb_void_cookie_t> cookies;
  for (const uint16_t locks : lockCombinations()) {
    // The keyboard freezes at the press until it is handled: no key typed right after the hot
    // key can slip past the hold the handler may take.
    cookies.push_back(xcb_grab_key_checked(c, 1, connection_->root(), grab.second | locks,
                                           grab.first, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_SYNC));
  }
  Outcome outcome = Outcome::registered;
  for (const xcb_void_cookie_t cookie : cookies) {
    const XcbReply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    if (error) {
      outcome = error->error_code == kBadAccess ? Outcome::taken : Outcome::failed;
    }
  }
  if (connection_->broken()) {
    outcome = Outcome::failed;
  }
  if (outcome != Outcome::registered) {
    // Release the combinations that did succeed; the others were never ours.
    ungrab(grab);
  } else {
    registrations_[id] = grab;
  }
  xcb_flush(c);
  events_->drainSoon();
  return outcome;
}

void X11HotKeyService::unregisterHotKey(uint32_t id) {
  const auto found = registrations_.find(id);
  if (found == registrations_.end()) {
    return;
  }
  const Grab grab = found->second;
  registrations_.erase(found);
  const bool shared = std::any_of(registrations_.begin(), registrations_.end(),
                                  [&](const auto& entry) { return entry.second == grab; });
  if (!shared) {
    ungrab(grab);
    xcb_flush(connection_->get());
  }
}

void X11HotKeyService::ungrab(const Grab& grab) {
  for (const uint16_t locks : lockCombinations()) {
    xcb_ungrab_key(connection_->get(), grab.first, connection_->root(), grab.second | locks);
  }
}

void X11HotKeyService::setPressHandler(PressHandler handler) {
  handler_ = std::move(handler);
}

const std::pair<const uint32_t, X11HotKeyService::Grab>* X11HotKeyService::pressed(
    const xcb_key_press_event_t* press) const {
  if (hold_->isAutoRepeat(press)) {
    return nullptr;
  }
  const uint16_t locks = numLock_ | scrollLock_ | XCB_MOD_MASK_LOCK;
  const uint16_t modifiers = press->state & ~locks & 0xFF;
  for (const auto& entry : registrations_) {
    if (entry.second.first == press->detail && entry.second.second == modifiers) {
      return &entry;  // one press, one action: the first id holding the combination
    }
  }
  return nullptr;
}

void X11HotKeyService::handle(const xcb_generic_event_t* event) {
  const uint8_t type = eventType(event);
  if (type == XCB_KEY_RELEASE) {
    (void)hold_->take(event);  // noted for telling auto-repeats
    return;
  }
  if (type != XCB_KEY_PRESS) {
    return;
  }
  const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
  if (const auto* fired = pressed(press)) {
    const uint32_t id = fired->first;
    const double pressedAt = monotonicSecondsOf(press->time);
    hold_->duringPress(press->time, [&] {
      if (handler_) {
        handler_(id, pressedAt);
      }
    });
    return;
  }
  if (!hold_->take(event)) {
    hold_->thaw();  // an auto-repeat of a hot key froze the keyboard too
  }
}

}  // namespace vesk
