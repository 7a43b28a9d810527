#pragma once
// FakeKeySynthesizer: records paste presses instead of sending them. Thread-safe, since the
// real one is called from background threads.

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/key_synthesizer.h"

namespace vesk {

class FakeKeySynthesizer final : public KeySynthesizer {
 public:
  struct Press {
    uint32_t keyCode = 0;
    WindowId target = 0;
    bool shift = false;
    bool operator==(const Press&) const = default;
  };

  bool isTrusted() override {
    const std::lock_guard lock(mutex_);
    return trusted_;
  }

  void requestTrust() override {
    const std::lock_guard lock(mutex_);
    ++trustRequests_;
  }

  bool pressPaste(uint32_t keyCode, bool shift, WindowId target) override {
    const std::lock_guard lock(mutex_);
    presses_.push_back({keyCode, target, shift});
    return true;
  }

  void setTrusted(bool trusted) {
    const std::lock_guard lock(mutex_);
    trusted_ = trusted;
  }
  std::vector<Press> presses() const {
    const std::lock_guard lock(mutex_);
    return presses_;
  }
  int trustRequests() const {
    const std::lock_guard lock(mutex_);
    return trustRequests_;
  }

 private:
  mutable std::mutex mutex_;
  bool trusted_ = true;
  int trustRequests_ = 0;
  std::vector<Press> presses_;
};

}  // namespace vesk
