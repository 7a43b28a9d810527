#pragma once
// FakeWorkspace: running applications as a list the test edits, with the notifications the
// desktop would send for each edit.

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/workspace.h"

namespace vesk {

class FakeWorkspace final : public Workspace {
 public:
  std::optional<RunningApp> frontmostApplication() override {
    if (apps.empty() || !hasFrontmost) {
      return std::nullopt;
    }
    return apps.front();
  }

  std::vector<RunningApp> runningApplications() override { return apps; }

  WindowId activeWindow() override {
    const auto front = frontmostApplication();
    return front && !front->windows.empty() ? front->windows.front() : 0;
  }

  bool activateWindow(WindowId window) override {
    const auto found = std::find_if(apps.begin(), apps.end(), [&](const RunningApp& app) {
      return std::find(app.windows.begin(), app.windows.end(), window) != app.windows.end();
    });
    if (found == apps.end()) {
      return false;
    }
    activate(*found);
    return true;
  }

  bool activate(const RunningApp& app) override {
    activated.push_back(app.bundleIdentifier);
    const auto found = find(app.bundleIdentifier);
    if (found == apps.end()) {
      return false;
    }
    std::rotate(apps.begin(), found, found + 1);
    hasFrontmost = true;
    if (observers_.didActivate) {
      observers_.didActivate(apps.front());
    }
    return true;
  }

  bool quit(const RunningApp& app) override {
    quitRequests.push_back(app.bundleIdentifier);
    return find(app.bundleIdentifier) != apps.end();
  }

  ForceQuit forceQuit(const RunningApp& app) override {
    forceQuitRequests.push_back(app.bundleIdentifier);
    return find(app.bundleIdentifier) != apps.end() ? ForceQuit::killed : ForceQuit::nothing;
  }

  void setObservers(Observers observers) override { observers_ = std::move(observers); }

  // A new application appears behind the ones already used.
  void launch(RunningApp app) {
    apps.push_back(app);
    if (observers_.didLaunch) {
      observers_.didLaunch(app);
    }
  }

  void terminate(const std::string& bundleIdentifier) {
    const auto found = find(bundleIdentifier);
    if (found == apps.end()) {
      return;
    }
    const RunningApp app = *found;
    apps.erase(found);
    if (observers_.didTerminate) {
      observers_.didTerminate(app);
    }
  }

  std::vector<RunningApp> apps;  // most recently used first
  bool hasFrontmost = true;
  std::vector<std::string> activated;
  std::vector<std::string> quitRequests;
  std::vector<std::string> forceQuitRequests;

 private:
  std::vector<RunningApp>::iterator find(const std::string& bundleIdentifier) {
    return std::find_if(apps.begin(), apps.end(), [&](const RunningApp& app) {
      return app.bundleIdentifier == bundleIdentifier;
    });
  }

  Observers observers_;
};

}  // namespace vesk
