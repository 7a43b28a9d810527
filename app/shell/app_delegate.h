#pragma once
// AppDelegate: the application object. It owns every long-lived component, starts them in a
// fixed order, applies each new configuration, rebuilds the application index when application
// folders change, runs the built-in commands, and keeps the clipboard notices and the problem
// list current.
//
// The launcher panel exists only in a widget application (not in the tests of this object);
// without it presenting is a log line, and the lists the panel would show (problems, notices,
// hidden commands, the index) are still kept here.
//
// Main thread only. Background work goes through runInBackground and comes back with the
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
#include "core/base/serial_queue.h"
#include "core/clipboard/paste_run.h"
#include "core/config/config.h"
#include "core/files/file_rules.h"
#include "core/search/item.h"
#include "core/search/search_index.h"

namespace vesk {

class ClipDeliverer;
class ClipboardHistory;
class ClipboardRecorder;
class ClipboardStore;
class ConfigStore;
class DirectoryWatcher;
class FileSearchEngine;
class GlobalHotkeys;
class HistoryStore;
class HotKeyCenter;
class DesktopActions;
class LauncherController;
class LauncherPanel;
class RunningApps;

class AppDelegate final {
 public:
  enum class Mode { launcher, clipboard };

  AppDelegate(AppServices services, AppPaths paths);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  void applicationDidFinishLaunching();
  // A second start of `vesk`: presents the launcher. Always false.
  bool applicationShouldHandleReopen();
  // Waits for the pending history saves.
  void applicationWillTerminate();

  // A problem of the platform itself (a Wayland session, a service that failed), listed first.
  void addPlatformProblem(std::string problem);

  void run(Command command);

  // What the panel shows.
  const std::vector<std::string>& problems() const { return problems_; }
  const std::vector<ClipboardNotice>& clipboardNotices() const { return notices_; }
  const std::set<Command>& hiddenCommands() const { return hiddenCommands_; }
  const SearchIndex& index() const { return index_; }
  int64_t indexGeneration() const { return indexGeneration_; }
  bool isRecordingPaused() const { return isRecordingPaused_; }
  ConfigStore& configStore() { return *configStore_; }
  ClipboardHistory& clipboard() { return *clipboard_; }
  HistoryStore& history() { return *history_; }
  GlobalHotkeys* hotkeys() { return hotkeys_.get(); }
  LauncherPanel* panel() { return panel_.get(); }

  // Told each time the launcher or the clipboard history would be presented.
  std::function<void(Mode)> onPresent;
  // Told after each index that reached the launcher.
  std::function<void(const SearchIndex&)> onIndex;

 private:
  void apply(const std::optional<Config>& previous);
  void rebuildIndex(int64_t generation);
  void resolveApps();
  void setRecordingPaused(bool paused, bool save);
  void clearClipboard();
  void checkAccessibility();
  void publishProblems();
  void publishClipboardNotices();
  void startRecorder();
  void watchApplications();
  void present(Mode mode, double pressedAt);
  void hotKey(Mode mode, double pressedAt);
  void pasteNext(double pressedAt);
  void connectDesktop();
  void createPanel();
  void dismissed();

  // Declared first, destroyed last: everything below works through them.
  AppServices services_;
  AppPaths paths_;
  std::unique_ptr<ConfigStore> configStore_;
  std::unique_ptr<HistoryStore> history_;
  std::unique_ptr<HotKeyCenter> hotKeyCenter_;
  std::unique_ptr<GlobalHotkeys> hotkeys_;
  std::shared_ptr<ClipboardStore> clipboardStore_;
  std::unique_ptr<ClipboardHistory> clipboard_;
  std::unique_ptr<ClipboardRecorder> recorder_;
  std::unique_ptr<ClipDeliverer> deliverer_;
  std::unique_ptr<FileSearchEngine> files_;
  std::unique_ptr<RunningApps> runningApps_;
  std::unique_ptr<DesktopActions> desktop_;
  std::unique_ptr<LauncherController> launcher_;
  std::unique_ptr<LauncherPanel> panel_;

  bool canReadClipboard_ = true;
  bool canPaste_ = true;
  bool isRecordingPaused_ = false;
  bool askedForAccessibility_ = false;
  std::optional<FileRules> fileRules_;
  int64_t indexGeneration_ = 0;
  bool hasAppliedConfig_ = false;
  std::vector<std::string> appProblems_;
  int64_t resolveGeneration_ = 0;

  SearchIndex index_;
  std::map<std::string, std::string> openWithApps_;
  std::map<std::string, std::string> openLinks_;
  std::optional<std::string> terminalApp_;
  std::vector<std::string> platformProblems_;
  std::vector<std::string> problems_;
  std::vector<ClipboardNotice> notices_;
  std::set<Command> hiddenCommands_ = {Command::resumeClipboard};
  std::optional<PasteRun> pasteRun_;
  WindowId pasteTarget_ = 0;  // the window the user was in before the panel

  std::shared_ptr<AppDelegate*> self_;
  SerialQueue appsEvents_;
  std::unique_ptr<DirectoryWatcher> appsWatcher_;  // after its queue: stops first
};

}  // namespace vesk
