#pragma once
// FakeUpdateFramework: an UpdateFramework whose sessions the test ends by calling the delegate
// itself. Counts checks and installs. Main thread.

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/update_framework.h"

namespace vesk {

class FakeUpdateFramework final : public UpdateFramework {
 public:
  bool isEnabled() const override { return enabled; }
  Result<void> start(Delegate given) override {
    ++starts;
    if (startFailure) {
      return Failure{*startFailure};
    }
    delegate = std::move(given);
    return {};
  }
  bool sessionInProgress() const override { return inSession; }
  void checkForUpdatesInBackground() override {
    ++checks;
    inSession = true;
  }
  void applicationWillTerminate() override { ++terminations; }

  // Ends the session the way the framework would.
  void notFound() {
    inSession = false;
    delegate.didNotFindUpdate();
    delegate.didAbortWithError({noUpdateFound, "You're up to date!", std::nullopt, true});
  }
  bool downloaded(const Update& update) {
    inSession = false;
    delegate.didFindValidUpdate(update);
    return delegate.willInstallUpdateOnQuit(update, [this] { ++installs; });
  }
  void abort(Error error) {
    inSession = false;
    delegate.didAbortWithError(error);
  }

  bool enabled = true;
  std::optional<std::string> startFailure;
  bool inSession = false;
  Delegate delegate;
  int starts = 0;
  int checks = 0;
  int installs = 0;
  int terminations = 0;
};

}  // namespace vesk
