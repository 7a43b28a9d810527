#include "core/config/key_names.h"

#include <array>

namespace vesk {

namespace {

constexpr std::array<std::string_view, 3> kCtrlNames = {"ctrl", "control", "⌃"};
constexpr std::array<std::string_view, 4> kAltNames = {"alt", "opt", "option", "⌥"};
constexpr std::array<std::string_view, 2> kShiftNames = {"shift", "⇧"};
constexpr std::array<std::string_view, 6> kSuperNames = {"super", "cmd", "command",
                                                         "⌘",     "win", "meta"};

constexpr std::array<ModifierName, 4> kModifiers = {{
    {4096, "ctrl", kCtrlNames, "Ctrl"},
    {2048, "alt", kAltNames, "Alt"},
    {512, "shift", kShiftNames, "Shift"},
    {256, "super", kSuperNames, "Super"},
}};

constexpr std::array<EditingKeyName, 6> kEditingKeys = {{
    {"ctrl+x", "Cut"},
    {"ctrl+c", "Copy"},
    {"ctrl+v", "Paste"},
    {"ctrl+a", "Select All"},
    {"ctrl+z", "Undo"},
    {"shift+ctrl+z", "Redo"},
}};

}  // namespace

std::span<const ModifierName> modifierNames() {
  return kModifiers;
}

std::span<const EditingKeyName> editingKeyNames() {
  return kEditingKeys;
}

}  // namespace vesk
