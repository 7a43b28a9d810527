// Typing as fast as a person who knows what they want, under openbox: the hot key and a query
// in one burst while the file engine is busy with a big folder, keys typed after ⎋ going back
// to the window the user came from, and a second layout's letters.

#include <QLineEdit>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/focused_field.h"
#include "tests/e2e/vesk_process.h"
#include "tests/e2e/window_manager.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

class TypingE2E : public testing::Test {
 protected:
  void SetUp() override {
    VESK_REQUIRE_XVFB();
    if (Xvfb::run("command -v openbox >/dev/null") != 0) {
      GTEST_SKIP() << "openbox isn't installed";
    }
    ASSERT_EQ(Xvfb::run("setxkbmap -layout us"), 0);
    wm = std::make_unique<WindowManager>("openbox");
    ASSERT_TRUE(wm->ready()) << "openbox didn't start";
    std::filesystem::create_directories(home.applications());
  }

  void TearDown() override {
    vesk.reset();
    wm.reset();
    Xvfb::run("setxkbmap -layout us");
  }

  // A desktop entry whose command leaves a file of that name in the test's folder.
  std::string app(const std::string& name, const std::string& marker) {
    const std::string path = home.root() + "/" + marker;
    std::ofstream(home.applications() + "/" + marker + ".desktop")
        << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=touch " << path << "\n";
    return path;
  }

  void start() {
    vesk = std::make_unique<VeskProcess>(home);
    ASSERT_TRUE(vesk->start());
    ASSERT_TRUE(vesk->waitForLog("Applied config.toml", 10s)) << vesk->log();
    ASSERT_TRUE(vesk->waitForLog("Rebuilt the application index", 10s)) << vesk->log();
  }

  size_t count(const std::string& text) const { return vesk->count(text); }

  Home home;
  std::unique_ptr<WindowManager> wm;
  std::unique_ptr<VeskProcess> vesk;
};

// Empty files, `perFolder` to a folder, made with plain system calls: a tree this size is
// ready in seconds.
void makeTree(const std::string& root, int files, int perFolder) {
  for (int n = 0; n < files; ++n) {
    const std::string folder = root + "/part-" + std::to_string(n / perFolder);
    if (n % perFolder == 0) {
      std::filesystem::create_directories(folder);
    }
    const std::string name = folder + "/note-" + std::to_string(n) + ".txt";
    ::close(::open(name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
  }
}

// A folder of 300,000 files moved into the home keeps the file engine busy scanning it while the
// hot key, "zqx" and ⏎ arrive in one burst: ⏎ opens zqx's app, not a row of an earlier query
// (the decoy is the best row for "z" and "zq").
TEST_F(TypingE2E, TheHotKeyAndAQueryTypedInOneBurstDuringABigScanOpenTheQuerysApp) {
  const std::string right = app("Zqx Marker", "zqx-opened");
  const std::string decoy = app("Zebra Quiz", "decoy-opened");
  const std::string staging = home.root() + "/big";
  makeTree(staging, 300000, 1000);
  start();

  // The watcher hands the move on after half a second; the scan of the folder then runs on the
  // engine's queue, behind which every search of the burst waits.
  std::filesystem::rename(staging, home.home() + "/big");
  pumpUntil([] { return false; }, 700ms);
  Keyboard keyboard;
  keyboard.chord({XK_Control_L, XK_Alt_L, XK_space}).type({XK_z, XK_q, XK_x, XK_Return}).send();
  EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(right); }, 10s)) << vesk->log();
  EXPECT_TRUE(pumpUntil([&] { return count("The panel closed") >= 1; })) << vesk->log();
  EXPECT_FALSE(std::filesystem::exists(decoy));
}

// With Russian as the second layout: Cyrillic typed with the hot key and after it reaches the
// panel's field ("блокнот" finds the app of that name), and keys typed right after ⎋ are typed
// into the window the user came from, in the layout they were typed in.
TEST_F(TypingE2E, KeysAfterEscapeGoBackAndTheSecondLayoutTypesItsLetters) {
  ASSERT_EQ(Xvfb::run("setxkbmap -layout us,ru"), 0);
  const std::string notepad = app("Блокнот", "notepad-opened");
  start();
  const std::unique_ptr<QLineEdit> field = focusedField(home);
  ASSERT_TRUE(field);
  Keyboard keyboard;

  // б л о on the keys of , k j; then к н о т on r y j n once the panel is drawn.
  keyboard.lockGroup(1).chord({XK_Control_L, XK_Alt_L, XK_space});
  keyboard.type({XK_comma, XK_k, XK_j}).send();
  ASSERT_TRUE(pumpUntil([&] { return count("panel drawn") >= 1; })) << vesk->log();
  keyboard.type({XK_r, XK_y, XK_j, XK_n, XK_Return}).send();
  EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(notepad); }))
      << "typed into the window before: " << field->text().toStdString() << "\n"
      << vesk->log();
  ASSERT_TRUE(pumpUntil([&] { return count("The panel closed") >= 1; })) << vesk->log();
  EXPECT_EQ(field->text().toStdString(), "");

  // The field has the focus again (the app opened no window): д о м on the keys of l j v, in
  // the same burst as the hot key and ⎋.
  ASSERT_TRUE(pumpUntil([&] { return field->hasFocus(); })) << vesk->log();
  keyboard.chord({XK_Control_L, XK_Alt_L, XK_space}).type({XK_Escape, XK_l, XK_j, XK_v}).send();
  EXPECT_TRUE(pumpUntil([&] { return field->text() == "дом"; }))
      << field->text().toStdString() << vesk->log();
  EXPECT_TRUE(pumpUntil([&] { return count("The panel closed") == 2; })) << vesk->log();
}

}  // namespace
}  // namespace vesk::test
