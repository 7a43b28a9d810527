#pragma once
// WaylandWorkspace: Workspace in a Wayland session. Which application is frontmost comes from
// the compositor's foreign-toplevel management (zwlr_foreign_toplevel_manager_v1): the
// activated toplevel's app id, mapped to a desktop entry as an X11 window's class is. Windows are
// the compositor's toplevels, Wayland and XWayland alike: `activeWindow` names the activated one
// by an id with `kToplevelBit` set (an X11 window id never has it), which `activateWindow` asks
// the compositor to focus. The rest (running applications, quitting) is what the X11 workspace
// sees through XWayland. Where the compositor doesn't offer the protocol, `open` fails and clips
// have no source app.
//
// Main thread only, except `activeWindow`; opened after the QCoreApplication exists (the
// compositor's events arrive through the Qt event loop).

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/base/result.h"
#include "platform/workspace.h"

class QSocketNotifier;

namespace vesk {

class EwmhWorkspace;
class WaylandConnection;

class WaylandWorkspace final : public Workspace {
 public:
  // X11 resource ids use the low 29 bits only.
  static constexpr WindowId kToplevelBit = WindowId{1} << 31;

  // `windows` may be null (no XWayland): then only the frontmost application is known.
  static Result<std::unique_ptr<WaylandWorkspace>> open(const std::string& display,
                                                        std::shared_ptr<EwmhWorkspace> windows);
  ~WaylandWorkspace() override;
  WaylandWorkspace(const WaylandWorkspace&) = delete;
  WaylandWorkspace& operator=(const WaylandWorkspace&) = delete;
  WaylandWorkspace(WaylandWorkspace&&) = delete;
  WaylandWorkspace& operator=(WaylandWorkspace&&) = delete;

  std::optional<RunningApp> frontmostApplication() override;
  std::vector<RunningApp> runningApplications() override;
  WindowId activeWindow() override;
  bool activateWindow(WindowId window) override;
  bool activate(const RunningApp& app) override;
  bool quit(const RunningApp& app) override;
  ForceQuit forceQuit(const RunningApp& app) override;
  void setObservers(Observers observers) override;

 private:
  struct Toplevels;
  WaylandWorkspace(std::shared_ptr<EwmhWorkspace> windows, std::unique_ptr<Toplevels> toplevels);
  void activeChanged();

  std::shared_ptr<EwmhWorkspace> windows_;
  std::unique_ptr<Toplevels> toplevels_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::optional<std::string> frontmostId_;  // the app id of the activated toplevel
  std::atomic<WindowId> activeWindow_{0};   // the activated toplevel, Vesk's panel included
  Observers observers_;
};

}  // namespace vesk
