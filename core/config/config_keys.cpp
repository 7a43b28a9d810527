// ConfigParser's hot keys and panel keys.

#include <algorithm>
#include <string>
#include <utility>

#include "core/config/config_parser.h"

namespace vesk {

void ConfigParser::hotkey(std::size_t index, const TOMLReader::Entry& entry) {
  HotkeySlot& slot = hotkeys_[index];
  const std::string name = std::string("hotkeys.") + slot.name;
  const auto keepFallback = [&] { setHotkey(slot, hotkeyOf(fallback_, slot)); };
  const auto* text = stringOf(name, entry);
  if (text == nullptr) {
    keepFallback();
    return;
  }
  if (text->empty()) {
    if (slot.field == nullptr) {
      problem(entry.line, "hotkeys.launcher can't be off: it's how Vesk opens");
      keepFallback();
      return;
    }
    setHotkey(slot, std::nullopt);
    slot.line = entry.line;
    return;
  }
  const auto shortcut = Shortcut::parse(*text);
  if (shortcut) {
    for (const auto& editing : KeyBindings::editingKeys()) {
      if (editing.shortcut == *shortcut) {
        problem(entry.line, name + " \"" + *text + "\" is " + editing.name +
                                " in every app, so it's left as it was");
        keepFallback();
        return;
      }
    }
  }
  if (!shortcut || !shortcut->isGlobal()) {
    problem(entry.line, name + " \"" + *text + "\" isn't a shortcut like \"ctrl+alt+space\"");
    keepFallback();
    return;
  }
  setHotkey(slot, shortcut);
  slot.line = entry.line;
}

std::optional<Shortcut> ConfigParser::hotkeyOf(const Config& config, const HotkeySlot& slot) const {
  return slot.field == nullptr ? std::optional(config.launcherHotkey) : config.*slot.field;
}

// The launcher's hot key is never switched off: it has no field for "off".
void ConfigParser::setHotkey(const HotkeySlot& slot, const std::optional<Shortcut>& shortcut) {
  if (slot.field != nullptr) {
    config_.*slot.field = shortcut;
  } else if (shortcut.has_value()) {
    config_.launcherHotkey = shortcut.value();
  }
}

// The launcher's hot key always wins; a later one equal to an earlier one is turned off.
void ConfigParser::separateHotkeys() {
  for (std::size_t i = 1; i < hotkeys_.size(); ++i) {
    HotkeySlot& later = hotkeys_[i];
    const auto shortcut = hotkeyOf(config_, later);
    if (!shortcut) {
      continue;
    }
    for (std::size_t j = 0; j < i; ++j) {
      const HotkeySlot& earlier = hotkeys_[j];
      if (hotkeyOf(config_, earlier) != shortcut) {
        continue;
      }
      problem(std::max(earlier.line, later.line), std::string("hotkeys.") + earlier.name +
                                                      " and hotkeys." + later.name +
                                                      " are both \"" + shortcut->description +
                                                      "\", so hotkeys." + later.name + " is off");
      setHotkey(later, std::nullopt);
      break;
    }
  }
}

void ConfigParser::panelKey(const std::string& name, const std::string& key,
                            const TOMLReader::Entry& entry) {
  const auto panel = panelKeyNamed(key);
  if (!panel) {
    problem(entry.line, "unknown setting \"" + name + "\"");
    return;
  }
  std::vector<std::string> texts;
  if (const auto* text = entry.value.asString()) {
    if (!text->empty()) {
      texts.push_back(*text);
    }
  } else if (auto list = stringList(entry.value)) {
    texts = std::move(*list);
  } else {
    problem(entry.line, name +
                            " should be a key in quotes, or a list of them like [\"up\", "
                            "\"ctrl+k\"]");
    written_.push_back({*panel, entry.line, fallbackShortcuts(*panel)});
    return;
  }
  KeyBindings::Written good{*panel, entry.line, {}};
  for (const std::string& text : texts) {
    auto shortcut = Shortcut::parse(text);
    if (!shortcut) {
      problem(entry.line, name + " \"" + text + "\" isn't a key like \"ctrl+k\" or \"up\"");
      written_.push_back({*panel, entry.line, fallbackShortcuts(*panel)});
      return;
    }
    good.shortcuts.emplace_back(std::move(*shortcut));
  }
  written_.push_back(std::move(good));
}

std::vector<std::optional<Shortcut>> ConfigParser::fallbackShortcuts(PanelKey key) const {
  const auto found = fallback_.keys.table().find(key);
  return found == fallback_.keys.table().end() ? std::vector<std::optional<Shortcut>>{}
                                               : found->second;
}

void ConfigParser::bindPanelKeys() {
  std::vector<KeyBindings::HotKey> on;
  for (const HotkeySlot& slot : hotkeys_) {
    if (auto shortcut = hotkeyOf(config_, slot)) {
      on.push_back({slot.name, std::move(*shortcut)});
    }
  }
  auto resolution = KeyBindings::resolve(std::move(written_), on);
  config_.keys = std::move(resolution.bindings);
  for (auto& found : resolution.problems) {
    problems_.push_back({found.line, std::move(found.message)});
  }
}

}  // namespace vesk
