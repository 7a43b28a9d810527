// Keys pressed in the panel: Qt's keys as shortcut codes, and which panel key a key is.

#include "app/launcher/panel_keys.h"

#include <QKeyEvent>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vesk {
namespace {

struct Calls {
  std::vector<std::string> log;
  bool performs = true;
  bool runs = true;
  PanelKeys::Handlers handlers() {
    return {[this](size_t n) {
              log.push_back("run " + std::to_string(n));
              return runs;
            },
            [this](PanelKey key) {
              log.push_back(std::string(configName(key)));
              return performs;
            }};
  }
};

TypedKey typed(int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
               const QString& text = {}, bool repeat = false) {
  const QKeyEvent event(QEvent::KeyPress, qtKey, modifiers, text, repeat);
  const auto key = PanelKeys::fromQt(event);
  EXPECT_TRUE(key.has_value());
  return key.value_or(TypedKey{});
}

TEST(PanelKeys, KeypadEnterIsReturnAndSuperIsCommand) {
  EXPECT_EQ(typed(Qt::Key_Enter, Qt::KeypadModifier).keyCode, 36U);
  EXPECT_EQ(typed(Qt::Key_Return).keyCode, 36U);
  const TypedKey k = typed(Qt::Key_K, Qt::MetaModifier | Qt::ShiftModifier, "K");
  EXPECT_EQ(k.modifiers, Shortcut::cmd | Shortcut::shift);
  EXPECT_EQ(k.character, "k");
  // With Control the text is a control character; the key still names the letter.
  EXPECT_EQ(typed(Qt::Key_J, Qt::ControlModifier, QString(QChar(10))).character, "j");
  const QKeyEvent shiftAlone(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
  EXPECT_FALSE(PanelKeys::fromQt(shiftAlone));
}

TEST(PanelKeys, TextKeysArePanelKeysOnlyWhileTheFieldIsEmpty) {
  const KeyBindings keys = KeyBindings::defaults();
  Calls calls;
  // "space" previews with an empty field and types a space otherwise.
  EXPECT_TRUE(
      PanelKeys::handleKey(typed(Qt::Key_Space, {}, " "), keys, true, false, calls.handlers()));
  EXPECT_FALSE(
      PanelKeys::handleKey(typed(Qt::Key_Space, {}, " "), keys, false, false, calls.handlers()));
  // "backspace" goes back to the launcher only from an empty field.
  EXPECT_FALSE(
      PanelKeys::handleKey(typed(Qt::Key_Backspace), keys, false, false, calls.handlers()));
  EXPECT_EQ(calls.log, (std::vector<std::string>{"preview"}));

  // A preview with nothing to preview is not consumed: the space is typed.
  calls.performs = false;
  EXPECT_FALSE(
      PanelKeys::handleKey(typed(Qt::Key_Space, {}, " "), keys, true, false, calls.handlers()));
  // A named key is consumed even when it did nothing.
  EXPECT_TRUE(PanelKeys::handleKey(typed(Qt::Key_Return), keys, false, false, calls.handlers()));
}

TEST(PanelKeys, HeldKeysRepeatOnlyForUpAndDown) {
  const KeyBindings keys = KeyBindings::defaults();
  Calls calls;
  EXPECT_TRUE(PanelKeys::handleKey(typed(Qt::Key_Down, {}, {}, true), keys, false, false,
                                   calls.handlers()));
  EXPECT_TRUE(PanelKeys::handleKey(typed(Qt::Key_Return, {}, {}, true), keys, false, false,
                                   calls.handlers()));
  EXPECT_TRUE(PanelKeys::handleKey(typed(Qt::Key_Escape, {}, {}, true), keys, false, false,
                                   calls.handlers()));
  EXPECT_EQ(calls.log, (std::vector<std::string>{"down"}));
}

TEST(PanelKeys, RunActionKeysWinInASublistAndFallThroughWithoutThatAction) {
  // Preview and a run-action key may share a shortcut: here Ctrl+Y is also the sixth action.
  std::vector<std::optional<Shortcut>> run;
  for (const char* text : {"alt+1", "alt+2", "alt+3", "alt+4", "alt+5", "ctrl+y"}) {
    run.push_back(Shortcut::parse(text));
  }
  const KeyBindings keys = KeyBindings::resolve({{PanelKey::runActions, 1, run}}, {}).bindings;
  Calls calls;
  const TypedKey ctrlY = typed(Qt::Key_Y, Qt::ControlModifier, QString(QChar(25)));
  // In an actions list Ctrl+Y runs the sixth action; at the top level it previews.
  EXPECT_TRUE(PanelKeys::handleKey(ctrlY, keys, true, true, calls.handlers()));
  EXPECT_TRUE(PanelKeys::handleKey(ctrlY, keys, true, false, calls.handlers()));
  EXPECT_EQ(calls.log, (std::vector<std::string>{"run 5", "preview"}));

  // A list with fewer actions lets the key go on to the panel keys.
  calls.log.clear();
  calls.runs = false;
  EXPECT_TRUE(PanelKeys::handleKey(ctrlY, keys, true, true, calls.handlers()));
  EXPECT_EQ(calls.log, (std::vector<std::string>{"run 5", "preview"}));
  // Alt+1, the first action's default, never types a digit into the field.
  calls.log.clear();
  calls.runs = true;
  EXPECT_TRUE(PanelKeys::handleKey(typed(Qt::Key_1, Qt::AltModifier, "1"), KeyBindings::defaults(),
                                   false, true, calls.handlers()));
  EXPECT_EQ(calls.log, (std::vector<std::string>{"run 0"}));
}

}  // namespace
}  // namespace vesk
