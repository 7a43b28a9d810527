#pragma once
// LoginItem: starts Vesk when the user logs in, through the XDG autostart entry
// `$XDG_CONFIG_HOME/autostart/vesk.desktop` (written or removed to match the setting). Only an
// installed copy registers itself (an executable under /usr, /usr/local, /opt or ~/.local, not
// inside a build tree): a copy run from a build tree leaves the entry alone, so trying a build
// never changes what starts at login.
//
// `update` is called on the main thread; the file work runs in the background.

#include <functional>
#include <string>

#include "app/base/executor.h"

namespace vesk {

class LoginItem final {
 public:
  struct Paths {
    std::string executable;     // the running executable, links resolved
    std::string home;           // the user's home folder
    std::string autostartFile;  // the autostart entry to write or remove
  };
  using LogLine = std::function<void(bool isError, const std::string&)>;

  // The running process's executable, $HOME and $XDG_CONFIG_HOME (else ~/.config).
  static Paths standard();
  // What a login should start for `executable`: in a user-local install, whose versions sit in
  // `<prefix>/lib/vesk/<version>/bin/`, the `<prefix>/bin/vesk` link that follows updates
  // (when it exists); otherwise `executable` itself.
  static std::string launcherFor(const std::string& executable);

  // `log` receives the lines (default: the app log, debug or error level).
  explicit LoginItem(Executor& executor, Paths paths, LogLine log = {});

  // Whether the executable is an installed copy.
  bool isInApplicationsFolder() const;

  // Makes the autostart entry match `enabled`; `done` (optional) runs on the main thread once
  // that is finished or was left alone.
  void update(bool enabled, std::function<void()> done = {}) const;

  // The entry that starts `executable`.
  static std::string entryText(const std::string& executable);

 private:
  Executor& executor_;
  Paths paths_;
  LogLine log_;
};

}  // namespace vesk
