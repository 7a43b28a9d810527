// The shell: a second start, configuration edits that move hot keys, and application folders.

#include <QElapsedTimer>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/vesk_process.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

void writeText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  // Through a temporary file and a rename, as editors save.
  const std::string temporary = path + ".tmp-save";
  std::ofstream(temporary, std::ios::binary) << text;
  std::filesystem::rename(temporary, path);
}

class ShellE2E : public testing::Test {
 protected:
  void SetUp() override {
    VESK_REQUIRE_XVFB();
    vesk = std::make_unique<VeskProcess>(home);
  }

  void startVesk() {
    ASSERT_TRUE(vesk->start());
    ASSERT_TRUE(vesk->waitForLog("Applied config.toml", 10s)) << vesk->log();
  }

  Home home;
  std::unique_ptr<VeskProcess> vesk;
};

TEST_F(ShellE2E, StartingVeskAgainPresentsTheLauncherOfTheRunningOne) {
  startVesk();
  EXPECT_EQ(runProgram(home, {VESK_BINARY}), 0);
  EXPECT_TRUE(vesk->waitForLog("Presenting the launcher")) << vesk->log();
}

// What a window manager's or a Wayland desktop's own key binding runs.
TEST_F(ShellE2E, EachHotKeyJobCanBeAskedOfTheRunningVeskFromTheCommandLine) {
  startVesk();
  EXPECT_EQ(runProgram(home, {VESK_BINARY, "--clipboard"}), 0);
  EXPECT_TRUE(vesk->waitForLog("Presenting the clipboard history")) << vesk->log();
  EXPECT_EQ(runProgram(home, {VESK_BINARY, "--clipboard"}), 0);  // shown: hides it, as the key
  EXPECT_TRUE(vesk->waitForLog("The panel closed")) << vesk->log();
  EXPECT_EQ(runProgram(home, {VESK_BINARY, "--launcher"}), 0);
  EXPECT_TRUE(vesk->waitForLog("Presenting the launcher")) << vesk->log();
  EXPECT_EQ(runProgram(home, {VESK_BINARY, "--paste-next"}), 0);
  EXPECT_TRUE(vesk->waitForLog("as asked by vesk --paste-next")) << vesk->log();
  EXPECT_EQ(runProgram(home, {VESK_BINARY, "--bogus"}), 2);
  EXPECT_EQ(vesk->count("Presenting"), 2U) << vesk->log();
}

TEST_F(ShellE2E, ABoundKeyWithNoVeskRunningStartsItAndDoesItsJob) {
  ASSERT_TRUE(vesk->start({"--clipboard"}));
  EXPECT_TRUE(vesk->waitForLog("Presenting the clipboard history", 10s)) << vesk->log();
}

TEST_F(ShellE2E, EditingTheLauncherHotKeyMovesTheGrabWithinASecond) {
  writeText(home.configFile(), "[hotkeys]\nlauncher = \"ctrl+alt+l\"\n");
  startVesk();
  GrabProbe probe;
  ASSERT_TRUE(pumpUntil([&] { return !probe.isFree(XK_l, GrabProbe::kCtrlAlt); })) << vesk->log();

  writeText(home.configFile(), "[hotkeys]\nlauncher = \"ctrl+alt+k\"\n");
  QElapsedTimer sinceSave;
  sinceSave.start();
  // The new key is not probed by grabbing it: a probe holding it for a moment while Vesk
  // grabs it makes Vesk report it taken. The press below shows Vesk holds it.
  EXPECT_TRUE(pumpUntil(
      [&] {
        return vesk->count("Applied config.toml") >= 2 && probe.isFree(XK_l, GrabProbe::kCtrlAlt);
      },
      1s))
      << vesk->log();
  std::fprintf(stderr, "hot key moved %lld ms after the save\n",
               static_cast<long long>(sinceSave.elapsed()));

  runProgram(home, {"xdotool", "key", "ctrl+alt+k"});
  EXPECT_TRUE(vesk->waitForLog("Presenting the launcher")) << vesk->log();
}

TEST_F(ShellE2E, ABadHotKeyValueIsLoggedWithItsLineAndTheOldKeyStays) {
  writeText(home.configFile(), "[hotkeys]\nlauncher = \"ctrl+alt+l\"\n");
  startVesk();
  writeText(home.configFile(), "# mine\n[hotkeys]\nlauncher = \"hyper+x\"\n");
  EXPECT_TRUE(vesk->waitForLog(
      "config.toml line 3: hotkeys.launcher \"hyper+x\" isn't a shortcut like \"ctrl+alt+space\""))
      << vesk->log();
  GrabProbe probe;
  EXPECT_FALSE(probe.isFree(XK_l, GrabProbe::kCtrlAlt));
}

TEST_F(ShellE2E, AHotKeyHeldByAnotherClientIsReportedAsTaken) {
  GrabProbe other;
  ASSERT_TRUE(other.grab(XK_j, GrabProbe::kCtrlAlt));
  writeText(home.configFile(), "[hotkeys]\nlauncher = \"ctrl+alt+j\"\n");
  startVesk();
  EXPECT_TRUE(vesk->waitForLog("hotkeys.launcher \"ctrl+alt+j\" is taken by another app"))
      << vesk->log();
  other.ungrab(XK_j, GrabProbe::kCtrlAlt);
}

TEST_F(ShellE2E, ADesktopEntryCopiedIntoTheApplicationsFolderLeadsToOneRebuild) {
  startVesk();
  ASSERT_TRUE(vesk->waitForLog("Rebuilt the application index (generation 1)")) << vesk->log();

  const std::string staged = home.root() + "/tool.desktop";
  std::ofstream(staged) << "[Desktop Entry]\nType=Application\nName=Test Tool\nExec=/bin/true\n";
  std::filesystem::copy_file(staged, home.applications() + "/test-tool.desktop");

  EXPECT_TRUE(vesk->waitForLog("Indexed app: Test Tool", 5s)) << vesk->log();
  pumpUntil([] { return false; }, 2500ms);
  EXPECT_EQ(vesk->count("Rebuilt the application index"), 2U) << vesk->log();
}

// FIFOs named like desktop entries, there before Vesk starts and made while it runs: Vesk
// starts, keeps indexing the entries that come after them, and quits when asked.
TEST_F(ShellE2E, FifoEntriesNeitherStopTheStartNorLaterIndexingNorTheQuit) {
  std::filesystem::create_directories(home.applications());
  ASSERT_EQ(::mkfifo((home.applications() + "/before.desktop").c_str(), 0600), 0);
  startVesk();
  ASSERT_TRUE(vesk->waitForLog("Rebuilt the application index (generation 1)")) << vesk->log();

  ASSERT_EQ(::mkfifo((home.applications() + "/while.desktop").c_str(), 0600), 0);
  writeText(home.applications() + "/later.desktop",
            "[Desktop Entry]\nType=Application\nName=Later Tool\nExec=/bin/true\n");
  EXPECT_TRUE(vesk->waitForLog("Indexed app: Later Tool", 10s)) << vesk->log();
  // Still answering: a second start is told to present the launcher.
  EXPECT_EQ(runProgram(home, {VESK_BINARY}), 0) << vesk->log();
  EXPECT_EQ(vesk->stop(), 0) << "Vesk didn't end on SIGTERM by itself";
}

TEST(ShellWithoutDisplay, SaysInOneSentenceThatItNeedsAnX11Display) {
  Home home;
  auto environment = home.environment();
  std::string command = "env -i";
  for (const auto& [name, value] : environment) {
    if (name != "DISPLAY") {
      command += " " + name + "='" + value + "'";
    }
  }
  command += std::string(" ") + VESK_BINARY + " 2>&1";
  const std::string output = Xvfb::output(command);
  EXPECT_EQ(output, "Vesk needs an X11 display, and none is set (DISPLAY is empty).\n");
}

}  // namespace
}  // namespace vesk::test
