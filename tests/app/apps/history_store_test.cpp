#include "app/apps/history_store.h"

#include <filesystem>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace vesk {
namespace {

using test::pumpUntil;

bool load(HistoryStore& store) {
  bool loaded = false;
  store.load([&loaded] { loaded = true; });
  return pumpUntil([&loaded] { return loaded; });
}

TEST(HistoryStore, SavesAndLoadsTheHistoryThroughItsFile) {
  test::TempFolder folder;
  const std::string file = folder / "nested/vesk/history.json";
  {
    HistoryStore store(test::testExecutor(), file);
    ASSERT_TRUE(load(store));
    store.record("command:quit", 1000);
    store.record("command:quit", 2000);
    store.flush();
  }
  HistoryStore again(test::testExecutor(), file);
  ASSERT_TRUE(load(again));
  ASSERT_TRUE(again.history().entries().contains("command:quit"));
  EXPECT_EQ(again.history().entries().at("command:quit").count, 2);
  EXPECT_EQ(again.history().lastOpened("command:quit"), 2000);
}

unsigned modeOf(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_mode & 07777;
}

// The list of files the user opened is theirs alone, whatever the umask.
TEST(HistoryStore, TheFileIsPrivateAndAWiderFolderIsNarrowed) {
  test::TempFolder folder;
  const std::string vesk = folder / "vesk";
  ASSERT_EQ(::mkdir(vesk.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(vesk.c_str(), 0755), 0);
  const mode_t umask = ::umask(022);
  {
    HistoryStore store(test::testExecutor(), vesk + "/history.json");
    ASSERT_TRUE(load(store));
    store.record("/home/user/secret plans.txt", 1000);
    store.flush();
  }
  ::umask(umask);
  EXPECT_EQ(modeOf(vesk + "/history.json"), 0600U);
  EXPECT_EQ(modeOf(vesk), 0700U);
}

TEST(HistoryStore, ACorruptFileStartsOverAndStaysUntilTheNextSave) {
  test::TempFolder folder;
  const std::string file = folder / "history.json";
  test::writeFile(file, R"({"entries":{"command:quit":{"count":1}}})");
  HistoryStore store(test::testExecutor(), file);
  ASSERT_TRUE(load(store));
  EXPECT_TRUE(store.history().isEmpty());
  EXPECT_EQ(test::readFile(file), R"({"entries":{"command:quit":{"count":1}}})");

  store.record("command:clipboard", 5);
  store.flush();
  HistoryStore again(test::testExecutor(), file);
  ASSERT_TRUE(load(again));
  EXPECT_EQ(again.history().ids(), std::vector<std::string>{"command:clipboard"});
}

TEST(HistoryStore, AHugeFileIsNotReadAndStaysAsItIs) {
  test::TempFolder folder;
  const std::string file = folder / "history.json";
  // Valid JSON, but far more than any history Vesk writes.
  const std::string huge =
      R"({"entries":{}})" + std::string(HistoryStore::kMaxFileBytes, ' ') + "\n";
  test::writeFile(file, huge);
  HistoryStore store(test::testExecutor(), file);
  ASSERT_TRUE(load(store));
  EXPECT_TRUE(store.history().isEmpty());

  store.record("command:quit", 1);
  store.flush();
  EXPECT_EQ(store.history().ids(), std::vector<std::string>{"command:quit"});
  EXPECT_TRUE(test::readFile(file) == huge) << "the file was replaced";
}

TEST(HistoryStore, OpensRecordedBeforeTheLoadFinishedAreKeptWithTheFileHistory) {
  test::TempFolder folder;
  const std::string file = folder / "history.json";
  {
    HistoryStore store(test::testExecutor(), file);
    ASSERT_TRUE(load(store));
    store.record("command:quit", 1);
    store.flush();
  }
  HistoryStore store(test::testExecutor(), file);
  bool loaded = false;
  store.load([&loaded] { loaded = true; });
  store.record("command:openConfig", 2);  // before the load's result arrives
  ASSERT_TRUE(pumpUntil([&loaded] { return loaded; }));

  EXPECT_EQ(store.history().ids(),
            (std::vector<std::string>{"command:openConfig", "command:quit"}));
  store.flush();
  HistoryStore again(test::testExecutor(), file);
  ASSERT_TRUE(load(again));
  EXPECT_EQ(again.history().ids().size(), 2U);
}

TEST(HistoryStore, DeletedFilesAreDroppedAtLoadAndForgottenFoldersSaved) {
  test::TempFolder folder;
  const std::string file = folder / "history.json";
  const std::string kept = folder / "kept.txt";
  test::writeFile(kept, "x");
  {
    HistoryStore store(test::testExecutor(), file);
    ASSERT_TRUE(load(store));
    store.record("file:" + kept, 1);
    store.record("file:" + (folder / "deleted.txt"), 1);
    store.record("folder:" + (folder / "Old"), 1);
    store.record("file:" + (folder / "Older/b.txt"), 1);
    store.flush();
  }
  HistoryStore store(test::testExecutor(), file);
  ASSERT_TRUE(load(store));
  EXPECT_EQ(store.history().ids(), std::vector<std::string>{"file:" + kept});

  store.record("folder:" + (folder / "Old"), 2);
  store.record("file:" + (folder / "Old/a.txt"), 2);
  store.record("file:" + (folder / "Older/b.txt"), 2);
  store.forget({folder / "Old"});
  EXPECT_EQ(store.history().ids().size(), 2U);
  EXPECT_TRUE(store.history().entries().contains("file:" + (folder / "Older/b.txt")));
}

TEST(HistoryStore, AnUnwritableFolderLosesNothingInMemory) {
  test::TempFolder folder;
  test::writeFile(folder / "blocker", "a file where the folder should be");
  HistoryStore store(test::testExecutor(), folder / "blocker/history.json");
  ASSERT_TRUE(load(store));
  store.record("command:quit", 1);
  store.flush();
  EXPECT_EQ(store.history().ids(), std::vector<std::string>{"command:quit"});
}

}  // namespace
}  // namespace vesk
