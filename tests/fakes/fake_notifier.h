#pragma once
// FakeNotifier: keeps what would have been posted. Main thread.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/notifier.h"

namespace vesk {

class FakeNotifier final : public Notifier {
 public:
  struct Failed {
    std::string title;
    std::optional<std::string> path;
    std::string reason;
  };

  void update(const std::string& title, const std::string& body) override {
    updates.emplace_back(title, body);
  }
  void failed(const std::string& title, const std::optional<std::string>& path,
              const std::string& reason) override {
    failures.push_back({title, path, reason});
  }
  void saved(const std::string& path) override { savedPaths.push_back(path); }
  void zip(const std::string& path) override { zipped.push_back(path); }
  void notice(const std::string& title, const std::string& body, const std::string& action,
              std::function<void()> onClick) override {
    notices.push_back({title, body, action, std::move(onClick)});
  }

  std::vector<std::pair<std::string, std::string>> updates;
  std::vector<Failed> failures;
  std::vector<std::string> savedPaths;
  std::vector<std::string> zipped;
  struct Notice {
    std::string title;
    std::string body;
    std::string action;
    std::function<void()> onClick;
  };
  std::vector<Notice> notices;
};

}  // namespace vesk
