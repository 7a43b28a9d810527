#include "app/config/portal_hotkeys.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "app/base/log.h"

namespace vesk {
namespace {

struct SlotText {
  std::string_view name;
  std::string_view description;  // shown in the desktop's settings
  std::string_view command;      // what to bind instead where there is no portal
};

constexpr std::array<SlotText, 3> kSlots = {{
    {"launcher", "Open the launcher", "vesk --launcher"},
    {"clipboard", "Show the clipboard history", "vesk --clipboard"},
    {"paste_next", "Paste the next clip", "vesk --paste-next"},
}};

const SlotText* slotText(std::string_view name) {
  for (const SlotText& slot : kSlots) {
    if (slot.name == name) {
      return &slot;
    }
  }
  return nullptr;
}

// Vesk's key names that differ from the X keysym names the portal's triggers use.
struct KeysymName {
  std::string_view key;
  std::string_view keysym;
};

constexpr std::array<KeysymName, 19> kKeysyms = {{
    {"-", "minus"},        {"=", "equal"},       {"[", "bracketleft"},
    {"]", "bracketright"}, {"\\", "backslash"},  {";", "semicolon"},
    {"'", "apostrophe"},   {",", "comma"},       {".", "period"},
    {"/", "slash"},        {"`", "grave"},       {"return", "Return"},
    {"tab", "Tab"},        {"escape", "Escape"}, {"backspace", "BackSpace"},
    {"left", "Left"},      {"right", "Right"},   {"up", "Up"},
    {"down", "Down"},
}};

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
    text.remove_suffix(1);
  }
  return text;
}

// A desktop's name of a modifier as Vesk's; empty when it is none.
std::string_view modifierOf(const std::string& piece) {
  static const std::map<std::string, std::string_view, std::less<>> kNames = {
      {"ctrl", "ctrl"},  {"control", "ctrl"}, {"primary", "ctrl"}, {"alt", "alt"},
      {"mod1", "alt"},   {"shift", "shift"},  {"super", "super"},  {"logo", "super"},
      {"meta", "super"}, {"win", "super"},    {"mod4", "super"},
  };
  const auto found = kNames.find(piece);
  return found == kNames.end() ? std::string_view() : found->second;
}

// A desktop's name of a key (a keysym name or a word) as Vesk's.
std::string keyOf(const std::string& piece) {
  for (const KeysymName& name : kKeysyms) {
    if (lower(name.keysym) == piece) {
      return std::string(name.key);
    }
  }
  if (piece == "plus") {
    return "+";
  }
  return piece;
}

}  // namespace

PortalHotkeys::PortalHotkeys(GlobalShortcuts& shortcuts, std::function<void()> problemsChanged)
    : shortcuts_(shortcuts),
      problemsChanged_(std::move(problemsChanged)),
      self_(std::make_shared<PortalHotkeys*>(this)) {
  shortcuts_.setActivationHandler([this](const std::string& id, double at) {
    const auto action = actions_.find(id);
    if (action == actions_.end() || !action->second) {
      return;
    }
    const HotKeyCenter::Action run = action->second;  // may apply a new config while it runs
    run(at);
  });
  shortcuts_.setChangeHandler([this](const std::vector<GlobalShortcuts::Assigned>& assigned) {
    assign(assigned);
    judge();
  });
}

PortalHotkeys::~PortalHotkeys() {
  *self_ = nullptr;
  shortcuts_.setActivationHandler({});
  shortcuts_.setChangeHandler({});
}

std::string PortalHotkeys::trigger(const Shortcut& hotkey) {
  std::string out;
  constexpr std::array<std::pair<uint32_t, std::string_view>, 4> kModifiers = {
      {{Shortcut::ctrl, "CTRL"},
       {Shortcut::alt, "ALT"},
       {Shortcut::shift, "SHIFT"},
       {Shortcut::cmd, "LOGO"}}};
  for (const auto& [bit, name] : kModifiers) {
    if ((hotkey.modifiers & bit) != 0) {
      out.append(name).append("+");
    }
  }
  for (const KeysymName& name : kKeysyms) {
    if (name.key == hotkey.key) {
      return out.append(name.keysym);
    }
  }
  if (hotkey.key.size() > 1 && hotkey.key.front() == 'f') {
    return out.append("F").append(hotkey.key.substr(1));  // F1 … F20
  }
  return out.append(hotkey.key);  // letters, digits, space
}

std::optional<Shortcut> PortalHotkeys::hotkeyOf(std::string_view trigger) {
  // GTK's accelerator form, "<Control><Alt>space", becomes "Control+Alt+space".
  std::string text;
  int open = 0;
  for (const char c : trimmed(trigger)) {
    if (c == '<') {
      ++open;
    } else if (c == '>' && open > 0) {
      --open;
      text += '+';
    } else {
      text += c;
    }
  }
  if (open > 0) {
    return std::nullopt;
  }
  std::string key;
  std::string rest;
  if (text.size() > 1 && text.ends_with("++")) {
    key = "+";
    rest = text.substr(0, text.size() - 2);
  } else {
    const size_t plus = text.rfind('+');
    key = plus == std::string::npos ? text : text.substr(plus + 1);
    rest = plus == std::string::npos ? std::string() : text.substr(0, plus);
  }
  std::string canonical;
  size_t start = 0;
  while (!rest.empty() && start <= rest.size()) {
    const size_t plus = std::min(rest.find('+', start), rest.size());
    const std::string_view modifier = modifierOf(lower(trimmed(rest.substr(start, plus - start))));
    if (modifier.empty()) {
      return std::nullopt;
    }
    canonical.append(modifier).append("+");
    start = plus + 1;
  }
  const std::string name = keyOf(lower(trimmed(key)));
  if (name.empty()) {
    return std::nullopt;
  }
  return Shortcut::parse(canonical + (name == "+" ? "+" : name));
}

void PortalHotkeys::apply(const std::vector<GlobalHotkeys::Entry>& entries) {
  std::vector<Slot> keyed;
  actions_.clear();
  for (const GlobalHotkeys::Entry& entry : entries) {
    actions_[entry.name] = entry.action;
    if (entry.hotkey) {
      keyed.push_back({entry.name, *entry.hotkey});
    }
  }
  const auto same = [](const Slot& a, const Slot& b) {
    return a.name == b.name && a.hotkey == b.hotkey;
  };
  if (applied_ && std::equal(keyed.begin(), keyed.end(), slots_.begin(), slots_.end(), same)) {
    return;  // The desktop holds these already; binding again may ask the user again.
  }
  applied_ = true;
  slots_ = std::move(keyed);
  assigned_.clear();
  problems_.clear();  // about the keys before; the caller publishes the problems after applying
  std::vector<GlobalShortcuts::Wanted> wanted;
  for (const Slot& slot : slots_) {
    const SlotText* text = slotText(slot.name);
    wanted.push_back({slot.name, text != nullptr ? std::string(text->description) : slot.name,
                      trigger(slot.hotkey)});
  }
  std::weak_ptr<PortalHotkeys*> weak = self_;
  shortcuts_.bind(std::move(wanted), [weak](const GlobalShortcuts::Outcome& outcome) {
    if (const auto self = weak.lock(); self && *self != nullptr) {
      (*self)->bound(outcome);
    }
  });
}

void PortalHotkeys::bound(const GlobalShortcuts::Outcome& outcome) {
  using Kind = GlobalShortcuts::Outcome::Kind;
  if (outcome.kind != Kind::bound) {
    const std::string bindable = commands();
    if (bindable.empty()) {
      publish({});
      return;
    }
    Log::app.info("Hot keys: X11 apps only, as %s; bind %s in the desktop's keyboard settings",
                  outcome.reason.c_str(), bindable.c_str());
    publish({"Hot keys only reach X11 apps in this Wayland session (" + outcome.reason +
             "): bind " + bindable + " in your desktop's keyboard settings"});
    return;
  }
  assign(outcome.assigned);
  std::string keys;
  for (const Slot& slot : slots_) {
    const auto assigned = assigned_.find(slot.name);
    keys += (keys.empty() ? "" : ", ") + slot.name + " " +
            (assigned == assigned_.end() || assigned->second.empty() ? "none" : assigned->second);
  }
  if (!slots_.empty()) {
    Log::app.info("Hot keys: the desktop's, through org.freedesktop.portal.GlobalShortcuts (%s)",
                  keys.c_str());
  }
  judge();
}

void PortalHotkeys::assign(const std::vector<GlobalShortcuts::Assigned>& assigned) {
  for (const GlobalShortcuts::Assigned& shortcut : assigned) {
    assigned_[shortcut.id] = shortcut.trigger;
  }
}

void PortalHotkeys::judge() {
  std::vector<std::string> problems;
  for (const Slot& slot : slots_) {
    const std::string head = "hotkeys." + slot.name + " \"" + slot.hotkey.description + "\" ";
    const auto assigned = assigned_.find(slot.name);
    if (assigned == assigned_.end() || trimmed(assigned->second).empty()) {
      problems.push_back(head + "has no key in your desktop's settings");
      continue;
    }
    const std::optional<Shortcut> key = hotkeyOf(assigned->second);
    if (key && key->modifiers == slot.hotkey.modifiers && key->key == slot.hotkey.key) {
      continue;
    }
    const std::string shown = key ? key->description : std::string(trimmed(assigned->second));
    std::string problem = head;
    problem.append("is \"").append(shown).append("\" in your desktop's settings");
    problems.push_back(std::move(problem));
  }
  publish(std::move(problems));
}

void PortalHotkeys::publish(std::vector<std::string> problems) {
  if (problems == problems_) {
    return;
  }
  problems_ = std::move(problems);
  if (problemsChanged_) {
    problemsChanged_();
  }
}

std::string PortalHotkeys::commands() const {
  std::vector<std::string> pairs;
  for (const Slot& slot : slots_) {
    if (const SlotText* text = slotText(slot.name)) {
      std::string pair = "\"";
      pair.append(slot.hotkey.description).append("\" to \"").append(text->command).append("\"");
      pairs.push_back(std::move(pair));
    }
  }
  std::string out;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) {
      out += i + 1 == pairs.size() ? " and " : ", ";
    }
    out += pairs[i];
  }
  return out;
}

}  // namespace vesk
