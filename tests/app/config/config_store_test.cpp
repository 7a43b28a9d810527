#include "app/config/config_store.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/linux/gio_app_catalog.h"
#include "tests/app/app_test_support.h"

namespace vesk {
namespace {

using test::pumpFor;
using test::pumpUntil;

class ConfigStoreTest : public testing::Test {
 protected:
  void startAndWait() {
    store.start();
    ASSERT_TRUE(pumpUntil([this] { return changes > 0; }));
  }

  test::TempFolder folder;
  std::shared_ptr<GioAppCatalog> catalog = std::make_shared<GioAppCatalog>();
  std::string file = folder / "config/vesk/config.toml";
  ConfigStore store{file, catalog};
  int changes = 0;
  std::optional<Config> previous;

  void SetUp() override {
    store.onChange = [this](const Config& old) {
      ++changes;
      previous = old;
    };
  }
};

TEST_F(ConfigStoreTest, FirstStartWritesTheDefaultFileAndLoadsItWithoutProblems) {
  startAndWait();
  EXPECT_EQ(test::readFile(file), std::string(Config::templateText()));
  EXPECT_TRUE(store.problems().empty());
  EXPECT_EQ(store.config(), Config());
}

TEST_F(ConfigStoreTest, ASavedChangeReloadsAndABadValueKeepsItsPreviousSetting) {
  startAndWait();
  test::writeFile(file, "[hotkeys]\nlauncher = \"alt+space\"\n[launcher]\nmax_depth = 99\n");
  ASSERT_TRUE(pumpUntil([this] { return changes == 2; }));

  EXPECT_EQ(store.config().launcherHotkey, *Shortcut::parse("alt+space"));
  EXPECT_EQ(store.config().maxDepth, 6);
  ASSERT_EQ(store.problems().size(), 1U);
  EXPECT_EQ(store.problems()[0], "line 4: launcher.max_depth is 99, expected 1 to 32");
  EXPECT_EQ(previous->launcherHotkey, *Shortcut::parse("cmd+p"));
}

TEST_F(ConfigStoreTest, AnotherFileInTheFolderDoesNotReload) {
  startAndWait();
  test::writeFile(folder / "config/vesk/notes.txt", "hello");
  pumpFor(ConfigStore::watchLatency * 4);
  EXPECT_EQ(changes, 1);
}

TEST_F(ConfigStoreTest, ALinkedFileIsWatchedInTheFolderOfItsTarget) {
  const std::string target = folder / "dotfiles/vesk.toml";
  test::writeFile(target, "[launcher]\nmax_depth = 3\n");
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  std::filesystem::create_symlink(target, file);
  startAndWait();
  EXPECT_EQ(store.config().maxDepth, 3);

  test::writeFile(target, "[launcher]\nmax_depth = 4\n");
  ASSERT_TRUE(pumpUntil([this] { return changes == 2; }));
  EXPECT_EQ(store.config().maxDepth, 4);
}

TEST_F(ConfigStoreTest, TextThatIsNotUTF8KeepsTheSettingsAsTheyWere) {
  startAndWait();
  test::writeFile(file, "[launcher]\nmax_depth = 5\n");
  ASSERT_TRUE(pumpUntil([this] { return changes == 2; }));
  test::writeFile(file, "actions.terminal = \"Caf\xe9\"\n");
  ASSERT_TRUE(pumpUntil([this] { return changes == 3; }));

  EXPECT_EQ(store.config().maxDepth, 5);
  EXPECT_EQ(
      store.problems(),
      std::vector<std::string>{"config.toml isn't UTF-8 text, so the settings stay as they were"});
}

TEST_F(ConfigStoreTest, ADeletedFileIsReportedMissingAndNotRecreatedByTheWatcher) {
  startAndWait();
  std::filesystem::remove(file);
  ASSERT_TRUE(pumpUntil([this] { return changes == 2; }));
  EXPECT_EQ(store.problems(),
            std::vector<std::string>{"config.toml is missing, so the settings stay as they were"});
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(ConfigStoreTest, OnlyTheNewestOfOverlappingLoadsApplies) {
  startAndWait();
  const int64_t before = store.generation();
  test::writeFile(file, "[launcher]\nmax_depth = 7\n");
  store.reload();
  store.reload();
  ASSERT_TRUE(pumpUntil([&] { return store.generation() >= before + 2 && changes >= 2; }));
  test::settle();
  EXPECT_EQ(store.config().maxDepth, 7);
  // Each reload that overlapped a newer one was dropped: at most one apply per burst.
  EXPECT_LE(changes, 3);
}

}  // namespace
}  // namespace vesk
