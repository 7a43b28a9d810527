#pragma once
// A text field of another window that has the focus, as the app the user was in when they
// pressed a hot key. It belongs to the test process, whose Qt application uses the test's server.

#include <QLineEdit>
#include <memory>
#include <string>

#include "tests/e2e/vesk_process.h"

namespace vesk::test {

// Null when the field didn't get the focus.
inline std::unique_ptr<QLineEdit> focusedField(const Home& home) {
  auto field = std::make_unique<QLineEdit>();
  field->setWindowTitle("vesk paste target");
  field->resize(300, 40);
  field->show();
  field->activateWindow();
  if (!pumpUntil([&] { return field->isVisible(); })) {
    return nullptr;
  }
  const std::string id = std::to_string(field->winId());
  runProgram(home, {"xdotool", "windowactivate", "--sync", id});
  runProgram(home, {"xdotool", "windowfocus", "--sync", id});
  return pumpUntil([&] { return field->hasFocus(); }) ? std::move(field) : nullptr;
}

}  // namespace vesk::test
