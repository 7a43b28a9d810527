// Pictures of the panel as the X server shows it, for a person to look at: launcher results with
// the theme's icons, an actions list with an armed Force Quit, the clipboard with a text, a link
// and an image, the empty clipboard, a PDF preview; light, dark (the desktop's palette, given
// the way KDE gives it to Qt) and at twice the density. They go to the build folder's
// "screenshots"; the ones shown in the README are copies of these.
//
// Under openbox, so that a window of this test counts as a running application ("Sketchpad").

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/vesk_process.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

struct Look {
  std::string name;  // "light", "dark", "light-2x"
  bool dark = false;
  int scale = 1;
};

void PrintTo(const Look& look, std::ostream* out) {
  *out << look.name;
}

// A desktop behind the panel: a soft gradient, so the panel's edge and shadowless corners show
// as they would over a wallpaper. Its window is this test's, listed as "Sketchpad".
class Desktop final : public QWidget {
 public:
  explicit Desktop(bool dark) : QWidget(nullptr, Qt::FramelessWindowHint), dark_(dark) {
    setWindowTitle("Sketchpad");
    setGeometry(QGuiApplication::primaryScreen()->geometry());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QLinearGradient gradient(0, 0, width(), height());
    gradient.setColorAt(0, dark_ ? QColor(0x1f, 0x2a, 0x3c) : QColor(0x9f, 0xb8, 0xd6));
    gradient.setColorAt(1, dark_ ? QColor(0x3b, 0x2a, 0x4a) : QColor(0xd8, 0xc4, 0xe0));
    painter.fillRect(rect(), gradient);
  }

 private:
  bool dark_;
};

void writeDarkKdeGlobals(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "[Colors:Window]\nBackgroundNormal=36,38,43\nForegroundNormal=238,239,"
                         "241\n\n[Colors:View]\nBackgroundNormal=28,30,34\nForegroundNormal=238,"
                         "239,241\n\n[Colors:Button]\nBackgroundNormal=49,52,58\nForegroundNormal="
                         "238,239,241\n\n[Colors:Selection]\nBackgroundNormal=61,139,255\n"
                         "ForegroundNormal=255,255,255\n\n[Icons]\nTheme=Adwaita\n";
}

void writePdf(const std::string& path) {
  QPdfWriter writer(QString::fromStdString(path));
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setResolution(72);
  QPainter painter(&writer);
  QFont title = painter.font();
  title.setPixelSize(28);
  title.setBold(true);
  painter.setFont(title);
  painter.setPen(QColor(0x1d, 0x1d, 0x1f));
  painter.drawText(QPointF(48, 80), "Quarterly report");
  QFont body = title;
  body.setPixelSize(13);
  body.setBold(false);
  painter.setFont(body);
  painter.drawText(QRectF(48, 110, 420, 80), Qt::TextWordWrap,
                   "Sales grew in every region this quarter. The figures below compare the three "
                   "months with the same months of last year.");
  const int bars[] = {120, 180, 150, 230, 200, 260};
  for (int i = 0; i < 6; ++i) {
    painter.fillRect(QRectF(60 + i * 70, 460 - bars[i], 44, bars[i]),
                     i % 2 == 0 ? QColor(0x3d, 0x8b, 0xff) : QColor(0xff, 0x9f, 0x0a));
  }
  painter.fillRect(QRectF(48, 460, 440, 1.5), QColor(0x6e, 0x6e, 0x73));
}

class PanelPictures : public testing::TestWithParam<Look> {
 protected:
  void SetUp() override {
    VESK_REQUIRE_XVFB();
    if (Xvfb::run("command -v openbox >/dev/null") != 0) {
      GTEST_SKIP() << "openbox isn't installed";
    }
    const Look& look = GetParam();
    // The system's icon themes and MIME database, and its applications besides the test's.
    home.extra["XDG_DATA_DIRS"] = home.root() + "/share:/usr/share";
    if (look.dark) {
      writeDarkKdeGlobals(home.home() + "/.config/kdeglobals");
      home.extra["QT_QPA_PLATFORMTHEME"] = "kde";
      home.extra["KDE_SESSION_VERSION"] = "5";
    }
    if (look.scale != 1) {
      home.extra["QT_SCALE_FACTOR"] = std::to_string(look.scale);
    }
    startOpenbox();
    desktop = std::make_unique<Desktop>(look.dark);
    desktop->show();
    ASSERT_TRUE(pumpUntil([&] { return desktop->isVisible(); }));
    runProgram(home, {"xdotool", "windowactivate", "--sync", std::to_string(desktop->winId())});

    std::filesystem::create_directories(home.applications());
    const auto entry = [&](const std::string& file, const std::string& name,
                           const std::string& icon, const std::string& extra) {
      std::ofstream(home.applications() + "/" + file)
          << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=true\nIcon=" << icon
          << "\n"
          << extra;
    };
    // This test's own window is Sketchpad's: Qt names its class after the program.
    entry("sketchpad.desktop", "Sketchpad", "accessories-text-editor",
          "StartupWMClass=e2e_tests\n");
    entry("report-viewer.desktop", "Report Viewer", "x-office-spreadsheet", "");
    entry("calculator.desktop", "Calculator", "accessories-calculator", "");
    std::filesystem::create_directories(home.home() + "/Documents/Reports");
    writePdf(home.home() + "/Documents/Reports/quarterly-report.pdf");
    for (const char* name : {"Documents/report-notes.txt", "Documents/Reports/report-2026.odt"}) {
      std::ofstream(home.home() + "/" + name) << "report";
    }

    vesk = std::make_unique<VeskProcess>(home);
    ASSERT_TRUE(vesk->start());
    ASSERT_TRUE(vesk->waitForLog("Applied config.toml", 10s)) << vesk->log();
    ASSERT_TRUE(vesk->waitForLog("Rebuilt the application index", 10s)) << vesk->log();
  }

  void TearDown() override {
    vesk.reset();
    desktop.reset();
    if (openbox > 0) {
      ::kill(-openbox, SIGTERM);
      int status = 0;
      ::waitpid(openbox, &status, 0);
      Xvfb::run("xprop -root -remove _NET_SUPPORTING_WM_CHECK");
    }
  }

  void startOpenbox() {
    openbox = ::fork();
    if (openbox == 0) {
      ::setpgid(0, 0);
      ::execlp("openbox", "openbox", nullptr);
      ::_exit(127);
    }
    ASSERT_TRUE(pumpUntil(
        [] {
          return Xvfb::output("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") !=
                 std::string::npos;
        },
        10s));
  }

  void keys(const std::vector<std::string>& names) {
    std::vector<std::string> args = {"xdotool", "key", "--delay", "20"};
    args.insert(args.end(), names.begin(), names.end());
    ASSERT_EQ(runProgram(home, args), 0);
  }

  bool shown(size_t times) const {
    return pumpUntil([&] { return vesk->count("panel drawn") >= times; });
  }

  // The panel (with a margin of the desktop around it), or with `whole` the screen, once what
  // is drawn has settled: icons and thumbnails arrive after the first frame.
  void save(const std::string& name, bool whole = false) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen->geometry();
    const int scale = GetParam().scale;
    const double middleX = area.width() / scale / 2.0;
    const double middleY = area.height() / scale / 2.0;
    const auto x = static_cast<int>(std::lround(middleX - 340)) * scale;
    const auto top = static_cast<int>(std::lround(middleY - 211.5)) * scale;
    const int margin = 16 * scale;
    const QRect region =
        whole ? area
              : QRect(x - margin, top - margin, 680 * scale + 2 * margin, 423 * scale + 2 * margin);
    EXPECT_TRUE(pumpUntil(
        [] { return !Xvfb::output("xdotool search --onlyvisible --name '^Vesk$'").empty(); }));
    // Settled: the same picture three times, a tenth of a second apart.
    QImage last;
    int same = 0;
    QElapsedTimer sampled;
    pumpUntil(
        [&] {
          if (sampled.isValid() && sampled.elapsed() < 100) {
            return false;
          }
          sampled.start();
          const QImage image =
              screen->grabWindow(0, region.x(), region.y(), region.width(), region.height())
                  .toImage();
          same = image == last ? same + 1 : 0;
          last = image;
          return same >= 2;
        },
        5s);
    std::filesystem::create_directories(VESK_SCREENSHOTS);
    const std::string file =
        std::string(VESK_SCREENSHOTS) + "/" + name + "-" + GetParam().name + ".png";
    EXPECT_TRUE(last.save(QString::fromStdString(file))) << file;
  }

  void copy(const std::vector<std::string>& arguments, const std::string& input, size_t clips) {
    std::vector<std::string> args = {"xclip", "-selection", "clipboard"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    ASSERT_EQ(runProgram(home, args, input), 0);
    ASSERT_TRUE(pumpUntil([&] { return storedClips(home.database()).size() >= clips; }, 5s))
        << vesk->log();
  }

  Home home;
  pid_t openbox = -1;
  std::unique_ptr<Desktop> desktop;
  std::unique_ptr<VeskProcess> vesk;
};

TEST_P(PanelPictures, EveryListAsDrawnAndAClickBesideThePreviewClosesBoth) {
  ASSERT_TRUE(vesk->waitForLog("Watching the clipboard", 10s)) << vesk->log();
  keys({"super+shift+v"});
  ASSERT_TRUE(shown(1)) << vesk->log();
  save("clipboard-empty");
  keys({"Escape"});

  copy({}, "Meeting moved to Thursday 10:30, room 4B. Bring the quarterly numbers.", 1);
  copy({}, "https://www.example.org/articles/2026/12/keyboard-launchers-compared", 2);
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
  copy({"-t", "image/png", "-i", file}, "", 3);

  keys({"super+shift+v"});
  ASSERT_TRUE(shown(2)) << vesk->log();
  save("clipboard-image");
  keys({"Down"});
  save("clipboard-link");
  keys({"Down"});
  save("clipboard-text");
  keys({"Escape"});

  keys({"ctrl+alt+space"});
  ASSERT_TRUE(shown(3)) << vesk->log();
  keys({"r", "e", "p"});
  save("launcher-results");
  keys({"BackSpace", "BackSpace", "BackSpace", "s", "k", "e", "t", "c", "h"});
  keys({"ctrl+k"});
  // Open, Reveal, Quit, Force Quit: ⏎ on the last arms it (a second ⏎ would kill this test).
  keys({"Down", "Down", "Down", "Return"});
  save("launcher-actions");
  keys({"Escape", "Escape", "ctrl+a", "q", "u", "a", "r", "t", "e", "r", "l", "y"});
  keys({"ctrl+y"});
  ASSERT_TRUE(pumpUntil([&] { return Xvfb::output("xdotool search --name 'Vesk Preview'") != ""; }))
      << vesk->log();
  save("preview", true);

  // A click on the desktop closes the preview and the panel.
  ASSERT_EQ(runProgram(home, {"xdotool", "mousemove", "8", "8", "click", "1"}), 0);
  EXPECT_TRUE(pumpUntil([&] { return vesk->count("The panel closed") >= 3; })) << vesk->log();
  EXPECT_TRUE(Xvfb::output("xdotool search --onlyvisible --name 'Vesk Preview'").empty());
}

INSTANTIATE_TEST_SUITE_P(Looks, PanelPictures,
                         testing::Values(Look{"light", false, 1}, Look{"dark", true, 1},
                                         Look{"light-2x", false, 2}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace vesk::test
