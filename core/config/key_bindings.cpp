#include "core/config/key_bindings.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <utility>

#include "core/config/key_names.h"

namespace vesk {

namespace {

constexpr std::array kPanelKeys = {PanelKey::up,         PanelKey::down,      PanelKey::open,
                                   PanelKey::actions,    PanelKey::back,      PanelKey::preview,
                                   PanelKey::runActions, PanelKey::toLauncher};

constexpr std::array<std::string_view, 8> kConfigNames = {
    "up", "down", "open", "actions", "back", "preview", "run_actions", "to_launcher"};

constexpr std::array<std::string_view, 2> kUpTexts = {"up", "ctrl+p"};
constexpr std::array<std::string_view, 2> kDownTexts = {"down", "ctrl+n"};
constexpr std::array<std::string_view, 1> kOpenTexts = {"return"};
constexpr std::array<std::string_view, 1> kActionsTexts = {"ctrl+k"};
constexpr std::array<std::string_view, 1> kBackTexts = {"escape"};
constexpr std::array<std::string_view, 2> kPreviewTexts = {"ctrl+y", "space"};
constexpr std::array<std::string_view, 7> kRunActionsTexts = {"alt+1", "alt+2", "alt+3", "alt+4",
                                                              "alt+5", "alt+6", "alt+7"};
constexpr std::array<std::string_view, 1> kToLauncherTexts = {"backspace"};

std::size_t indexOf(PanelKey key) {
  return static_cast<std::size_t>(key);
}

std::vector<std::optional<Shortcut>> parsedDefaults(PanelKey key) {
  std::vector<std::optional<Shortcut>> out;
  for (const std::string_view text : defaultTexts(key)) {
    if (auto shortcut = Shortcut::parse(text)) {
      out.push_back(std::move(*shortcut));
    }
  }
  return out;
}

// Preview and the run-actions keys act in different lists, as do run-actions and the way back
// to the launcher, so those pairs may share a shortcut.
bool mayShare(PanelKey a, PanelKey b) {
  const auto pair = [&](PanelKey x, PanelKey y) {
    return (a == x && b == y) || (a == y && b == x);
  };
  return pair(PanelKey::preview, PanelKey::runActions) ||
         pair(PanelKey::runActions, PanelKey::toLauncher);
}

bool hasShortcut(const std::vector<std::optional<Shortcut>>& list) {
  return std::any_of(list.begin(), list.end(), [](const auto& s) { return s.has_value(); });
}

std::string quotedDefaults(PanelKey key) {
  std::string out;
  for (const std::string_view text : defaultTexts(key)) {
    if (!out.empty()) {
      out += ", ";
    }
    out.append("\"").append(text).append("\"");
  }
  return out;
}

class Resolver {
 public:
  explicit Resolver(const std::vector<KeyBindings::HotKey>& hotkeys) : hotkeys_(hotkeys) {
    for (const PanelKey key : kPanelKeys) {
      table_[key];
    }
  }

  void hold(const Shortcut& shortcut, PanelKey key) {
    auto& holders = holders_[shortcut];
    if (std::find(holders.begin(), holders.end(), key) == holders.end()) {
      holders.push_back(key);
    }
  }

  // Why the shortcut can't be bound to the key, or nothing when it can.
  std::optional<std::string> conflict(const Shortcut& shortcut, PanelKey key) const {
    for (const auto& hotkey : hotkeys_) {
      if (hotkey.shortcut == shortcut) {
        return "is hotkeys." + hotkey.name;
      }
    }
    for (const auto& editing : KeyBindings::editingKeys()) {
      if (editing.shortcut == shortcut) {
        return "is " + editing.name + " in the search field";
      }
    }
    const auto held = holders_.find(shortcut);
    if (held == holders_.end()) {
      return std::nullopt;
    }
    const auto& holders = held->second;
    if (std::find(holders.begin(), holders.end(), key) != holders.end()) {
      return "is there twice";
    }
    for (const PanelKey holder : holders) {
      if (!mayShare(holder, key)) {
        return "is already keys." + std::string(configName(holder));
      }
    }
    return std::nullopt;
  }

  void bind(PanelKey key, const std::vector<std::optional<Shortcut>>& shortcuts,
            std::optional<std::int64_t> line) {
    auto& list = table_[key];
    for (const auto& slot : shortcuts) {
      if (!slot) {
        if (key == PanelKey::runActions) {
          list.emplace_back(std::nullopt);
        }
        continue;
      }
      const Shortcut& shortcut = *slot;
      if (const auto reason = conflict(shortcut, key)) {
        if (line) {
          report(*line, "keys." + std::string(configName(key)) + " \"" + shortcut.description +
                            "\" " + *reason + ", so it's left out");
        }
        if (key == PanelKey::runActions) {
          list.emplace_back(std::nullopt);
        }
        continue;
      }
      list.emplace_back(shortcut);
      hold(shortcut, key);
    }
  }

  // Open and back can't be off: without any shortcut they keep their defaults.
  void ensureBound(PanelKey key, std::optional<std::int64_t> line) {
    auto& list = table_[key];
    if (hasShortcut(list)) {
      return;
    }
    list.clear();
    for (const auto& shortcut : parsedDefaults(key)) {
      list.push_back(shortcut);
      hold(*shortcut, key);
    }
    if (line) {
      report(*line, "keys." + std::string(configName(key)) + " needs a key, so it's " +
                        quotedDefaults(key));
    }
  }

  KeyBindings::Resolution finish() && {
    return {KeyBindings(std::move(table_)), std::move(problems_)};
  }

 private:
  void report(std::int64_t line, const std::string& message) {
    problems_.push_back({line, "line " + std::to_string(line) + ": " + message});
  }

  const std::vector<KeyBindings::HotKey>& hotkeys_;
  KeyBindings::Table table_;
  std::unordered_map<Shortcut, std::vector<PanelKey>> holders_;
  std::vector<KeyBindings::Problem> problems_;
};

}  // namespace

std::span<const PanelKey> allPanelKeys() {
  return kPanelKeys;
}

std::string_view configName(PanelKey key) {
  return kConfigNames.at(indexOf(key));
}

std::optional<PanelKey> panelKeyNamed(std::string_view name) {
  for (const PanelKey key : kPanelKeys) {
    if (configName(key) == name) {
      return key;
    }
  }
  return std::nullopt;
}

std::span<const std::string_view> defaultTexts(PanelKey key) {
  switch (key) {
    case PanelKey::up:
      return kUpTexts;
    case PanelKey::down:
      return kDownTexts;
    case PanelKey::open:
      return kOpenTexts;
    case PanelKey::actions:
      return kActionsTexts;
    case PanelKey::back:
      return kBackTexts;
    case PanelKey::preview:
      return kPreviewTexts;
    case PanelKey::runActions:
      return kRunActionsTexts;
    case PanelKey::toLauncher:
      return kToLauncherTexts;
  }
  return {};
}

KeyBindings KeyBindings::defaults() {
  Table table;
  for (const PanelKey key : kPanelKeys) {
    table[key] = parsedDefaults(key);
  }
  return KeyBindings(std::move(table));
}

std::span<const KeyBindings::EditingKey> KeyBindings::editingKeys() {
  static const std::vector<EditingKey> kKeys = [] {
    std::vector<EditingKey> keys;
    for (const EditingKeyName& editing : editingKeyNames()) {
      if (auto shortcut = Shortcut::parse(editing.shortcut)) {
        keys.push_back({std::move(*shortcut), std::string(editing.name)});
      }
    }
    return keys;
  }();
  return kKeys;
}

KeyBindings::Resolution KeyBindings::resolve(std::vector<Written> written,
                                             const std::vector<HotKey>& hotkeys) {
  std::stable_sort(written.begin(), written.end(),
                   [](const Written& a, const Written& b) { return a.line < b.line; });
  Resolver resolver(hotkeys);

  // An emptied open or back keeps its defaults, so nothing else may take them first.
  for (const Written& entry : written) {
    if ((entry.key == PanelKey::open || entry.key == PanelKey::back) && entry.shortcuts.empty()) {
      for (const auto& shortcut : parsedDefaults(entry.key)) {
        resolver.hold(*shortcut, entry.key);
      }
    }
  }

  std::map<PanelKey, std::int64_t> writtenLines;
  for (const Written& entry : written) {
    writtenLines.try_emplace(entry.key, entry.line);
    resolver.bind(entry.key, entry.shortcuts, entry.line);
  }
  for (const PanelKey key : kPanelKeys) {
    if (!writtenLines.contains(key)) {
      resolver.bind(key, parsedDefaults(key), std::nullopt);
    }
  }
  for (const PanelKey key : {PanelKey::open, PanelKey::back}) {
    const auto line = writtenLines.find(key);
    resolver.ensureBound(key,
                         line == writtenLines.end() ? std::nullopt : std::optional(line->second));
  }
  return std::move(resolver).finish();
}

std::vector<Shortcut> KeyBindings::operator[](PanelKey key) const {
  std::vector<Shortcut> out;
  if (const auto found = table_.find(key); found != table_.end()) {
    for (const auto& shortcut : found->second) {
      if (shortcut) {
        out.push_back(*shortcut);
      }
    }
  }
  return out;
}

const std::vector<std::optional<Shortcut>>& KeyBindings::runActions() const {
  static const std::vector<std::optional<Shortcut>> kNone;
  const auto found = table_.find(PanelKey::runActions);
  return found == table_.end() ? kNone : found->second;
}

}  // namespace vesk
