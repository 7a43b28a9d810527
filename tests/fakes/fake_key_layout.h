#pragma once
// FakeKeyLayout: a keyboard layout given as a table, with a layout change tests can trigger.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/key_layout.h"

namespace vesk {

class FakeKeyLayout final : public KeyLayout {
 public:
  std::optional<uint32_t> keyCode(std::string_view typing) const override {
    const auto found = characters.find(std::string(typing));
    if (found == characters.end()) {
      return std::nullopt;
    }
    return found->second;
  }

  std::optional<uint32_t> keyCode(uint32_t virtualKey) const override {
    const auto found = virtualKeys.find(virtualKey);
    if (found == virtualKeys.end()) {
      return std::nullopt;
    }
    return found->second;
  }

  void setChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

  // Switches to another layout and tells the listener, as the desktop would.
  void change(std::map<std::string, uint32_t> newCharacters) {
    characters = std::move(newCharacters);
    if (handler_) {
      handler_();
    }
  }

  std::map<std::string, uint32_t> characters;  // character → key code
  std::map<uint32_t, uint32_t> virtualKeys;    // virtual key → key code

 private:
  std::function<void()> handler_;
};

}  // namespace vesk
