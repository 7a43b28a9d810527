// The panel as a person uses it: hot keys, typing, ⏎ and ⎋, pasting from the clipboard list,
// with no window manager, under openbox and under xfwm4 (which refuses the focus to windows
// without a fresh user time).

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <cmath>
#include <filesystem>
#include <fstream>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/e2e/vesk_process.h"
#include "tests/e2e/window_manager.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

std::string focusedName() {
  std::string name = Xvfb::output("xdotool getwindowfocus getwindowname 2>/dev/null");
  while (!name.empty() && name.back() == '\n') {
    name.pop_back();
  }
  return name;
}

class PanelE2E : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    VESK_REQUIRE_XVFB();
    if (GetParam() != "none" && Xvfb::run("command -v " + GetParam() + " >/dev/null") != 0) {
      GTEST_SKIP() << GetParam() << " isn't installed";
    }
    wm = std::make_unique<WindowManager>(GetParam());
    ASSERT_TRUE(wm->ready()) << GetParam() << " didn't start";
    marker = home.root() + "/marker";
    std::filesystem::create_directories(home.applications());
    std::ofstream(home.applications() + "/marker-maker.desktop")
        << "[Desktop Entry]\nType=Application\nName=Marker Maker\nExec=touch " << marker
        << "\nIcon=accessories-text-editor\n";
    vesk = std::make_unique<VeskProcess>(home);
    ASSERT_TRUE(vesk->start());
    ASSERT_TRUE(vesk->waitForLog("Applied config.toml", 10s)) << vesk->log();
    ASSERT_TRUE(vesk->waitForLog("Rebuilt the application index", 10s)) << vesk->log();
  }

  void TearDown() override {
    vesk.reset();
    wm.reset();
  }

  void keys(const std::vector<std::string>& names) {
    std::vector<std::string> args = {"xdotool", "key", "--delay", "0"};
    args.insert(args.end(), names.begin(), names.end());
    ASSERT_EQ(runProgram(home, args), 0);
  }

  bool shown(size_t times) const {
    return pumpUntil([&] { return vesk->count("panel drawn") >= times; });
  }
  bool closed(size_t times) const {
    return pumpUntil([&] { return vesk->count("The panel closed") >= times; });
  }

  // A text field of another window that has the focus, as the app the user was in.
  std::unique_ptr<QLineEdit> focusedField() {
    auto field = std::make_unique<QLineEdit>();
    field->setWindowTitle("vesk paste target");
    field->resize(300, 40);
    field->show();
    field->activateWindow();
    if (!pumpUntil([&] { return field->isVisible(); })) {
      return nullptr;
    }
    const std::string id = std::to_string(field->winId());
    runProgram(home, {"xdotool", "windowactivate", "--sync", id});
    runProgram(home, {"xdotool", "windowfocus", "--sync", id});
    return pumpUntil([&] { return field->hasFocus(); }) ? std::move(field) : nullptr;
  }

  Home home;
  std::string marker;
  std::unique_ptr<WindowManager> wm;
  std::unique_ptr<VeskProcess> vesk;
};

TEST_P(PanelE2E, TheLauncherHotKeyShowsAFocusedPanelAndReturnRunsTheTypedEntry) {
  keys({"ctrl+alt+space"});
  ASSERT_TRUE(shown(1)) << vesk->log();
  EXPECT_TRUE(pumpUntil([] { return focusedName() == "Vesk"; })) << focusedName();
  keys({"m", "a", "r", "k"});
  keys({"Return"});
  EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(marker); })) << vesk->log();
  EXPECT_TRUE(closed(1)) << vesk->log();
}

// Typed in the same instant as the hot key: the keyboard is held from the hot key's press on,
// so every letter reaches the panel's field, in order, and none the window the user was in.
TEST_P(PanelE2E, KeysTypedWithTheHotKeyReachThePanelAndNotTheWindowBefore) {
  const std::unique_ptr<QLineEdit> field = focusedField();
  ASSERT_TRUE(field);
  keys({"ctrl+alt+space", "m", "a", "r", "k", "e", "r", "Return"});
  EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(marker); })) << vesk->log();
  EXPECT_TRUE(closed(1)) << vesk->log();
  EXPECT_EQ(field->text().toStdString(), "");
}

// Typed while the panel is still coming up: from the moment Vesk has the hot key until the
// panel holds the focus, the keys are held and replayed in order.
TEST_P(PanelE2E, KeysTypedWhileThePanelComesUpAreNotLost) {
  keys({"ctrl+alt+space"});
  ASSERT_TRUE(vesk->waitForLog("Presenting the launcher")) << vesk->log();
  keys({"m", "a", "r", "k", "e", "r", "Return"});
  EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(marker); })) << vesk->log();
}

TEST_P(PanelE2E, EscapeAndASecondPressCloseTheOtherHotKeySwitches) {
  keys({"ctrl+alt+space"});
  ASSERT_TRUE(shown(1)) << vesk->log();
  keys({"Escape"});
  ASSERT_TRUE(closed(1)) << vesk->log();
  keys({"ctrl+alt+space"});
  ASSERT_TRUE(shown(2)) << vesk->log();
  keys({"super+shift+v"});
  pumpUntil([] { return false; }, 200ms);
  EXPECT_EQ(vesk->count("The panel closed"), 1U) << vesk->log();
  keys({"super+shift+v"});
  EXPECT_TRUE(closed(2)) << vesk->log();
}

TEST_P(PanelE2E, TheClipboardListPastesTheSecondNewestClipIntoTheWindowBefore) {
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard"}, "older clip"), 0);
  ASSERT_TRUE(vesk->waitForLog("Watching the clipboard"));
  pumpUntil([] { return false; }, 1200ms);
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard"}, "newest clip"), 0);
  pumpUntil([] { return false; }, 1200ms);

  const std::unique_ptr<QLineEdit> field = focusedField();
  ASSERT_TRUE(field);

  keys({"super+shift+v"});
  ASSERT_TRUE(shown(1)) << vesk->log();
  pumpUntil([] { return false; }, 300ms);
  keys({"Down"});
  pumpUntil([] { return false; }, 200ms);
  keys({"Return"});
  EXPECT_TRUE(pumpUntil([&] { return field->text() == "older clip"; }, 5s))
      << field->text().toStdString() << vesk->log();
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, PanelE2E, testing::Values("none", "openbox", "xfwm4"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace vesk::test
