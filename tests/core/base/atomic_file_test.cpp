#include "core/base/atomic_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace vesk {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vesk-atomic-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string at(const std::string& name) const { return (folder_ / name).string(); }
  static std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  size_t entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder_), {}));
  }

  fs::path folder_;
};

TEST_F(AtomicFileTest, ReplacesTheFileWithTheModeGivenWhateverTheUmask) {
  const std::string file = at("history.json");
  ASSERT_TRUE(AtomicFile::write(file, std::string_view("old"), 0600).ok());
  const mode_t previous = ::umask(077);
  const Result<void> written = AtomicFile::write(file, std::string_view("new"), 0644);
  ::umask(previous);
  ASSERT_TRUE(written.ok());
  EXPECT_EQ(contents(file), "new");
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644U);
  EXPECT_EQ(entries(), 1U);  // no temporary left behind
}

TEST_F(AtomicFileTest, FailureKeepsTheOldFileAndRemovesTheTemporary) {
  // A folder where the file should go: the rename fails after the bytes were written.
  const std::string blocked = at("blocked");
  fs::create_directory(blocked);
  fs::create_directory(fs::path(blocked) / "inside");
  const Result<void> written = AtomicFile::write(blocked, std::string_view("bytes"), 0600);
  ASSERT_FALSE(written.ok());
  EXPECT_FALSE(written.failure().description.empty());
  EXPECT_TRUE(fs::is_directory(fs::path(blocked) / "inside"));
  EXPECT_EQ(entries(), 1U);

  EXPECT_FALSE(AtomicFile::write(at("missing/file"), std::string_view("x"), 0600).ok());
}

}  // namespace
}  // namespace vesk
