#include "app/config/hot_key_center.h"

#include <utility>

#include "platform/key_layout.h"

namespace vesk {

HotKeyCenter::HotKeyCenter(HotKeyService& service, const KeyLayout& layout)
    : service_(service), layout_(layout) {}

HotKeyCenter::~HotKeyCenter() {
  for (const auto& [id, action] : actions_) {
    service_.unregisterHotKey(id);
  }
  if (handlerInstalled_) {
    service_.setPressHandler({});
  }
}

HotKeyCenter::Registration HotKeyCenter::registerHotKey(const Shortcut& shortcut, Action action) {
  if (!handlerInstalled_) {
    service_.setPressHandler([this](uint32_t id, double pressedAt) { fire(id, pressedAt); });
    handlerInstalled_ = true;
  }
  const std::optional<uint32_t> keyCode = keyCodeOf(shortcut);
  if (!keyCode) {
    return Registration{std::nullopt, HotKeyService::Outcome::failed};
  }
  const uint32_t id = nextID_;
  const HotKeyService::Outcome outcome = service_.registerHotKey(id, *keyCode, shortcut.modifiers);
  if (outcome != HotKeyService::Outcome::registered) {
    return Registration{std::nullopt, outcome};
  }
  actions_[id] = std::move(action);
  keyCodes_[id] = *keyCode;
  ++nextID_;
  return Registration{id, outcome};
}

std::optional<uint32_t> HotKeyCenter::keyCodeOf(const Shortcut& shortcut) const {
  std::optional<uint32_t> keyCode;
  if (shortcut.isCharacter()) {
    keyCode = layout_.keyCode(shortcut.key);
  }
  if (!keyCode) {
    keyCode = layout_.keyCode(shortcut.keyCode);
  }
  return keyCode;
}

bool HotKeyCenter::keyMoved(uint32_t id, const Shortcut& shortcut) const {
  const auto registered = keyCodes_.find(id);
  return registered == keyCodes_.end() || keyCodeOf(shortcut) != registered->second;
}

void HotKeyCenter::unregister(uint32_t id) {
  keyCodes_.erase(id);
  if (actions_.erase(id) > 0) {
    service_.unregisterHotKey(id);
  }
}

void HotKeyCenter::fire(uint32_t id, double pressedAt) {
  const auto found = actions_.find(id);
  if (found == actions_.end()) {
    return;
  }
  // A copy: the action may change the registrations (and so this map) while it runs.
  const Action action = found->second;
  if (action) {
    action(pressedAt);
  }
}

}  // namespace vesk
