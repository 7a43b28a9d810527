#include "core/config/shortcut.h"

#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

namespace vesk {
namespace {

Shortcut parsed(const std::string& text) {
  auto shortcut = Shortcut::parse(text);
  EXPECT_TRUE(shortcut.has_value()) << text;
  return shortcut.value_or(Shortcut{});
}

TEST(Shortcut, ParsesIgnoringCaseAndSpaces) {
  const Shortcut shortcut = parsed(" Super + Shift + V ");
  EXPECT_EQ(shortcut.key, "v");
  EXPECT_EQ(shortcut.keyCode, 9U);
  EXPECT_EQ(shortcut.modifiers, 768U);
  EXPECT_EQ(shortcut.description, "shift+super+v");
  EXPECT_EQ(shortcut.symbols(), "Shift+Super+V");
  EXPECT_EQ(shortcut.caps(), (std::vector<std::string>{"Shift", "Super", "V"}));
}

TEST(Shortcut, DescriptionIsCanonicalWhateverTheNamesAndOrder) {
  const Shortcut canonical = parsed("ctrl+alt+shift+super+k");
  EXPECT_EQ(canonical.description, "ctrl+alt+shift+super+k");
  for (const std::string text :
       {"cmd+shift+alt+ctrl+k", "⌘+⇧+⌥+⌃+k", "command+option+control+shift+k",
        "super+opt+control+shift+k", "meta+alt+ctrl+⇧+K", "win+alt+ctrl+shift+cmd+command+k"}) {
    EXPECT_EQ(Shortcut::parse(text), canonical) << text;
  }
  EXPECT_EQ(parsed("cmd+command+super+k"), parsed("cmd+k"));
}

TEST(Shortcut, RefusesUnknownPiecesAndMissingKeys) {
  for (const std::string text : {"", "cmd+", "+cmd", "hyper+k", "cmd+k+j", "cmd+shift", "f21",
                                 "ctrl+enterr", "⌘v", "cmd + + k"}) {
    EXPECT_EQ(Shortcut::parse(text), std::nullopt) << text;
  }
}

TEST(Shortcut, PlusKeyIsTheEqualsKey) {
  const Shortcut plus = parsed("cmd++");
  EXPECT_EQ(plus.key, "=");
  EXPECT_EQ(plus.keyCode, 24U);
  EXPECT_EQ(plus.description, "super+=");
  EXPECT_EQ(plus, parsed("cmd+="));
  EXPECT_EQ(parsed("+").key, "=");
}

TEST(Shortcut, AliasesGiveTheCanonicalKey) {
  EXPECT_EQ(parsed("enter"), parsed("return"));
  EXPECT_EQ(parsed("enter").keyCode, 36U);
  EXPECT_EQ(parsed("esc").key, "escape");
  EXPECT_EQ(parsed("delete").key, "backspace");
  EXPECT_EQ(parsed("F20").keyCode, 90U);
}

TEST(Shortcut, GlobalAndTypingKeys) {
  EXPECT_FALSE(parsed("shift+a").isGlobal());
  EXPECT_TRUE(parsed("f5").isGlobal());
  EXPECT_FALSE(parsed("space").isGlobal());
  EXPECT_FALSE(parsed("escape").isGlobal());
  EXPECT_TRUE(parsed("alt+space").isGlobal());

  EXPECT_TRUE(parsed("space").typesText());
  EXPECT_TRUE(parsed("backspace").typesText());
  EXPECT_TRUE(parsed("shift+a").typesText());
  EXPECT_FALSE(parsed("ctrl+a").typesText());
  EXPECT_FALSE(parsed("return").typesText());
  EXPECT_FALSE(parsed("f1").typesText());
}

TEST(Shortcut, LettersFollowTheTypedCharacterNamedKeysTheKeyCode) {
  const Shortcut k = parsed("ctrl+k");
  EXPECT_TRUE(k.matches(40, Shortcut::ctrl, std::nullopt));
  EXPECT_TRUE(k.matches(9, Shortcut::ctrl, "k"));  // another layout puts k elsewhere
  EXPECT_FALSE(k.matches(40, Shortcut::ctrl, "j"));
  EXPECT_FALSE(k.matches(40, Shortcut::ctrl | Shortcut::shift, std::nullopt));
  const Shortcut enter = parsed("return");
  EXPECT_TRUE(enter.matches(36, 0, "\r"));
  EXPECT_FALSE(enter.matches(76, 0, "\r"));
}

TEST(Shortcut, SymbolsAndCapsAreTheWordsOfAPcKeyboard) {
  EXPECT_EQ(parsed("ctrl+alt+return").symbols(), "Ctrl+Alt+Enter");
  EXPECT_EQ(parsed("super+shift+ctrl+alt+v").symbols(), "Ctrl+Alt+Shift+Super+V");
  EXPECT_EQ(parsed("escape").symbols(), "Esc");
  EXPECT_EQ(parsed("escape").caps(), std::vector<std::string>{"Esc"});
  EXPECT_EQ(parsed("ctrl+alt+space").caps(), (std::vector<std::string>{"Ctrl", "Alt", "Space"}));
  EXPECT_EQ(parsed("backspace").symbols(), "Backspace");
  EXPECT_EQ(parsed("cmd+f5").symbols(), "Super+F5");
  EXPECT_EQ(parsed("shift+tab").caps(), (std::vector<std::string>{"Shift", "Tab"}));
  EXPECT_EQ(parsed("alt+up").caps(), (std::vector<std::string>{"Alt", "↑"}));
  EXPECT_EQ(parsed("ctrl++").symbols(), "Ctrl+=");
}

TEST(Shortcut, HashAgreesWithEquality) {
  std::unordered_set<Shortcut> set = {parsed("cmd+k"), parsed("command+K"), parsed("cmd+j")};
  EXPECT_EQ(set.size(), 2U);
}

}  // namespace
}  // namespace vesk
