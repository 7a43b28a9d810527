#include "app/config/hot_key_notice.h"

#include <array>
#include <string_view>
#include <vector>

#include "app/config/global_hotkeys.h"

namespace vesk {

namespace {

struct SlotWords {
  std::string_view name;
  std::string_view does;  // after the keys: "Ctrl+Alt+Space opens Vesk"
};

constexpr std::array<SlotWords, 3> kSlots = {{
    {"launcher", "opens Vesk"},
    {"clipboard", "opens its clipboard history"},
    {"paste_next", "pastes the clips one by one"},
}};

// "Ctrl+Alt+Space opens Vesk, Shift+Super+V its clipboard history"; empty when neither works.
std::string opening(const GlobalHotkeys& hotkeys) {
  const auto launcher = hotkeys.current("launcher");
  const auto clipboard = hotkeys.current("clipboard");
  if (launcher && clipboard) {
    return launcher->symbols() + " opens Vesk, " + clipboard->symbols() + " its clipboard history";
  }
  if (launcher) {
    return launcher->symbols() + " opens Vesk";
  }
  if (clipboard) {
    return clipboard->symbols() + " opens Vesk's clipboard history";
  }
  return {};
}

}  // namespace

std::optional<HotKeyNotice> HotKeyNotice::atStart(bool firstStart, const GlobalHotkeys& hotkeys,
                                                  const std::string& configFile) {
  std::vector<std::string> lines;
  std::optional<GlobalHotkeys::Refusal> only;
  for (const SlotWords& slot : kSlots) {
    const auto refusal = hotkeys.refusal(std::string(slot.name));
    if (!refusal) {
      continue;
    }
    only = lines.empty() ? refusal : std::nullopt;
    const bool taken = refusal->outcome == HotKeyService::Outcome::taken;
    lines.push_back(
        refusal->hotkey.symbols() + ", which " + std::string(slot.does) + ", " +
        (taken ? "is taken by another app or the desktop" : "couldn't be set up on this keyboard") +
        ".");
  }
  const std::string open = opening(hotkeys);
  if (lines.empty()) {
    if (!firstStart || open.empty()) {
      return std::nullopt;
    }
    return HotKeyNotice{Kind::ready, "Vesk is running", open};
  }
  std::string title = "Some hot keys of Vesk couldn't be set up";
  if (lines.size() == 1 && only) {
    title = only->outcome == HotKeyService::Outcome::taken
                ? only->hotkey.symbols() + " is taken"
                : only->hotkey.symbols() + " couldn't be set up";
  }
  std::string body;
  for (const std::string& line : lines) {
    body += line + "\n";
  }
  if (!open.empty()) {
    body += open + ".\n";
  }
  body += "Choose other keys in " + configFile + ".";
  return HotKeyNotice{Kind::refused, std::move(title), std::move(body)};
}

}  // namespace vesk
