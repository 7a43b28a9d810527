#include "core/files/file_rules.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

const std::vector<std::string> kDefaultIgnore = {".*", "~/Library", "node_modules", ".build",
                                                 "*.photoslibrary"};

TEST(IgnoreRules, SortsEntriesIntoNamesPatternsAndPaths) {
  const IgnoreRules rules(
      {".*", "~/Library/", "node_modules", "*.log", "build*", "a?c", "x*y*", "/opt/", "~", ""},
      "/home/me");
  EXPECT_EQ(rules.names, (std::set<std::string, std::less<>>{"node_modules"}));
  using P = IgnoreRules::Pattern;
  EXPECT_EQ(rules.patterns, (std::vector<P>{P::prefix("."), P::suffix(".log"), P::prefix("build"),
                                            P::glob("a?c"), P::glob("x*y*")}));
  EXPECT_EQ(rules.paths, (std::vector<std::string>{"/home/me/Library", "/opt", "/home/me"}));
  EXPECT_EQ(rules.pathBytes, rules.paths);
}

TEST(IgnoreRules, PatternsMatchNamesOnly) {
  const IgnoreRules rules({"*.log", "build*", "a?c", "[Tt]mp"}, "/home/me");
  struct Case {
    const char* name;
    bool ignored;
  };
  for (const Case c : {Case{"app.log", true}, Case{"log", false}, Case{"build-output", true},
                       Case{"rebuild", false}, Case{"abc", true}, Case{"abbc", false},
                       Case{"tmp", true}, Case{"Tmp", true}, Case{"TMP", false}}) {
    EXPECT_EQ(rules.ignores(c.name, std::string("/x/") + c.name), c.ignored) << c.name;
  }
  // A name rule never applies to a folder further up the path.
  EXPECT_FALSE(rules.ignores("notes.txt", "/x/app.log/notes.txt"));
}

TEST(IgnoreRules, GlobStarMatchesLeadingDot) {
  const IgnoreRules rules({"*cache*"}, "/home/me");
  EXPECT_TRUE(rules.ignores(".cache", "/home/me/.cache"));
}

TEST(IgnoreRules, PathsCoverTheirTreeButNotSiblingsWithTheSamePrefix) {
  const IgnoreRules rules({"~/Library"}, "/home/me");
  EXPECT_TRUE(rules.ignores("Library", "/home/me/Library"));
  EXPECT_TRUE(rules.ignores("x", "/home/me/Library/Caches/x"));
  EXPECT_FALSE(rules.ignores("Library2", "/home/me/Library2"));
}

TEST(IgnoreRules, InsideDropsPathsThatHoldTheRoot) {
  const IgnoreRules rules({"~/Library", "~/Library/Mobile Documents/x/junk", "/"}, "/home/me");
  const IgnoreRules inside = rules.inside("/home/me/Library/Mobile Documents/x");
  EXPECT_EQ(inside.paths, (std::vector<std::string>{"/home/me/Library/Mobile Documents/x/junk"}));
  EXPECT_EQ(inside.pathBytes, inside.paths);
}

TEST(FileRules, NestedRootsAreWalkedOnlyAsTheirOwnRoot) {
  const FileRules rules({"/home/me", "/home/me/Projects", "/home/me"},
                        IgnoreRules(kDefaultIgnore, "/home/me"), 6, {});
  ASSERT_EQ(rules.roots, (std::vector<std::string>{"/home/me", "/home/me/Projects"}));
  EXPECT_TRUE(rules.ignoreInRoots[0].ignores("Projects", "/home/me/Projects"));
  EXPECT_FALSE(rules.ignoreInRoots[1].coversPath("/home/me/Projects/a"));
  EXPECT_EQ(&rules.ignoreAt("/home/me/Projects/a/b"), &rules.ignoreInRoots[1]);
  EXPECT_EQ(&rules.ignoreAt("/home/me/Projectsx"), &rules.ignoreInRoots[0]);
  EXPECT_EQ(&rules.ignoreAt("/elsewhere"), &rules.ignore);
}

TEST(FileRules, FolderInsideAnIgnoredOneIsSearchedButKeepsNameRules) {
  const std::string cloud = "/home/me/Library/Mobile Documents/com~apple~CloudDocs";
  const FileRules rules({"/home/me", cloud}, IgnoreRules(kDefaultIgnore, "/home/me"), 6, {});
  EXPECT_TRUE(rules.ignoreInRoots[0].ignores("Library", "/home/me/Library"));
  EXPECT_FALSE(rules.ignoreInRoots[1].coversPath(cloud + "/a.txt"));
  EXPECT_TRUE(rules.ignoreInRoots[1].ignores(".DS_Store", cloud + "/.DS_Store"));
}

TEST(FileRules, ProtectedFoldersAreThoseAScanWouldRead) {
  const std::string home = "/home/me";
  const std::vector<std::string> guarded = {home + "/Desktop", home + "/Documents",
                                            home + "/Downloads", home + "/Library/Cloud"};
  const FileRules everything({home}, IgnoreRules(kDefaultIgnore, home), 6, guarded);
  EXPECT_EQ(
      everything.protectedFolders(),
      (std::vector<std::string>{home + "/Desktop", home + "/Documents", home + "/Downloads"}));

  const FileRules inner({home + "/Documents/Work", "/srv"}, IgnoreRules({}, home), 6, guarded);
  EXPECT_EQ(inner.protectedFolders(), (std::vector<std::string>{home + "/Documents"}));

  const FileRules cloud({home + "/Library/Cloud"}, IgnoreRules(kDefaultIgnore, home), 6, guarded);
  EXPECT_EQ(cloud.protectedFolders(), (std::vector<std::string>{home + "/Library/Cloud"}));
}

TEST(FileRules, DeferringDropsRootsAndIgnoresThePaths) {
  const std::string home = "/home/me";
  const FileRules rules({home, home + "/Documents/Work"}, IgnoreRules({".*"}, home), 4, {});
  EXPECT_EQ(rules.deferring({}), rules);
  const FileRules deferred = rules.deferring({home + "/Downloads", home + "/Documents"});
  EXPECT_EQ(deferred.roots, (std::vector<std::string>{home}));
  EXPECT_EQ(deferred.ignore.paths,
            (std::vector<std::string>{home + "/Documents", home + "/Downloads"}));
  EXPECT_EQ(deferred.maxDepth, 4);
  EXPECT_TRUE(deferred.ignoreInRoots[0].coversPath(home + "/Documents/Work/a"));
}

TEST(FileRules, ExcludedPathsLeaveOutPathsThatHoldARoot) {
  const std::string home = "/home/me";
  const FileRules rules({home, home + "/Library/Cloud"},
                        IgnoreRules({"~/Library", "~/Caches", "/var/cache"}, home), 6, {});
  // "~/Library" holds a root: excluding it from watching would leave that root stale.
  EXPECT_EQ(rules.excludedPaths(), (std::vector<std::string>{home + "/Caches"}));
}

}  // namespace
}  // namespace vesk
