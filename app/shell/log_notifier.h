#pragma once
// LogNotifier: the notifier of a shell set up without desktop notifications (tests): updates,
// failures, saved clips and zip requests become log lines.
//
// Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "platform/notifier.h"

namespace vesk {

class LogNotifier final : public Notifier {
 public:
  void update(const std::string& title, const std::string& body) override;
  void failed(const std::string& title, const std::optional<std::string>& path,
              const std::string& reason) override;
  void saved(const std::string& path) override;
  void zip(const std::string& path) override;
  void notice(const std::string& title, const std::string& body, const std::string& action,
              std::function<void()> onClick) override;
};

}  // namespace vesk
