#pragma once
// DesktopBindings: the keyboard shortcuts a desktop keeps for itself where a hot key grab can't
// see them. GNOME's and Cinnamon's window managers take their own keys before any client's grab
// and without refusing it, so a hot key they hold would be registered and never fire; the
// desktop's settings are the only place to learn of them. A key held here counts as taken.
//
// Threads: main thread. Each call reads the desktop's settings as they are now, so a shortcut
// the user changed in the desktop's settings counts at the next registration.

#include <optional>
#include <string>

#include "core/config/shortcut.h"

namespace vesk {

class DesktopBindings {
 public:
  struct Holder {
    std::string name;    // the binding: "switch-monitor", or a custom shortcut's own name
    std::string source;  // where the desktop keeps it: "org.gnome.mutter.keybindings"
  };

  virtual ~DesktopBindings() = default;

  // The desktop's binding of exactly this key with exactly these modifiers; none when the
  // desktop binds it to nothing, or keeps no bindings of this kind.
  virtual std::optional<Holder> holder(const Shortcut& shortcut) const = 0;
};

}  // namespace vesk
