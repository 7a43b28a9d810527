#pragma once
// FakePasteboard: an in-memory clipboard for tests. Items are lists of (type, data); a type
// can be offered without data (its read fails), and a hook can change the contents while a
// snapshot is being taken. The test's thread copies while the recorder's thread reads, so the
// contents are guarded; `reads` is for the test to look at once the reads are done.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/clipboard/pasteboard.h"

namespace vesk {

class FakePasteboard final : public Pasteboard {
 public:
  struct Flavour {
    std::string type;
    std::optional<std::vector<uint8_t>> data;  // none: offered, but the read fails
  };
  using Item = std::vector<Flavour>;

  static std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

  // Replaces the contents, as a copy in another application does.
  void copy(std::vector<Item> items, std::optional<std::string> plain = std::nullopt) {
    const std::lock_guard lock(mutex_);
    items_ = std::move(items);
    plain_ = std::move(plain);
    available_ = true;
    ++changeCount_;
  }
  void makeUnavailable() {
    const std::lock_guard lock(mutex_);
    available_ = false;
  }

  // Called at every data read, with the item and type read.
  std::function<void(size_t, const std::string&)> onRead;
  // Every (item, type) read, in order.
  std::vector<std::pair<size_t, std::string>> reads;

  int64_t changeCount() override {
    const std::lock_guard lock(mutex_);
    return changeCount_;
  }

  std::optional<std::vector<std::vector<std::string>>> itemTypes() override {
    const std::lock_guard lock(mutex_);
    if (!available_) {
      return std::nullopt;
    }
    std::vector<std::vector<std::string>> types;
    for (const Item& item : items_) {
      auto& list = types.emplace_back();
      for (const Flavour& flavour : item) {
        list.push_back(flavour.type);
      }
    }
    return types;
  }

  std::optional<std::vector<uint8_t>> data(size_t item, const std::string& type) override {
    {
      const std::lock_guard lock(mutex_);
      reads.emplace_back(item, type);
    }
    if (onRead) {
      onRead(item, type);  // may copy: called unlocked
    }
    const std::lock_guard lock(mutex_);
    if (item >= items_.size()) {
      return std::nullopt;
    }
    for (const Flavour& flavour : items_[item]) {
      if (flavour.type == type) {
        return flavour.data;
      }
    }
    return std::nullopt;
  }

  std::optional<std::string> string(size_t item, const std::string& type) override {
    auto read = data(item, type);
    if (!read) {
      return std::nullopt;
    }
    return std::string(read->begin(), read->end());
  }

  std::optional<std::string> plainString() override {
    const std::lock_guard lock(mutex_);
    return plain_;
  }

 private:
  std::mutex mutex_;
  std::vector<Item> items_;
  std::optional<std::string> plain_;
  bool available_ = true;
  int64_t changeCount_ = 0;
};

}  // namespace vesk
