#pragma once
// FakeAppCatalog: a catalog given as tables (desktop ids to entries, file extensions to types,
// a type hierarchy, the apps for every file) that records what it was asked to launch or open
// instead of starting anything. Thread-safe, since launches run on background threads.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/app_catalog.h"

namespace vesk {

class FakeAppCatalog final : public AppCatalog {
 public:
  // One launch or open: the app's entry ("" for the default app), its targets and options.
  struct Launch {
    std::string app;
    std::vector<std::string> targets;
    LaunchOptions options;
  };

  std::map<std::string, std::string> desktopIds;
  std::map<std::string, std::string> fileTypes;  // extension → type
  std::map<std::string, std::string> parents;    // type → its supertype
  std::vector<std::string> openers = {"/apps/viewer.desktop", "/apps/other.desktop"};
  std::optional<std::string> terminal;

  std::optional<std::string> listedName(const std::string&) const override { return "App"; }
  std::optional<std::string> pathForDesktopId(const std::string& id) const override {
    const auto found = desktopIds.find(id);
    return found == desktopIds.end() ? std::nullopt : std::optional<std::string>(found->second);
  }
  bool isKnownType(const std::string& type) const override {
    if (type.ends_with("/*")) {
      return true;
    }
    for (const auto& [extension, known] : fileTypes) {
      if (known == type) {
        return true;
      }
    }
    return parents.contains(type);
  }
  std::optional<std::string> typeOfFile(const std::string& path) const override {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) {
      return std::nullopt;
    }
    const auto found = fileTypes.find(path.substr(dot + 1));
    return found == fileTypes.end() ? std::nullopt : std::optional<std::string>(found->second);
  }
  bool conforms(const std::string& type, const std::string& other) const override {
    if (other.ends_with("/*")) {
      return type.starts_with(other.substr(0, other.size() - 1));
    }
    for (std::string t = type;; t = parents.at(t)) {
      if (t == other) {
        return true;
      }
      if (!parents.contains(t)) {
        return false;
      }
    }
  }
  std::vector<std::string> appsToOpen(const std::string&) const override { return openers; }
  std::optional<std::string> defaultAppToOpen(const std::string&) const override {
    return std::nullopt;
  }
  std::optional<std::string> systemTerminal() const override { return terminal; }

  Result<void> launch(const std::string& app, const LaunchOptions& options) const override {
    return record({app, {}, options});
  }
  Result<void> open(const std::vector<std::string>& targets, const std::string& app,
                    const LaunchOptions& options) const override {
    return record({app, targets, options});
  }
  Result<void> openWithDefault(const std::string& target,
                               const LaunchOptions& options) const override {
    return record({"", {target}, options});
  }

  std::vector<Launch> launches() const {
    const std::lock_guard lock(mutex_);
    return launches_;
  }
  void fail(std::optional<Failure> failure) {
    const std::lock_guard lock(mutex_);
    failure_ = std::move(failure);
  }

 private:
  Result<void> record(Launch launch) const {
    const std::lock_guard lock(mutex_);
    if (failure_) {
      return *failure_;
    }
    launches_.push_back(std::move(launch));
    return {};
  }

  mutable std::mutex mutex_;
  mutable std::vector<Launch> launches_;
  std::optional<Failure> failure_;
};

}  // namespace vesk
