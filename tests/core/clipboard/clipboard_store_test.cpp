#include "core/clipboard/clipboard_store.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/core/clipboard/clip_test_folder.h"

namespace vesk {
namespace {

using test::killMidway;
using test::TemporaryFolder;

Representation utf8(std::string_view text) {
  return {"public.utf8-plain-text", Bytes(text.begin(), text.end())};
}

ClipContent textContent(std::string_view text, Clip::Kind kind = Clip::Kind::text) {
  return {kind, std::string(text), {{utf8(text)}}, std::nullopt};
}

// Runs SQL on the store's database through a second connection, as another process would.
std::string sql(const std::string& path, const std::string& statement) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  std::string result;
  char* error = nullptr;
  sqlite3_exec(
      db, statement.c_str(),
      [](void* out, int columns, char** values, char**) {
        auto& text = *static_cast<std::string*>(out);
        for (int i = 0; i < columns; ++i) {
          text += text.empty() ? "" : "|";
          text += values[i] != nullptr ? values[i] : "NULL";
        }
        return 0;
      },
      &result, &error);
  if (error != nullptr) {
    result = std::string("error: ") + error;
    sqlite3_free(error);
  }
  sqlite3_close(db);
  return result;
}

std::string fileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

unsigned modeOf(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_mode & 0777;
}

TEST(ClipboardStore, NewHistoryIsPrivateAndHasTheCurrentSchema) {
  TemporaryFolder home;
  const std::string folder = home / "vesk/clipboard";
  ClipboardStore store(folder);
  ASSERT_TRUE(store.load());
  EXPECT_EQ(modeOf(folder), 0700U);
  EXPECT_EQ(modeOf(folder + "/images"), 0700U);
  EXPECT_EQ(modeOf(folder + "/history.sqlite"), 0600U);
  ASSERT_TRUE(store.add(textContent("secret"), std::nullopt, 1));
  EXPECT_EQ(modeOf(folder + "/history.sqlite-wal"), 0600U);

  const std::string db = folder + "/history.sqlite";
  EXPECT_EQ(sql(db, "PRAGMA user_version"), "1");
  EXPECT_EQ(sql(db, "PRAGMA auto_vacuum"), "2");
  EXPECT_EQ(sql(db, "PRAGMA journal_mode"), "wal");
}

TEST(ClipboardStore, RepeatedCopyMovesTheSameClipAndKeepsItsPinAndSource) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  const auto first = store.add(textContent("hello"), "org.example.A", 10);
  ASSERT_TRUE(first);
  EXPECT_EQ(first.value().size, 10);  // text + its one representation
  ASSERT_TRUE(store.setPinned(true, first.value().id));

  auto again = store.add(textContent("hello"), std::nullopt, 20);
  ASSERT_TRUE(again);
  EXPECT_EQ(again.value().id, first.value().id);
  EXPECT_EQ(again.value().copied, 20);
  EXPECT_EQ(again.value().source, "org.example.A");
  EXPECT_TRUE(again.value().pinned);

  again = store.add(textContent("hello"), "org.example.B", 30);
  EXPECT_EQ(again.value().source, "org.example.B");
  EXPECT_EQ(store.load().value().size(), 1U);
}

TEST(ClipboardStore, LoadCutsLongTextsButKeepsTheirFullLength) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  std::string accented;
  for (int i = 0; i < 5000; ++i) {
    accented += "\xC3\xA9";  // é: two bytes, one character
  }
  std::string paths;
  while (paths.size() < 300000) {
    paths += "/home/me/some/folder/file.txt\n";
  }
  paths.resize(300000);
  const auto text = store.add(textContent(accented), std::nullopt, 1).value();
  const auto files = store.add(textContent(paths, Clip::Kind::files), std::nullopt, 2).value();

  EXPECT_EQ(text.text.size(), 2U * Clip::textLimit);
  EXPECT_EQ(text.textBytes, 10000);
  EXPECT_EQ(store.text(text.id).value(), accented);
  EXPECT_EQ(files.text.size(), static_cast<size_t>(Clip::pathsLimit));
  EXPECT_EQ(files.lines, Clip::lineCount(paths));

  const auto loaded = store.load().value();
  ASSERT_EQ(loaded.size(), 2U);
  EXPECT_EQ(loaded[0], files);  // newest first
  EXPECT_EQ(loaded[1], text);
}

TEST(ClipboardStore, TenMegabyteTextIsStoredWhole) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  std::string big(10 * 1024 * 1024, 'x');
  for (size_t i = 0; i < big.size(); i += 80) {
    big[i] = '\n';
  }
  const auto clip = store.add(textContent(big), std::nullopt, 1);
  ASSERT_TRUE(clip);
  EXPECT_EQ(clip.value().textBytes, static_cast<int64_t>(big.size()));
  EXPECT_EQ(store.text(clip.value().id).value(), big);
  EXPECT_EQ(store.items(clip.value().id).value(), (ClipItems{{utf8(big)}}));
}

TEST(ClipboardStore, PruneRemovesOldestUnpinnedUntilTheRestFits) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  // Sizes 10, 20 and 30 bytes: text plus its representation.
  const auto a = store.add(textContent("aaaaa"), std::nullopt, 1).value();
  const auto b = store.add(textContent("bbbbbbbbbb"), std::nullopt, 2).value();
  const auto c = store.add(textContent("ccccccccccccccc"), std::nullopt, 3).value();
  const auto pinned = store.add(textContent(std::string(500, 'p')), std::nullopt, 0).value();
  ASSERT_TRUE(store.setPinned(true, pinned.id));
  EXPECT_EQ(a.size + b.size + c.size, 60);

  const auto removed = store.prune({.maxBytes = 35, .maxAge = 1e9}, 4);
  EXPECT_EQ(removed.value(), (std::vector<int64_t>{a.id, b.id}));
  EXPECT_EQ(store.load().value().size(), 2U);
  EXPECT_EQ(store.prune({.maxBytes = 35, .maxAge = 1e9}, 4).value(), std::vector<int64_t>{});
}

TEST(ClipboardStore, PruneByAgeAndZeroLimitsSparePinnedClips) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  const auto old = store.add(textContent("old"), std::nullopt, 100).value();
  const auto now = store.add(textContent("now"), std::nullopt, 200).value();
  const auto pinned = store.add(textContent("pinned"), std::nullopt, 50).value();
  ASSERT_TRUE(store.setPinned(true, pinned.id));

  EXPECT_EQ(store.prune({.maxAge = 0}, 200).value(), std::vector<int64_t>{old.id});
  EXPECT_EQ(store.prune({.maxBytes = 0}, 200).value(), std::vector<int64_t>{now.id});
  const auto left = store.load().value();
  ASSERT_EQ(left.size(), 1U);
  EXPECT_EQ(left[0].id, pinned.id);
  EXPECT_EQ(store.clear().value(), std::vector<int64_t>{});
  EXPECT_EQ(store.load().value().size(), 1U);
}

TEST(ClipboardStore, DeletedClipsTakeTheirRepresentationsAndAreGoneForGood) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  const auto clip = store.add(textContent("gone"), std::nullopt, 1).value();
  const auto kept = store.add(textContent("kept"), std::nullopt, 2).value();
  ASSERT_TRUE(store.deleteClip(clip.id));
  EXPECT_EQ(sql(folder / "history.sqlite", "SELECT count(*) FROM representation"), "1");
  EXPECT_EQ(store.items(clip.id).failure().description, "it's no longer in the history");
  EXPECT_EQ(store.text(clip.id).failure().description,
            "clip " + std::to_string(clip.id) + " isn't in the history");
  EXPECT_EQ(store.touch(clip.id, 5).failure().description,
            "clip " + std::to_string(clip.id) + " vanished");
  EXPECT_EQ(store.touch(kept.id, 5).value().copied, 5);
  // Ids are never reused, so a pasted id can't name a newer clip.
  EXPECT_GT(store.add(textContent("new"), std::nullopt, 3).value().id, kept.id);
}

TEST(ClipboardStore, ItemsKeepTheirPlacesAndAClipWithoutAnyFailsToPaste) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  const ClipContent two{Clip::Kind::files,
                        "/a\n/b",
                        {{{"public.file-url", Bytes{'1'}}}, {{"public.file-url", Bytes{'2'}}}},
                        std::nullopt};
  const auto clip = store.add(two, std::nullopt, 1).value();
  EXPECT_EQ(store.items(clip.id).value(), two.items);
  const auto empty = store.add({Clip::Kind::text, " ", {}, std::nullopt}, std::nullopt, 2);
  EXPECT_EQ(store.items(empty.value().id).failure().description, "nothing of it is left to paste");
}

TEST(ClipboardStore, FailedInsertLeavesNoRow) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  ASSERT_TRUE(store.load());
  sql(folder / "history.sqlite",
      "CREATE TRIGGER refuse BEFORE INSERT ON representation "
      "BEGIN SELECT RAISE(ABORT, 'disk trouble'); END");
  const auto failed = store.add(textContent("lost?"), std::nullopt, 1);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.failure().description, "disk trouble");
  EXPECT_EQ(sql(folder / "history.sqlite", "SELECT count(*) FROM clip"), "0");
  // The store is still usable once the cause is gone.
  sql(folder / "history.sqlite", "DROP TRIGGER refuse");
  EXPECT_TRUE(store.add(textContent("lost?"), std::nullopt, 1));
}

TEST(ClipboardStore, ImageContentWithoutACodecFailsAndWritesNothing) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  const ClipContent image{Clip::Kind::image, "", {}, Bytes{0x89, 'P', 'N', 'G'}};
  EXPECT_EQ(store.add(image, std::nullopt, 1).failure().description,
            "the copied image couldn't be read");
  EXPECT_TRUE(std::filesystem::is_empty(folder / "images"));
  EXPECT_EQ(store.load().value().size(), 0U);
}

TEST(ClipboardStore, LoadRemovesFilesThatBelongToNoImageClip) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  const auto text = store.add(textContent("text"), std::nullopt, 1).value();
  for (const std::string& name :
       std::vector<std::string>{std::to_string(text.id) + ".png", "77-row.png", "notes.txt",
                                "99999999999999999999999.png", ".partial-abc"}) {
    std::ofstream(folder / ("images/" + name)) << "x";
  }
  std::filesystem::create_directory(folder / "images/5-folder");
  ASSERT_TRUE(store.load());
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "images")) {
    left.insert(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::set<std::string>{"5-folder"}) << "folders are never removed";
}

TEST(ClipboardStore, StaleImageFilesNeverJoinANewTextClip) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path());
  ASSERT_TRUE(store.load());
  // Left by a crash before an image insert committed: the id is handed out again.
  std::ofstream(folder / "images/1.png") << "stale";
  const auto clip = store.add(textContent("fresh"), std::nullopt, 1).value();
  ASSERT_EQ(clip.id, 1);
  EXPECT_EQ(store.items(clip.id).value(), (ClipItems{{utf8("fresh")}}));
}

TEST(ClipboardStore, NewerDatabaseIsRefusedAndLeftAlone) {
  TemporaryFolder folder;
  const std::string db = folder / "history.sqlite";
  sql(db, "CREATE TABLE future (x); PRAGMA user_version = 2;");
  const std::string before = fileContents(db);
  const std::string message = "the clipboard history is from a newer Vesk (version 2)";

  ClipboardStore store(folder.path());
  EXPECT_EQ(store.load().failure().description, message);
  EXPECT_EQ(store.add(textContent("x"), std::nullopt, 1).failure().description, message);
  EXPECT_EQ(store.prune({.maxBytes = 0}, 1).failure().description, message);
  EXPECT_EQ(store.clear().failure().description, message);
  EXPECT_EQ(store.items(1).failure().description, message);
  EXPECT_EQ(store.text(1).failure().description, message);
  EXPECT_EQ(store.touch(1, 1).failure().description, message);
  EXPECT_EQ(store.setPinned(true, 1).failure().description, message);
  EXPECT_EQ(store.deleteClip(1).failure().description, message);
  EXPECT_EQ(fileContents(db), before);
}

TEST(ClipboardStore, FileThatIsNoDatabaseIsRefusedAndLeftAlone) {
  TemporaryFolder folder;
  const std::string db = folder / "history.sqlite";
  const std::string notes(8192, 'n');
  std::ofstream(db) << notes;
  ClipboardStore store(folder.path());
  const auto loaded = store.load();
  ASSERT_FALSE(loaded);
  EXPECT_EQ(loaded.failure().description, "file is not a database");
  EXPECT_FALSE(store.add(textContent("x"), std::nullopt, 1));
  EXPECT_FALSE(store.clear());
  EXPECT_FALSE(store.prune({.maxBytes = 0}, 1));
  EXPECT_EQ(fileContents(db), notes);
}

TEST(ClipboardStore, UnusableFolderFailsWithItsPath) {
  TemporaryFolder folder;
  std::ofstream(folder / "clipboard") << "a file where the folder should be";
  ClipboardStore store(folder / "clipboard");
  const auto loaded = store.load();
  ASSERT_FALSE(loaded);
  EXPECT_EQ(loaded.failure().description,
            "couldn't create " + (folder / "clipboard/images") + ": Not a directory");
}

TEST(ClipboardStore, PausedMarkerSurvivesTheStore) {
  TemporaryFolder folder;
  {
    ClipboardStore store(folder / "clipboard");
    EXPECT_FALSE(store.isPaused().value());
    ASSERT_TRUE(store.setPaused(true));
    EXPECT_EQ(modeOf(folder / "clipboard/paused"), 0600U);
  }
  ClipboardStore store(folder / "clipboard");
  EXPECT_TRUE(store.isPaused().value());
  ASSERT_TRUE(store.setPaused(false));
  ASSERT_TRUE(store.setPaused(false));
  EXPECT_FALSE(store.isPaused().value());
}

TEST(ClipboardStore, KilledWhileAddingLeavesAHistoryThatOpens) {
  TemporaryFolder folder;
  ASSERT_TRUE(killMidway([&](const std::function<void()>& ready) {
    ClipboardStore store(folder.path());
    for (int i = 0;; ++i) {
      const std::string text = "clip " + std::to_string(i) + std::string(i % 700, 'z');
      if (!store.add(textContent(text), "org.example.Child", i)) {
        ::_exit(1);
      }
      if (i == 50) {
        ready();
      }
    }
  }));

  ClipboardStore store(folder.path());
  const auto loaded = store.load();
  ASSERT_TRUE(loaded) << loaded.failure().description;
  EXPECT_GT(loaded.value().size(), 50U);
  EXPECT_EQ(sql(folder / "history.sqlite", "PRAGMA integrity_check"), "ok");
  for (const Clip& clip : loaded.value()) {
    EXPECT_EQ(store.text(clip.id).value().rfind("clip ", 0), 0U);
  }
  EXPECT_TRUE(store.add(textContent("after the crash"), std::nullopt, 1e6));
}

}  // namespace
}  // namespace vesk
