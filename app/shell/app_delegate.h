#pragma once
// AppDelegate: the application object. It owns every long-lived component, starts them in a
// fixed order, applies each new configuration, installs each application index its AppIndexer
// builds, runs the built-in commands, and keeps the clipboard notices and the problem list
// (StatusLists) current.
//
// The launcher controller holds what the panel shows (the index, the problems, the notices, the
// hidden commands); the delegate changes it through the controller's settings and keeps no copy.
// Without a widget application the log panel stands in for the panel window.
//
// Main thread only. Background work goes through the executor it is given and comes back with the
// generation it started with; callbacks hold the object weakly.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/clipboard/clipboard_notice.h"
#include "app/clipboard/paster.h"
#include "app/shell/app_services.h"
#include "app/shell/status_lists.h"
#include "core/config/config.h"
#include "core/files/file_rules.h"
#include "core/search/item.h"
#include "core/search/search_index.h"

namespace vesk {

class AppIndexer;
class Executor;
class ClipDeliverer;
class ClipboardHistory;
class ClipboardRecorder;
class ClipboardStore;
class ConfigStore;
class DesktopActions;
class FileSearchEngine;
class GlobalHotkeys;
class HistoryStore;
class HotKeyCenter;
class IconStore;
class LauncherController;
class LauncherPanel;
struct LauncherSettings;
class LogPanel;
class Notifier;
class PortalHotkeys;
class RunningApps;
class Updater;

class AppDelegate final {
 public:
  enum class Mode { launcher, clipboard };

  // `executor` runs every background job of the application and outlives the delegate.
  AppDelegate(Executor& executor, AppServices services, AppPaths paths);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;
  AppDelegate(AppDelegate&&) = delete;
  AppDelegate& operator=(AppDelegate&&) = delete;

  void applicationDidFinishLaunching();
  // A second start of `vesk`: presents the launcher. Always false.
  bool applicationShouldHandleReopen();
  // `vesk --launcher` or `--clipboard`: shows `mode`, or hides it when it is shown, as its hot
  // key does.
  void toggle(Mode mode);
  // `vesk --paste-next`: as the paste-next hot key.
  void pasteNextNow();
  // Waits for the pending history saves.
  void applicationWillTerminate();

  // A problem of the platform itself (a Wayland session, a service that failed), listed first.
  void addPlatformProblem(std::string problem);

  void run(Command command);

  // What the panel shows.
  const std::vector<std::string>& problems() const { return status_.problems(); }
  const std::vector<ClipboardNotice>& clipboardNotices() const {
    return status_.clipboardNotices();
  }
  const std::set<Command>& hiddenCommands() const;
  const SearchIndex& index() const;
  int64_t indexGeneration() const;
  bool isRecordingPaused() const { return isRecordingPaused_; }
  ConfigStore& configStore() { return *configStore_; }
  ClipboardHistory& clipboard() { return *clipboard_; }
  HistoryStore& history() { return *history_; }
  GlobalHotkeys* hotkeys() { return hotkeys_.get(); }
  // Null until the paused marker was read at start-up, or without a clipboard to watch.
  ClipboardRecorder* recorder() { return recorder_.get(); }
  // The launcher's controller, once started.
  LauncherController* launcher() { return launcher_.get(); }
  // Null until launched.
  Updater* updater() { return updater_.get(); }

  // Told each time the launcher or the clipboard history is presented.
  std::function<void(Mode)> onPresent;
  // Told after each index that reached the launcher.
  std::function<void(const SearchIndex&)> onIndex;
  // Told once each batch of changes in the application folders has been judged.
  std::function<void()> onAppChangesJudged;

 private:
  void apply(const std::optional<Config>& previous);
  void postStartNotice();
  void installIndex(SearchIndex index);
  void resolveApps();
  void setRecordingPaused(bool paused, bool save);
  void clearClipboard();
  void checkAccessibility();
  void publishProblems();
  void publishClipboardNotices();
  void startRecorder();
  void present(Mode mode, double pressedAt);
  void pasteNext(double pressedAt);
  void connectDesktop();
  void startLauncher();
  void askForAccessibility();
  void connectUpdater();
  // Changes the launcher's settings, once it is started.
  void changeLauncher(const std::function<void(LauncherSettings&)>& change);

  // Declared first, destroyed last: everything below works through them.
  Executor& executor_;
  AppServices services_;
  AppPaths paths_;
  std::unique_ptr<ConfigStore> configStore_;
  std::unique_ptr<HistoryStore> history_;
  std::unique_ptr<HotKeyCenter> hotKeyCenter_;
  std::unique_ptr<GlobalHotkeys> hotkeys_;
  std::unique_ptr<PortalHotkeys> portalHotkeys_;
  std::shared_ptr<ClipboardStore> clipboardStore_;
  std::unique_ptr<ClipboardHistory> clipboard_;
  std::unique_ptr<ClipboardRecorder> recorder_;
  std::unique_ptr<ClipDeliverer> deliverer_;
  std::unique_ptr<FileSearchEngine> files_;
  std::unique_ptr<RunningApps> runningApps_;
  std::shared_ptr<Notifier> notifier_;
  std::unique_ptr<DesktopActions> desktop_;
  std::unique_ptr<IconStore> icons_;
  std::unique_ptr<LauncherController> launcher_;
  std::unique_ptr<Updater> updater_;
  std::unique_ptr<LogPanel> panel_;  // after the controller: goes first
  // The panel window, in a widget application; the log panel stands in for it elsewhere.
  std::unique_ptr<LauncherPanel> window_;

  bool canReadClipboard_ = true;
  bool isRecordingPaused_ = false;
  bool askedForAccessibility_ = false;
  std::optional<FileRules> fileRules_;
  bool hasAppliedConfig_ = false;
  std::vector<std::string> appProblems_;
  int64_t resolveGeneration_ = 0;

  std::vector<std::string> platformProblems_;
  StatusLists status_;

  std::shared_ptr<AppDelegate*> self_;
  std::unique_ptr<AppIndexer> indexer_;  // declared last: stops first
};

}  // namespace vesk
