#include "core/files/file_scanner.h"

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace vesk {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kDefaultIgnore = {".*", "~/Library", "node_modules", ".build",
                                                 "*.photoslibrary"};

// A real folder tree in a fresh temporary folder, removed afterwards.
class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vesk-scan-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = fs::canonical(pattern).string();
  }
  void TearDown() override { fs::remove_all(home_); }

  std::string at(const std::string& relative) const { return home_ + "/" + relative; }
  void file(const std::string& relative) const {
    fs::create_directories(fs::path(at(relative)).parent_path());
    std::ofstream(at(relative)) << "x";
  }
  void folder(const std::string& relative) const { fs::create_directories(at(relative)); }

  FileRules rules(std::vector<std::string> roots, int maxDepth = 6) const {
    for (auto& root : roots) {
      root = root == "~" ? home_ : at(root.substr(2));
    }
    return FileRules(roots, IgnoreRules(kDefaultIgnore, home_), maxDepth, {});
  }

  std::string home_;
};

TEST_F(ScannerTest, DefaultRulesSkipHiddenLibraryAndEnterNoPackages) {
  file("notes.txt");
  file(".hidden");
  file(".git/config");
  file("Library/Caches/a");
  file("Library2/kept.txt");
  file("code/node_modules/x/index.js");
  file("code/main.cpp");
  file("Pictures/Photos Library.photoslibrary/database/db");
  file("Apps/Mail.APP/Contents/Info.plist");
  FileIndex index;
  FileScanner::scan(rules({"~"}), index);
  for (const char* present :
       {"notes.txt", "Library2/kept.txt", "code", "code/main.cpp", "Apps/Mail.APP"}) {
    EXPECT_TRUE(index.contains(at(present))) << present;
  }
  for (const char* absent : {".hidden", ".git", "Library", "code/node_modules",
                             "Pictures/Photos Library.photoslibrary", "Apps/Mail.APP/Contents"}) {
    EXPECT_FALSE(index.contains(at(absent))) << absent;
  }
  EXPECT_EQ(index.isFolder(at("Apps/Mail.APP")), false);
  EXPECT_EQ(index.count(), 8u);  // notes, Library2, kept, code, main.cpp, Pictures, Apps, Mail
}

TEST_F(ScannerTest, ConfiguredFoldersInsideIgnoredOnesAreSearched) {
  file("Library/Mobile Documents/cloud/report.txt");
  file("Library/Mobile Documents/cloud/.DS_Store");
  file(".config/app/settings.toml");
  file(".config/.secret");
  FileIndex index;
  FileScanner::scan(rules({"~", "~/Library/Mobile Documents/cloud", "~/.config"}), index);
  EXPECT_TRUE(index.contains(at("Library/Mobile Documents/cloud/report.txt")));
  EXPECT_FALSE(index.contains(at("Library/Mobile Documents/cloud/.DS_Store")));
  EXPECT_TRUE(index.contains(at(".config/app/settings.toml")));
  EXPECT_FALSE(index.contains(at(".config/.secret")));
  EXPECT_FALSE(index.contains(at("Library")));
}

TEST_F(ScannerTest, NestedRootIsWalkedOnce) {
  file("Projects/vesk/README.md");
  FileIndex index;
  FileScanner::scan(rules({"~", "~/Projects"}), index);
  EXPECT_EQ(index.count(), 2u);  // "vesk" and README.md, under the inner root only
  EXPECT_EQ(index.search("readme", 10).size(), 1u);
}

TEST_F(ScannerTest, LinksAreFilesAndDepthIsLimited) {
  file("real/inside.txt");
  fs::create_directory_symlink(at("real"), at("link"));
  file("1/2/3/deep.txt");
  FileIndex index;
  FileScanner::scan(rules({"~"}, 3), index);
  EXPECT_EQ(index.isFolder(at("link")), false);
  EXPECT_FALSE(index.contains(at("link/inside.txt")));
  EXPECT_EQ(index.isFolder(at("1/2/3")), true);  // at the limit: listed, not entered
  EXPECT_FALSE(index.contains(at("1/2/3/deep.txt")));

  FileIndex shallow;
  FileScanner::scan(rules({"~"}, 1), shallow);
  EXPECT_TRUE(shallow.contains(at("1")));
  EXPECT_FALSE(shallow.contains(at("1/2")));
}

TEST_F(ScannerTest, UnreadableFolderAndMissingRootContributeNothing) {
  file("locked/secret.txt");
  chmod(at("locked").c_str(), 0);
  FileIndex index;
  FileScanner::scan(rules({"~", "~/missing"}), index);
  chmod(at("locked").c_str(), 0755);
  EXPECT_TRUE(index.contains(at("locked")));
  if (geteuid() != 0) {
    EXPECT_FALSE(index.contains(at("locked/secret.txt")));
  }
  EXPECT_EQ(index.roots().size(), 2u);
}

TEST_F(ScannerTest, RescanOfOneFolderCountsDepthFromIt) {
  file("a/b/one.txt");
  FileIndex index;
  const FileRules limited = rules({"~"}, 3);
  FileScanner::scan(limited, index);
  file("a/b/two.txt");
  file("a/b/c/too-deep.txt");
  file("a/b/.hidden");
  index.removeDescendants(at("a/b"));
  FileScanner::scan(at("a/b"), limited, index);
  EXPECT_TRUE(index.contains(at("a/b/one.txt")));
  EXPECT_TRUE(index.contains(at("a/b/two.txt")));
  EXPECT_TRUE(index.contains(at("a/b/c")));
  EXPECT_FALSE(index.contains(at("a/b/c/too-deep.txt")));
  EXPECT_FALSE(index.contains(at("a/b/.hidden")));
  FileScanner::scan(at("nowhere"), limited, index);  // unknown folder: nothing happens
}

TEST_F(ScannerTest, WatchExclusionsPreferIgnoredPathsThenRecentSkippedFolders) {
  folder(".old");
  folder(".busy");
  folder("node_modules");
  file(".file");
  folder("Library");
  const timespec past[2] = {{1000, 0}, {1000, 0}};
  utimensat(AT_FDCWD, at(".old").c_str(), past, AT_SYMLINK_NOFOLLOW);
  const FileRules r = rules({"~"});
  const auto all = FileScanner::watchExclusions(r, 8);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0], at("Library"));
  EXPECT_EQ(all.back(), at(".old"));
  EXPECT_EQ(FileScanner::watchExclusions(r, 1), std::vector<std::string>{at("Library")});
}

TEST(FileScanner, PackagesAreKnownBundleExtensions) {
  EXPECT_TRUE(FileScanner::isPackage("/x/Mail.app"));
  EXPECT_TRUE(FileScanner::isPackage("/x/Project.XcodeProj"));
  EXPECT_FALSE(FileScanner::isPackage("/x/.app"));
  EXPECT_FALSE(FileScanner::isPackage("/x/.git"));
  EXPECT_FALSE(FileScanner::isPackage("/x/app"));
  PackageCache cache;
  EXPECT_TRUE(cache.isPackage("a.bundle"));
  EXPECT_TRUE(cache.isPackage("b.bundle"));
  EXPECT_FALSE(cache.isPackage("c.txt"));
}

}  // namespace
}  // namespace vesk
