// Recording and pasting in a Wayland session: the real `vesk` under a headless sway with
// Xwayland, with wl-copy, wl-paste, a copying client of the tests' own and a Qt text field on
// Wayland as the other applications.

#include <QCoreApplication>
#include <QImage>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/vesk_process.h"
#include "tests/e2e/wayland/sway_session.h"

namespace vesk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class WaylandE2E : public testing::Test {
 protected:
  void SetUp() override {
    if (!sway.problem().empty()) {
      GTEST_SKIP() << sway.problem();
    }
    home.display = sway.x11Display();
    home.extra["WAYLAND_DISPLAY"] = sway.socket();
    // Vesk's panel is an X11 window; the clipboard and the paste key are the compositor's.
    home.extra["XDG_SESSION_TYPE"] = "wayland";
    vesk = std::make_unique<VeskProcess>(home);
    ASSERT_TRUE(vesk->start());
    ASSERT_TRUE(vesk->waitForLog("Watching the clipboard", 15s)) << vesk->log();
    ASSERT_NE(vesk->log().find("Clipboard: Wayland, through zwlr_data_control_manager_v1"),
              std::string::npos)
        << vesk->log();
  }

  // wl-copy as a Wayland app copies: it serves the copy from the background until replaced.
  void wlCopy(const std::string& data, const std::string& type = "") {
    std::vector<std::string> args = {"wl-copy"};
    if (!type.empty()) {
      args.insert(args.end(), {"--type", type});
    }
    ASSERT_EQ(runProgram(home, sway.client(args), data), 0);
  }

  // What wl-paste, a Wayland app pasting, gets from the clipboard.
  std::string wlPaste() {
    const std::string out = home.root() + "/pasted";
    std::string line = "timeout 5";
    for (const std::string& arg : sway.client({"wl-paste", "--no-newline"})) {
      line += " '" + arg + "'";
    }
    runProgram(home, {"sh", "-c", line + " > " + out});
    std::ifstream file(out);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }

  std::vector<StoredClip> clips() const { return storedClips(home.database()); }

  bool waitForNewest(const std::string& kind, const std::string& text,
                     std::chrono::milliseconds timeout = 5s) const {
    return pumpUntil(
        [&] {
          const auto stored = clips();
          return !stored.empty() && stored.front().kind == kind && stored.front().text == text;
        },
        timeout);
  }

  // Whether any file of Vesk's clipboard folder (the database, its WAL, the stored data) holds
  // `needle`.
  bool storedAnywhere(const std::string& needle) const {
    for (const auto& entry : fs::recursive_directory_iterator(home.clipboardFolder())) {
      if (!entry.is_regular_file()) {
        continue;
      }
      std::ifstream file(entry.path(), std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>()};
      if (bytes.find(needle) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

  SwaySession sway;
  Home home;
  std::unique_ptr<VeskProcess> vesk;
};

TEST_F(WaylandE2E, WaylandAndX11CopiesAreRecordedOnceWithTheirKindsAndConcealedOnesNever) {
  wlCopy("plain words");
  ASSERT_TRUE(waitForNewest("text", "plain words")) << vesk->log();

  // Offered as HTML alone, the copy's text is its markup, as on X11.
  wlCopy("<b>bold</b> words", "text/html");
  ASSERT_TRUE(waitForNewest("rich-text", "<b>bold</b> words"))
      << (clips().empty() ? "" : clips().front().kind + ": " + clips().front().text) << vesk->log();

  QImage image(8, 6, QImage::Format_RGB32);
  image.fill(Qt::red);
  const std::string png = home.root() + "/red.png";
  ASSERT_TRUE(image.save(QString::fromStdString(png)));
  std::ifstream pngFile(png, std::ios::binary);
  wlCopy({std::istreambuf_iterator<char>(pngFile), std::istreambuf_iterator<char>()}, "image/png");
  ASSERT_TRUE(pumpUntil([&] { return !clips().empty() && clips().front().kind == "image"; }))
      << vesk->log();

  const std::string one = home.root() + "/one.txt";
  const std::string two = home.root() + "/two.txt";
  std::ofstream(one) << "1";
  std::ofstream(two) << "2";
  wlCopy("file://" + one + "\r\nfile://" + two + "\r\n", "text/uri-list");
  ASSERT_TRUE(pumpUntil([&] { return !clips().empty() && clips().front().kind == "files"; }))
      << vesk->log();

  // A password manager's copy, with KDE's hint beside the text.
  {
    Child secret(sway.client({WAYLAND_OFFER, "x-kde-passwordManagerHint=secret",
                              "text/plain;charset=utf-8=hunter2-secret"}),
                 home.environment());
    ASSERT_TRUE(secret.waitForLine("offered"));
    ASSERT_EQ(wlPaste(), "hunter2-secret");  // on the clipboard for the others
    wlCopy("after the secret");
    ASSERT_TRUE(waitForNewest("text", "after the secret")) << vesk->log();
  }
  EXPECT_FALSE(storedAnywhere("hunter2-secret"));

  // An X11 app copies through Xwayland: the compositor passes it on, and it is recorded once.
  // It passes on only the copies of an X11 app that has the focus, as one that copies does.
  std::map<std::string, std::string> x11 = home.environment();
  x11["DISPLAY"] = sway.x11Display();
  Child window({"xmessage", "-geometry", "200x80", "an X11 app"}, x11);
  ASSERT_TRUE(pumpUntil([&] {
    return runProgram(home, {"xdotool", "search", "--onlyvisible", "--class", "Xmessage"}) == 0;
  }));
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard"}, "from an X11 app"), 0);
  ASSERT_TRUE(waitForNewest("text", "from an X11 app")) << vesk->log();
  pumpUntil([] { return false; }, 1200ms);
  const auto stored = clips();
  EXPECT_EQ(std::count_if(stored.begin(), stored.end(),
                          [](const StoredClip& clip) { return clip.text == "from an X11 app"; }),
            1);
  EXPECT_EQ(stored.size(), 6U);
}

TEST_F(WaylandE2E, CopiesOutliveTheirAppAndAnOwnerThatNeverWritesHoldsUpNothing) {
  {
    Child copier(sway.client({"wl-copy", "--foreground", "outlives wl-copy"}), home.environment());
    ASSERT_TRUE(waitForNewest("text", "outlives wl-copy")) << vesk->log();
    copier.kill(SIGTERM);
  }
  ASSERT_TRUE(pumpUntil([&] { return wlPaste() == "outlives wl-copy"; })) << vesk->log();

  // An owner that takes every request and never answers: the next copy is recorded all the
  // same, well within the reader's limits.
  Child stalled(sway.client({WAYLAND_OFFER, "--stall", "text/plain=never sent"}),
                home.environment());
  ASSERT_TRUE(stalled.waitForLine("offered"));
  wlCopy("after the stall");
  ASSERT_TRUE(waitForNewest("text", "after the stall", 3s)) << vesk->log();
  for (const StoredClip& clip : clips()) {
    EXPECT_NE(clip.text, "never sent");
  }
}

TEST_F(WaylandE2E, PasteNextTypesTheNewestClipThenTheOlderOneIntoAWaylandField) {
  wlCopy("older");
  ASSERT_TRUE(waitForNewest("text", "older")) << vesk->log();
  wlCopy("newer");
  ASSERT_TRUE(waitForNewest("text", "newer")) << vesk->log();
  ASSERT_NE(vesk->log().find("Paste key: Wayland"), std::string::npos) << vesk->log();

  Child field(sway.client({TEXT_FIELD}, {{"QT_QPA_PLATFORM", "wayland"}}), home.environment());
  ASSERT_TRUE(field.waitForLine("focused", 15s));
  // The hot key is grabbed on Xwayland; pressed as a person does, keys held a moment.
  const std::vector<std::string> press = {"xdotool", "keydown", "ctrl+alt+v", "sleep",
                                          "0.15",    "keyup",   "v",          "sleep",
                                          "0.1",     "keyup",   "ctrl+alt"};
  runProgram(home, press);
  ASSERT_TRUE(pumpUntil([&] { return field.last("text:") == "newer"; }))
      << field.last("text:") << vesk->log();
  runProgram(home, press);
  ASSERT_TRUE(pumpUntil([&] { return field.last("text:") == "newerolder"; }))
      << field.last("text:") << vesk->log();
}

}  // namespace
}  // namespace vesk::test
