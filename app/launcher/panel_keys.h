#pragma once
// PanelKeys: how a key pressed in the panel becomes one of the panel's keys before the search
// field sees it. `TypedKey` is a key event in the terms of `Shortcut` (virtual key code,
// modifier masks, the typed character); `fromQt` is the one table from Qt's keys to those codes
// (keypad Enter counts as Return). `handleKey` applies the matching rules: the run-actions
// positions first while a sublist is open, then the panel keys in a fixed order; an auto-repeat
// is swallowed except for up and down; a key that types text is a panel key only while the
// field is empty.
//
// Pure functions; the effects are the callbacks' (the controller's `runAction` and `perform`).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/config/key_bindings.h"

class QKeyEvent;

namespace vesk {

struct TypedKey {
  std::uint32_t keyCode = 0;
  std::uint32_t modifiers = 0;           // Shortcut::cmd | shift | alt | ctrl
  std::optional<std::string> character;  // lower-cased, none for named keys
  bool isAutoRepeat = false;
};

namespace PanelKeys {

// The virtual key code of a Qt key, or none for a key no shortcut can name.
std::optional<std::uint32_t> keyCode(int qtKey, bool keypad);
// The event as a typed key; none for keys without a code (modifiers alone, media keys).
std::optional<TypedKey> fromQt(const QKeyEvent& event);

struct Handlers {
  std::function<bool(size_t position)> runAction;
  std::function<bool(PanelKey)> perform;
};

// Whether the key was handled (the field must not see it).
bool handleKey(const TypedKey& key, const KeyBindings& keys, bool fieldIsEmpty, bool inSublist,
               const Handlers& handlers);

}  // namespace PanelKeys

}  // namespace vesk
