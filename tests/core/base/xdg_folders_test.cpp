#include "core/base/xdg_folders.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <stdlib.h>

#include <gtest/gtest.h>

namespace vesk {
namespace {

XDGFolders with(std::map<std::string, std::string> variables) {
  return XDGFolders([variables = std::move(variables)](const char* name) {
    const auto found = variables.find(name);
    return found == variables.end() ? std::string() : found->second;
  });
}

TEST(XDGFolders, DefaultsSitBelowHome) {
  const XDGFolders folders = with({{"HOME", "/home/me/"}});
  EXPECT_EQ(folders.home(), "/home/me");
  EXPECT_EQ(folders.configHome(), "/home/me/.config");
  EXPECT_EQ(folders.dataHome(), "/home/me/.local/share");
  EXPECT_EQ(folders.stateHome(), "/home/me/.local/state");
  EXPECT_EQ(folders.cacheHome(), "/home/me/.cache");
  EXPECT_EQ(folders.runtimeDir(), std::nullopt);
  EXPECT_EQ(folders.dataDirs(), (std::vector<std::string>{"/usr/local/share", "/usr/share"}));
  EXPECT_EQ(with({{"HOME", "/"}}).dataHome(), "/.local/share");
}

TEST(XDGFolders, OnlyAbsoluteVariablesCount) {
  const XDGFolders folders =
      with({{"HOME", "/h"},
            {"XDG_CONFIG_HOME", "/etc/me/"},
            {"XDG_DATA_HOME", "relative/share"},
            {"XDG_CACHE_HOME", "/c"},
            {"XDG_STATE_HOME", "~/state"},
            {"XDG_RUNTIME_DIR", "/run/user/1000"},
            {"XDG_DATA_DIRS", "/opt/share/:nowhere::/usr/share:/opt/share"}});
  EXPECT_EQ(folders.configHome(), "/etc/me");
  EXPECT_EQ(folders.dataHome(), "/h/.local/share");
  EXPECT_EQ(folders.cacheHome(), "/c");
  EXPECT_EQ(folders.stateHome(), "/h/.local/state");
  EXPECT_EQ(folders.runtimeDir(), "/run/user/1000");
  EXPECT_EQ(folders.dataDirs(), (std::vector<std::string>{"/opt/share", "/usr/share"}));
}

TEST(XDGFolders, DownloadsComesFromTheUserDirsFile) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vesk-xdg-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string root = pattern;
  const std::filesystem::path home(root);
  EXPECT_EQ(with({{"HOME", root}}).downloads(), root + "/Downloads");
  std::filesystem::create_directories(home / ".config");
  std::ofstream(home / ".config" / "user-dirs.dirs")
      << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "XDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n";
  EXPECT_EQ(with({{"HOME", root}}).downloads(), root + "/Téléchargements");
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace vesk
