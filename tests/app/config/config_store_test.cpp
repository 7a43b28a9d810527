#include "app/config/config_store.h"

#include <filesystem>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
  ConfigStore store{test::testExecutor(), file, catalog};
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
  EXPECT_EQ(previous->launcherHotkey, *Shortcut::parse("ctrl+alt+space"));
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

// Reads `file` on another thread; a read stuck in open on a FIFO is released by opening the
// FIFO's other end, so the test fails instead of hanging.
std::optional<ConfigStore::Loaded> readWithin(const std::string& file, const Config& previous) {
  auto reading = std::async(std::launch::async, [&] { return ConfigStore::read(file, previous); });
  if (reading.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
    return reading.get();
  }
  ::close(::open(file.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  reading.wait();
  return std::nullopt;
}

TEST_F(ConfigStoreTest, SomethingOtherThanARegularFileOrAHugeOneKeepsTheSettingsAsTheyWere) {
  Config previous;
  previous.maxDepth = 5;
  const std::string fifo = folder / "fifo.toml";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string directory = folder / "directory.toml";
  std::filesystem::create_directories(directory);
  const std::string zeros = folder / "zeros.toml";
  std::filesystem::create_symlink("/dev/zero", zeros);
  const std::string huge = folder / "huge.toml";
  test::writeFile(huge, "# " + std::string(ConfigStore::maxFileBytes, 'x') + "\n");

  const std::string notAFile =
      "config.toml isn't a regular file, so the settings stay as they were";
  const std::pair<std::string, std::string> cases[] = {
      {fifo, notAFile},
      {directory, notAFile},
      {zeros, notAFile},
      {huge, "config.toml is larger than 1 MiB, so the settings stay as they were"},
  };
  for (const auto& [path, problem] : cases) {
    SCOPED_TRACE(path);
    const std::optional<ConfigStore::Loaded> loaded = readWithin(path, previous);
    if (!loaded) {
      ADD_FAILURE() << "the read blocked";
      continue;
    }
    EXPECT_EQ(loaded->parsed.problems, std::vector<std::string>{problem});
    EXPECT_EQ(loaded->parsed.config.maxDepth, 5);
  }

  // A link to a regular file elsewhere is read as usual.
  const std::string target = folder / "dotfiles/vesk.toml";
  test::writeFile(target, "[launcher]\nmax_depth = 3\n");
  const std::string link = folder / "link.toml";
  std::filesystem::create_symlink(target, link);
  const std::optional<ConfigStore::Loaded> linked = readWithin(link, previous);
  ASSERT_TRUE(linked);
  EXPECT_TRUE(linked->parsed.problems.empty());
  EXPECT_EQ(linked->parsed.config.maxDepth, 3);
}

// A config.toml (or the file it links to) that someone else may write could make Vesk run their
// programs: it is not read, and the settings in force stay.
TEST_F(ConfigStoreTest, AFileOthersCanWriteOrOwnKeepsTheSettingsAsTheyWere) {
  Config previous;
  previous.maxDepth = 5;
  const std::string target = folder / "shared/vesk.toml";
  test::writeFile(target, "[launcher]\nmax_depth = 3\n");
  const std::string link = folder / "link.toml";
  std::filesystem::create_symlink(target, link);
  const auto problems = [&] {
    const std::optional<ConfigStore::Loaded> loaded = readWithin(link, previous);
    EXPECT_TRUE(loaded);
    if (loaded) {
      EXPECT_EQ(loaded->parsed.config.maxDepth, loaded->parsed.problems.empty() ? 3 : 5);
    }
    return loaded ? loaded->parsed.problems : std::vector<std::string>{"blocked"};
  };

  for (const mode_t mode : {0666, 0620}) {
    ::chmod(target.c_str(), mode);
    EXPECT_EQ(problems(), std::vector<std::string>{"config.toml can be changed by other users, so "
                                                   "the settings stay as they were"})
        << std::oct << mode;
  }
  ::chmod(target.c_str(), 0644);
  EXPECT_TRUE(problems().empty());
  if (::geteuid() != 0) {
    return;  // only root can give a file away
  }
  ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
  EXPECT_EQ(problems(),
            std::vector<std::string>{
                "config.toml belongs to another user, so the settings stay as they were"});
}

}  // namespace
}  // namespace vesk
