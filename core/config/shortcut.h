#pragma once
// Shortcut: one key with modifiers, written in the configuration as text such as
// "super+shift+v". Used for the global hot keys and for the keys inside the panel.
//
// Key codes are the keyboard's virtual key codes by ANSI position (a = 0, return = 36, …);
// the modifier bits are those the hot key registration takes. The platform maps its own key
// events to these values. A plain value; equality and hashing cover all four fields.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

struct Shortcut {
  // The Super key (Mod4), named "super" in texts.
  static constexpr std::uint32_t cmd = 256;
  static constexpr std::uint32_t shift = 512;
  static constexpr std::uint32_t alt = 2048;
  static constexpr std::uint32_t ctrl = 4096;

  struct Key {
    std::uint32_t code = 0;
    std::string name;  // canonical: "return" for both "return" and "enter"
  };

  std::uint32_t keyCode = 0;
  std::uint32_t modifiers = 0;
  std::string key;  // canonical key name: "v", "return", "f5", "="
  // Canonical text: modifiers in the order ctrl, alt, shift, super, then the key, joined with
  // "+": "shift+super+v".
  std::string description;

  // Case and spaces around the pieces do not matter: "Super + Shift + V". Nothing when a piece
  // is not a known modifier or the last piece is not a known key.
  static std::optional<Shortcut> parse(std::string_view text);
  // Every accepted key name → its code and canonical name.
  static const std::map<std::string, Key, std::less<>>& keys();

  // May be a global hot key: has super, alt or ctrl, or is a function key.
  bool isGlobal() const;
  // The key is a single character ("v", "=").
  bool isCharacter() const;
  // Would type into the search field: no super, alt or ctrl, and a character, space or
  // backspace.
  bool typesText() const;
  // Whether a key typed in the panel is this shortcut. Modifiers must be equal; a character key
  // follows the typed character when it is known (so letters follow the user's layout), any
  // other key its key code.
  bool matches(std::uint32_t typedKeyCode, std::uint32_t typedModifiers,
               std::optional<std::string_view> character) const;

  // Display text: the words of the modifiers (Ctrl, Alt, Shift, Super), then the key's ("Enter",
  // "Esc", "Backspace", "Tab", "Space", "↑" "↓" "←" "→", otherwise its name in upper case),
  // joined with "+": "Ctrl+Shift+V".
  std::string symbols() const;
  // The same words as separate key caps: {"Ctrl", "Shift", "V"}.
  std::vector<std::string> caps() const;

  bool operator==(const Shortcut&) const = default;
};

}  // namespace vesk

template <>
struct std::hash<vesk::Shortcut> {
  std::size_t operator()(const vesk::Shortcut& shortcut) const noexcept;
};
