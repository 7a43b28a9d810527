#include "app/config/global_hotkeys.h"

#include <algorithm>

#include "platform/key_layout.h"

namespace vesk {

GlobalHotkeys::GlobalHotkeys(HotKeyCenter& center, KeyLayout& layout)
    : center_(center), layout_(layout) {
  layout_.setChangeHandler([this] { layoutChanged(); });
}

GlobalHotkeys::~GlobalHotkeys() {
  layout_.setChangeHandler({});
}

std::string GlobalHotkeys::refusal(const std::string& name, const Shortcut& hotkey,
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
        center_.registerHotKey(*entry->hotkey, entry->action);
    if (registration.id) {
      slot.current = Current{*entry->hotkey, *registration.id};
      continue;
    }
    std::string suffix;
    if (const std::optional<Current>& old = previous[entry->name]) {
      const HotKeyCenter::Registration again = center_.registerHotKey(old->hotkey, entry->action);
      if (again.id) {
        slot.current = Current{old->hotkey, *again.id};
        suffix = ", so it's still \"" + old->hotkey.description + "\"";
      }
    }
    slot.problem = refusal(entry->name, *entry->hotkey, registration.outcome) + suffix;
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
    if (slot.current) {
      center_.unregister(slot.current->id);
      slot.current.reset();
    }
    const HotKeyCenter::Registration registration =
        center_.registerHotKey(*target, wanted->second.action);
    if (registration.id) {
      slot.current = Current{*target, *registration.id};
      if (target == wanted->second.hotkey) {
        slot.problem.reset();
      }
    } else {
      slot.problem = refusal(name, *target, registration.outcome);
    }
  }
}

}  // namespace vesk
