#pragma once
// PortalHotkeys: Vesk's hot key slots ("launcher", "clipboard", "paste_next") held by the desktop
// itself through GlobalShortcuts, for a Wayland session, where Vesk's own grabs only see keys
// pressed over X11 windows. Each slot that has a hot key is bound under its name, its key
// proposed as the trigger; a press runs the slot's action, as the grab's would.
//
// The desktop has the last word on keys: the ones it reports assigned (at the bind, or later
// from its settings) that differ from config.toml are problems, as is a slot it gave no key.
// Where the desktop offers no global shortcuts at all, one problem (and one log line) names the
// commands to bind in the desktop's keyboard settings instead.
//
// A new configuration rebinds only when a slot's hot key changed. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/config/global_hotkeys.h"
#include "core/config/shortcut.h"
#include "platform/global_shortcuts.h"

namespace vesk {

class PortalHotkeys final {
 public:
  // `problemsChanged` runs each time problems() changed, which is after the desktop answered.
  // `shortcuts` must outlive the object.
  PortalHotkeys(GlobalShortcuts& shortcuts, std::function<void()> problemsChanged);
  ~PortalHotkeys();
  PortalHotkeys(const PortalHotkeys&) = delete;
  PortalHotkeys& operator=(const PortalHotkeys&) = delete;
  PortalHotkeys(PortalHotkeys&&) = delete;
  PortalHotkeys& operator=(PortalHotkeys&&) = delete;

  void apply(const std::vector<GlobalHotkeys::Entry>& entries);
  std::vector<std::string> problems() const { return problems_; }

  // The portal's trigger for a hot key: modifiers in capitals, then the key's keysym name:
  // "CTRL+ALT+space", "SHIFT+LOGO+v".
  static std::string trigger(const Shortcut& hotkey);
  // A desktop's text for a key ("Meta+Space", "<Control><Alt>space", "CTRL+ALT+space"), read
  // as a hot key; none when a piece of it is no modifier or key Vesk knows.
  static std::optional<Shortcut> hotkeyOf(std::string_view trigger);

 private:
  struct Slot {
    std::string name;
    Shortcut hotkey;
  };

  void bound(const GlobalShortcuts::Outcome& outcome);
  void assign(const std::vector<GlobalShortcuts::Assigned>& assigned);
  void judge();
  void publish(std::vector<std::string> problems);
  // The commands to bind in the desktop instead, for the slots that have hot keys.
  std::string commands() const;

  GlobalShortcuts& shortcuts_;
  std::function<void()> problemsChanged_;
  std::vector<Slot> slots_;  // the slots with hot keys, as bound
  std::map<std::string, HotKeyCenter::Action> actions_;
  std::map<std::string, std::string> assigned_;  // slot name → the desktop's text for its key
  bool applied_ = false;
  std::vector<std::string> problems_;
  std::shared_ptr<PortalHotkeys*> self_;
};

}  // namespace vesk
