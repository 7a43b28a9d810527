#pragma once
// HotKeyCenter: the system-wide hot keys of the desktop, registered by shortcut and identified by
// ids that grow by one per successful registration and are never reused while Vesk runs, so a
// press of a released registration can never reach a newer action.
//
// Main thread only; presses arrive there and run their action synchronously. Destroying the
// center releases every registration it holds.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "core/config/shortcut.h"
#include "platform/hot_key_service.h"

namespace vesk {

class KeyLayout;

class HotKeyCenter final {
 public:
  // Takes the press time, seconds on the monotonic clock.
  using Action = std::function<void(double pressedAt)>;

  struct Registration {
    std::optional<uint32_t> id;  // set when registered
    HotKeyService::Outcome outcome = HotKeyService::Outcome::failed;
  };

  HotKeyCenter(HotKeyService& service, const KeyLayout& layout);
  ~HotKeyCenter();
  HotKeyCenter(const HotKeyCenter&) = delete;
  HotKeyCenter& operator=(const HotKeyCenter&) = delete;
  HotKeyCenter(HotKeyCenter&&) = delete;
  HotKeyCenter& operator=(HotKeyCenter&&) = delete;

  // Registers the shortcut's key in the current layout: a character key is the key that types it
  // now (so letters follow the layout), a named key its own code.
  Registration registerHotKey(const Shortcut& shortcut, Action action);
  void unregister(uint32_t id);
  // Whether the shortcut of registration `id` is typed on another key in the current layout than
  // the one registered (a layout change moved its character).
  bool keyMoved(uint32_t id, const Shortcut& shortcut) const;
  // Runs the action of `id`; an id without one is ignored.
  void fire(uint32_t id, double pressedAt);

  uint32_t nextID() const { return nextID_; }
  size_t count() const { return actions_.size(); }

 private:
  HotKeyService& service_;
  const KeyLayout& layout_;
  // The key code in the layout of the moment.
  std::optional<uint32_t> keyCodeOf(const Shortcut& shortcut) const;

  std::map<uint32_t, Action> actions_;
  std::map<uint32_t, uint32_t> keyCodes_;  // id → the key code registered
  uint32_t nextID_ = 1;
  bool handlerInstalled_ = false;
};

}  // namespace vesk
