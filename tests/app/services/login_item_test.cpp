#include "app/services/login_item.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace vesk {
namespace {

namespace fs = std::filesystem;
using test::pumpUntil;
using test::TempFolder;

struct Lines {
  std::vector<std::string> errors;
  std::vector<std::string> debug;
  LoginItem::LogLine log() {
    return [this](bool isError, const std::string& line) {
      (isError ? errors : debug).push_back(line);
    };
  }
};

void updateAndWait(const LoginItem& item, bool enabled) {
  bool done = false;
  item.update(enabled, [&] { done = true; });
  ASSERT_TRUE(pumpUntil([&] { return done; }));
}

TEST(LoginItem, AutostartEntryFollowsTheSetting) {
  TempFolder folder;
  const std::string home = folder / "Ana Home";
  const std::string entry = folder / "config/autostart/vesk.desktop";
  Lines lines;
  const LoginItem item(test::testExecutor(), {home + "/.local/bin/vesk", home, entry}, lines.log());
  ASSERT_TRUE(item.isInApplicationsFolder());

  updateAndWait(item, true);
  const std::string text = test::readFile(entry);
  EXPECT_NE(text.find("\nExec=\"" + home + "/.local/bin/vesk\"\n"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("[Desktop Entry]\nType=Application\nName=Vesk\n", 0), 0U) << text;
  EXPECT_EQ(fs::status(entry).permissions(), fs::perms(0644));
  // Nothing but the entry is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder / "config/autostart"), {}), 1);

  // An entry edited by hand is put right.
  test::writeFile(entry, "[Desktop Entry]\nExec=/old/vesk\n");
  updateAndWait(item, true);
  EXPECT_EQ(test::readFile(entry), text);

  updateAndWait(item, false);
  EXPECT_FALSE(fs::exists(entry));
  updateAndWait(item, false);
  EXPECT_TRUE(lines.errors.empty());
  EXPECT_TRUE(lines.debug.empty());
}

TEST(LoginItem, AUserLocalInstallStartsThroughTheLinkThatFollowsUpdates) {
  // An update removes the version folder the process runs from; the prefix's link stays.
  TempFolder folder;
  const std::string versioned = folder / "local/lib/vesk/1.2/bin/vesk";
  test::writeFile(versioned, "");
  EXPECT_EQ(LoginItem::launcherFor(versioned), versioned);  // no link beside it yet
  fs::create_directories(folder / "local/bin");
  fs::create_symlink("../lib/vesk/current/bin/vesk", folder / "local/bin/vesk");
  EXPECT_EQ(LoginItem::launcherFor(versioned), folder / "local/bin/vesk");
  EXPECT_EQ(LoginItem::launcherFor("/usr/bin/vesk"), "/usr/bin/vesk");
}

TEST(LoginItem, CopyOutsideAnInstallLeavesTheEntryAlone) {
  TempFolder folder;
  const std::string home = folder.path();
  const std::string entry = folder / "config/autostart/vesk.desktop";
  // A build tree inside ~/.local, and a copy outside any install folder.
  test::writeFile(home + "/.local/src/vesk/build/CMakeCache.txt", "");
  const std::vector<std::string> copies{home + "/.local/src/vesk/build/app/vesk",
                                        home + "/vesk/build/app/vesk"};
  for (const std::string& executable : copies) {
    Lines lines;
    const LoginItem item(test::testExecutor(), {executable, home, entry}, lines.log());
    EXPECT_FALSE(item.isInApplicationsFolder()) << executable;
    updateAndWait(item, true);
    EXPECT_FALSE(fs::exists(entry));
    test::writeFile(entry, "mine");
    updateAndWait(item, false);
    EXPECT_EQ(test::readFile(entry), "mine");
    fs::remove(entry);
    ASSERT_EQ(lines.debug.size(), 2U);
    EXPECT_EQ(lines.debug[0], "Not an installed copy, launch at login left alone: " + executable);
  }
}

}  // namespace
}  // namespace vesk
