#pragma once
// RunningApps: the regular running applications (a window in the task bar and a desktop entry)
// in most-recently-used order, for the launcher's "running" empty state and its quit actions.
// An application's id is its desktop entry's path with links resolved, the id of its launcher
// item.
//
// Main thread only. The application object forwards the workspace's activation, launch and
// termination notices to `activated` and `changed`.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/workspace.h"

namespace vesk {

class RunningApps final {
 public:
  // Takes the first snapshot and treats the frontmost application as activated.
  explicit RunningApps(Workspace& workspace);

  // Ids, most recently activated first.
  const std::vector<std::string>& order() const { return order_; }
  std::optional<RunningApp> application(const std::string& id) const;

  // Called after the order changed; true when the set of running applications changed too.
  std::function<void(bool setChanged)> onChange;

  // An application became frontmost (none: the notice did not say which).
  void activated(const std::optional<RunningApp>& app);
  // An application launched or terminated.
  void changed();
  // Reads the running applications again; whether the order or the set changed.
  bool sync();

 private:
  Workspace& workspace_;
  std::vector<std::string> order_;
  std::map<std::string, RunningApp> apps_;
};

}  // namespace vesk
