#include <QGuiApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace {

// The desktop entries and MIME defaults GIO reads come from private, empty XDG folders rather
// than the machine's, so no test depends on what is installed; tests add the entries they need.
// Set before anything reads them: GIO keeps what it read for the life of the process.
std::string privateDesktop() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vesk-app-tests-XXXXXX").string();
  const std::string root = ::mkdtemp(pattern.data());
  for (const char* name : {"data", "data-dirs", "config", "config-dirs"}) {
    std::filesystem::create_directories(root + "/" + name);
  }
  std::filesystem::create_directories(root + "/data/applications");
  // The MIME database is no desktop entry: file types are still known.
  std::error_code error;
  std::filesystem::create_directory_symlink("/usr/share/mime", root + "/data-dirs/mime", error);
  // NOLINTBEGIN(concurrency-mt-unsafe): before any thread starts
  ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  ::setenv("XDG_DATA_DIRS", (root + "/data-dirs").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  ::setenv("XDG_CONFIG_DIRS", (root + "/config-dirs").c_str(), 1);
  // OnlyShowIn/NotShowIn are judged against a known desktop.
  ::setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
  // NOLINTEND(concurrency-mt-unsafe)
  return root;
}

}  // namespace

// The owners under test deliver background results through the Qt event loop; the icon store
// renders for the screens of a GUI application, here the offscreen ones unless a platform is set.
int main(int argc, char** argv) {
  const std::string desktop = privateDesktop();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QGuiApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  // As in Vesk's own main: no job a test left running may outlive the application object.
  vesk::test::testExecutor().waitForDone();
  std::error_code error;
  std::filesystem::remove_all(desktop, error);
  return status;
}
