#pragma once
// FakePasteboardWriter: keeps what was written, for tests of delivery. Thread-safe, since the
// real writer is called from background threads.

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "core/clipboard/clip.h"
#include "platform/pasteboard_writer.h"

namespace vesk {

class FakePasteboardWriter final : public PasteboardWriter {
 public:
  Result<int64_t> write(const ClipItems& items) override {
    const std::lock_guard lock(mutex_);
    if (failure_) {
      return *failure_;
    }
    writes_.push_back(items);
    return ++changeCount_;
  }

  void fail(std::optional<Failure> failure) {
    const std::lock_guard lock(mutex_);
    failure_ = std::move(failure);
  }
  std::vector<ClipItems> writes() const {
    const std::lock_guard lock(mutex_);
    return writes_;
  }
  int64_t changeCount() const {
    const std::lock_guard lock(mutex_);
    return changeCount_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ClipItems> writes_;
  std::optional<Failure> failure_;
  int64_t changeCount_ = 0;
};

}  // namespace vesk
