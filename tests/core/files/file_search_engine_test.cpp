#include "core/files/file_search_engine.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include <stdlib.h>

#include <gtest/gtest.h>

namespace vesk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kTimeout = 10s;

// A real home folder in a temporary folder, and an engine over it with real inotify.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vesk-engine-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = fs::canonical(pattern).string();
    makeEngine();
  }
  void TearDown() override {
    engine_.reset();
    fs::remove_all(home_);
  }

  void makeEngine(FileSearchEngine::CanRead canRead = canListFolder,
                  FileSearchEngine::TestHooks hooks = {}) {
    engine_.reset();
    engine_ = std::make_unique<FileSearchEngine>(
        [this](const std::vector<std::string>& paths) {
          const std::lock_guard lock(mutex_);
          removed_.insert(removed_.end(), paths.begin(), paths.end());
        },
        std::move(canRead));
    engine_->setTestHooks(std::move(hooks));
    engine_->setOnApplied([this] {
      const std::lock_guard lock(mutex_);
      ++applied_;
      changed_.notify_all();
    });
  }

  std::string at(const std::string& relative) const { return home_ + "/" + relative; }
  void write(const std::string& relative) const {
    fs::create_directories(fs::path(at(relative)).parent_path());
    std::ofstream(at(relative)) << "x";
  }

  FileRules rules(int maxDepth = 6, std::vector<std::string> extraRoots = {}) const {
    std::vector<std::string> roots = {home_};
    for (const auto& root : extraRoots) {
      roots.push_back(at(root));
    }
    return FileRules(roots, IgnoreRules({".*", "~/Library", "node_modules"}, home_), maxDepth,
                     {at("Desktop"), at("Documents")});
  }

  bool has(const std::string& relative) {
    bool found = false;
    engine_->onQueue([&] { found = engine_->indexForTesting().contains(at(relative)); });
    return found;
  }
  std::optional<bool> isFolder(const std::string& relative) {
    std::optional<bool> folder;
    engine_->onQueue([&] { folder = engine_->indexForTesting().isFolder(at(relative)); });
    return folder;
  }

  // Waits, woken by every applied batch, until `check` holds.
  bool eventually(const std::function<bool()>& check) {
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    for (;;) {
      uint64_t seen = 0;
      {
        const std::lock_guard lock(mutex_);
        seen = applied_;
      }
      if (check()) {
        return true;
      }
      std::unique_lock lock(mutex_);
      if (!changed_.wait_until(lock, deadline, [&] { return applied_ != seen; })) {
        return check();
      }
    }
  }

  std::vector<std::string> removed() {
    const std::lock_guard lock(mutex_);
    return removed_;
  }

  std::string home_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t applied_ = 0;
  std::vector<std::string> removed_;
  std::unique_ptr<FileSearchEngine> engine_;
};

TEST_F(EngineTest, SearchesAreEmptyBeforeTheFirstRebuild) {
  EXPECT_EQ(engine_->search("x", 10, 1).get(), std::vector<FileHit>{});
  EXPECT_EQ(engine_->count().get(), 0u);
}

TEST_F(EngineTest, CreatedAndDeletedFilesFollowTheDisk) {
  write("Notes/keep.txt");
  engine_->rebuild(rules()).get();
  EXPECT_EQ(engine_->count().get(), 2u);

  write("notes.txt");
  ASSERT_TRUE(eventually([&] { return has("notes.txt"); }));
  const auto hits = engine_->search("notes.txt", 5, 1).get();
  ASSERT_TRUE(hits && !hits->empty());
  EXPECT_EQ(hits->front(), (FileHit{at("notes.txt"), false, hits->front().score}));

  fs::remove(at("notes.txt"));
  ASSERT_TRUE(eventually([&] { return !has("notes.txt"); }));
  EXPECT_EQ(removed(), std::vector<std::string>{at("notes.txt")});

  fs::remove_all(at("Notes"));
  ASSERT_TRUE(eventually([&] { return !has("Notes"); }));
  EXPECT_FALSE(has("Notes/keep.txt"));
}

TEST_F(EngineTest, RenamesIncludingCaseOnlyOnesReplaceTheEntry) {
  write("Report.txt");
  engine_->rebuild(rules()).get();
  fs::rename(at("Report.txt"), at("report.txt"));
  ASSERT_TRUE(eventually([&] { return has("report.txt") && !has("Report.txt"); }));
  // Moved to a hidden name: gone from the index and reported.
  fs::rename(at("report.txt"), at(".draft"));
  ASSERT_TRUE(eventually([&] { return !has("report.txt"); }));
  EXPECT_FALSE(has(".draft"));
  EXPECT_EQ(removed(), (std::vector<std::string>{at("Report.txt"), at("report.txt")}));
}

TEST_F(EngineTest, FileReplacedByFolderAndBack) {
  write("thing");
  engine_->rebuild(rules()).get();
  fs::remove(at("thing"));
  write("thing/inner.txt");
  ASSERT_TRUE(eventually([&] { return isFolder("thing") == true && has("thing/inner.txt"); }));
  fs::remove_all(at("thing"));
  write("thing");
  ASSERT_TRUE(eventually([&] { return isFolder("thing") == false; }));
  EXPECT_FALSE(has("thing/inner.txt"));
}

TEST_F(EngineTest, FolderArrivingWithContentsIsWalked) {
  const std::string outside = home_ + "-outside";
  fs::create_directories(outside + "/album/2024");
  std::ofstream(outside + "/album/2024/photo.jpg") << "x";
  engine_->rebuild(rules()).get();
  fs::rename(outside + "/album", at("album"));
  fs::remove_all(outside);
  ASSERT_TRUE(eventually([&] { return has("album/2024/photo.jpg"); }));
  write("album/2024/second.jpg");  // and the moved tree is watched
  ASSERT_TRUE(eventually([&] { return has("album/2024/second.jpg"); }));
  fs::create_directories(at("a/b/c"));
  write("a/b/c/d.txt");
  ASSERT_TRUE(eventually([&] { return has("a/b/c/d.txt"); }));
}

TEST_F(EngineTest, IgnoredDeepAndNestedPathsFollowTheRules) {
  fs::create_directories(at("one/two"));
  fs::create_directories(at("code/node_modules"));
  fs::create_directories(at("Projects"));
  engine_->rebuild(rules(2, {"Projects"})).get();
  write("code/node_modules/index.js");
  write(".hidden");
  write("one/two/too-deep.txt");
  write("Projects/app.cpp");
  write("one/fine.txt");
  ASSERT_TRUE(eventually([&] { return has("one/fine.txt") && has("Projects/app.cpp"); }));
  EXPECT_FALSE(has("code/node_modules/index.js"));
  EXPECT_FALSE(has(".hidden"));
  EXPECT_FALSE(has("one/two/too-deep.txt"));
  EXPECT_EQ(engine_->search("app.cpp", 10, 1).get()->size(), 1u);  // once, under its own root
}

TEST_F(EngineTest, LinkToAFolderIsAFile) {
  fs::create_directories(at("real"));
  engine_->rebuild(rules()).get();
  fs::create_directory_symlink(at("real"), at("shortcut"));
  ASSERT_TRUE(eventually([&] { return isFolder("shortcut") == false; }));
}

TEST_F(EngineTest, EventsDuringTheScanAreHeldAndApplied) {
  std::mutex held;
  std::condition_variable heldChanged;
  bool sawHeld = false;
  FileSearchEngine::TestHooks hooks;
  hooks.afterScan = [&] {
    // The scan has read the tree: this file only reaches the index through its event.
    write("during.txt");
    std::unique_lock lock(held);
    heldChanged.wait_for(lock, kTimeout, [&] { return sawHeld; });
  };
  hooks.eventsHeld = [&] {
    const std::lock_guard lock(held);
    sawHeld = true;
    heldChanged.notify_all();
  };
  makeEngine(canListFolder, hooks);
  engine_->rebuild(rules()).get();
  EXPECT_TRUE(sawHeld);
  EXPECT_TRUE(has("during.txt"));
}

TEST_F(EngineTest, OverflowAndRootEventsRebuildEverything) {
  engine_->rebuild(rules()).get();
  const uint64_t before = engine_->rebuildNumber();
  engine_->onQueue([&] { engine_->watcherForTesting()->simulateOverflow(); });
  ASSERT_TRUE(eventually([&] { return engine_->rebuildNumber() > before; }));
  write("after.txt");
  ASSERT_TRUE(eventually([&] { return has("after.txt"); }));
}

TEST_F(EngineTest, OnlyTheNewestOfOverlappingRebuildsInstalls) {
  write("a/one.txt");
  write("b/two.txt");
  FileRules first({at("a")}, IgnoreRules(), 6, {});
  FileRules second({at("b")}, IgnoreRules(), 6, {});
  auto f1 = engine_->rebuild(first);
  auto f2 = engine_->rebuild(second);
  f1.get();
  f2.get();
  EXPECT_FALSE(has("a/one.txt"));
  EXPECT_TRUE(has("b/two.txt"));
  write("a/three.txt");  // the first rebuild's watcher never came into use
  write("b/four.txt");
  ASSERT_TRUE(eventually([&] { return has("b/four.txt"); }));
  EXPECT_FALSE(has("a/three.txt"));
}

TEST_F(EngineTest, SupersededSearchYieldsNothing) {
  write("match.txt");
  engine_->rebuild(rules()).get();
  std::future<FileSearchEngine::Hits> fifth;
  std::future<FileSearchEngine::Hits> sixth;
  engine_->onQueue([&] {  // both wait behind this item
    fifth = engine_->search("match", 10, 5);
    sixth = engine_->search("match", 10, 6);
  });
  EXPECT_EQ(fifth.get(), std::nullopt);
  ASSERT_TRUE(sixth.get().has_value());
}

TEST_F(EngineTest, RefusedFolderStaysOutUntilRechecked) {
  write("Documents/secret.txt");
  write("Desktop/todo.txt");
  std::atomic<bool> allowDocuments = false;
  std::atomic<int> asked = 0;
  makeEngine([&](const std::string& folder) {
    ++asked;
    return !folder.ends_with("/Documents") || allowDocuments.load();
  });
  engine_->rebuild(rules()).get();
  EXPECT_FALSE(has("Documents/secret.txt"));
  EXPECT_TRUE(has("Desktop/todo.txt"));
  EXPECT_EQ(engine_->access(at("Documents")), FileSearchEngine::Access::refused);
  const int askedOnce = asked.load();
  EXPECT_EQ(engine_->search("secret", 5, 1).get(), std::vector<FileHit>{});
  EXPECT_EQ(asked.load(), askedOnce);

  allowDocuments = true;
  engine_->recheckRefused();
  ASSERT_TRUE(eventually([&] { return has("Documents/secret.txt"); }));
}

TEST_F(EngineTest, LateGrantJoinsThroughAFollowUpRebuild) {
  write("Documents/late.txt");
  std::mutex gate;
  std::condition_variable opened;
  bool open = false;
  makeEngine([&](const std::string& folder) {
    if (folder.ends_with("/Documents")) {
      std::unique_lock lock(gate);
      opened.wait_for(lock, kTimeout, [&] { return open; });
    }
    return true;
  });
  engine_->rebuild(rules()).get();  // waits at most 100 ms for the answer
  EXPECT_FALSE(has("Documents/late.txt"));
  {
    const std::lock_guard lock(gate);
    open = true;
    opened.notify_all();
  }
  ASSERT_TRUE(eventually([&] { return has("Documents/late.txt"); }));
}

TEST_F(EngineTest, SearchesKeepWorkingWhileRebuildsReplaceTheIndex) {
  for (int i = 0; i < 300; ++i) {
    write("dir" + std::to_string(i % 10) + "/file" + std::to_string(i) + ".txt");
  }
  engine_->rebuild(rules()).get();
  std::atomic<bool> done = false;
  std::atomic<int> bad = 0;
  std::thread searcher([&] {
    for (int64_t g = 1; !done; ++g) {
      const auto hits = engine_->search("file1", 20, g).get();
      if (hits && (hits->empty() || !hits->front().path.starts_with(home_))) {
        ++bad;
      }
    }
  });
  for (int i = 0; i < 5; ++i) {
    engine_->rebuild(rules(i % 2 == 0 ? 6 : 5)).get();
  }
  done = true;
  searcher.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(engine_->count().get(), 310u);
}

TEST(CanListFolder, MissingFolderCountsAsReadable) {
  EXPECT_TRUE(canListFolder("/nonexistent-vesk-folder"));
  EXPECT_TRUE(canListFolder("/"));
}

}  // namespace
}  // namespace vesk
