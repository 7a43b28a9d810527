#include "app/apps/running_apps.h"

#include <algorithm>
#include <set>

namespace vesk {

RunningApps::RunningApps(Workspace& workspace) : workspace_(workspace) {
  sync();
  activated(workspace_.frontmostApplication());
}

std::optional<RunningApp> RunningApps::application(const std::string& id) const {
  const auto found = apps_.find(id);
  if (found == apps_.end()) {
    return std::nullopt;
  }
  return found->second;
}

bool RunningApps::sync() {
  std::vector<RunningApp> running = workspace_.runningApplications();
  std::erase_if(running, [](const RunningApp& app) { return !app.isRegular(); });
  std::stable_sort(running.begin(), running.end(), [](const RunningApp& a, const RunningApp& b) {
    return a.launchDate > b.launchDate;
  });
  std::map<std::string, RunningApp> apps;
  std::vector<std::string> launched;  // newest launch first
  for (RunningApp& app : running) {
    const std::string id = app.entryPath;
    if (apps.emplace(id, std::move(app)).second) {
      launched.push_back(id);
    }
  }
  std::vector<std::string> order;
  for (const std::string& id : order_) {
    if (apps.contains(id)) {
      order.push_back(id);
    }
  }
  for (const std::string& id : launched) {
    if (std::find(order.begin(), order.end(), id) == order.end()) {
      order.push_back(id);
    }
  }
  const std::set<std::string> before(order_.begin(), order_.end());
  const std::set<std::string> after(order.begin(), order.end());
  const bool changed = order != order_ || before != after;
  order_ = std::move(order);
  apps_ = std::move(apps);
  return changed;
}

void RunningApps::activated(const std::optional<RunningApp>& app) {
  if (!app) {
    changed();
    return;
  }
  if (!app->isRegular()) {
    return;
  }
  const std::string& id = app->entryPath;
  bool setChanged = false;
  if (!apps_.contains(id)) {
    setChanged = sync();
    if (!apps_.contains(id)) {
      return;
    }
  }
  std::erase(order_, id);
  order_.insert(order_.begin(), id);
  if (onChange) {
    onChange(setChanged);
  }
}

void RunningApps::changed() {
  if (sync() && onChange) {
    onChange(true);
  }
}

}  // namespace vesk
