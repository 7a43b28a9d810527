#pragma once
// Workspace: the running applications of the desktop, which one is frontmost, and the few
// things Vesk does to them (bring to the front, quit, force quit).
//
// An application is identified by its desktop entry: `bundleIdentifier` is the desktop-entry
// id ("org.gnome.Terminal"), `entryPath` the entry's file with links resolved, which is also
// the id of its launcher item. A window whose application has no desktop entry still counts as
// an application; its identifier is then its window class and its entry path is empty.
//
// Threads: every member is called on the main thread and the observers run there, except
// `activeWindow`, which any thread may call.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

// A top-level window of the desktop (an X window id on X11). 0 is no window.
using WindowId = uint32_t;

struct RunningApp {
  std::string bundleIdentifier;   // desktop-entry id without ".desktop", else the window class
  std::string entryPath;          // the desktop entry file, links resolved; empty when none
  std::string name;               // the entry's localized name, else the window class
  int32_t pid = 0;                // 0 when the windows don't say
  double launchDate = 0;          // seconds since 1970 from the process start; 0 when unknown
  std::vector<WindowId> windows;  // its normal windows, most recently used first

  // A regular application has a window in the task bar and a desktop entry.
  bool isRegular() const { return !windows.empty() && !entryPath.empty(); }
  bool operator==(const RunningApp&) const = default;
};

class Workspace {
 public:
  struct Observers {
    // The frontmost application changed; none when no application's window is active.
    std::function<void(const std::optional<RunningApp>&)> didActivate;
    std::function<void(const RunningApp&)> didLaunch;     // its first window appeared
    std::function<void(const RunningApp&)> didTerminate;  // its last window went away
  };

  virtual ~Workspace() = default;

  // The application of the active window, if any.
  virtual std::optional<RunningApp> frontmostApplication() = 0;

  // Every application with a normal window, most recently used first.
  virtual std::vector<RunningApp> runningApplications() = 0;

  // The active window now (0 when none or unknown). Any thread.
  virtual WindowId activeWindow() = 0;

  // Asks the window manager to activate the window / the application's most recent window.
  // False when there is nothing to activate.
  virtual bool activateWindow(WindowId window) = 0;
  virtual bool activate(const RunningApp& app) = 0;

  // Asks each of the application's windows that take such requests to close; never signals a
  // process. False when nothing could be asked.
  virtual bool quit(const RunningApp& app) = 0;

  // What force quit did.
  enum class ForceQuit {
    nothing,        // nothing of the application was left to stop
    killed,         // its process, which runs this application alone, got SIGKILL
    windowsClosed,  // its process is shared or can't be told apart: only its windows were closed
  };
  // SIGKILL only to a process whose windows all belong to the application and whose program is
  // the one its desktop entry starts, as this pid namespace numbers it; otherwise the
  // application's windows are closed and the process is left alone.
  virtual ForceQuit forceQuit(const RunningApp& app) = 0;

  // Replaces the observers; empty functions are not called.
  virtual void setObservers(Observers observers) = 0;
};

}  // namespace vesk
