#pragma once
// PanelKey and KeyBindings: which shortcuts each action inside the panel answers to, and the
// rules that settle conflicts between panel keys, the global hot keys and the editing keys of
// every text field. Plain values.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/shortcut.h"

namespace vesk {

// The actions of the panel, in the order of their configuration names.
enum class PanelKey { up, down, open, actions, back, preview, runActions, toLauncher };

// Every panel key, in order.
std::span<const PanelKey> allPanelKeys();
// "up", "down", "open", "actions", "back", "preview", "run_actions", "to_launcher".
std::string_view configName(PanelKey key);
std::optional<PanelKey> panelKeyNamed(std::string_view name);
// The key texts a panel key has when the configuration does not name it.
std::span<const std::string_view> defaultTexts(PanelKey key);

class KeyBindings {
 public:
  // Absent positions occur only in runActions, where position i runs action i + 1, so an
  // empty position keeps the following shortcuts on their action numbers.
  using Table = std::map<PanelKey, std::vector<std::optional<Shortcut>>>;

  struct EditingKey {
    Shortcut shortcut;
    std::string name;  // "Copy"
  };

  // A panel key the configuration file names, with the line of its key. An absent shortcut
  // (kept from an earlier run-actions list) holds its position.
  struct Written {
    PanelKey key = PanelKey::up;
    std::int64_t line = 0;
    std::vector<std::optional<Shortcut>> shortcuts;
  };

  // A global hot key that is on: "launcher", "clipboard" or "paste_next".
  struct HotKey {
    std::string name;
    Shortcut shortcut;
  };

  struct Problem {
    std::int64_t line = 0;
    std::string message;  // already prefixed "line N: "
    bool operator==(const Problem&) const = default;
  };

  struct Resolution;

  KeyBindings() = default;
  explicit KeyBindings(Table table) : table_(std::move(table)) {}

  // Every panel key bound to its default texts.
  static KeyBindings defaults();
  // The keys every text field uses for Cut, Copy, Paste, Select All, Undo and Redo.
  static std::span<const EditingKey> editingKeys();

  // Binds the written panel keys (earlier lines first) and then the defaults of the others,
  // leaving out every shortcut that is a hot key, an editing key or already another panel
  // key's. `hotkeys` are in the order launcher, clipboard, paste_next. Never fails: each
  // written shortcut left out is one problem.
  static Resolution resolve(std::vector<Written> written, const std::vector<HotKey>& hotkeys);

  // The key's shortcuts, empty positions skipped.
  std::vector<Shortcut> operator[](PanelKey key) const;
  // The run-actions list with its empty positions.
  const std::vector<std::optional<Shortcut>>& runActions() const;
  const Table& table() const { return table_; }

  bool operator==(const KeyBindings&) const = default;

 private:
  Table table_;
};

struct KeyBindings::Resolution {
  KeyBindings bindings;
  std::vector<Problem> problems;
};

}  // namespace vesk
