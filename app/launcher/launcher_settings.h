#pragma once
// LauncherSettings: what the shell tells the launcher controller, as one value. The controller
// holds the one copy (`LauncherController::settings`); the shell changes it through `apply`.
// LauncherServices: what the controller works with, given once at construction.
// LauncherRequests: what the controller asks of the shell.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/base/executor.h"
#include "app/clipboard/clipboard_notice.h"
#include "app/clipboard/paster.h"
#include "core/base/wall_clock.h"
#include "core/config/config.h"
#include "core/config/key_bindings.h"
#include "core/files/file_search_engine.h"
#include "core/search/item.h"

namespace vesk {

class ClipDeliverer;
class DesktopActions;
class HistoryStore;
class IconStore;
class Notifier;
class RunningApps;

struct LauncherSettings {
  // How long a query's index hits wait for its file hits before they are drawn alone: a file
  // search that answers within it is drawn with them in one go, so the list doesn't shrink
  // and grow again at each keystroke.
  static constexpr std::chrono::milliseconds kIndexHitsWait{30};

  // From the configuration.
  KeyBindings keys = KeyBindings::defaults();
  std::string clipboardAlias = "c";  // none: the clipboard has no alias
  Config::EmptyState emptyState = Config::EmptyState::recent;
  // The apps the configuration names, as resolved: extension or type → app entry, link scheme
  // or host → app entry, and the terminal's entry.
  std::map<std::string, std::string> openWithApps;
  std::map<std::string, std::string> openLinks;
  std::optional<std::string> terminalApp;
  // Where saved clips go; empty: the XDG Downloads folder.
  std::string saveFolder;

  // The shell's state, as the lists and the stage show it.
  std::vector<std::string> problems;
  std::vector<ClipboardNotice> clipboardNotices;
  std::set<Command> hiddenCommands = {Command::resumeClipboard};
  // The clipboard hot key as registered, in symbols; none: it isn't.
  std::optional<std::string> clipboardHotkey;
  // Whether a clip can be pasted (else it is copied for the user to paste).
  bool canPaste = false;
  bool checksForUpdates = false;
  std::optional<std::string> readyUpdate;  // the version of the update waiting to be installed
  std::optional<std::string> version;      // Vesk's own, for its rows

  std::chrono::milliseconds indexHitsWait = kIndexHitsWait;

  bool operator==(const LauncherSettings&) const = default;
};

struct LauncherServices {
  // The file search: up to `limit` hits for `query` (none when superseded) handed to `done`,
  // on any thread.
  using FileSearch = std::function<void(std::string query, int limit, int64_t generation,
                                        std::function<void(FileSearchEngine::Hits)> done)>;

  LauncherServices(Executor& executor, HistoryStore& history, FileSearchEngine& files,
                   DesktopActions& desktop)
      : executor(executor), history(history), files(files), desktop(desktop) {}

  Executor& executor;
  HistoryStore& history;
  FileSearchEngine& files;
  DesktopActions& desktop;
  RunningApps* running = nullptr;      // none (no workspace): no app counts as running
  Notifier* notifier = nullptr;        // none: outcomes are only logged
  IconStore* icons = nullptr;          // none: rows have no icons
  ClipDeliverer* deliverer = nullptr;  // none: clips can't be delivered
  // The window a paste goes to: the one active now (0: whichever is active), and whether it
  // belongs to a terminal emulator. Asked when the panel opens and at each paste-next without
  // the panel; none: whichever window is active.
  std::function<PasteTarget()> pasteTarget;
  WallClock now;           // none: the system clock
  FileSearch searchFiles;  // none: the engine's `search`
};

struct LauncherRequests {
  std::function<void(Command)> runCommand;
  std::function<void(ClipboardNotice)> resolveNotice;
  std::function<void()> askForAccessibility;
  // Told when a paste-next found that pasting is (no longer) allowed.
  std::function<void(bool canPaste)> onCanPasteChange;
  std::function<void()> onShowClipboard;
};

}  // namespace vesk
