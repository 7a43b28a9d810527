#include "core/config/key_bindings.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vesk {
namespace {

Shortcut parsed(const std::string& text) {
  return Shortcut::parse(text).value();
}

KeyBindings::Written written(PanelKey key, std::int64_t line,
                             const std::vector<std::string>& texts) {
  KeyBindings::Written entry{key, line, {}};
  for (const std::string& text : texts) {
    entry.shortcuts.push_back(parsed(text));
  }
  return entry;
}

std::vector<KeyBindings::HotKey> defaultHotkeys() {
  return {{"launcher", parsed("ctrl+alt+space")},
          {"clipboard", parsed("super+shift+v")},
          {"paste_next", parsed("ctrl+alt+v")}};
}

std::vector<std::string> messages(const KeyBindings::Resolution& resolution) {
  std::vector<std::string> out;
  for (const auto& problem : resolution.problems) {
    out.push_back(problem.message);
  }
  return out;
}

TEST(KeyBindings, NothingWrittenGivesTheDefaults) {
  const auto resolution = KeyBindings::resolve({}, defaultHotkeys());
  EXPECT_TRUE(resolution.problems.empty());
  EXPECT_EQ(resolution.bindings, KeyBindings::defaults());
  EXPECT_EQ(resolution.bindings[PanelKey::up],
            (std::vector<Shortcut>{parsed("up"), parsed("ctrl+p")}));
  EXPECT_EQ(resolution.bindings.runActions().size(), 7U);
}

TEST(KeyBindings, PreviewAndRunActionsShareWithoutAProblem) {
  const auto resolution =
      KeyBindings::resolve({written(PanelKey::preview, 4, {"ctrl+y", "space"}),
                            written(PanelKey::runActions, 5, {"alt+1", "ctrl+y"}),
                            written(PanelKey::toLauncher, 6, {"alt+1"})},
                           defaultHotkeys());
  EXPECT_TRUE(resolution.problems.empty());
  EXPECT_EQ(resolution.bindings.runActions()[1], parsed("ctrl+y"));
  EXPECT_EQ(resolution.bindings.runActions()[0], parsed("alt+1"));
  // Preview and the way back to the launcher may not share.
  const auto clash = KeyBindings::resolve(
      {written(PanelKey::preview, 4, {"space"}), written(PanelKey::toLauncher, 5, {"space"})},
      defaultHotkeys());
  EXPECT_EQ(messages(clash),
            std::vector<std::string>{"line 5: keys.to_launcher \"space\" is already keys.preview, "
                                     "so it's left out"});
}

TEST(KeyBindings, RepeatedShortcutIsThereTwice) {
  const auto resolution =
      KeyBindings::resolve({written(PanelKey::up, 3, {"up", "up"})}, defaultHotkeys());
  EXPECT_EQ(messages(resolution),
            std::vector<std::string>{"line 3: keys.up \"up\" is there twice, so it's left out"});
  EXPECT_EQ(resolution.bindings[PanelKey::up], std::vector<Shortcut>{parsed("up")});
}

TEST(KeyBindings, EarlierLineKeepsASharedShortcutInEitherOrder) {
  const auto upFirst = KeyBindings::resolve(
      {written(PanelKey::down, 8, {"ctrl+k"}), written(PanelKey::up, 7, {"up", "ctrl+k"})},
      defaultHotkeys());
  EXPECT_EQ(messages(upFirst),
            std::vector<std::string>{
                "line 8: keys.down \"ctrl+k\" is already keys.up, so it's left out"});
  EXPECT_EQ(upFirst.bindings[PanelKey::down], std::vector<Shortcut>{});

  const auto downFirst = KeyBindings::resolve(
      {written(PanelKey::down, 7, {"ctrl+k"}), written(PanelKey::up, 8, {"up", "ctrl+k"})},
      defaultHotkeys());
  EXPECT_EQ(messages(downFirst),
            std::vector<std::string>{
                "line 8: keys.up \"ctrl+k\" is already keys.down, so it's left out"});
  EXPECT_EQ(downFirst.bindings[PanelKey::up], std::vector<Shortcut>{parsed("up")});
}

TEST(KeyBindings, WrittenKeySilentlyTakesAnUnwrittenDefault) {
  const auto resolution =
      KeyBindings::resolve({written(PanelKey::actions, 2, {"ctrl+p"})}, defaultHotkeys());
  EXPECT_TRUE(resolution.problems.empty());
  EXPECT_EQ(resolution.bindings[PanelKey::up], std::vector<Shortcut>{parsed("up")});
  EXPECT_EQ(resolution.bindings[PanelKey::actions], std::vector<Shortcut>{parsed("ctrl+p")});
}

TEST(KeyBindings, HotKeysAndEditingKeysAreNotPanelKeys) {
  const auto resolution = KeyBindings::resolve(
      {written(PanelKey::actions, 2, {"ctrl+c", "alt+ctrl+space", "shift+ctrl+z"})},
      defaultHotkeys());
  EXPECT_EQ(messages(resolution),
            (std::vector<std::string>{
                "line 2: keys.actions \"ctrl+c\" is Copy in the search field, so it's left out",
                "line 2: keys.actions \"ctrl+alt+space\" is hotkeys.launcher, so it's left out",
                "line 2: keys.actions \"ctrl+shift+z\" is Redo in the search field, so it's left "
                "out"}));
  // A default that is now a hot key is dropped without a word.
  const auto silent =
      KeyBindings::resolve({}, {{"launcher", parsed("ctrl+k")}, {"clipboard", parsed("down")}});
  EXPECT_TRUE(silent.problems.empty());
  EXPECT_TRUE(silent.bindings[PanelKey::actions].empty());
  EXPECT_EQ(silent.bindings[PanelKey::down], std::vector<Shortcut>{parsed("ctrl+n")});
}

TEST(KeyBindings, LeftOutRunActionKeepsItsPosition) {
  const auto resolution = KeyBindings::resolve(
      {written(PanelKey::runActions, 6, {"cmd+q", "ctrl+c", "cmd+e"})}, defaultHotkeys());
  ASSERT_EQ(resolution.bindings.runActions().size(), 3U);
  EXPECT_EQ(resolution.bindings.runActions()[0], parsed("cmd+q"));
  EXPECT_EQ(resolution.bindings.runActions()[1], std::nullopt);
  EXPECT_EQ(resolution.bindings.runActions()[2], parsed("cmd+e"));
  EXPECT_EQ(resolution.bindings[PanelKey::runActions].size(), 2U);
}

TEST(KeyBindings, OpenAndBackAlwaysHaveAKey) {
  const auto emptied = KeyBindings::resolve(
      {written(PanelKey::open, 9, {}), written(PanelKey::up, 3, {"return"})}, defaultHotkeys());
  EXPECT_EQ(
      messages(emptied),
      (std::vector<std::string>{"line 3: keys.up \"return\" is already keys.open, so it's left out",
                                "line 9: keys.open needs a key, so it's \"return\""}));
  EXPECT_EQ(emptied.bindings[PanelKey::open], std::vector<Shortcut>{parsed("return")});

  const auto taken =
      KeyBindings::resolve({written(PanelKey::back, 4, {"ctrl+v"})}, defaultHotkeys());
  EXPECT_EQ(messages(taken),
            (std::vector<std::string>{
                "line 4: keys.back \"ctrl+v\" is Paste in the search field, so it's left out",
                "line 4: keys.back needs a key, so it's \"escape\""}));
  EXPECT_EQ(taken.bindings[PanelKey::back], std::vector<Shortcut>{parsed("escape")});

  // Other keys may be switched off.
  const auto off = KeyBindings::resolve({written(PanelKey::preview, 2, {})}, defaultHotkeys());
  EXPECT_TRUE(off.problems.empty());
  EXPECT_TRUE(off.bindings[PanelKey::preview].empty());
}

TEST(KeyBindings, ConfigNamesRoundTrip) {
  for (const PanelKey key : allPanelKeys()) {
    EXPECT_EQ(panelKeyNamed(configName(key)), key);
  }
  EXPECT_EQ(panelKeyNamed("runActions"), std::nullopt);
}

}  // namespace
}  // namespace vesk
