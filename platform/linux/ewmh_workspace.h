#pragma once
// EwmhWorkspace: Workspace over the window manager's EWMH properties on the root window. The
// running applications are those with a normal window in _NET_CLIENT_LIST that is not kept
// off the task bar; the frontmost one owns _NET_ACTIVE_WINDOW. Vesk remembers the order in
// which windows became active, so the list is most recently used first (windows never seen
// active follow in stacking order). Without a window manager the list is empty and the
// frontmost application is that of the focused window. Vesk's own windows are not
// applications: while its panel has the focus, the application used before stays frontmost.
//
// Main thread only, except `activeWindow`; opened after the QCoreApplication exists (its
// events arrive through the Qt event loop).

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <xcb/xcb.h>

#include "core/base/result.h"
#include "platform/workspace.h"

namespace vesk {

class XcbConnection;
class XcbEventSource;
class EwmhAppIdentity;

class EwmhWorkspace final : public Workspace {
 public:
  // Connects to `display` ("" = $DISPLAY).
  static Result<std::unique_ptr<EwmhWorkspace>> open(const std::string& display);
  ~EwmhWorkspace() override;

  std::optional<RunningApp> frontmostApplication() override;
  std::vector<RunningApp> runningApplications() override;
  WindowId activeWindow() override;
  bool activateWindow(WindowId window) override;
  bool activate(const RunningApp& app) override;
  bool quit(const RunningApp& app) override;
  ForceQuit forceQuit(const RunningApp& app) override;
  void setObservers(Observers observers) override;

  // The application of a Wayland window's app id, mapped to a desktop entry as a window's
  // class is.
  RunningApp applicationOf(std::string_view appId);

 private:
  explicit EwmhWorkspace(std::unique_ptr<XcbConnection> connection);
  void handle(const xcb_generic_event_t* event);
  void activeChanged();
  void clientsChanged();
  std::vector<xcb_window_t> clientWindows();
  bool isListed(xcb_window_t window);
  bool isOwn(xcb_window_t window);  // a window of this process
  bool exists(xcb_window_t window);
  std::optional<RunningApp> identity(xcb_window_t window);
  std::map<std::string, RunningApp> appsById();
  std::optional<RunningApp> current(const RunningApp& app);
  // Whether SIGKILL to `app.pid` stops `app` and nothing else (see Workspace::forceQuit).
  bool ownsItsProcess(const RunningApp& app);
  // The pid of the X client that made `window`, as the server knows it; none when it can't tell.
  std::optional<uint32_t> clientPid(xcb_window_t window);
  // Closes `windows` (the X connections that made them, or the windows themselves when such a
  // connection also made windows of other applications).
  void closeWindows(const RunningApp& app);

  std::unique_ptr<XcbConnection> connection_;
  std::unique_ptr<EwmhAppIdentity> identify_;
  std::unique_ptr<XcbEventSource> events_;
  std::unordered_map<xcb_window_t, std::optional<RunningApp>> identities_;
  std::vector<xcb_window_t> recent_;  // most recently active first
  std::map<std::string, RunningApp> running_;
  std::optional<std::string> frontmost_;
  Observers observers_;
};

}  // namespace vesk
