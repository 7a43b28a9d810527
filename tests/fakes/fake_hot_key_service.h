#pragma once
// FakeHotKeyService: hot keys in memory. Tests mark combinations as taken, inspect what is
// registered and press keys by hand.

#include <cstdint>
#include <map>
#include <set>
#include <utility>

#include "platform/hot_key_service.h"

namespace vesk {

class FakeHotKeyService final : public HotKeyService {
 public:
  struct Grab {
    uint32_t keyCode = 0;
    uint32_t modifiers = 0;
    bool operator==(const Grab&) const = default;
    auto operator<=>(const Grab&) const = default;
  };

  Outcome registerHotKey(uint32_t id, uint32_t keyCode, uint32_t modifiers) override {
    ++attempts;
    const Grab grab{keyCode, modifiers};
    if (failAll) {
      return Outcome::failed;
    }
    if (taken.contains(grab)) {
      return Outcome::taken;
    }
    registered[id] = grab;
    return Outcome::registered;
  }

  void unregisterHotKey(uint32_t id) override { registered.erase(id); }

  void setPressHandler(PressHandler handler) override { handler_ = std::move(handler); }

  // Presses the key of registration `id`, as the desktop would; false when it isn't registered.
  bool press(uint32_t id, double at = 0) {
    if (!registered.contains(id) || !handler_) {
      return false;
    }
    handler_(id, at);
    return true;
  }

  // Presses whatever registration holds this combination.
  bool press(Grab grab, double at = 0) {
    for (const auto& [id, held] : registered) {
      if (held == grab) {
        return press(id, at);
      }
    }
    return false;
  }

  bool isRegistered(Grab grab) const {
    for (const auto& entry : registered) {
      if (entry.second == grab) {
        return true;
      }
    }
    return false;
  }

  std::map<uint32_t, Grab> registered;  // id → combination
  std::set<Grab> taken;                 // combinations held by "another application"
  bool failAll = false;
  int attempts = 0;

 private:
  PressHandler handler_;
};

}  // namespace vesk
