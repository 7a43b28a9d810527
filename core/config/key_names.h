#pragma once
// The desktop's own names for keys and modifiers, kept in one table so that the rest of the
// configuration code stays the same on every desktop: the modifier names a shortcut may use,
// the words the panel shows for them, and the editing keys every text field answers to (which
// no shortcut of Vesk may take). These are the Linux desktop's: the cmd modifier is the Super
// key and is written "super" ("cmd", "command", "⌘", "win" and "meta" are read as it), and
// the text fields edit with Control.

#include <cstdint>
#include <span>
#include <string_view>

namespace vesk {

struct ModifierName {
  std::uint32_t bit;
  std::string_view canonical;                  // the name in descriptions: "ctrl"
  std::span<const std::string_view> accepted;  // every name a shortcut may use for it
  std::string_view word;                       // as printed on the key cap: "Ctrl"
};

// In display order: ctrl, alt, shift, super.
std::span<const ModifierName> modifierNames();

struct EditingKeyName {
  std::string_view shortcut;  // in shortcut syntax: "ctrl+c"
  std::string_view name;      // as the user knows the command: "Copy"
};

// Cut, Copy, Paste, Select All, Undo, Redo, in that order.
std::span<const EditingKeyName> editingKeyNames();

}  // namespace vesk
