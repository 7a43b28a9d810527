#pragma once
// FeedUpdateFramework: updates a user-local install of Vesk from a signed feed.
//
// A session fetches the feed (HTTPS) and checks its Ed25519 signature against the build's public
// key. A build not newer than the newest ever installed here (kept in the state file, the
// running build included) is refused, so an old release, however genuinely signed, is never
// installed again. For a newer build the archive is downloaded into a nameless file in the cache
// folder, its size and SHA-256 checked against the signed manifest as it arrives, and that same
// open file unpacked beside the installed versions (<prefix>/lib/vesk/.staged-<version>); the
// unpacked folder must name the feed's build. The update then waits: it is installed when Vesk
// quits, or at once through the install action, which then relaunches Vesk. Installing switches
// the `current` link in one rename, so an interrupted install leaves the old version running;
// afterwards every version but the new one and the running one is removed.
//
// Enabled only with a feed, a key and a user-local install (FeedUpdateSteps::userLocalPrefix);
// a copy from a distribution package is its package manager's to update.
//
// Main thread only (the thread of the QCoreApplication). A session runs on its own thread and
// posts its callbacks to the main thread; destruction stops it at the next transfer step.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/linux/feed_update_framework_steps.h"
#include "platform/update_framework.h"

namespace vesk {

class FeedUpdateFramework final : public UpdateFramework {
 public:
  struct Options {
    std::string feedUrl;
    std::string publicKey;  // base64 of the 32 raw Ed25519 bytes
    std::string runningBuild;
    std::string executable;   // the running program, links resolved
    std::string home;         // the user's home folder
    std::string cacheFolder;  // where downloads go ($XDG_CACHE_HOME/vesk/updates)
    // The newest build ever installed ($XDG_STATE_HOME/vesk/update-state.json).
    std::string stateFile;
    FeedUpdateSteps::Transfer transfer;
    // Starts `program` once this process is gone and quits; tests record it instead.
    std::function<void(const std::string& program)> relaunch;
    std::function<void(const std::string& line)> log;  // errors worth a line (default: none)
  };

  // The feed and key this build carries, the running executable, $HOME and $XDG_CACHE_HOME.
  static Options standard(std::string feedUrl, std::string publicKey, std::string runningBuild);

  explicit FeedUpdateFramework(Options options);
  ~FeedUpdateFramework() override;
  FeedUpdateFramework(const FeedUpdateFramework&) = delete;
  FeedUpdateFramework& operator=(const FeedUpdateFramework&) = delete;
  FeedUpdateFramework(FeedUpdateFramework&&) = delete;
  FeedUpdateFramework& operator=(FeedUpdateFramework&&) = delete;

  bool isEnabled() const override;
  Result<void> start(Delegate delegate) override;
  bool sessionInProgress() const override { return inSession_; }
  void checkForUpdatesInBackground() override;
  void applicationWillTerminate() override;

  // The install prefix, when this is a user-local install.
  const std::optional<std::string>& prefix() const { return prefix_; }

  // The newest build the state file records; none without a readable one.
  static std::optional<std::string> newestInstalled(const std::string& stateFile);

 private:
  struct Staged {
    Update update;
    std::string folder;
  };
  struct Outcome;

  // The session's work, on its thread.
  Outcome runSession() const;
  void finish(Outcome outcome);
  Result<void> installStaged();
  void stopSession();
  // Records `build` as installed when it is newer than the state file's.
  void recordInstalled(const std::string& build) const;

  Options options_;
  std::optional<std::string> prefix_;
  std::vector<uint8_t> key_;
  Delegate delegate_;
  bool started_ = false;
  bool inSession_ = false;
  std::optional<Staged> staged_;
  bool installed_ = false;
  std::atomic<bool> stopping_ = false;
  std::thread session_;
  std::shared_ptr<FeedUpdateFramework*> self_;
};

}  // namespace vesk
