#include "app/config/global_hotkeys.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/config/hot_key_center.h"
#include "app/config/hot_key_notice.h"
#include "tests/fakes/fake_desktop_bindings.h"
#include "tests/fakes/fake_hot_key_service.h"
#include "tests/fakes/fake_key_layout.h"

namespace vesk {
namespace {

using Grab = FakeHotKeyService::Grab;

constexpr uint32_t kCmd = Shortcut::cmd;
constexpr uint32_t kShift = Shortcut::shift;
constexpr uint32_t kAlt = Shortcut::alt;
constexpr uint32_t kCtrl = Shortcut::ctrl;

Shortcut shortcut(const char* text) {
  return *Shortcut::parse(text);
}

class GlobalHotkeysTest : public testing::Test {
 protected:
  GlobalHotkeysTest() {
    // A QWERTY-like table: X key codes of the letters used below, and f5 by its virtual key.
    layout.characters = {{"p", 33}, {"v", 55}, {"c", 54}, {"x", 53}};
    layout.virtualKeys = {{96, 71}, {49, 65}};
  }

  std::vector<GlobalHotkeys::Entry> entries(std::optional<Shortcut> launcher,
                                            std::optional<Shortcut> clipboard,
                                            std::optional<Shortcut> pasteNext) {
    return {{"launcher", launcher,
             [this](double at) { pressed.push_back("launcher@" + std::to_string(at)); }},
            {"clipboard", clipboard, [this](double) { pressed.emplace_back("clipboard"); }},
            {"paste_next", pasteNext, [this](double) { pressed.emplace_back("paste_next"); }}};
  }

  FakeHotKeyService service;
  FakeKeyLayout layout;
  HotKeyCenter center{service, layout};
  FakeDesktopBindings desktop;
  GlobalHotkeys hotkeys{center, layout, &desktop};
  std::vector<std::string> pressed;
};

TEST_F(GlobalHotkeysTest, RegistersEverySlotAndRoutesPressesWithTheirTime) {
  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("cmd+shift+v"), shortcut("ctrl+alt+v")));

  EXPECT_TRUE(service.isRegistered(Grab{33, kCmd}));
  EXPECT_TRUE(service.isRegistered(Grab{55, kCmd | kShift}));
  EXPECT_TRUE(service.isRegistered(Grab{55, kCtrl | kAlt}));
  EXPECT_TRUE(hotkeys.problems().empty());

  ASSERT_TRUE(service.press(Grab{33, kCmd}, 12.5));
  ASSERT_TRUE(service.press(Grab{55, kCtrl | kAlt}));
  EXPECT_EQ(pressed, (std::vector<std::string>{"launcher@" + std::to_string(12.5), "paste_next"}));
}

TEST_F(GlobalHotkeysTest, ApplyingTheSameKeysAgainMakesNoCallAndKeepsIds) {
  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("cmd+shift+v"), std::nullopt));
  const int attempts = service.attempts;
  const auto registered = service.registered;

  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("cmd+shift+v"), std::nullopt));

  EXPECT_EQ(service.attempts, attempts);
  EXPECT_EQ(service.registered, registered);
}

TEST_F(GlobalHotkeysTest, RefusedChangeKeepsTheOldKeyAndSaysSoUntilTriedAgain) {
  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("alt+cmd+v"), std::nullopt));
  service.taken.insert(Grab{55, kCmd | kShift});

  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("cmd+shift+v"), std::nullopt));

  EXPECT_EQ(hotkeys.current("clipboard"), shortcut("alt+cmd+v"));
  EXPECT_TRUE(service.isRegistered(Grab{55, kCmd | kAlt}));
  EXPECT_EQ(hotkeys.problems(),
            (std::vector<std::string>{
                "hotkeys.clipboard \"shift+super+v\" is taken by another app, so it's still "
                "\"alt+super+v\""}));

  // The same configuration again tries the wanted key again; once free, it takes it.
  service.taken.clear();
  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("cmd+shift+v"), std::nullopt));
  EXPECT_EQ(hotkeys.current("clipboard"), shortcut("cmd+shift+v"));
  EXPECT_FALSE(service.isRegistered(Grab{55, kCmd | kAlt}));
  EXPECT_TRUE(hotkeys.problems().empty());
}

TEST_F(GlobalHotkeysTest, RefusedFirstKeyLeavesTheSlotFailedWithoutSuffix) {
  service.taken.insert(Grab{33, kCmd});

  hotkeys.apply(entries(shortcut("cmd+p"), std::nullopt, std::nullopt));

  EXPECT_EQ(hotkeys.current("launcher"), std::nullopt);
  EXPECT_EQ(hotkeys.problems(),
            (std::vector<std::string>{"hotkeys.launcher \"super+p\" is taken by another app"}));
}

TEST_F(GlobalHotkeysTest, TwoSlotsSwapTheirKeysInOneApply) {
  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("cmd+shift+v"), shortcut("ctrl+alt+v")));

  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("ctrl+alt+v"), shortcut("cmd+shift+v")));

  EXPECT_EQ(hotkeys.current("clipboard"), shortcut("ctrl+alt+v"));
  EXPECT_EQ(hotkeys.current("paste_next"), shortcut("cmd+shift+v"));
  EXPECT_TRUE(hotkeys.problems().empty());
  ASSERT_TRUE(service.press(Grab{55, kCtrl | kAlt}));
  EXPECT_EQ(pressed, std::vector<std::string>{"clipboard"});
}

TEST_F(GlobalHotkeysTest, TurningASlotOffReleasesItAndStaleIdsNeverFire) {
  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("cmd+shift+v"), std::nullopt));
  const auto old = service.registered;

  hotkeys.apply(entries(shortcut("cmd+p"), std::nullopt, std::nullopt));

  EXPECT_FALSE(service.isRegistered(Grab{55, kCmd | kShift}));
  EXPECT_TRUE(hotkeys.problems().empty());
  for (const auto& [id, grab] : old) {
    center.fire(id, 0);  // a press that was already on its way
  }
  EXPECT_EQ(pressed.size(), 1U);  // only the launcher, which is still registered
}

// A key the change leaves in place keeps its grab (and so its id): grabbing it again would let
// a press slip through in between.
TEST_F(GlobalHotkeysTest, LayoutChangeMovesLetterKeysButNotNamedKeys) {
  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("ctrl+f5"), std::nullopt));
  ASSERT_TRUE(service.isRegistered(Grab{71, kCtrl}));
  const auto before = service.registered;

  layout.change({{"p", 40}, {"v", 60}});

  EXPECT_TRUE(service.isRegistered(Grab{40, kCmd}));
  EXPECT_FALSE(service.isRegistered(Grab{33, kCmd}));
  for (const auto& [id, grab] : before) {
    if (grab == Grab{71, kCtrl}) {
      EXPECT_TRUE(service.registered.contains(id));
    }
  }
  ASSERT_TRUE(service.press(Grab{40, kCmd}));
  EXPECT_EQ(pressed.size(), 1U);
}

TEST_F(GlobalHotkeysTest, LayoutChangeKeepsAFallbackAndItsProblem) {
  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("alt+cmd+v"), std::nullopt));
  service.taken.insert(Grab{55, kCmd | kShift});
  hotkeys.apply(entries(shortcut("cmd+p"), shortcut("cmd+shift+v"), std::nullopt));
  const auto problems = hotkeys.problems();

  layout.change({{"p", 33}, {"v", 61}});

  EXPECT_EQ(hotkeys.current("clipboard"), shortcut("alt+cmd+v"));
  EXPECT_TRUE(service.isRegistered(Grab{61, kCmd | kAlt}));
  EXPECT_EQ(hotkeys.problems(), problems);
}

TEST_F(GlobalHotkeysTest, AKeyTheDesktopHoldsIsTakenWithoutAGrabAndKeepsThePreviousKey) {
  hotkeys.apply(entries(shortcut("ctrl+alt+space"), std::nullopt, std::nullopt));
  ASSERT_TRUE(service.isRegistered(Grab{65, kCtrl | kAlt}));
  desktop.held["super+p"] = {"switch-monitor", "org.gnome.mutter.keybindings"};

  hotkeys.apply(entries(shortcut("super+p"), std::nullopt, std::nullopt));

  EXPECT_FALSE(service.isRegistered(Grab{33, kCmd}));  // a grab would succeed and never fire
  EXPECT_EQ(hotkeys.current("launcher"), shortcut("ctrl+alt+space"));
  EXPECT_EQ(hotkeys.problems(),
            std::vector<std::string>{"hotkeys.launcher \"super+p\" is taken by another app, so "
                                     "it's still \"ctrl+alt+space\""});
  ASSERT_TRUE(service.press(Grab{65, kCtrl | kAlt}));
  EXPECT_EQ(pressed.size(), 1U);

  // Freed in the desktop's settings: the next apply takes it.
  desktop.held.clear();
  hotkeys.apply(entries(shortcut("super+p"), std::nullopt, std::nullopt));
  EXPECT_TRUE(service.isRegistered(Grab{33, kCmd}));
  EXPECT_TRUE(hotkeys.problems().empty());
  EXPECT_EQ(hotkeys.refusal("launcher"), std::nullopt);
}

TEST_F(GlobalHotkeysTest, StartNoticeNamesTheKeysThatOpenVeskOrThoseRefusedAndTheFile) {
  const std::string file = "/home/u/.config/vesk/config.toml";
  hotkeys.apply(
      entries(shortcut("ctrl+alt+space"), shortcut("super+shift+v"), shortcut("ctrl+alt+v")));
  const auto ready = HotKeyNotice::atStart(true, hotkeys, file);
  ASSERT_TRUE(ready.has_value());
  EXPECT_EQ(ready->kind, HotKeyNotice::Kind::ready);
  EXPECT_EQ(ready->body, "Ctrl+Alt+Space opens Vesk, Shift+Super+V its clipboard history");
  EXPECT_EQ(HotKeyNotice::atStart(false, hotkeys, file), std::nullopt);

  // Another start, where the desktop holds one key and another app the other.
  GlobalHotkeys started{center, layout, &desktop};
  desktop.held["super+p"] = {"switch-monitor", "org.gnome.mutter.keybindings"};
  service.taken.insert(Grab{71, 0});
  started.apply(entries(shortcut("super+p"), shortcut("super+shift+v"), shortcut("f5")));
  for (const bool first : {false, true}) {
    const auto refused = HotKeyNotice::atStart(first, started, file);
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->kind, HotKeyNotice::Kind::refused);
    EXPECT_EQ(refused->title, "Some hot keys of Vesk couldn't be set up");
    EXPECT_EQ(refused->body,
              "Super+P, which opens Vesk, is taken by another app or the desktop.\n"
              "F5, which pastes the clips one by one, is taken by another app or the desktop.\n"
              "Shift+Super+V opens Vesk's clipboard history.\n"
              "Choose other keys in /home/u/.config/vesk/config.toml.");
  }
  started.apply(entries(shortcut("super+p"), std::nullopt, std::nullopt));
  EXPECT_EQ(HotKeyNotice::atStart(false, started, file)->title, "Super+P is taken");
}

}  // namespace
}  // namespace vesk
