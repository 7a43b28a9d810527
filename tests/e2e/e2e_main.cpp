// The end-to-end tests run against their own Xvfb server, started before the Qt application so
// that the test's own X clients (a text field, a password manager's copy) use it too.

#include <QApplication>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "tests/platform/linux/xvfb.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  bool listing = false;
  for (int i = 0; i < argc; ++i) {
    listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
  }
  std::unique_ptr<QApplication> application;
  if (!listing && vesk::test::Xvfb::shared() != nullptr) {
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    application = std::make_unique<QApplication>(argc, argv);
  }
  return RUN_ALL_TESTS();
}
