#pragma once
// UpdateFramework: finds, verifies, downloads and installs new versions of Vesk. The Updater
// decides when to check and what to tell the user; the framework does the work and reports
// through the four callbacks of its Delegate.
//
// One check is one session: it ends with didNotFindUpdate, willInstallUpdateOnQuit or
// didAbortWithError (didFindValidUpdate comes before the last two when a newer version exists).
// While a session runs, `sessionInProgress` is true and a new check is not started.
//
// Threads: main thread only. The work runs in the background; every callback arrives on the
// main thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/base/result.h"

namespace vesk {

class UpdateFramework {
 public:
  // The codes the Updater relies on. Others below 2000 are problems of the check itself.
  enum Code : int32_t {
    feedUnreadable = 1000,   // the feed is not a valid document
    noUpdateFound = 1001,    // the newest version is the running one: not a problem
    feedUnreachable = 1002,  // the feed could not be fetched
    feedOutdated = 1003,     // the feed offers a build older than one installed before
    downloadFailed = 2001,   // from here on: problems of the update itself
    unpackFailed = 2002,
    signatureInvalid = 2003,
    installFailed = 2004,
    installCancelled = 4007,  // the user cancelled the install
    installPutOff = 4008,     // the user put the install off
  };

  struct Error {
    int32_t code = 0;
    std::string description;
    // What lay under it (the network's text for an unreachable feed), if anything.
    std::optional<std::string> underlying;
    // Whether the code is one of the framework's own (always, for this framework's errors).
    bool ownDomain = true;
  };

  struct Update {
    std::string version;         // the build version, compared with the running build
    std::string displayVersion;  // what the user is shown
  };

  struct Delegate {
    std::function<void(const Update&)> didFindValidUpdate;
    std::function<void()> didNotFindUpdate;
    // The update is downloaded, verified and will be installed when Vesk quits; `installNow`
    // installs it at once and relaunches Vesk. Answers whether the framework may go on.
    std::function<bool(const Update&, std::function<void()> installNow)> willInstallUpdateOnQuit;
    std::function<void(const Error&)> didAbortWithError;
  };

  UpdateFramework() = default;
  virtual ~UpdateFramework() = default;
  UpdateFramework(const UpdateFramework&) = delete;
  UpdateFramework& operator=(const UpdateFramework&) = delete;
  UpdateFramework(UpdateFramework&&) = delete;
  UpdateFramework& operator=(UpdateFramework&&) = delete;

  // Whether this copy of Vesk can update itself at all (a key and a feed, and an install the
  // user owns). Cheap.
  virtual bool isEnabled() const = 0;
  // Sets the delegate and readies the framework; a failure names why it can't work. Called
  // again after a failure.
  virtual Result<void> start(Delegate delegate) = 0;
  virtual bool sessionInProgress() const = 0;
  // Starts a session with no user interface of its own. Precondition: started, no session.
  virtual void checkForUpdatesInBackground() = 0;
  // Vesk is quitting: installs a waiting update (without relaunching). Blocks until done.
  virtual void applicationWillTerminate() = 0;
};

}  // namespace vesk
