#include <QApplication>
#include <cstdlib>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  // No job a test left running may outlive the application object.
  vesk::test::testExecutor().waitForDone();
  return status;
}
