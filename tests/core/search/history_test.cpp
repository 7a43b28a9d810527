#include "core/search/history.h"

#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/search/item.h"
#include "core/search/search_index.h"

namespace vesk {
namespace {

constexpr double kDay = 86400;
constexpr double kNow = 1700000000;  // 2023-11-14

std::string idNumber(int i) {
  char id[32];
  std::snprintf(id, sizeof id, "file:/f/%03d", i);
  return id;
}

// --- Recording ---

TEST(History, StartsEmpty) {
  const History history;
  EXPECT_TRUE(history.isEmpty());
  EXPECT_TRUE(history.ids().empty());
  EXPECT_FALSE(history.lastOpened("x"));
  EXPECT_EQ(history.frecency("x", kNow), 0);
}

TEST(History, RecordCountsOpensAndKeepsTheirTimesOldestFirst) {
  History history;
  history.record("/Applications/Safari.app", kNow - 10);
  history.record("/Applications/Safari.app", kNow);
  const auto& entry = history.entries().at("/Applications/Safari.app");
  EXPECT_EQ(entry.count, 2);
  EXPECT_EQ(entry.opens, (std::vector<double>{kNow - 10, kNow}));
  EXPECT_EQ(history.lastOpened("/Applications/Safari.app"), kNow);
  EXPECT_FALSE(history.isEmpty());
  EXPECT_EQ(history.ids(), (std::vector<std::string>{"/Applications/Safari.app"}));
}

TEST(History, EleventhOpenKeepsCountElevenAndTheTenNewestTimes) {
  History history;
  for (int i = 1; i <= 11; ++i) {
    history.record("command:quit", i);
  }
  const auto& entry = history.entries().at("command:quit");
  EXPECT_EQ(entry.count, 11);
  EXPECT_EQ(entry.opens, (std::vector<double>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST(History, TwoHundredEntriesAreKeptWithoutPruning) {
  History history;
  for (int i = 0; i < 200; ++i) {
    history.record(idNumber(i), kNow);
  }
  EXPECT_EQ(history.entries().size(), 200u);
}

TEST(History, TwoHundredAndFirstEntryRemovesTheLowestFrecency) {
  History history;
  for (int i = 0; i < 200; ++i) {
    history.record(idNumber(i), i == 137 ? kNow - 100 * kDay : kNow);
  }
  history.record("file:/new", kNow);
  EXPECT_EQ(history.entries().size(), 200u);
  EXPECT_FALSE(history.entries().contains(idNumber(137)));
  EXPECT_TRUE(history.entries().contains("file:/new"));
}

TEST(History, PruningNeverRemovesTheEntryJustRecordedAndTakesTheFirstOfEqualLowest) {
  History history;
  for (int i = 0; i < 200; ++i) {
    for (int n = 0; n < 3; ++n) {
      history.record(idNumber(i), kNow);  // frecency 300 each
    }
  }
  history.record("file:/new", kNow);  // frecency 100: the lowest, but just recorded
  EXPECT_EQ(history.entries().size(), 200u);
  EXPECT_TRUE(history.entries().contains("file:/new"));
  EXPECT_FALSE(history.entries().contains(idNumber(0)));
  EXPECT_TRUE(history.entries().contains(idNumber(1)));
}

TEST(History, RecordingAnExistingIdAtTheLimitRemovesNothing) {
  History history;
  for (int i = 0; i < 200; ++i) {
    history.record(idNumber(i), kNow);
  }
  history.record(idNumber(5), kNow);
  EXPECT_EQ(history.entries().size(), 200u);
  EXPECT_EQ(history.entries().at(idNumber(5)).count, 2);
}

// --- Frecency and boosts ---

TEST(History, ThreeOpensWithinFourDaysHaveFrecency300AndBoost24) {
  History history;
  history.record("a", kNow - 3.9 * kDay);
  history.record("a", kNow - 1 * kDay);
  history.record("a", kNow);
  EXPECT_DOUBLE_EQ(history.frecency("a", kNow), 300);
  EXPECT_EQ(History::boost(history.frecency("a", kNow)), 24);
}

TEST(History, TwentyOpensWhoseLastTenAreOldHaveFrecency200AndBoost19) {
  History history;
  for (int i = 0; i < 20; ++i) {
    history.record("a", kNow - 100 * kDay);
  }
  EXPECT_DOUBLE_EQ(history.frecency("a", kNow), 200);
  EXPECT_EQ(History::boost(200), 19);
}

TEST(History, AgeWeightsChangeAtTheirBoundaries) {
  struct Row {
    double ageDays;
    double weight;
  };
  const Row rows[] = {{-1, 100},    {0, 100}, {3.999, 100}, {4, 70},  {13.999, 70}, {14, 50},
                      {30.999, 50}, {31, 30}, {89.999, 30}, {90, 10}, {1000, 10}};
  for (const Row& row : rows) {
    History history;
    history.record("a", kNow - row.ageDays * kDay);
    EXPECT_DOUBLE_EQ(history.frecency("a", kNow), row.weight) << row.ageDays;
  }
}

TEST(History, FrecencyIsTheMeanWeightTimesTheCount) {
  History history;
  history.record("a", kNow - 20 * kDay);  // 50
  history.record("a", kNow);              // 100
  EXPECT_DOUBLE_EQ(history.frecency("a", kNow), (50 + 100) * 2 / 2.0);
}

TEST(History, BoostFigures) {
  EXPECT_EQ(History::boost(0), 0);
  EXPECT_EQ(History::boost(100), 12);   // opened once today
  EXPECT_EQ(History::boost(300), 24);   // three times today
  EXPECT_EQ(History::boost(1000), 42);  // ten times today: 41.5 rounds up
  EXPECT_EQ(History::boost(1400), 47);
  EXPECT_EQ(History::boost(1460), 48);
  EXPECT_EQ(History::boost(1e9), History::kMaxBoost);
}

TEST(History, BoostsForAnIndexWithoutHistoryAreZeros) {
  std::vector<Item> items;
  for (const char* name : {"A", "B", "C", "D", "E"}) {
    items.push_back(Item::app(name, std::string("/Applications/") + name + ".app"));
  }
  const SearchIndex index(items);
  EXPECT_EQ(History().boosts(index, kNow), std::vector<int32_t>(5, 0));
  EXPECT_TRUE(History().boosts(SearchIndex::empty(), kNow).empty());
}

TEST(History, BoostsGoToTheIndexedPositionOfEachId) {
  const SearchIndex index({Item::app("Safari", "/Applications/Safari.app"),
                           Item::command(Command::quit),
                           Item::app("Mail", "/Applications/Mail.app")});
  History history;
  history.record("/Applications/Safari.app", kNow);
  for (int i = 0; i < 3; ++i) {
    history.record("command:quit", kNow);
  }
  history.record("/Applications/Gone.app", kNow);
  std::vector<int32_t> expected(3, 0);
  expected[*index.position("/Applications/Safari.app")] = 12;
  expected[*index.position("command:quit")] = 24;
  EXPECT_EQ(history.boosts(index, kNow), expected);
}

TEST(History, BoostOfADuplicatedIdGoesToItsFirstPosition) {
  const SearchIndex index(
      {Item::app("Term", "/x/Term.app", "dup"), Item::app("Term Beta", "/y/Term Beta.app", "dup")});
  History history;
  history.record("dup", kNow);
  EXPECT_EQ(history.boosts(index, kNow), (std::vector<int32_t>{12, 0}));
}

TEST(History, FileBoostsMapPathsOfFilesAndFoldersOnly) {
  History history;
  history.record("file:/home/me/a.txt", kNow);
  for (int i = 0; i < 3; ++i) {
    history.record("folder:/home/me/Projects", kNow);
  }
  history.record("/Applications/Safari.app", kNow);
  history.record("command:quit", kNow);
  const auto boosts = history.fileBoosts(kNow);
  EXPECT_EQ(boosts.size(), 2u);
  EXPECT_EQ(boosts.at("/home/me/a.txt"), 12);
  EXPECT_EQ(boosts.at("/home/me/Projects"), 24);
}

TEST(History, FileBoostsUseThePathWithoutTrailingSlashAndKeepTheLarger) {
  History history;
  history.record("folder:/home/me/Projects/", kNow);
  for (int i = 0; i < 3; ++i) {
    history.record("folder:/home/me/Projects", kNow);
  }
  const auto boosts = history.fileBoosts(kNow);
  ASSERT_EQ(boosts.size(), 1u);
  EXPECT_EQ(boosts.at("/home/me/Projects"), 24);
}

// --- Listing and forgetting ---

TEST(History, RecentListsNewestFirstUpToTheLimit) {
  History history;
  history.record("b", kNow - 30);
  history.record("a", kNow - 10);
  history.record("c", kNow - 20);
  history.record("b", kNow - 40);  // an older time appended later still counts as the last
  EXPECT_EQ(history.recent(8), (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(history.recent(2), (std::vector<std::string>{"a", "c"}));
  EXPECT_TRUE(history.recent(0).empty());
}

TEST(History, RemoveDeletesOneEntry) {
  History history;
  history.record("a", kNow);
  history.record("b", kNow);
  history.remove("a");
  history.remove("missing");
  EXPECT_EQ(history.ids(), (std::vector<std::string>{"b"}));
}

TEST(History, ForgetTakesThePathAndWhatIsUnderItButNotSiblingsWithTheSamePrefix) {
  History history;
  history.record("folder:/Users/me/Old", kNow);
  history.record("file:/Users/me/Old/a.txt", kNow);
  history.record("file:/Users/me/Old/deep/er/b.txt", kNow);
  history.record("file:/Users/me/Older/b.txt", kNow);
  history.record("folder:/Users/me", kNow);
  EXPECT_TRUE(history.forget({"/Users/me/Old"}));
  EXPECT_EQ(history.ids(),
            (std::vector<std::string>{"file:/Users/me/Older/b.txt", "folder:/Users/me"}));
}

TEST(History, ForgetLeavesApplicationsAndCommands) {
  History history;
  history.record("/Users/me/Old/Tool.app", kNow);
  history.record("command:quit", kNow);
  EXPECT_FALSE(history.forget({"/Users/me/Old", "command:quit"}));
  EXPECT_EQ(history.ids().size(), 2u);
}

TEST(History, ForgetWithNoPathsChangesNothing) {
  History history;
  history.record("file:/a", kNow);
  EXPECT_FALSE(history.forget({}));
  EXPECT_FALSE(history.forget({"/b"}));
  EXPECT_EQ(history.ids().size(), 1u);
}

TEST(History, ForgetNonAsciiPaths) {
  History history;
  history.record("file:/home/me/Café/Ärger.txt", kNow);
  history.record("file:/home/me/日本/語.txt", kNow);
  EXPECT_TRUE(history.forget({"/home/me/日本"}));
  EXPECT_EQ(history.ids(), (std::vector<std::string>{"file:/home/me/Café/Ärger.txt"}));
}

// --- Dropping dead files ---

TEST(History, DroppingDeadFilesAsksOnlyAboutFilesAndFolders) {
  History history;
  history.record("file:/gone.txt", kNow);
  history.record("folder:/kept", kNow);
  history.record("/Applications/Gone.app", kNow);
  history.record("command:quit", kNow);
  std::vector<std::string> asked;
  const History alive = history.droppingDeadFiles([&asked](const std::string& path) {
    asked.push_back(path);
    return path == "/gone.txt";
  });
  EXPECT_EQ(asked, (std::vector<std::string>{"/gone.txt", "/kept"}));
  EXPECT_EQ(alive.ids(),
            (std::vector<std::string>{"/Applications/Gone.app", "command:quit", "folder:/kept"}));
  EXPECT_EQ(history.ids().size(), 4u) << "the original is unchanged";
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vesk-history-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

TEST(PathIsGone, ExistingFileAndFolderAreNotGone) {
  TempFolder folder;
  const auto file = folder.path() / "a.txt";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_FALSE(pathIsGone(file.string()));
  EXPECT_FALSE(pathIsGone(folder.path().string()));
}

TEST(PathIsGone, DeletedFileInAnOrdinaryFolderIsGone) {
  TempFolder folder;
  EXPECT_TRUE(pathIsGone((folder.path() / "never-there.txt").string()));
  EXPECT_TRUE(pathIsGone((folder.path() / "missing" / "deeper").string()));
}

TEST(PathIsGone, DanglingSymlinkIsNotGone) {
  TempFolder folder;
  const auto link = folder.path() / "link";
  std::filesystem::create_symlink(folder.path() / "nowhere", link);
  EXPECT_FALSE(pathIsGone(link.string()));
}

TEST(PathIsGone, PathThatCannotBeExaminedIsNotGone) {
  TempFolder folder;
  const auto file = folder.path() / "plain";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  // lstat fails with ENOTDIR, not ENOENT.
  EXPECT_FALSE(pathIsGone((file / "child").string()));
}

TEST(PathIsGone, FileOnAnUnmountedVolumeIsNotGone) {
  const std::string volume = "/Volumes/vesk-test-unmounted-volume";
  ASSERT_FALSE(std::filesystem::exists(volume));
  EXPECT_FALSE(pathIsGone(volume + "/Documents/a.txt"));
  EXPECT_FALSE(pathIsGone("//Volumes//vesk-test-unmounted-volume/a.txt"));
}

TEST(PathIsGone, FileOnAnUnpluggedLinuxDriveIsNotGone) {
  // With no drive mounted there, the nearest existing folder is the mount area's own.
  EXPECT_FALSE(pathIsGone("/media/vesk-test-user/USB-STICK/Photos/a.jpg"));
  EXPECT_FALSE(pathIsGone("/run/media/vesk-test-user/Backup/a.txt"));
  EXPECT_FALSE(pathIsGone("/mnt/vesk-test-share/a.txt"));
  // A mount area's name deeper in a path means nothing.
  EXPECT_TRUE(pathIsGone("/tmp/vesk-test-no-such/media/x/a.txt"));
}

TEST(PathIsGone, VolumesOnlyCountsAsTheFirstPiece) {
  EXPECT_TRUE(pathIsGone("/tmp/vesk-test-no-such/Volumes/x/a.txt"));
  if (!std::filesystem::exists("/Volumes")) {
    EXPECT_TRUE(pathIsGone("/Volumes"));
  }
}

// --- JSON ---

TEST(HistoryJSON, EncodesCompactly) {
  History history;
  history.record("file:/a", 1.5);
  history.record("file:/a", 2);
  EXPECT_EQ(history.toJSON(), R"({"entries":{"file:/a":{"count":2,"opens":[1.5,2.0]}}})");
  EXPECT_EQ(History().toJSON(), R"({"entries":{}})");
}

TEST(HistoryJSON, RoundTripsExactly) {
  History history;
  history.record("/Applications/Safari.app", 1700000000.123456);
  history.record("/Applications/Safari.app", 1700000001.987654321);
  history.record("file:/home/me/Café/日本語.txt", 0.1);
  history.record("command:quit", -5);
  const auto decoded = History::fromJSON(history.toJSON());
  ASSERT_TRUE(decoded.ok()) << decoded.failure().description;
  EXPECT_EQ(decoded.value(), history);
}

TEST(HistoryJSON, ALoadedCountAtItsLargestStaysThereOnTheNextOpen) {
  auto decoded =
      History::fromJSON(R"({"entries":{"a":{"count":9223372036854775807,"opens":[1]}}})");
  ASSERT_TRUE(decoded.ok()) << decoded.failure().description;
  History history = std::move(decoded).value();
  history.record("a", 2);
  EXPECT_EQ(history.entries().at("a").count, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(history.lastOpened("a"), 2);
}

TEST(HistoryJSON, DecodesIgnoringSpacingOrderAndUnknownKeys) {
  const auto decoded = History::fromJSON(R"({
    "version": 2,
    "entries": {
      "b": { "opens": [ 1, 2.5 ], "count": 7, "pinned": true },
      "a": { "count": 0, "opens": [] }
    }
  })");
  ASSERT_TRUE(decoded.ok()) << decoded.failure().description;
  const History& history = decoded.value();
  EXPECT_EQ(history.entries().at("b"), (History::Entry{7, {1, 2.5}}));
  EXPECT_EQ(history.entries().at("a"), (History::Entry{0, {}}));
}

TEST(HistoryJSON, AnIdThatIsNotUtf8IsNotRecorded) {
  // JSON holds only UTF-8: written repaired, the id would name another file after a restart.
  History history;
  history.record(std::string("file:/r/report\xff.txt"), kNow);
  history.record("file:/r/plain.txt", kNow);
  EXPECT_EQ(history.ids(), std::vector<std::string>{"file:/r/plain.txt"});
  EXPECT_TRUE(History::fromJSON(history.toJSON()).ok());
}

TEST(HistoryJSON, EveryOtherShapeFailsAsAWhole) {
  const char* bad[] = {
      "",
      "not json",
      R"({"entries":{})",
      "[]",
      "null",
      "42",
      R"("entries")",
      "{}",
      R"({"entries":null})",
      R"({"entries":[]})",
      R"({"entries":{"x":[]}})",
      R"({"entries":{"x":null}})",
      R"({"entries":{"x":{"count":1}}})",
      R"({"entries":{"x":{"opens":[1]}}})",
      R"({"entries":{"x":{"count":"1","opens":[]}}})",
      R"({"entries":{"x":{"count":1.5,"opens":[]}}})",
      R"({"entries":{"x":{"count":-1,"opens":[]}}})",
      R"({"entries":{"x":{"count":true,"opens":[]}}})",
      R"({"entries":{"x":{"count":null,"opens":[]}}})",
      R"({"entries":{"x":{"count":18446744073709551615,"opens":[]}}})",
      R"({"entries":{"x":{"count":1,"opens":"1"}}})",
      R"({"entries":{"x":{"count":1,"opens":{}}}})",
      R"({"entries":{"x":{"count":1,"opens":[1,"2"]}}})",
      R"({"entries":{"x":{"count":1,"opens":[null]}}})",
      R"({"entries":{"x":{"count":1,"opens":[[1]]}}})",
      R"({"entries":{"x":{"count":1,"opens":[1e999]}}})",
      R"({"entries":{"good":{"count":1,"opens":[1]},"x":{"count":1}}})",
  };
  for (const char* json : bad) {
    const auto decoded = History::fromJSON(json);
    EXPECT_FALSE(decoded.ok()) << json;
    if (!decoded.ok()) {
      EXPECT_FALSE(decoded.failure().description.empty());
    }
  }
}

TEST(HistoryJSON, FailureNamesTheEntryAndTheMissingKey) {
  const auto decoded = History::fromJSON(R"({"entries":{"file:/a":{"count":1}}})");
  ASSERT_FALSE(decoded.ok());
  EXPECT_NE(decoded.failure().description.find("file:/a"), std::string::npos);
  EXPECT_NE(decoded.failure().description.find("opens"), std::string::npos);
}

}  // namespace
}  // namespace vesk
