// The panel over the controller: the keys typed while it came up.

#include "app/launcher/launcher_panel.h"

#include <QApplication>

#include "tests/app/launcher/launcher_fixture.h"
#include "tests/fakes/fake_window_focus.h"

namespace vesk::test {
namespace {

WindowFocus::Key typed(char letter) {
  WindowFocus::Key key;
  key.qtKey = Qt::Key_A + (letter - 'a');
  key.text = std::string(1, letter);
  key.code = 38 + static_cast<uint32_t>(letter - 'a');
  return key;
}

// Hot key, "ab", Esc, "cd" in one burst, all before the panel had the focus: "ab" goes into
// the panel, Esc closes it, and "cd" is typed into the window the user came from, not into the
// hidden panel, whose next open starts empty. Where the window manager left the focus nowhere
// after a close, the keys typed after the next close still go back to that window.
TEST_F(LauncherTest, KeysTypedAfterAKeyThatClosedThePanelGoToTheWindowBefore) {
  constexpr WindowId kBefore = 42;
  FakeWindowFocus focus;
  focus.focused = kBefore;
  LauncherPanel panel(testExecutor(), controller, history, &running, &focus);
  WindowFocus::Key escape;
  escape.qtKey = Qt::Key_Escape;
  focus.held = {typed('a'), typed('b'), escape, typed('c'), typed('d')};

  panel.present(Mode::launcher, 0);
  ASSERT_TRUE(pumpUntil([&] { return !panel.isVisible(); }));
  ASSERT_TRUE(pumpUntil([&] { return focus.replayed.size() == 2; }));
  EXPECT_EQ(focus.replayed[0].text, "c");
  EXPECT_EQ(focus.replayed[1].text, "d");
  EXPECT_EQ(controller.text(), "");

  panel.present(Mode::launcher, 0);
  ASSERT_TRUE(pumpUntil([&] { return panel.isVisible(); }));
  test::pumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(controller.text(), "");
  EXPECT_EQ(focus.replayed.size(), 2U);

  panel.dismiss();
  focus.focused = 0;
  focus.held = {escape, typed('e')};
  panel.present(Mode::launcher, 0);
  ASSERT_TRUE(pumpUntil([&] { return focus.replayed.size() == 3; }));
  EXPECT_EQ(focus.replayed[2].text, "e");
}

// The preview key typed ahead of a query's rows previews the newest query's row, not the
// row that was selected when it was typed.
TEST_F(LauncherTest, ThePreviewKeyTypedAheadOfTheRowsPreviewsTheNewestQuerysRow) {
  history.record("file:" + home("Notes/todo.txt"), clock - 1);
  FakeWindowFocus focus;
  LauncherPanel panel(testExecutor(), controller, history, &running, &focus);
  HeldSearches searches(searchFiles, engine);
  WindowFocus::Key preview = typed('y');
  preview.qtKey = Qt::Key_Y;
  preview.qtModifiers = static_cast<int>(Qt::ControlModifier);
  preview.text = "\x19";
  for (const char letter : std::string("report")) {
    focus.held.push_back(typed(letter));
  }
  focus.held.push_back(preview);

  panel.present(Mode::launcher, 0);
  ASSERT_TRUE(pumpUntil([&] { return controller.text() == "report"; }));
  EXPECT_FALSE(panel.isPreviewShown());
  searches.release(searches.count() - 1);
  ASSERT_TRUE(pumpUntil([&] { return panel.isPreviewShown(); }));
  EXPECT_EQ(panel.previewURL(), controller.rows()[controller.selection()].item()->url());
  EXPECT_EQ(titles().at(controller.selection()), "report.md");
  panel.dismiss();
}

}  // namespace
}  // namespace vesk::test
