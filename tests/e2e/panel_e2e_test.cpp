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

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/focused_field.h"
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

  std::unique_ptr<QLineEdit> focusedField() { return test::focusedField(home); }

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
  // Each copy is in the history before the next: a copy made before Vesk watched, or one the
  // next replaced before it was read, would not be listed.
  ASSERT_TRUE(vesk->waitForLog("Watching the clipboard"));
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard"}, "older clip"), 0);
  ASSERT_TRUE(pumpUntil([&] { return storedClips(home.database()).size() == 1; })) << vesk->log();
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard"}, "newest clip"), 0);
  ASSERT_TRUE(pumpUntil([&] {
    const auto clips = storedClips(home.database());
    return clips.size() == 2 && clips.front().text == "newest clip";
  })) << vesk->log();

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

namespace vesk::test {
namespace {

// Desktop entries as a desktop describes them, under openbox with no notification service:
// keywords find an app, its own actions run from its actions list, and what would have been
// a notification is Vesk's own message where the panel appears.
class DesktopEntriesE2E : public testing::Test {
 protected:
  void SetUp() override {
    VESK_REQUIRE_XVFB();
    if (Xvfb::run("command -v openbox >/dev/null") != 0) {
      GTEST_SKIP() << "openbox isn't installed";
    }
    wm = std::make_unique<WindowManager>("openbox");
    ASSERT_TRUE(wm->ready()) << "openbox didn't start";
    appMarker = home.root() + "/calculator-opened";
    actionMarker = home.root() + "/new-window-opened";
    std::filesystem::create_directories(home.applications());
    std::filesystem::create_directories(home.home() + "/Downloads");
    std::ofstream(home.applications() + "/vesk-test-calculator.desktop")
        << "[Desktop Entry]\nType=Application\nName=Calculator\nGenericName=Calculator\n"
        << "Keywords=math;arithmetic;\nExec=touch " << appMarker
        << "\nActions=new-window;\n\n[Desktop Action new-window]\nName=New Window\nExec=touch "
        << actionMarker << "\n";
    // No notification service answers on this session: the bus has none, or there is no bus.
    home.extra["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + home.root() + "/runtime/no-bus";
    vesk = std::make_unique<VeskProcess>(home);
    ASSERT_TRUE(vesk->start());
    ASSERT_TRUE(vesk->waitForLog("Applied config.toml", 10s)) << vesk->log();
    ASSERT_TRUE(vesk->waitForLog("Indexed app: Calculator: New Window", 10s)) << vesk->log();
  }

  void TearDown() override {
    vesk.reset();
    wm.reset();
  }

  void keys(const std::vector<std::string>& names) {
    std::vector<std::string> args = {"xdotool", "key", "--delay", "20"};
    args.insert(args.end(), names.begin(), names.end());
    ASSERT_EQ(runProgram(home, args), 0);
  }

  Home home;
  std::string appMarker;
  std::string actionMarker;
  std::unique_ptr<WindowManager> wm;
  std::unique_ptr<VeskProcess> vesk;
};

TEST_F(DesktopEntriesE2E, AKeywordFindsTheAppAndItsOwnActionRunsFromItsActions) {
  keys({"ctrl+alt+space"});
  ASSERT_TRUE(vesk->waitForLog("panel drawn")) << vesk->log();
  keys({"m", "a", "t", "h", "Return"});
  EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(appMarker); })) << vesk->log();
  ASSERT_TRUE(pumpUntil([&] { return vesk->count("The panel closed") >= 1; })) << vesk->log();

  keys({"ctrl+alt+space"});
  ASSERT_TRUE(pumpUntil([&] { return vesk->count("panel drawn") >= 2; })) << vesk->log();
  keys({"m", "a", "t", "h"});
  keys({"ctrl+k"});
  keys({"n", "e", "w", "Return"});
  EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(actionMarker); })) << vesk->log();
}

TEST_F(DesktopEntriesE2E, SavingAClipWithoutANotificationServiceShowsVesksOwnMessage) {
  ASSERT_TRUE(vesk->waitForLog("Watching the clipboard", 10s)) << vesk->log();
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard"}, "a clip to keep"), 0);
  ASSERT_TRUE(pumpUntil([&] { return !storedClips(home.database()).empty(); })) << vesk->log();
  keys({"super+shift+v"});
  ASSERT_TRUE(vesk->waitForLog("panel drawn")) << vesk->log();
  keys({"ctrl+k"});
  keys({"s", "a", "v", "e", "Return"});
  EXPECT_TRUE(vesk->waitForLog("Couldn't show the notification \"Saved to Downloads\"", 5s))
      << vesk->log();
  std::string window;
  EXPECT_TRUE(pumpUntil([&] {
    window = Xvfb::output("xdotool search --onlyvisible --name '^Saved to Downloads$'");
    return !window.empty();
  })) << vesk->log();
  if (const char* folder = VESK_SCREENSHOTS; !window.empty() && folder[0] != '\0') {
    pumpUntil([] { return false; }, 300ms);  // drawn
    std::filesystem::create_directories(folder);
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect area = screen->geometry();
    screen->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(QString::fromStdString(std::string(folder) + "/own-message-openbox.png"));
  }
  // It goes away by itself.
  EXPECT_TRUE(pumpUntil(
      [] {
        return Xvfb::output("xdotool search --onlyvisible --name '^Saved to Downloads$'").empty();
      },
      6s));
}

}  // namespace
}  // namespace vesk::test
