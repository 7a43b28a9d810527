#include "core/config/shortcut.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/config/key_names.h"

namespace vesk {

namespace {

constexpr std::uint32_t kGlobalModifiers = Shortcut::cmd | Shortcut::alt | Shortcut::ctrl;

struct KeyRow {
  std::string_view name;
  std::uint32_t code;
  std::string_view canonical;  // empty: the name itself
};

// ANSI key positions.
constexpr KeyRow kKeyRows[] = {
    {"a", 0, ""},
    {"b", 11, ""},
    {"c", 8, ""},
    {"d", 2, ""},
    {"e", 14, ""},
    {"f", 3, ""},
    {"g", 5, ""},
    {"h", 4, ""},
    {"i", 34, ""},
    {"j", 38, ""},
    {"k", 40, ""},
    {"l", 37, ""},
    {"m", 46, ""},
    {"n", 45, ""},
    {"o", 31, ""},
    {"p", 35, ""},
    {"q", 12, ""},
    {"r", 15, ""},
    {"s", 1, ""},
    {"t", 17, ""},
    {"u", 32, ""},
    {"v", 9, ""},
    {"w", 13, ""},
    {"x", 7, ""},
    {"y", 16, ""},
    {"z", 6, ""},
    {"0", 29, ""},
    {"1", 18, ""},
    {"2", 19, ""},
    {"3", 20, ""},
    {"4", 21, ""},
    {"5", 23, ""},
    {"6", 22, ""},
    {"7", 26, ""},
    {"8", 28, ""},
    {"9", 25, ""},
    {"-", 27, ""},
    {"=", 24, ""},
    {"+", 24, "="},
    {"[", 33, ""},
    {"]", 30, ""},
    {"\\", 42, ""},
    {";", 41, ""},
    {"'", 39, ""},
    {",", 43, ""},
    {".", 47, ""},
    {"/", 44, ""},
    {"`", 50, ""},
    {"space", 49, ""},
    {"return", 36, ""},
    {"enter", 36, "return"},
    {"tab", 48, ""},
    {"escape", 53, ""},
    {"esc", 53, "escape"},
    {"backspace", 51, ""},
    {"delete", 51, "backspace"},
    {"left", 123, ""},
    {"right", 124, ""},
    {"up", 126, ""},
    {"down", 125, ""},
    {"f1", 122, ""},
    {"f2", 120, ""},
    {"f3", 99, ""},
    {"f4", 118, ""},
    {"f5", 96, ""},
    {"f6", 97, ""},
    {"f7", 98, ""},
    {"f8", 100, ""},
    {"f9", 101, ""},
    {"f10", 109, ""},
    {"f11", 103, ""},
    {"f12", 111, ""},
    {"f13", 105, ""},
    {"f14", 107, ""},
    {"f15", 113, ""},
    {"f16", 106, ""},
    {"f17", 64, ""},
    {"f18", 79, ""},
    {"f19", 80, ""},
    {"f20", 90, ""},
};

bool isWhiteSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isWhiteSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isWhiteSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

std::string keyWord(const std::string& key) {
  static const std::map<std::string, std::string, std::less<>> kWords = {
      {"return", "Enter"}, {"escape", "Esc"},  {"backspace", "Backspace"},
      {"tab", "Tab"},      {"space", "Space"}, {"up", "↑"},
      {"down", "↓"},       {"left", "←"},      {"right", "→"},
  };
  if (const auto found = kWords.find(key); found != kWords.end()) {
    return found->second;
  }
  std::string upper = key;
  for (char& c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return upper;
}

}  // namespace

const std::map<std::string, Shortcut::Key, std::less<>>& Shortcut::keys() {
  static const std::map<std::string, Key, std::less<>> kKeys = [] {
    std::map<std::string, Key, std::less<>> table;
    for (const KeyRow& row : kKeyRows) {
      const std::string_view canonical = row.canonical.empty() ? row.name : row.canonical;
      table.emplace(std::string(row.name), Key{row.code, std::string(canonical)});
    }
    return table;
  }();
  return kKeys;
}

std::optional<Shortcut> Shortcut::parse(std::string_view text) {
  const std::string lower = asciiLower(text);
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t plus = lower.find('+', start);
    const std::string_view piece =
        std::string_view(lower).substr(start, plus == std::string::npos ? plus : plus - start);
    pieces.push_back(trimmed(piece));
    if (plus == std::string::npos) {
      break;
    }
    start = plus + 1;
  }
  // A text ending in "++" names the "+" key.
  if (pieces.size() > 1 && pieces.back().empty() && pieces[pieces.size() - 2].empty()) {
    pieces.pop_back();
    pieces.back() = "+";
  }
  const auto found = keys().find(pieces.back());
  if (found == keys().end()) {
    return std::nullopt;
  }
  pieces.pop_back();

  const auto names = modifierNames();
  std::uint32_t modifiers = 0;
  for (const std::string_view piece : pieces) {
    const auto modifier = std::find_if(names.begin(), names.end(), [&](const ModifierName& m) {
      return std::find(m.accepted.begin(), m.accepted.end(), piece) != m.accepted.end();
    });
    if (modifier == names.end()) {
      return std::nullopt;
    }
    modifiers |= modifier->bit;
  }

  Shortcut shortcut;
  shortcut.keyCode = found->second.code;
  shortcut.modifiers = modifiers;
  shortcut.key = found->second.name;
  for (const ModifierName& modifier : names) {
    if ((modifiers & modifier.bit) != 0) {
      shortcut.description.append(modifier.canonical).append("+");
    }
  }
  shortcut.description += shortcut.key;
  return shortcut;
}

bool Shortcut::isGlobal() const {
  return (modifiers & kGlobalModifiers) != 0 || (key.size() > 1 && key.front() == 'f');
}

bool Shortcut::isCharacter() const {
  return key.size() == 1;
}

bool Shortcut::typesText() const {
  if ((modifiers & kGlobalModifiers) != 0) {
    return false;
  }
  return isCharacter() || key == "space" || key == "backspace";
}

bool Shortcut::matches(std::uint32_t typedKeyCode, std::uint32_t typedModifiers,
                       std::optional<std::string_view> character) const {
  if (typedModifiers != modifiers) {
    return false;
  }
  if (isCharacter() && character.has_value()) {
    return *character == key;
  }
  return typedKeyCode == keyCode;
}

std::string Shortcut::symbols() const {
  std::string out;
  for (const std::string& cap : caps()) {
    if (!out.empty()) {
      out += '+';
    }
    out += cap;
  }
  return out;
}

std::vector<std::string> Shortcut::caps() const {
  std::vector<std::string> out;
  for (const ModifierName& modifier : modifierNames()) {
    if ((modifiers & modifier.bit) != 0) {
      out.emplace_back(modifier.word);
    }
  }
  out.push_back(keyWord(key));
  return out;
}

}  // namespace vesk

std::size_t std::hash<vesk::Shortcut>::operator()(const vesk::Shortcut& shortcut) const noexcept {
  std::size_t seed = std::hash<std::uint32_t>()(shortcut.keyCode);
  const auto mix = [&seed](std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  };
  mix(std::hash<std::uint32_t>()(shortcut.modifiers));
  mix(std::hash<std::string>()(shortcut.key));
  mix(std::hash<std::string>()(shortcut.description));
  return seed;
}
