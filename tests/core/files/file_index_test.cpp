#include "core/files/file_index.h"

#include <array>
#include <bit>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/search/fuzzy_matcher.h"
#include "core/search/search_key.h"

namespace vesk {
namespace {

// Every name hashes alike, so every pair of siblings collides.
uint64_t constantHash(std::string_view) {
  return 42;
}

bool hasPath(const std::vector<FileHit>& hits, const std::string& path) {
  return std::any_of(hits.begin(), hits.end(), [&](const FileHit& h) { return h.path == path; });
}

// Recomputes every search bitmap of `index` from its entries' names and flags.
void expectBitmapsHold(const FileIndex& index, const std::string& when) {
  const size_t words =
      (index.entryCount() + FileIndex::kBlockEntries - 1) / FileIndex::kBlockEntries;
  std::vector<uint64_t> folders(words);
  std::array<std::vector<uint64_t>, FileIndex::kMaskBits> chars;
  std::array<std::vector<uint64_t>, FileIndex::kLongKeys.size()> longs;
  chars.fill(std::vector<uint64_t>(words));
  longs.fill(std::vector<uint64_t>(words));
  std::vector<uint8_t> shortest(words, 255);
  for (size_t i = 0; i < index.entryCount(); ++i) {
    const auto entry = static_cast<int32_t>(i);
    const uint8_t flags = index.flags(entry);
    if ((flags & (FileIndex::kRemoved | FileIndex::kRoot)) != 0) {
      continue;
    }
    const size_t word = i / FileIndex::kBlockEntries;
    const uint64_t bit = uint64_t{1} << (i % FileIndex::kBlockEntries);
    std::vector<uint8_t> key;
    std::vector<uint8_t> bonus;
    Folding::fold(index.name(entry), key, bonus);
    for (uint64_t mask = Folding::mask(key); mask != 0; mask &= mask - 1) {
      chars[static_cast<size_t>(std::countr_zero(mask))][word] |= bit;
    }
    for (size_t c = 0; c < FileIndex::kLongKeys.size(); ++c) {
      longs[c][word] |= key.size() >= FileIndex::kLongKeys[c] ? bit : 0;
    }
    folders[word] |= (flags & FileIndex::kFolder) != 0 ? bit : 0;
    shortest[word] = static_cast<uint8_t>(std::min<size_t>(shortest[word], key.size()));
  }
  EXPECT_EQ(index.folderEntries(), folders) << when;
  for (size_t c = 0; c < FileIndex::kMaskBits; ++c) {
    EXPECT_EQ(index.charEntries(c), chars[c]) << when << ", character bit " << c;
  }
  for (size_t c = 0; c < FileIndex::kLongKeys.size(); ++c) {
    EXPECT_EQ(index.longEntries(c), longs[c]) << when << ", keys from " << FileIndex::kLongKeys[c];
  }
  EXPECT_EQ(index.blockShortest(), shortest) << when;
}

TEST(FileIndex, SearchBitmapsFollowEveryChangeWhetherRoomWasReservedOrNot) {
  // Names of every length class, non-ASCII ones whose keys differ in length from the names.
  const std::vector<std::string> names = {"a",
                                          "Straße.txt",
                                          "ǅemal",
                                          "report-2024.pdf",
                                          "İstanbul photos",
                                          "a very long name of a document.odt",
                                          "x_y",
                                          "日本語のファイル名です.md"};
  FileIndex grown;
  FileIndex reserved;
  reserved.reserve({300, 2000, 2000});  // less than what follows: it must grow past it
  for (FileIndex* index : {&grown, &reserved}) {
    const int32_t root = index->addRoot("/r");
    for (int f = 0; f < 400; ++f) {
      const int32_t folder = index->add("folder " + std::to_string(f), root, true);
      for (size_t n = 0; n < names.size(); ++n) {
        if ((f + n) % 3 != 0) {
          index->add(std::to_string(f) + names[n], folder, n == 4);
        }
      }
    }
    expectBitmapsHold(*index, "built");
    index->remove("/r/folder 3/3a");
    index->remove("/r/folder 7");
    ASSERT_TRUE(index->insert("/r/folder 8/new folder", true, 8));
    ASSERT_TRUE(index->insert("/r/folder 8/new folder/inside.txt", false, 8));
    ASSERT_TRUE(index->insert("/r/folder 8/new folder", false, 8));  // became a file
    expectBitmapsHold(*index, "after changes");
    const size_t before = index->entryCount();
    for (int f = 0; f < 300; ++f) {
      index->remove("/r/folder " + std::to_string(f));
    }
    EXPECT_LT(index->entryCount(), before);  // compacted
    expectBitmapsHold(*index, "after compaction");
  }
  for (const char* query : {"a", "strasse", "rep 2024", "istanbul", "folder doc", "日本"}) {
    EXPECT_EQ(grown.search(query, 30), reserved.search(query, 30)) << query;
  }
  EXPECT_EQ(grown.count(), reserved.count());
}

TEST(FileIndex, HashIsFnv1a) {
  EXPECT_EQ(fnv1a(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(fnv1a("a"), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(fnv1a("foobar"), 0x85944171f73967e8ULL);
}

TEST(FileIndex, LongestRootWins) {
  FileIndex index;
  const int32_t home = index.addRoot("/Users/me");
  const int32_t dropbox = index.addRoot("/Users/me/Dropbox");
  EXPECT_EQ(index.addRoot("/Users/me"), home);
  const int32_t file = index.add("a.txt", dropbox, false);
  index.add("Dropbox", home, true);
  EXPECT_EQ(index.entry("/Users/me/Dropbox/a.txt"), file);
  EXPECT_EQ(index.entry("/Users/me/Dropbox"), dropbox);
  EXPECT_EQ(index.path(file), "/Users/me/Dropbox/a.txt");
  EXPECT_FALSE(index.contains("/Users/me/Dropbox"));  // a root is not a file or folder
  EXPECT_EQ(index.isFolder("/Users/me/Dropbox"), std::nullopt);
  EXPECT_FALSE(index.entry("/Users/meX/a.txt"));
  EXPECT_EQ(index.count(), 2u);
}

TEST(FileIndex, CollidingSiblingsAreAllFoundAndSurviveRemoval) {
  FileIndex index(constantHash);
  const int32_t root = index.addRoot("/r");
  const int32_t a = index.add("alpha", root, true);
  const int32_t b = index.add("beta", root, false);
  const int32_t c = index.add("gamma", a, false);
  EXPECT_TRUE(index.isCollision({root, 42}));
  EXPECT_EQ(index.entry("/r/alpha"), a);
  EXPECT_EQ(index.entry("/r/beta"), b);
  EXPECT_EQ(index.entry("/r/alpha/gamma"), c);
  EXPECT_FALSE(index.entry("/r/delta"));

  index.remove("/r/alpha");  // the entry the table pointed at
  EXPECT_FALSE(index.contains("/r/alpha"));
  EXPECT_FALSE(index.contains("/r/alpha/gamma"));
  EXPECT_EQ(index.entry("/r/beta"), b);
  EXPECT_TRUE(index.insert("/r/alpha", false, 6));
  EXPECT_EQ(index.isFolder("/r/alpha"), false);
}

TEST(FileIndex, RemovedFolderTakesItsDescendants) {
  FileIndex index;
  const int32_t root = index.addRoot("/r");
  const int32_t docs = index.add("docs", root, true);
  const int32_t deep = index.add("deep", docs, true);
  index.add("a.txt", deep, false);
  index.add("b.txt", docs, false);
  index.add("keep.txt", root, false);
  EXPECT_EQ(index.count(), 5u);

  index.remove("/r/docs");
  EXPECT_EQ(index.count(), 1u);
  for (const char* gone : {"/r/docs", "/r/docs/deep", "/r/docs/deep/a.txt", "/r/docs/b.txt"}) {
    EXPECT_FALSE(index.contains(gone)) << gone;
  }
  EXPECT_TRUE(index.search("a.txt", 10).empty());
  index.remove("/r");  // roots stay
  EXPECT_TRUE(index.entry("/r"));

  EXPECT_TRUE(index.insert("/r/docs", true, 6));
  EXPECT_EQ(index.isFolder("/r/docs"), true);
  EXPECT_FALSE(index.contains("/r/docs/b.txt"));
  EXPECT_EQ(index.count(), 2u);

  index.removeDescendants("/r");
  EXPECT_EQ(index.count(), 0u);
  EXPECT_TRUE(index.entry("/r"));
}

TEST(FileIndex, InsertRespectsDepthAndKind) {
  FileIndex index;
  const int32_t root = index.addRoot("/r");
  const int32_t a = index.add("a", root, true);
  index.add("b", a, true);
  EXPECT_FALSE(index.insert("/r/a/b/c", false, 2));  // "b" is at the limit
  EXPECT_FALSE(index.contains("/r/a/b/c"));
  EXPECT_TRUE(index.insert("/r/a/b/c", false, 3));
  EXPECT_FALSE(index.insert("/r/a/b/c/d", false, 6));  // parent is a file
  EXPECT_FALSE(index.insert("/elsewhere/x", false, 6));
  EXPECT_FALSE(index.insert("relative", false, 6));

  EXPECT_TRUE(index.insert("/r/a/b/c", true, 6));  // file becomes folder
  EXPECT_EQ(index.isFolder("/r/a/b/c"), true);
  EXPECT_TRUE(index.insert("/r/a/b/c/d", false, 6));
  EXPECT_TRUE(index.insert("/r/a/b/c", false, 6));  // and back: its contents go
  EXPECT_FALSE(index.contains("/r/a/b/c/d"));
}

TEST(FileIndex, EarlierTermsMatchFoldersAboveAtHalfScore) {
  FileIndex index;
  const int32_t root = index.addRoot("/home");
  const int32_t project = index.add("project", root, true);
  index.add("README.md", project, false);
  const int32_t other = index.add("other", root, true);
  index.add("README.md", other, false);
  index.add("proj-readme.txt", other, false);

  FuzzyMatcher readme("readme");
  FuzzyMatcher proj("proj");
  const auto readmeScore = *readme.score(SearchKey("README.md"));
  const auto folderScore = *proj.score(SearchKey("project"));
  const auto hits = index.search("proj readme", 10);
  ASSERT_EQ(hits.size(), 2u);
  const auto viaFolder = std::find_if(hits.begin(), hits.end(), [](const FileHit& h) {
    return h.path == "/home/project/README.md";
  });
  ASSERT_NE(viaFolder, hits.end());
  EXPECT_EQ(viaFolder->score, readmeScore + folderScore / 2);
  EXPECT_FALSE(viaFolder->isFolder);
  // Its own name matches "proj" better than half a folder score would.
  const auto own = *proj.score(SearchKey("proj-readme.txt"));
  const auto rest = *readme.score(SearchKey("proj-readme.txt"));
  EXPECT_TRUE(hasPath(hits, "/home/other/proj-readme.txt"));
  EXPECT_EQ(hits[0].path == "/home/other/proj-readme.txt" ? hits[0].score : hits[1].score,
            own + rest);
  // The root's own name never counts.
  EXPECT_TRUE(index.search("home readme", 10).empty());
}

TEST(FileIndex, FolderScoresReachDescendantsAddedInLaterRanges) {
  // Enough entries for several search ranges: the folders above a file sit in another range
  // than the file, and one of them is a late folder that matches on its own name.
  FileIndex index;
  const int32_t root = index.addRoot("/r");
  const int32_t project = index.add("project", root, true);
  for (int i = 0; i < 12000; ++i) {
    index.add("filler" + std::to_string(i) + ".txt", root, false);
  }
  const int32_t deep = index.add("deep", project, true);
  index.add("notes.txt", deep, false);
  const int32_t late = index.add("xproj", root, true);
  index.add("notes.txt", late, false);

  FuzzyMatcher notes("notes");
  FuzzyMatcher proj("proj");
  const auto own = *notes.score(SearchKey("notes.txt"));
  const auto hits = index.search("proj notes", 10);
  ASSERT_EQ(hits.size(), 2u);
  const auto scoreOf = [&](const std::string& path) {
    const auto hit =
        std::find_if(hits.begin(), hits.end(), [&](const FileHit& h) { return h.path == path; });
    return hit == hits.end() ? std::optional<int32_t>() : hit->score;
  };
  EXPECT_EQ(scoreOf("/r/project/deep/notes.txt"), own + *proj.score(SearchKey("project")) / 2);
  EXPECT_EQ(scoreOf("/r/xproj/notes.txt"), own + *proj.score(SearchKey("xproj")) / 2);
}

TEST(FileIndex, SearchRejectsDegenerateQueries) {
  FileIndex index;
  index.add("x", index.addRoot("/r"), false);
  EXPECT_TRUE(index.search("x", 0).empty());
  EXPECT_TRUE(index.search("x", -3).empty());
  EXPECT_TRUE(index.search("   ", 10).empty());
  EXPECT_TRUE(index.search("x x x x x x x x x x x x x x x x x", 10).empty());  // 17 terms
  EXPECT_EQ(index.search("x x x x x x x x x x x x x x x x", 10).size(), 1u);   // 16
  EXPECT_TRUE(FileIndex().search("x", 10).empty());
}

TEST(FileIndex, ParallelSearchEqualsSequentialRanking) {
  // Big enough for several ranges; the same hits whatever the split.
  FileIndex index;
  const int32_t root = index.addRoot("/r");
  int32_t folder = root;
  for (int i = 0; i < 20000; ++i) {
    if (i % 100 == 0) {
      folder = index.add("dir" + std::to_string(i), root, true);
    }
    index.add("file" + std::to_string(i) + (i % 7 == 0 ? ".md" : ".txt"), folder, false);
  }
  const auto hits = index.search("dir12 file1299", 5);
  ASSERT_FALSE(hits.empty());
  EXPECT_EQ(hits[0].path, "/r/dir1200/file1299.txt");
  for (size_t i = 1; i < hits.size(); ++i) {
    EXPECT_GE(hits[i - 1].score, hits[i].score);
  }
  EXPECT_EQ(index.search("file", 1000).size(), 1000u);
}

TEST(FileIndex, ShortListsAreThePrefixOfTheFullRanking) {
  // A full list never skips an entry; a short one skips those that cannot make it.
  FileIndex index;
  const int32_t root = index.addRoot("/r");
  const std::vector<std::string> words = {"project", "report", "Proj_Read", "readme", "pr",
                                          "p",       "PRO",    "re-port",   "x"};
  int32_t folder = root;
  for (int i = 0; i < 9000; ++i) {
    const std::string& w = words[static_cast<size_t>(i * 7 % 9)];
    if (i % 50 == 0) {
      folder = index.add(w + std::to_string(i % 13), root, true);
    }
    index.add(words[static_cast<size_t>(i % 9)] + " " + w + "." + std::to_string(i % 5), folder,
              false);
  }
  index.setBoosts({{"/r/x0/x x.0", 5}});
  for (const char* query : {"p", "pr", "proj", "proj r", "proj rea", "re", "x", "po rt"}) {
    const auto full = index.search(query, 100000);
    const auto top = index.search(query, 20);
    ASSERT_EQ(top.size(), std::min<size_t>(20, full.size())) << query;
    EXPECT_TRUE(std::equal(top.begin(), top.end(), full.begin())) << query;
  }
}

TEST(FileIndex, CompactionKeepsLookupsBoostsAndOrder) {
  FileIndex index;
  const int32_t root = index.addRoot("/r");
  const int32_t junk = index.add("junk", root, true);
  for (int i = 0; i < 3000; ++i) {
    index.add(std::string("j").append(std::to_string(i)), junk, false);
  }
  const int32_t keep = index.add("keep", root, true);
  index.add("note.txt", keep, false);
  index.setBoosts({{"/r/keep/note.txt", 7}, {"/nowhere", 3}});
  const int32_t before = index.search("note", 1)[0].score;

  index.remove("/r/junk");
  EXPECT_EQ(index.removedCount(), 0u);  // compacted
  EXPECT_EQ(index.entryCount(), 3u);
  EXPECT_EQ(index.count(), 2u);
  EXPECT_EQ(index.path(*index.entry("/r/keep/note.txt")), "/r/keep/note.txt");
  EXPECT_EQ(index.search("note", 1)[0].score, before);
  EXPECT_TRUE(index.insert("/r/keep/new.txt", false, 6));
}

TEST(FileIndex, BoostsAddToScoresAndReset) {
  FileIndex index;
  const int32_t root = index.addRoot("/r");
  index.add("report-a.txt", root, false);
  index.add("report-b.txt", root, false);
  index.setBoosts({{"/r/report-b.txt", 50}});
  EXPECT_EQ(index.search("report", 2)[0].path, "/r/report-b.txt");
  index.setBoosts({});
  EXPECT_EQ(index.search("report", 2)[0].path, "/r/report-a.txt");
}

TEST(FileIndex, PathsOfNonUtf8NamesKeepTheirBytes) {
  // Repairing "\xff" to U+FFFD would make the first file's path the second one's.
  FileIndex index;
  const int32_t root = index.addRoot("/r");
  const int32_t raw = index.add("report\xff.txt", root, false);
  const int32_t repaired = index.add("report\xEF\xBF\xBD.txt", root, false);
  EXPECT_EQ(index.path(raw), "/r/report\xff.txt");
  EXPECT_EQ(index.path(repaired), "/r/report\xEF\xBF\xBD.txt");
  std::vector<std::string> hits;
  for (const FileHit& hit : index.search("report", 5)) {
    hits.push_back(hit.path);
  }
  EXPECT_THAT(hits,
              testing::UnorderedElementsAre("/r/report\xff.txt", "/r/report\xEF\xBF\xBD.txt"));
}

TEST(FileIndex, RootAtSlashBuildsPlainPaths) {
  FileIndex index;
  const int32_t etc = index.add("etc", index.addRoot("/"), true);
  EXPECT_EQ(index.path(index.add("hosts", etc, false)), "/etc/hosts");
  EXPECT_TRUE(index.contains("/etc/hosts"));
}

TEST(FileIndex, TrimAndMemoryBytes) {
  FileIndex index;
  const int32_t root = index.addRoot("/r");
  for (int i = 0; i < 1000; ++i) {
    index.add("name" + std::to_string(i), root, false);
  }
  const size_t before = index.memoryBytes();
  index.trim();
  EXPECT_LE(index.memoryBytes(), before);
  EXPECT_GT(index.memoryBytes(), 1000u * 20);
  EXPECT_TRUE(index.contains("/r/name999"));
}

}  // namespace
}  // namespace vesk
