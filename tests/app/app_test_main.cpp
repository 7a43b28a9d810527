#include <QGuiApplication>

#include <gtest/gtest.h>

// The owners under test deliver background results through the Qt event loop; the icon store
// renders for the screens of a GUI application, here the offscreen ones unless a platform is set.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QGuiApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
