#pragma once
// FakeWindowFocus: a window manager that gives the focus where it is asked to, and a key hold
// that hands back the keys the test typed "while the panel came up". Main thread only.

#include <utility>
#include <vector>

#include "platform/window_focus.h"

namespace vesk::test {

class FakeWindowFocus final : public WindowFocus {
 public:
  WindowId focusedWindow() override { return focused; }
  bool hasInputFocus(WindowId window) override { return window != 0 && focused == window; }
  void prepare(WindowId /*panel*/) override {}
  void activate(WindowId panel) override { focused = panel; }
  void giveBack(WindowId previous) override { focused = previous; }
  void holdKeys() override {}
  std::vector<Key> releaseKeys() override { return std::exchange(held, {}); }
  void replay(const std::vector<Key>& keys) override {
    replayed.insert(replayed.end(), keys.begin(), keys.end());
  }
  void sync() override {}
  bool hasCompositor() override { return false; }

  WindowId focused = 0;
  std::vector<Key> held;      // handed back by the next releaseKeys
  std::vector<Key> replayed;  // every key typed again into the window that had the focus
};

}  // namespace vesk::test
