#pragma once
// FakeFileManager: records reveals and moves files to the trash by deleting them. Thread-safe,
// since both run on background threads.

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_manager.h"

namespace vesk {

class FakeFileManager final : public FileManager {
 public:
  Result<void> reveal(const std::vector<std::string>& paths) override {
    const std::lock_guard lock(mutex_);
    reveals_.push_back(paths);
    return {};
  }

  Result<void> trash(const std::string& path) override {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
      return Failure{"No such file or directory"};
    }
    std::filesystem::remove_all(path, error);
    const std::lock_guard lock(mutex_);
    trashed_.push_back(path);
    return {};
  }

  std::vector<std::vector<std::string>> reveals() const {
    const std::lock_guard lock(mutex_);
    return reveals_;
  }
  std::vector<std::string> trashed() const {
    const std::lock_guard lock(mutex_);
    return trashed_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::vector<std::string>> reveals_;
  std::vector<std::string> trashed_;
};

}  // namespace vesk
