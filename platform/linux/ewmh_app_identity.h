#pragma once
// EwmhAppIdentity: which application a top-level window belongs to. The desktop entry is found
// from the startup id of a launch Vesk made (the window's _NET_STARTUP_ID, else its process's
// DESKTOP_STARTUP_ID), then the window's _GTK_APPLICATION_ID, then its WM_CLASS (against the
// entries' StartupWMClass and ids), then its process's programs (the executable, the command's
// program or the script an interpreter runs, against the entries' Exec and TryExec programs);
// without an entry the application is known by its window class.
//
// Main thread (it shares the workspace's connection); the table of desktop entries is read on
// first use and again, at most every few seconds, when a window's entry isn't found.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <xcb/xcb.h>

#include "platform/linux/desktop_entries.h"
#include "platform/workspace.h"

namespace vesk {

class XcbConnection;

class EwmhAppIdentity final {
 public:
  explicit EwmhAppIdentity(XcbConnection& connection);

  // The application of `window`, without its window list; none for a window that is gone.
  std::optional<RunningApp> identify(xcb_window_t window);

  // The application a Wayland compositor names by `appId` (a desktop-entry id or a window
  // class), found as a window's would be; without an entry it is known by `appId` itself.
  RunningApp identifyAppId(std::string_view appId);

  // What the process started at, in seconds since 1970; 0 when unknown.
  static double launchDate(int32_t pid);

  // The program the desktop entry `id` (without ".desktop") starts, as its Exec line names it;
  // empty when there is no such entry or it names none.
  std::string programOf(std::string_view id) const;

 private:
  struct Entry {
    std::string id;  // without ".desktop"
    std::string path;
    std::string name;
    std::string program;
  };

  void load();
  // What is known of a window to find its entry by.
  struct Clues {
    std::string launchedId;  // the desktop id of the Vesk launch it came from
    std::string gtkId;
    std::string instance;
    std::string wmClass;
    int32_t pid = 0;
  };
  const Entry* find(const Clues& clues);
  const Entry* findOnce(const Clues& clues) const;
  bool isLocal(xcb_window_t window);

  XcbConnection& connection_;
  DesktopEntries desktopEntries_;
  std::vector<Entry> entries_;
  std::unordered_map<std::string, size_t> byId_;       // lower-cased id → entry
  std::unordered_map<std::string, size_t> byWmClass_;  // lower-cased StartupWMClass → entry
  std::unordered_map<std::string, size_t> byProgram_;  // Exec/TryExec file name → entry
  std::unordered_map<std::string, size_t> byFileId_;   // entry file name without ".desktop"
  std::chrono::steady_clock::time_point loaded_{};
  bool everLoaded_ = false;
  std::string hostName_;
};

}  // namespace vesk
