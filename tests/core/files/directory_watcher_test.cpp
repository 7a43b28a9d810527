#include "core/files/directory_watcher.h"

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <stdlib.h>

#include <gtest/gtest.h>

namespace vesk {
namespace {

namespace fs = std::filesystem;
using Event = DirectoryWatcher::Event;
using namespace std::chrono_literals;

constexpr auto kTimeout = 5s;

// Collects batches from a watcher and lets a test wait for an event it expects.
class Recorder {
 public:
  DirectoryWatcher::Handler handler() {
    return [this](std::vector<Event> batch) {
      const std::lock_guard lock(mutex_);
      ++batches_;
      events_.insert(events_.end(), batch.begin(), batch.end());
      changed_.notify_all();
    };
  }

  // Waits until an event for `path` with all of `flags` arrived.
  bool await(const std::string& path, uint32_t flags) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kTimeout, [&] {
      return std::any_of(events_.begin(), events_.end(), [&](const Event& e) {
        return e.path == path && (e.flags & flags) == flags;
      });
    });
  }

  bool saw(const std::string& prefix) {
    const std::lock_guard lock(mutex_);
    return std::any_of(events_.begin(), events_.end(),
                       [&](const Event& e) { return e.path.starts_with(prefix); });
  }

  int batches() {
    const std::lock_guard lock(mutex_);
    return batches_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
  int batches_ = 0;
};

class WatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vesk-watch-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = fs::canonical(pattern).string();
  }
  void TearDown() override {
    watcher_.reset();
    fs::remove_all(root_);
  }

  std::string at(const std::string& relative) const { return root_ + "/" + relative; }
  void write(const std::string& relative) const { std::ofstream(at(relative)) << "x"; }
  void start(std::vector<std::string> excluding = {}, DirectoryWatcher::Options options = {}) {
    watcher_ = DirectoryWatcher::create({root_}, std::move(excluding), true, 20ms, queue_,
                                        recorder_.handler(), std::move(options));
    ASSERT_NE(watcher_, nullptr);
  }

  std::string root_;
  SerialQueue queue_{"test.watch"};
  Recorder recorder_;
  std::unique_ptr<DirectoryWatcher> watcher_;
};

TEST(DirectoryWatcherEvent, DerivedTests) {
  EXPECT_TRUE((Event{"/a", 0x1}.mustRescan()));
  EXPECT_TRUE((Event{"/a", 0x4}.mustRescan()));
  EXPECT_FALSE((Event{"/a", 0x100}.mustRescan()));
  EXPECT_TRUE((Event{"/a", 0x800}.isAddedRemovedOrMoved()));
  EXPECT_FALSE((Event{"/a", 0x400 | 0x1000}.isAddedRemovedOrMoved()));
}

TEST_F(WatcherTest, ReportsCreateDeleteAndRenameWithTheirFlags) {
  fs::create_directories(at("sub/deeper"));
  start();
  write("sub/deeper/a.txt");
  ASSERT_TRUE(recorder_.await(at("sub/deeper/a.txt"), Event::kItemCreated | Event::kItemIsFile));
  fs::rename(at("sub/deeper/a.txt"), at("sub/b.txt"));
  EXPECT_TRUE(recorder_.await(at("sub/deeper/a.txt"), Event::kItemRenamed));
  EXPECT_TRUE(recorder_.await(at("sub/b.txt"), Event::kItemRenamed));
  fs::remove(at("sub/b.txt"));
  EXPECT_TRUE(recorder_.await(at("sub/b.txt"), Event::kItemRemoved));
}

TEST_F(WatcherTest, NewFoldersAreWatchedAndFlaggedForAScan) {
  start();
  fs::create_directories(at("new/inner"));
  ASSERT_TRUE(recorder_.await(at("new"), Event::kItemCreated | Event::kMustScanSubDirs));
  write("new/inner/later.txt");
  EXPECT_TRUE(recorder_.await(at("new/inner/later.txt"), Event::kItemCreated));
}

TEST_F(WatcherTest, MovedFolderIsFollowedUnderItsNewPath) {
  fs::create_directories(at("from/sub"));
  fs::create_directories(at("to"));
  start();
  fs::rename(at("from"), at("to/moved"));
  ASSERT_TRUE(recorder_.await(at("to/moved"), Event::kItemRenamed | Event::kMustScanSubDirs));
  write("to/moved/sub/x.txt");
  EXPECT_TRUE(recorder_.await(at("to/moved/sub/x.txt"), Event::kItemCreated));
  EXPECT_FALSE(recorder_.saw(at("from/sub/x.txt")));
}

TEST_F(WatcherTest, ExcludedAndFilteredFoldersAreNotWatched) {
  fs::create_directories(at("cache/deep"));
  fs::create_directories(at(".git/objects"));
  fs::create_directories(at("kept"));
  DirectoryWatcher::Options options;
  options.watchFolder = [](std::string_view path) { return !path.ends_with("/.git"); };
  start({at("cache")}, options);
  EXPECT_EQ(watcher_->watchCount(), 2u);  // the root and "kept"
  write("cache/deep/x");
  write(".git/objects/y");
  write("kept/z");
  ASSERT_TRUE(recorder_.await(at("kept/z"), Event::kItemCreated));
  EXPECT_FALSE(recorder_.saw(at("cache/")));
  EXPECT_FALSE(recorder_.saw(at(".git/")));
}

TEST_F(WatcherTest, OverflowAsksForARescanOfEveryRoot) {
  start();
  watcher_->simulateOverflow();
  EXPECT_TRUE(recorder_.await(root_, Event::kKernelDropped));
}

TEST_F(WatcherTest, RunningOutOfWatchesIsLoggedOnceAndReportedForRescan) {
  std::mutex mutex;
  std::vector<std::string> lines;
  DirectoryWatcher::Options options;
  options.log = [&](std::string_view line) {
    const std::lock_guard lock(mutex);
    lines.emplace_back(line);
  };
  start({}, options);
  watcher_->limitWatchesForTesting(0);
  fs::create_directories(at("a"));
  fs::create_directories(at("b"));
  EXPECT_TRUE(recorder_.await(at("a"), Event::kItemCreated | Event::kUserDropped));
  EXPECT_TRUE(recorder_.await(at("b"), Event::kItemCreated | Event::kUserDropped));
  const std::lock_guard lock(mutex);
  EXPECT_EQ(lines.size(), 1u);
}

TEST_F(WatcherTest, BurstsArriveInFewBatchesAndNothingAfterRelease) {
  watcher_ = DirectoryWatcher::create({root_}, {}, true, 300ms, queue_, recorder_.handler());
  for (int i = 0; i < 50; ++i) {
    write(std::string("f").append(std::to_string(i)));
  }
  ASSERT_TRUE(recorder_.await(at("f49"), Event::kItemCreated));
  EXPECT_LE(recorder_.batches(), 2);
  write("late");
  watcher_.reset();
  queue_.sync([] {});
  EXPECT_FALSE(recorder_.saw(at("late")));
}

TEST_F(WatcherTest, FolderLevelStreamReportsTheFolder) {
  fs::create_directories(at("apps"));
  watcher_ = DirectoryWatcher::create({root_}, 20ms, queue_, recorder_.handler());
  ASSERT_NE(watcher_, nullptr);
  write("apps/x.desktop");
  EXPECT_TRUE(recorder_.await(at("apps"), 0));
  EXPECT_FALSE(recorder_.saw(at("apps/x.desktop")));
}

}  // namespace
}  // namespace vesk
