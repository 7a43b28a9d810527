#include "platform/wayland/wayland_workspace.h"

#include <QSocketNotifier>
#include <algorithm>
#include <functional>
#include <unordered_map>

#include <wayland-client.h>
#include <wlr-foreign-toplevel-management-unstable-v1-client-protocol.h>

#include "platform/linux/ewmh_workspace.h"
#include "platform/wayland/wayland_connection.h"

namespace vesk {

using Handle = zwlr_foreign_toplevel_handle_v1;

struct WaylandWorkspace::Toplevels {
  struct Toplevel {
    WindowId id = 0;  // kToplevelBit and a serial number
    std::string appId;
    bool activated = false;
    bool pendingActivated = false;
  };

  std::unique_ptr<WaylandConnection> connection;
  zwlr_foreign_toplevel_manager_v1* manager = nullptr;
  wl_seat* seat = nullptr;  // the seat an activation is asked for
  std::unordered_map<Handle*, Toplevel> toplevels;
  WindowId nextId = 1;
  std::function<void()> changed;

  Toplevels() = default;
  Toplevels(const Toplevels&) = delete;
  Toplevels& operator=(const Toplevels&) = delete;
  Toplevels(Toplevels&&) = delete;
  Toplevels& operator=(Toplevels&&) = delete;
  ~Toplevels() {
    for (auto& [handle, toplevel] : toplevels) {
      zwlr_foreign_toplevel_handle_v1_destroy(handle);
    }
    if (manager != nullptr) {
      zwlr_foreign_toplevel_manager_v1_destroy(manager);
    }
    if (seat != nullptr) {
      wl_seat_destroy(seat);
    }
  }

  // The activated toplevel, if any.
  const Toplevel* active() const {
    for (const auto& [handle, toplevel] : toplevels) {
      if (toplevel.activated) {
        return &toplevel;
      }
    }
    return nullptr;
  }

  Handle* handleOf(WindowId id) const {
    for (const auto& [handle, toplevel] : toplevels) {
      if (toplevel.id == id) {
        return handle;
      }
    }
    return nullptr;
  }

  static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1* /*manager*/,
                         Handle* handle) {
    auto* self = static_cast<Toplevels*>(data);
    Toplevel toplevel;
    toplevel.id = kToplevelBit | self->nextId++;
    self->toplevels.emplace(handle, std::move(toplevel));
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, self);
  }
  static void onFinished(void* /*data*/, zwlr_foreign_toplevel_manager_v1* /*manager*/) {}
  static constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener{onToplevel,
                                                                              onFinished};

  static void onTitle(void* /*data*/, Handle* /*handle*/, const char* /*title*/) {}
  static void onAppId(void* data, Handle* handle, const char* appId) {
    static_cast<Toplevels*>(data)->toplevels[handle].appId = appId;
  }
  static void onOutputEnter(void* /*data*/, Handle* /*handle*/, wl_output* /*output*/) {}
  static void onOutputLeave(void* /*data*/, Handle* /*handle*/, wl_output* /*output*/) {}
  static void onState(void* data, Handle* handle, wl_array* states) {
    bool activated = false;
    const auto* state = static_cast<const uint32_t*>(states->data);
    for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
      activated = activated || state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    }
    static_cast<Toplevels*>(data)->toplevels[handle].pendingActivated = activated;
  }
  static void onDone(void* data, Handle* handle) {
    auto* self = static_cast<Toplevels*>(data);
    Toplevel& toplevel = self->toplevels[handle];
    toplevel.activated = toplevel.pendingActivated;
    if (self->changed) {
      self->changed();
    }
  }
  static void onClosed(void* data, Handle* handle) {
    auto* self = static_cast<Toplevels*>(data);
    self->toplevels.erase(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    if (self->changed) {
      self->changed();
    }
  }
  static void onParent(void* /*data*/, Handle* /*handle*/, Handle* /*parent*/) {}
  static constexpr zwlr_foreign_toplevel_handle_v1_listener kHandleListener{
      onTitle, onAppId, onOutputEnter, onOutputLeave, onState, onDone, onClosed, onParent};
};

Result<std::unique_ptr<WaylandWorkspace>> WaylandWorkspace::open(
    const std::string& display, std::shared_ptr<EwmhWorkspace> windows) {
  auto opened = WaylandConnection::open(display);
  if (!opened) {
    return opened.failure();
  }
  auto toplevels = std::make_unique<Toplevels>();
  toplevels->connection = std::move(opened).value();
  toplevels->manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
      toplevels->connection->bind(zwlr_foreign_toplevel_manager_v1_interface, 3));
  if (toplevels->manager == nullptr) {
    return Failure{"the compositor doesn't say which window is active"};
  }
  zwlr_foreign_toplevel_manager_v1_add_listener(toplevels->manager, &Toplevels::kManagerListener,
                                                toplevels.get());
  toplevels->seat = static_cast<wl_seat*>(toplevels->connection->bind(wl_seat_interface, 1));
  toplevels->connection->roundtrip();
  return std::unique_ptr<WaylandWorkspace>(
      new WaylandWorkspace(std::move(windows), std::move(toplevels)));
}

WaylandWorkspace::WaylandWorkspace(std::shared_ptr<EwmhWorkspace> windows,
                                   std::unique_ptr<Toplevels> toplevels)
    : windows_(std::move(windows)), toplevels_(std::move(toplevels)) {
  activeChanged();
  toplevels_->changed = [this] { activeChanged(); };
  wl_display* display = toplevels_->connection->display();
  wl_display_flush(display);
  notifier_ = std::make_unique<QSocketNotifier>(wl_display_get_fd(display), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, display] {
    if (wl_display_dispatch(display) < 0) {
      notifier_->setEnabled(false);  // the compositor went away
      return;
    }
    wl_display_flush(display);
  });
}

WaylandWorkspace::~WaylandWorkspace() {
  notifier_.reset();
  toplevels_->changed = nullptr;
}

void WaylandWorkspace::activeChanged() {
  const Toplevels::Toplevel* toplevel = toplevels_->active();
  activeWindow_ = toplevel != nullptr ? toplevel->id : 0;
  std::optional<std::string> active;
  if (toplevel != nullptr && !toplevel->appId.empty()) {
    active = toplevel->appId;
  }
  // Vesk's own panel is not an application: the one used before stays frontmost.
  if (active == frontmostId_ || active == std::optional<std::string>("vesk")) {
    return;
  }
  frontmostId_ = active;
  if (observers_.didActivate) {
    observers_.didActivate(frontmostApplication());
  }
}

std::optional<RunningApp> WaylandWorkspace::frontmostApplication() {
  if (!frontmostId_) {
    return std::nullopt;
  }
  if (windows_) {
    return windows_->applicationOf(*frontmostId_);
  }
  RunningApp app;
  app.bundleIdentifier = *frontmostId_;
  app.name = *frontmostId_;
  return app;
}

std::vector<RunningApp> WaylandWorkspace::runningApplications() {
  return windows_ ? windows_->runningApplications() : std::vector<RunningApp>{};
}

WindowId WaylandWorkspace::activeWindow() {
  return activeWindow_;
}

bool WaylandWorkspace::activateWindow(WindowId window) {
  if ((window & kToplevelBit) == 0) {
    return windows_ && windows_->activateWindow(window);
  }
  Handle* handle = toplevels_->handleOf(window);
  if (handle == nullptr || toplevels_->seat == nullptr) {
    return false;
  }
  zwlr_foreign_toplevel_handle_v1_activate(handle, toplevels_->seat);
  return wl_display_flush(toplevels_->connection->display()) >= 0;
}

bool WaylandWorkspace::activate(const RunningApp& app) {
  return windows_ && windows_->activate(app);
}

bool WaylandWorkspace::quit(const RunningApp& app) {
  return windows_ && windows_->quit(app);
}

Workspace::ForceQuit WaylandWorkspace::forceQuit(const RunningApp& app) {
  return windows_ ? windows_->forceQuit(app) : ForceQuit::nothing;
}

void WaylandWorkspace::setObservers(Observers observers) {
  observers_ = observers;
  if (windows_) {
    observers.didActivate = nullptr;  // the compositor says which application is frontmost
    windows_->setObservers(std::move(observers));
  }
}

}  // namespace vesk
