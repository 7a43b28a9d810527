#pragma once
// GlobalHotkeys: Vesk's named hot key slots ("launcher", "clipboard", "paste_next") over the
// hot key center. `apply` registers what the configuration asks for; a slot whose new hot key is
// refused keeps its old one when it can, and says so in its problem line. Every slot is
// registered again when the keyboard layout changes, so letter hot keys follow the layout.
//
// A hot key the desktop keeps for itself (`DesktopBindings`) is taken, whatever the hot key
// service would answer: it is not registered, and the log line names the desktop's binding.
//
// A slot is off (nothing wanted), registered (the wanted hot key), in fallback (the previous hot
// key, with a problem) or failed (nothing registered, with a problem).
//
// Main thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/config/hot_key_center.h"
#include "core/config/shortcut.h"

namespace vesk {

class DesktopBindings;
class KeyLayout;

class GlobalHotkeys final {
 public:
  // A slot's hot key that isn't registered, and why.
  struct Refusal {
    Shortcut hotkey;
    HotKeyService::Outcome outcome = HotKeyService::Outcome::failed;
  };

  struct Entry {
    std::string name;
    std::optional<Shortcut> hotkey;  // none: the slot is off
    HotKeyCenter::Action action;
  };

  // Subscribes to layout changes of `layout` for the object's lifetime. `desktop` may be null
  // (the desktop keeps no bindings of its own); it must outlive the object.
  GlobalHotkeys(HotKeyCenter& center, KeyLayout& layout, const DesktopBindings* desktop = nullptr);
  ~GlobalHotkeys();
  GlobalHotkeys(const GlobalHotkeys&) = delete;
  GlobalHotkeys& operator=(const GlobalHotkeys&) = delete;

  void apply(const std::vector<Entry>& entries);
  // The hot key registered in the slot now; none when it is off, failed or unknown.
  std::optional<Shortcut> current(const std::string& name) const;
  // Each slot's problem, in the order slots first appeared.
  std::vector<std::string> problems() const;
  // The hot key of the slot's problem, if it has one.
  std::optional<Refusal> refusal(const std::string& name) const;
  // Registers every slot again for the new layout.
  void layoutChanged();

 private:
  struct Current {
    Shortcut hotkey;
    uint32_t id = 0;
  };
  struct Slot {
    std::optional<Current> current;
    std::optional<std::string> problem;
    std::optional<Refusal> refused;  // set with `problem`
  };
  struct Wanted {
    std::optional<Shortcut> hotkey;
    HotKeyCenter::Action action;
  };

  // Registers `hotkey` for the slot `name`, unless the desktop holds it.
  HotKeyCenter::Registration attempt(const std::string& name, const Shortcut& hotkey,
                                     const HotKeyCenter::Action& action);
  static std::string problem(const std::string& name, const Shortcut& hotkey,
                             HotKeyService::Outcome outcome);

  HotKeyCenter& center_;
  KeyLayout& layout_;
  const DesktopBindings* desktop_;
  std::vector<std::string> names_;
  std::map<std::string, Slot> slots_;
  std::map<std::string, Wanted> wanted_;
};

}  // namespace vesk
