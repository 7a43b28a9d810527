#include "app/launcher/panel_keys.h"

#include <QKeyEvent>
#include <array>
#include <utility>
#include <vector>

namespace vesk {

namespace {

constexpr std::uint32_t kReturn = 36;
constexpr std::uint32_t kGlobal = Shortcut::cmd | Shortcut::alt | Shortcut::ctrl;

// Qt's named keys → the virtual key codes of `Shortcut`. Characters are looked up by name.
constexpr std::array<std::pair<int, std::uint32_t>, 28> kNamedKeys = {{
    {Qt::Key_Return, kReturn}, {Qt::Key_Enter, kReturn}, {Qt::Key_Tab, 48},   {Qt::Key_Backtab, 48},
    {Qt::Key_Escape, 53},      {Qt::Key_Backspace, 51},  {Qt::Key_Space, 49}, {Qt::Key_Left, 123},
    {Qt::Key_Right, 124},      {Qt::Key_Up, 126},        {Qt::Key_Down, 125}, {Qt::Key_F1, 122},
    {Qt::Key_F2, 120},         {Qt::Key_F3, 99},         {Qt::Key_F4, 118},   {Qt::Key_F5, 96},
    {Qt::Key_F6, 97},          {Qt::Key_F7, 98},         {Qt::Key_F8, 100},   {Qt::Key_F9, 101},
    {Qt::Key_F10, 109},        {Qt::Key_F11, 103},       {Qt::Key_F12, 111},  {Qt::Key_F13, 105},
    {Qt::Key_F14, 107},        {Qt::Key_F15, 113},       {Qt::Key_F16, 106},  {Qt::Key_F17, 64},
}};

std::optional<std::string> characterOf(const QKeyEvent& event) {
  const QString text = event.text();
  // With Control the text is a control character; the key then names the character.
  if (text.size() == 1 && text.at(0).isPrint() && !text.at(0).isSpace()) {
    return text.toLower().toStdString();
  }
  const int key = event.key();
  if (key > 0x20 && key < 0x7f) {
    return QString(QChar(key)).toLower().toStdString();
  }
  return std::nullopt;
}

}  // namespace

namespace PanelKeys {

std::optional<std::uint32_t> keyCode(int qtKey, bool keypad) {
  if (keypad && qtKey == Qt::Key_Enter) {
    return kReturn;
  }
  for (const auto& [key, code] : kNamedKeys) {
    if (key == qtKey) {
      return code;
    }
  }
  if (qtKey >= Qt::Key_F18 && qtKey <= Qt::Key_F20) {
    constexpr std::array<std::uint32_t, 3> kLate = {79, 80, 90};
    return kLate[static_cast<size_t>(qtKey - Qt::Key_F18)];
  }
  if (qtKey > 0x20 && qtKey < 0x7f) {
    const std::string name = QString(QChar(qtKey)).toLower().toStdString();
    const auto& keys = Shortcut::keys();
    if (const auto found = keys.find(name); found != keys.end()) {
      return found->second.code;
    }
  }
  return std::nullopt;
}

std::optional<TypedKey> fromQt(const QKeyEvent& event) {
  const Qt::KeyboardModifiers flags = event.modifiers();
  const std::optional<std::uint32_t> code =
      keyCode(event.key(), flags.testFlag(Qt::KeypadModifier));
  if (!code) {
    return std::nullopt;
  }
  TypedKey key;
  key.keyCode = *code;
  if (flags.testFlag(Qt::MetaModifier)) {
    key.modifiers |= Shortcut::cmd;
  }
  if (flags.testFlag(Qt::ShiftModifier)) {
    key.modifiers |= Shortcut::shift;
  }
  if (flags.testFlag(Qt::AltModifier)) {
    key.modifiers |= Shortcut::alt;
  }
  if (flags.testFlag(Qt::ControlModifier)) {
    key.modifiers |= Shortcut::ctrl;
  }
  key.character = characterOf(event);
  key.isAutoRepeat = event.isAutoRepeat();
  return key;
}

bool handleKey(const TypedKey& key, const KeyBindings& keys, bool fieldIsEmpty, bool inSublist,
               const Handlers& handlers) {
  const std::optional<std::string_view> character =
      key.character ? std::optional<std::string_view>(*key.character) : std::nullopt;
  const auto usable = [&](const Shortcut& shortcut) {
    return shortcut.matches(key.keyCode, key.modifiers, character) &&
           (fieldIsEmpty || (shortcut.modifiers & kGlobal) != 0 || !shortcut.typesText());
  };
  if (inSublist) {
    const auto& positions = keys.runActions();
    for (size_t n = 0; n < positions.size(); ++n) {
      if (!positions[n] || !usable(*positions[n])) {
        continue;
      }
      if (key.isAutoRepeat || handlers.runAction(n)) {
        return true;
      }
    }
  }
  constexpr std::array kOrder = {PanelKey::back,      PanelKey::open,    PanelKey::up,
                                 PanelKey::down,      PanelKey::actions, PanelKey::preview,
                                 PanelKey::toLauncher};
  for (const PanelKey panelKey : kOrder) {
    for (const Shortcut& shortcut : keys[panelKey]) {
      if (!usable(shortcut)) {
        continue;
      }
      const bool repeats = panelKey == PanelKey::up || panelKey == PanelKey::down;
      if (key.isAutoRepeat && !repeats) {
        return true;
      }
      if (handlers.perform(panelKey)) {
        return true;
      }
      return (shortcut.modifiers & kGlobal) != 0 || !shortcut.typesText();
    }
  }
  return false;
}

}  // namespace PanelKeys

}  // namespace vesk
