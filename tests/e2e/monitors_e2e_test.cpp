// The panel on two monitors side by side: it opens on the one that holds the pointer, centred on
// it, and grows downwards from a fixed top edge. Xvfb has one output only, so these tests run
// their own X server (Xorg with the dummy driver, two outputs) and skip when it can't start.

#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/e2e/vesk_process.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

constexpr int kMonitorWidth = 1280;
constexpr int kMonitorHeight = 800;

// An X server with two 1280 × 800 monitors side by side, on a display of its own.
class TwoMonitors {
 public:
  explicit TwoMonitors(const Home& home) {
    if (Xvfb::run("command -v Xorg >/dev/null && test -e /usr/lib/xorg/modules/drivers/"
                  "dummy_drv.so && command -v xrandr >/dev/null") != 0) {
      return;
    }
    const std::string config = home.root() + "/xorg.conf";
    std::ofstream(config)
        << "Section \"Device\"\n Identifier \"d\"\n Driver \"dummy\"\n"
           " VideoRam 65536\nEndSection\n"
           "Section \"Monitor\"\n Identifier \"m\"\n HorizSync 5.0 - 1000.0\n"
           " VertRefresh 5.0 - 200.0\nEndSection\n"
           "Section \"Screen\"\n Identifier \"s\"\n Device \"d\"\n Monitor \"m\"\n"
           " DefaultDepth 24\n SubSection \"Display\"\n  Depth 24\n"
           "  Virtual 2560 800\n EndSubSection\nEndSection\n"
           "Section \"ServerFlags\"\n Option \"AutoAddDevices\" \"false\"\n"
           " Option \"DontVTSwitch\" \"true\"\nEndSection\n";
    int fds[2];
    if (::pipe(fds) != 0) {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      const std::string log = home.root() + "/xorg.log";
      const int quiet = ::open("/dev/null", O_WRONLY);
      ::dup2(quiet, STDOUT_FILENO);
      ::dup2(quiet, STDERR_FILENO);
      ::execlp("Xorg", "Xorg", "-displayfd", fd.c_str(), "-config", config.c_str(), "-noreset",
               "-nolisten", "tcp", "-logfile", log.c_str(), "-novtswitch", "-sharevts",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') {
      number.push_back(c);
    }
    ::close(fds[0]);
    if (!number.empty()) {
      display_ = ":" + number;
    }
  }
  ~TwoMonitors() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  TwoMonitors(const TwoMonitors&) = delete;
  TwoMonitors& operator=(const TwoMonitors&) = delete;

  const std::string& display() const { return display_; }

  // Sets both monitors up, with the programs of `home` on this display; whether that worked.
  bool arrange(const Home& home) const {
    if (display_.empty() || home.display != display_) {
      return false;
    }
    const std::string mode = std::to_string(kMonitorWidth) + "x" + std::to_string(kMonitorHeight);
    const int added = runProgram(home, {"xrandr", "--addmode", "DUMMY1", mode});
    const int placed = runProgram(home, {"xrandr", "--output", "DUMMY0", "--mode", mode, "--pos",
                                         "0x0", "--primary", "--output", "DUMMY1", "--mode", mode,
                                         "--pos", std::to_string(kMonitorWidth) + "x0"});
    return added == 0 && placed == 0;
  }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

struct Frame {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The panel's frame on the screen, from xwininfo.
std::optional<Frame> panelFrame(const Home& home) {
  const std::string command = "DISPLAY=" + home.display + " xwininfo -name Vesk 2>/dev/null";
  std::istringstream lines(Xvfb::output(command));
  Frame frame;
  int found = 0;
  for (std::string line; std::getline(lines, line);) {
    const auto value = [&](const char* label, int& into) {
      if (const size_t at = line.find(label); at != std::string::npos) {
        into = std::stoi(line.substr(at + std::string(label).size()));
        ++found;
      }
    };
    value("Absolute upper-left X:", frame.x);
    value("Absolute upper-left Y:", frame.y);
    value("Width:", frame.width);
    value("Height:", frame.height);
  }
  return found == 4 ? std::optional<Frame>(frame) : std::nullopt;
}

TEST(PanelMonitors, ThePanelOpensOnThePointersMonitorAndGrowsDownFromItsTopEdge) {
  Home home;
  TwoMonitors server(home);
  home.display = server.display();
  if (!server.arrange(home)) {
    GTEST_SKIP() << "Xorg with the dummy driver and xrandr are needed for two monitors";
  }
  std::filesystem::create_directories(home.applications());
  std::ofstream(home.applications() + "/marker-maker.desktop")
      << "[Desktop Entry]\nType=Application\nName=Marker Maker\nExec=true\n";
  VeskProcess vesk(home);
  ASSERT_TRUE(vesk.start());
  ASSERT_TRUE(vesk.waitForLog("Applied config.toml", 10s)) << vesk.log();

  // Where the panel goes on a monitor: centred, its top edge 211.5 above the middle.
  const auto expectedX = [](int monitorX) { return monitorX + kMonitorWidth / 2 - 340; };
  const int top = static_cast<int>(std::lround(kMonitorHeight / 2.0 - 211.5));
  size_t shown = 0;
  for (const int monitorX : {kMonitorWidth, 0}) {
    ASSERT_EQ(runProgram(home, {"xdotool", "mousemove", std::to_string(monitorX + 300), "500"}), 0);
    ASSERT_EQ(runProgram(home, {"xdotool", "key", "ctrl+alt+space"}), 0);
    ASSERT_TRUE(pumpUntil([&] { return vesk.count("panel drawn") > shown; })) << vesk.log();
    ++shown;
    std::optional<Frame> frame;
    EXPECT_TRUE(pumpUntil([&] {
      frame = panelFrame(home);
      return frame && frame->x == expectedX(monitorX) && frame->y == top;
    })) << "monitor at "
        << monitorX << ": " << (frame ? frame->x : -1) << ", " << (frame ? frame->y : -1);

    // Results make it tall; its top edge stays where it was.
    ASSERT_EQ(runProgram(home, {"xdotool", "key", "--delay", "0", "m", "a", "r", "k"}), 0);
    EXPECT_TRUE(pumpUntil([&] {
      frame = panelFrame(home);
      return frame && frame->height == 423;
    })) << (frame ? frame->height : -1);
    EXPECT_EQ(frame ? frame->y : -1, top);
    EXPECT_EQ(frame ? frame->x : -1, expectedX(monitorX));

    ASSERT_EQ(runProgram(home, {"xdotool", "key", "Escape"}), 0);
    ASSERT_TRUE(pumpUntil([&] { return vesk.count("The panel closed") >= shown; })) << vesk.log();
  }
}

}  // namespace
}  // namespace vesk::test
