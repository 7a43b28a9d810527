#pragma once
// A QCoreApplication for tests of main-thread services, and a wait that keeps its event loop
// running while a condition is awaited.

#include <QCoreApplication>
#include <chrono>

#include "tests/platform/linux/xvfb.h"

namespace vesk::test {

inline QCoreApplication& qtApp() {
  static int argc = 1;
  static char name[] = "x11_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// Runs the main loop until `condition` holds or `timeout` passed; whether it held.
template <class Condition>
bool pumpUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  qtApp();
  return Xvfb::waitUntil(
      [&] {
        QCoreApplication::processEvents();
        return condition();
      },
      timeout);
}

}  // namespace vesk::test
