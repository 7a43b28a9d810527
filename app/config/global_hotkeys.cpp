#include "app/config/global_hotkeys.h"

#include <algorithm>

#include "app/base/log.h"
#include "platform/desktop_bindings.h"
#include "platform/key_layout.h"

namespace vesk {

GlobalHotkeys::GlobalHotkeys(HotKeyCenter& center, KeyLayout& layout,
                             const DesktopBindings* desktop)
    : center_(center), layout_(layout), desktop_(desktop) {
  layout_.setChangeHandler([this] { layoutChanged(); });
}

GlobalHotkeys::~GlobalHotkeys() {
  layout_.setChangeHandler({});
}

HotKeyCenter::Registration GlobalHotkeys::attempt(const std::string& name, const Shortcut& hotkey,
                                                  const HotKeyCenter::Action& action) {
  if (desktop_ != nullptr) {
    if (const auto holder = desktop_->holder(hotkey)) {
      Log::app.info("hotkeys.%s \"%s\" is taken by the desktop's \"%s\" binding (%s)", name.c_str(),
                    hotkey.description.c_str(), holder->name.c_str(), holder->source.c_str());
      return HotKeyCenter::Registration{std::nullopt, HotKeyService::Outcome::taken};
    }
  }
  return center_.registerHotKey(hotkey, action);
}

std::string GlobalHotkeys::problem(const std::string& name, const Shortcut& hotkey,
                                   HotKeyService::Outcome outcome) {
  const std::string head = "hotkeys." + name + " \"" + hotkey.description + "\" ";
  if (outcome == HotKeyService::Outcome::taken) {
    return head + "is taken by another app";
  }
  return head + "couldn't be set up on this keyboard";
}

void GlobalHotkeys::apply(const std::vector<Entry>& entries) {
  if (entries.empty()) {
    return;
  }
  std::vector<const Entry*> changed;
  for (const Entry& entry : entries) {
    if (std::find(names_.begin(), names_.end(), entry.name) == names_.end()) {
      names_.push_back(entry.name);
    }
    wanted_[entry.name] = Wanted{entry.hotkey, entry.action};
    Slot& slot = slots_[entry.name];
    const std::optional<Shortcut> registered =
        slot.current ? std::optional<Shortcut>(slot.current->hotkey) : std::nullopt;
    if (registered == entry.hotkey) {
      slot.problem.reset();  // Registered as wanted (or off and staying off).
      slot.refused.reset();
      continue;
    }
    changed.push_back(&entry);
  }

  // Release every changed slot before registering any, so two slots can swap hot keys.
  std::map<std::string, std::optional<Current>> previous;
  for (const Entry* entry : changed) {
    Slot& slot = slots_[entry->name];
    previous[entry->name] = slot.current;
    if (slot.current) {
      center_.unregister(slot.current->id);
    }
    slot = Slot{};
  }

  for (const Entry* entry : changed) {
    if (!entry->hotkey) {
      continue;
    }
    Slot& slot = slots_[entry->name];
    const HotKeyCenter::Registration registration =
        attempt(entry->name, *entry->hotkey, entry->action);
    if (registration.id) {
      slot.current = Current{*entry->hotkey, *registration.id};
      continue;
    }
    std::string suffix;
    if (const std::optional<Current>& old = previous[entry->name]) {
      const HotKeyCenter::Registration again = attempt(entry->name, old->hotkey, entry->action);
      if (again.id) {
        slot.current = Current{old->hotkey, *again.id};
        suffix = ", so it's still \"" + old->hotkey.description + "\"";
      }
    }
    slot.problem = problem(entry->name, *entry->hotkey, registration.outcome) + suffix;
    slot.refused = Refusal{*entry->hotkey, registration.outcome};
  }
}

std::optional<Shortcut> GlobalHotkeys::current(const std::string& name) const {
  const auto slot = slots_.find(name);
  if (slot == slots_.end() || !slot->second.current) {
    return std::nullopt;
  }
  return slot->second.current->hotkey;
}

std::vector<std::string> GlobalHotkeys::problems() const {
  std::vector<std::string> result;
  for (const std::string& name : names_) {
    const auto slot = slots_.find(name);
    if (slot != slots_.end() && slot->second.problem) {
      result.push_back(*slot->second.problem);
    }
  }
  return result;
}

std::optional<GlobalHotkeys::Refusal> GlobalHotkeys::refusal(const std::string& name) const {
  const auto slot = slots_.find(name);
  return slot == slots_.end() ? std::nullopt : slot->second.refused;
}

void GlobalHotkeys::layoutChanged() {
  for (const std::string& name : names_) {
    const auto wanted = wanted_.find(name);
    if (wanted == wanted_.end()) {
      continue;
    }
    Slot& slot = slots_[name];
    std::optional<Shortcut> target =
        slot.current ? std::optional<Shortcut>(slot.current->hotkey) : wanted->second.hotkey;
    if (!target) {
      continue;
    }
    // A key that stays where it was keeps its grab: grabbing it again would open a moment in
    // which a press goes to the focused window (the hot key right after a group switch).
    if (slot.current && !center_.keyMoved(slot.current->id, slot.current->hotkey)) {
      continue;
    }
    if (slot.current) {
      center_.unregister(slot.current->id);
      slot.current.reset();
    }
    const HotKeyCenter::Registration registration = attempt(name, *target, wanted->second.action);
    if (registration.id) {
      slot.current = Current{*target, *registration.id};
      if (target == wanted->second.hotkey) {
        slot.problem.reset();
        slot.refused.reset();
      }
    } else {
      slot.problem = problem(name, *target, registration.outcome);
      slot.refused = Refusal{*target, registration.outcome};
    }
  }
}

}  // namespace vesk
