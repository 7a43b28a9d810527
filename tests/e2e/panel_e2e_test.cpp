// The panel as a person uses it: hot keys, typing, ⏎ and ⎋, pasting from the clipboard list,
// with no window manager, under openbox and under xfwm4 (which refuses the focus to windows
// without a fresh user time). Screenshots of what is shown go to the build folder.

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
#include "tests/platform/linux/xvfb.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

// A window manager for one test, stopped with it; its root properties are removed after it,
// so the next test sees a bare server again.
class WindowManager {
 public:
  explicit WindowManager(const std::string& name) {
    if (name == "none") {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      if (name == "xfwm4") {
        ::execlp("dbus-run-session", "dbus-run-session", "--", "xfwm4", "--compositor=off",
                 "--sm-client-disable", nullptr);
      } else {
        ::execlp(name.c_str(), name.c_str(), nullptr);
      }
      ::_exit(127);
    }
  }
  ~WindowManager() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      Xvfb::run(
          "xprop -root -remove _NET_SUPPORTING_WM_CHECK; xprop -root -remove "
          "_NET_ACTIVE_WINDOW");
    }
  }
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  bool ready() const {
    return pid_ <= 0 ||
           pumpUntil(
               [] {
                 return Xvfb::output("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") !=
                        std::string::npos;
               },
               10s);
  }

 private:
  pid_t pid_ = -1;
};

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
  keys({"super+p"});
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
  keys({"super+p", "m", "a", "r", "k", "e", "r", "Return"});
  EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(marker); })) << vesk->log();
  EXPECT_TRUE(closed(1)) << vesk->log();
  EXPECT_EQ(field->text().toStdString(), "");
}

// Typed while the panel is still coming up: from the moment Vesk has the hot key until the
// panel holds the focus, the keys are held and replayed in order.
TEST_P(PanelE2E, KeysTypedWhileThePanelComesUpAreNotLost) {
  keys({"super+p"});
  ASSERT_TRUE(vesk->waitForLog("Presenting the launcher")) << vesk->log();
  keys({"m", "a", "r", "k", "e", "r", "Return"});
  EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(marker); })) << vesk->log();
}

TEST_P(PanelE2E, EscapeAndASecondPressCloseTheOtherHotKeySwitches) {
  keys({"super+p"});
  ASSERT_TRUE(shown(1)) << vesk->log();
  keys({"Escape"});
  ASSERT_TRUE(closed(1)) << vesk->log();
  keys({"super+p"});
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

namespace vesk::test {
namespace {

// Pictures of the panel as it is drawn on the X server, for a person to look at: launcher
// results, an actions list, the clipboard with a text, a link and an image, the empty clipboard.
class PanelPictures : public PanelE2E {
 protected:
  void save(const std::string& name) {
    pumpUntil([] { return false; }, 400ms);  // icons and thumbnails arrive
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen->geometry();
    const int x = static_cast<int>(std::lround(area.width() / 2.0 - 340));
    const int top = static_cast<int>(std::lround(area.height() / 2.0 - 211.5));
    const QPixmap picture = screen->grabWindow(0, x - 12, top - 12, 680 + 24, 423 + 24);
    std::filesystem::create_directories(VESK_SCREENSHOTS);
    EXPECT_TRUE(picture.save(QString::fromStdString(std::string(VESK_SCREENSHOTS) + "/" + name)));
  }
};

TEST_P(PanelPictures, TheListsAsDrawn) {
  // The empty clipboard first, before anything is copied.
  keys({"super+shift+v"});
  ASSERT_TRUE(shown(1)) << vesk->log();
  save("clipboard-empty.png");
  keys({"Escape"});
  ASSERT_TRUE(closed(1));

  std::filesystem::create_directories(home.home() + "/Documents/Reports");
  for (const char* name : {"Documents/Reports/quarterly-report.pdf", "Documents/report-notes.txt",
                           "Documents/Reports/report-2026.odt"}) {
    std::ofstream(home.home() + "/" + name) << "report";
  }
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard"},
                       "Meeting moved to Thursday 10:30, room 4B. Bring the quarterly numbers."),
            0);
  pumpUntil([] { return false; }, 1200ms);
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard"},
                       "https://www.example.org/articles/2026/12/keyboard-launchers-compared"),
            0);
  pumpUntil([] { return false; }, 1200ms);
  QImage image(320, 200, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x3d, 0x8b, 0xff));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(40, 20, 160, 160));
    painter.setBrush(QColor(0xff, 0x9f, 0x0a));
    painter.drawRoundedRect(QRectF(150, 60, 140, 110), 18, 18);
  }
  const std::string file = home.root() + "/picture.png";
  ASSERT_TRUE(image.save(QString::fromStdString(file)));
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard", "-t", "image/png", "-i", file}),
            0);
  pumpUntil([] { return false; }, 1500ms);

  keys({"super+shift+v"});
  ASSERT_TRUE(shown(2)) << vesk->log();
  save("clipboard-image.png");
  keys({"Down"});
  save("clipboard-link.png");
  keys({"Down"});
  save("clipboard-text.png");
  keys({"Escape"});
  ASSERT_TRUE(closed(2));

  keys({"super+p"});
  ASSERT_TRUE(shown(3)) << vesk->log();
  keys({"r", "e", "p", "o", "r", "t"});
  pumpUntil([] { return false; }, 600ms);
  save("launcher-results.png");
  keys({"super+k"});
  save("launcher-actions.png");
  keys({"Escape", "Escape"});
}

INSTANTIATE_TEST_SUITE_P(NoWindowManager, PanelPictures, testing::Values("none"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace vesk::test
