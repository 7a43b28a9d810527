#pragma once
// Updater: decides when Vesk looks for a new version, remembers a downloaded update that waits
// to be installed, installs it when the user asks, and after the restart tells whether the
// update took. The work itself is the UpdateFramework's; every outcome worth telling becomes
// one UpdateResult for `onResult`.
//
// Idle -> checking -> idle (nothing found, or an error: the next automatic check is due a day
// after the last one started, or an hour after the error) or waiting (an update is downloaded;
// the launcher offers it, checks are skipped) -> installing -> relaunched. The waiting update
// is recorded in a small JSON file (`recordFile`), read once at the next start and removed, so
// that start can tell whether the install took.
//
// Main thread only. Reading and writing the record run in the background.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/base/executor.h"
#include "core/base/wall_clock.h"
#include "platform/update_framework.h"

namespace vesk {

struct UpdateResult {
  enum class Kind { updated, failed, ready, upToDate, checkFailed };

  Kind kind = Kind::updated;
  std::string version;  // the new version; the running one for upToDate; empty for checkFailed
  std::string reason;   // failed and checkFailed only

  static UpdateResult updated(std::string to) { return {Kind::updated, std::move(to), {}}; }
  static UpdateResult failed(std::string to, std::string reason) {
    return {Kind::failed, std::move(to), std::move(reason)};
  }
  static UpdateResult ready(std::string version) { return {Kind::ready, std::move(version), {}}; }
  static UpdateResult upToDate(std::string running) {
    return {Kind::upToDate, std::move(running), {}};
  }
  static UpdateResult checkFailed(std::string reason) {
    return {Kind::checkFailed, {}, std::move(reason)};
  }

  // The notification's texts.
  std::string title() const;
  std::string body() const;

  bool operator==(const UpdateResult&) const = default;
};

// The downloaded update that waits, as recorded between runs.
struct PendingUpdate {
  std::string build;
  std::string version;
  bool requested = false;  // the user chose to install it

  bool operator==(const PendingUpdate&) const = default;

  // The record file: {"build": …, "version": …, "requested": …}. Failure: why it wasn't written.
  static Result<void> save(const std::string& file, const PendingUpdate& update);
  // Reads the record and removes the file. None when there is no file, or it lacks "build" or
  // "version" (a missing "requested" reads as false).
  static std::optional<PendingUpdate> take(const std::string& file);
  // Removes the record.
  static void remove(const std::string& file);
};

class Updater final {
 public:
  struct Options {
    std::string runningVersion;
    std::string runningBuild;
    std::string recordFile;  // where the waiting update is recorded
    WallClock now = secondsSince1970;
  };

  static constexpr double kCheckInterval = 86400;  // automatic checks: once a day
  static constexpr double kRetryInterval = 3600;   // after an error: an hour later

  // `framework` may be null: updates are then off.
  Updater(Executor& executor, std::shared_ptr<UpdateFramework> framework, Options options);
  ~Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;
  Updater(Updater&&) = delete;
  Updater& operator=(Updater&&) = delete;

  // The display version of the update that waits, or none once it is dropped.
  std::function<void(const std::optional<std::string>&)> onReady;
  std::function<void(const UpdateResult&)> onResult;

  // A framework that can update this copy of Vesk. Everything below does nothing without it.
  bool isEnabled() const;
  // Called when the panel is dismissed: checks when one is due.
  void checkIfDue(double now);
  void check();
  // The user's "Check for Updates": a check whose outcome is always told.
  void checkForUpdates(double now);
  // The user's "Update Vesk": installs the waiting update and relaunches.
  void installNow();
  // At start-up: tells whether the update installed before this start took.
  void reportLastUpdate();
  // Vesk is quitting: the framework installs a waiting update.
  void applicationWillTerminate();

  // For tests and the shell's logic.
  std::optional<double> nextCheck() const { return next_; }
  const std::optional<PendingUpdate>& pending() const { return pending_; }

 private:
  Executor& executor_;
  void didFindValidUpdate(const UpdateFramework::Update& update);
  void didNotFindUpdate();
  bool willInstallUpdateOnQuit(const UpdateFramework::Update& update,
                               std::function<void()> install);
  void didAbortWithError(const UpdateFramework::Error& error);
  void report(const UpdateResult& result) const;
  // Clears `asked_`; whether it was set.
  bool takeAsked();

  std::shared_ptr<UpdateFramework> framework_;
  Options options_;
  bool started_ = false;
  std::optional<double> next_;
  std::optional<std::string> found_;
  bool asked_ = false;
  std::optional<PendingUpdate> pending_;
  std::function<void()> install_;
  // Held weakly by background work and the framework's callbacks.
  std::shared_ptr<Updater*> self_;
};

}  // namespace vesk
