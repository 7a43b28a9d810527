#pragma once
// FakeDesktopBindings: the desktop's own shortcuts as a table, by description ("super+p").

#include <map>
#include <optional>
#include <string>

#include "platform/desktop_bindings.h"

namespace vesk {

class FakeDesktopBindings final : public DesktopBindings {
 public:
  std::optional<Holder> holder(const Shortcut& shortcut) const override {
    const auto found = held.find(shortcut.description);
    if (found == held.end()) {
      return std::nullopt;
    }
    return found->second;
  }

  std::map<std::string, Holder> held;
};

}  // namespace vesk
