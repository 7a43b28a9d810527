// The Wayland end-to-end tests start a compositor per test; the test process itself only needs
// Qt's event loop, to wait on Vesk's log and the clients' output.

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QCoreApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
