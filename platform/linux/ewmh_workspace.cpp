#include "platform/linux/ewmh_workspace.h"

#include <algorithm>
#include <array>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include <xcb/res.h>

#include "platform/linux/ewmh_active_window.h"
#include "platform/linux/ewmh_app_identity.h"
#include "platform/linux/xcb_connection.h"
#include "platform/linux/xcb_event_source.h"

namespace vesk {
namespace {

constexpr size_t kMostRemembered = 1024;

bool contains(const std::vector<uint32_t>& list, uint32_t value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

std::string realPath(const std::string& path) {
  std::array<char, PATH_MAX> buffer{};
  return ::realpath(path.c_str(), buffer.data()) != nullptr ? std::string(buffer.data())
                                                            : std::string();
}

// Whether `pid` lives in this process's pid namespace.
bool inOwnPidNamespace(int32_t pid) {
  struct stat own {};
  struct stat other {};
  return ::stat("/proc/self/ns/pid", &own) == 0 &&
         ::stat(("/proc/" + std::to_string(pid) + "/ns/pid").c_str(), &other) == 0 &&
         own.st_ino == other.st_ino && own.st_dev == other.st_dev;
}

// Whether the process `pid` runs `program` (an Exec line's first word: a path, or a name looked
// up in $PATH).
bool runs(int32_t pid, const std::string& program) {
  if (program.empty()) {
    return false;
  }
  const std::string executable = realPath("/proc/" + std::to_string(pid) + "/exe");
  if (executable.empty()) {
    return false;
  }
  if (program.find('/') != std::string::npos) {
    return realPath(program) == executable;
  }
  const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe)
  std::string_view folders = path != nullptr ? path : "";
  while (!folders.empty()) {
    const size_t colon = folders.find(':');
    const std::string folder(folders.substr(0, colon));
    folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
    std::string candidate = folder;
    candidate.append("/").append(program);
    if (!folder.empty() && realPath(candidate) == executable) {
      return true;
    }
  }
  return false;
}

}  // namespace

Result<std::unique_ptr<EwmhWorkspace>> EwmhWorkspace::open(const std::string& display) {
  auto opened = XcbConnection::open(display);
  if (!opened) {
    return opened.failure();
  }
  return std::unique_ptr<EwmhWorkspace>(new EwmhWorkspace(std::move(opened).value()));
}

EwmhWorkspace::EwmhWorkspace(std::unique_ptr<XcbConnection> connection)
    : connection_(std::move(connection)),
      identify_(std::make_unique<EwmhAppIdentity>(*connection_)) {
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(connection_->get(), connection_->root(), XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection_->get());
  running_ = appsById();
  if (const WindowId active = activeWindow(); active != 0) {
    recent_.push_back(active);
    if (const auto app = identity(active)) {
      frontmost_ = app->bundleIdentifier;
    }
  }
  events_ = std::make_unique<XcbEventSource>(
      *connection_, [this](const xcb_generic_event_t* event) { handle(event); });
}

EwmhWorkspace::~EwmhWorkspace() = default;

RunningApp EwmhWorkspace::applicationOf(std::string_view appId) {
  return identify_->identifyAppId(appId);
}

void EwmhWorkspace::setObservers(Observers observers) {
  observers_ = std::move(observers);
}

WindowId EwmhWorkspace::activeWindow() {
  return EwmhActiveWindow::current(*connection_);
}

void EwmhWorkspace::handle(const xcb_generic_event_t* event) {
  if (eventType(event) != XCB_PROPERTY_NOTIFY) {
    return;
  }
  const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
  if (notify->window != connection_->root()) {
    return;
  }
  if (notify->atom == connection_->atom("_NET_ACTIVE_WINDOW")) {
    activeChanged();
  } else if (notify->atom == connection_->atom("_NET_CLIENT_LIST")) {
    clientsChanged();
  }
}

bool EwmhWorkspace::isOwn(xcb_window_t window) {
  const auto app = window != 0 ? identity(window) : std::nullopt;
  return app && app->pid == ::getpid();
}

void EwmhWorkspace::activeChanged() {
  const WindowId active = activeWindow();
  // Vesk's own panel takes the focus only to be typed into: the application the user works in
  // stays the frontmost one, as with a panel that never activates.
  if (isOwn(active)) {
    return;
  }
  std::erase(recent_, active);
  if (active != 0) {
    recent_.insert(recent_.begin(), active);
  }
  if (recent_.size() > kMostRemembered) {
    recent_.resize(kMostRemembered);
  }
  const auto app = active != 0 ? identity(active) : std::nullopt;
  const std::optional<std::string> id =
      app ? std::optional<std::string>(app->bundleIdentifier) : std::nullopt;
  if (id == frontmost_) {
    return;
  }
  frontmost_ = id;
  if (observers_.didActivate) {
    observers_.didActivate(app ? current(*app) : std::nullopt);
  }
}

void EwmhWorkspace::clientsChanged() {
  std::map<std::string, RunningApp> now = appsById();
  const std::map<std::string, RunningApp> before = std::exchange(running_, now);
  for (const auto& [id, app] : before) {
    if (!now.contains(id) && observers_.didTerminate) {
      observers_.didTerminate(app);
    }
  }
  for (const auto& [id, app] : now) {
    if (!before.contains(id) && observers_.didLaunch) {
      observers_.didLaunch(app);
    }
  }
}

std::vector<xcb_window_t> EwmhWorkspace::clientWindows() {
  const xcb_window_t root = connection_->root();
  std::vector<uint32_t> stacking =
      connection_->cardinals(root, connection_->atom("_NET_CLIENT_LIST_STACKING"));
  if (stacking.empty()) {
    stacking = connection_->cardinals(root, connection_->atom("_NET_CLIENT_LIST"));
  }
  std::reverse(stacking.begin(), stacking.end());  // top first
  std::erase_if(stacking, [&](xcb_window_t window) { return !isListed(window) || isOwn(window); });

  // Most recently active first, then the rest by stacking.
  std::vector<xcb_window_t> ordered;
  for (const xcb_window_t window : recent_) {
    if (contains(stacking, window)) {
      ordered.push_back(window);
    }
  }
  for (const xcb_window_t window : stacking) {
    if (std::find(ordered.begin(), ordered.end(), window) == ordered.end()) {
      ordered.push_back(window);
    }
  }
  // Forget windows that are gone (without a window manager there is no list to tell).
  if (!stacking.empty()) {
    std::erase_if(recent_, [&](xcb_window_t window) { return !contains(stacking, window); });
    std::erase_if(identities_, [&](const auto& entry) { return !contains(stacking, entry.first); });
  }
  return ordered;
}

bool EwmhWorkspace::isListed(xcb_window_t window) {
  const auto types = connection_->cardinals(window, connection_->atom("_NET_WM_WINDOW_TYPE"));
  if (!types.empty() && !contains(types, connection_->atom("_NET_WM_WINDOW_TYPE_NORMAL"))) {
    return false;
  }
  const auto states = connection_->cardinals(window, connection_->atom("_NET_WM_STATE"));
  return !contains(states, connection_->atom("_NET_WM_STATE_SKIP_TASKBAR"));
}

std::optional<RunningApp> EwmhWorkspace::identity(xcb_window_t window) {
  if (const auto found = identities_.find(window); found != identities_.end()) {
    return found->second;
  }
  auto app = identify_->identify(window);
  if (identities_.size() >= kMostRemembered) {
    identities_.clear();  // windows outside the client list are never pruned one by one
  }
  identities_[window] = app;
  return app;
}

std::map<std::string, RunningApp> EwmhWorkspace::appsById() {
  std::map<std::string, RunningApp> apps;
  for (const RunningApp& app : runningApplications()) {
    apps.emplace(app.bundleIdentifier, app);
  }
  return apps;
}

std::vector<RunningApp> EwmhWorkspace::runningApplications() {
  std::vector<RunningApp> apps;
  for (const xcb_window_t window : clientWindows()) {
    const auto app = identity(window);
    if (!app) {
      continue;
    }
    const auto found = std::find_if(apps.begin(), apps.end(), [&](const RunningApp& known) {
      return known.bundleIdentifier == app->bundleIdentifier;
    });
    if (found != apps.end()) {
      found->windows.push_back(window);
    } else {
      apps.push_back(*app);
      apps.back().windows = {window};
    }
  }
  return apps;
}

std::optional<RunningApp> EwmhWorkspace::current(const RunningApp& app) {
  for (RunningApp& running : runningApplications()) {
    if (running.bundleIdentifier == app.bundleIdentifier) {
      return std::move(running);
    }
  }
  // Not listed (no window manager, or a window kept off the task bar): as the window says.
  RunningApp alone = app;
  if (alone.windows.empty() && activeWindow() != 0) {
    const auto active = identity(activeWindow());
    if (active && active->bundleIdentifier == app.bundleIdentifier) {
      alone.windows = {activeWindow()};
    }
  }
  return alone;
}

std::optional<RunningApp> EwmhWorkspace::frontmostApplication() {
  WindowId active = activeWindow();
  if (isOwn(active)) {
    // The window used before the panel, if it is still there.
    const auto before = std::find_if(recent_.begin(), recent_.end(), [&](xcb_window_t window) {
      return exists(window) && !isOwn(window);
    });
    active = before == recent_.end() ? 0 : *before;
  }
  if (active == 0) {
    return std::nullopt;
  }
  const auto app = identity(active);
  if (!app) {
    return std::nullopt;
  }
  RunningApp result = *current(*app);
  // The active window leads its application's windows.
  std::erase(result.windows, active);
  result.windows.insert(result.windows.begin(), active);
  return result;
}

bool EwmhWorkspace::exists(xcb_window_t window) {
  xcb_connection_t* c = connection_->get();
  const XcbReply<xcb_get_window_attributes_reply_t> attributes(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
  return window != 0 && attributes != nullptr;
}

bool EwmhWorkspace::activateWindow(WindowId window) {
  if (!exists(window)) {
    return false;
  }
  if (!EwmhActiveWindow::hasWindowManager(*connection_)) {
    // No window manager: raise and focus the window ourselves.
    xcb_connection_t* c = connection_->get();
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    xcb_flush(c);
    return true;
  }
  // As a pager: the user asked for it, so no focus-stealing check applies.
  EwmhActiveWindow::request(*connection_, window, EwmhActiveWindow::Source::pager, XCB_CURRENT_TIME,
                            activeWindow());
  return true;
}

bool EwmhWorkspace::activate(const RunningApp& app) {
  const auto running = current(app);
  return running && !running->windows.empty() && activateWindow(running->windows.front());
}

bool EwmhWorkspace::quit(const RunningApp& app) {
  const auto running = current(app);
  if (!running) {
    return false;
  }
  xcb_connection_t* c = connection_->get();
  const xcb_atom_t protocols = connection_->atom("WM_PROTOCOLS");
  const xcb_atom_t deleteWindow = connection_->atom("WM_DELETE_WINDOW");
  bool asked = false;
  for (const WindowId window : running->windows) {
    // A window that takes no close request is left open: a signal could cost unsaved work.
    if (!contains(connection_->cardinals(window, protocols), deleteWindow)) {
      continue;
    }
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = protocols;
    message.data.data32[0] = deleteWindow;
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    asked = true;
  }
  xcb_flush(c);
  return asked;
}

std::optional<uint32_t> EwmhWorkspace::clientPid(xcb_window_t window) {
  xcb_connection_t* c = connection_->get();
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_res_id);
  if (extension == nullptr || extension->present == 0) {
    return std::nullopt;
  }
  xcb_res_client_id_spec_t asked{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
  const XcbReply<xcb_res_query_client_ids_reply_t> reply(
      xcb_res_query_client_ids_reply(c, xcb_res_query_client_ids(c, 1, &asked), nullptr));
  if (!reply) {
    return std::nullopt;
  }
  for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem > 0;
       xcb_res_client_id_value_next(&ids)) {
    if ((ids.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
        xcb_res_client_id_value_value_length(ids.data) == 1) {
      return *xcb_res_client_id_value_value(ids.data);
    }
  }
  return std::nullopt;
}

bool EwmhWorkspace::ownsItsProcess(const RunningApp& app) {
  if (app.pid <= 0 || app.pid == ::getpid() || app.windows.empty() || !inOwnPidNamespace(app.pid) ||
      !runs(app.pid, identify_->programOf(app.bundleIdentifier))) {
    return false;
  }
  // The server says which process made each window: a pid a window merely claims (one of
  // another pid namespace, say) names someone else's process.
  for (const WindowId window : app.windows) {
    const auto pid = clientPid(window);
    if (pid && *pid != static_cast<uint32_t>(app.pid)) {
      return false;
    }
  }
  // Every window of that process that names an application names this one: the managed ones
  // and, without a window manager, the root's children.
  xcb_connection_t* c = connection_->get();
  const xcb_window_t root = connection_->root();
  std::vector<uint32_t> windows =
      connection_->cardinals(root, connection_->atom("_NET_CLIENT_LIST"));
  if (const XcbReply<xcb_query_tree_reply_t> tree(
          xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
      tree) {
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    windows.insert(windows.end(), children, children + xcb_query_tree_children_length(tree.get()));
  }
  const xcb_atom_t pidAtom = connection_->atom("_NET_WM_PID");
  const auto pid = static_cast<uint32_t>(app.pid);
  // Every window of the process names the application.
  return std::ranges::all_of(windows, [&](xcb_window_t window) {
    const auto pids = connection_->cardinals(window, pidAtom);
    const auto owner = clientPid(window);
    if ((pids.empty() || pids[0] != pid) && (!owner || *owner != pid)) {
      return true;  // another process's window
    }
    const auto other = identity(window);
    return !other || other->bundleIdentifier == app.bundleIdentifier;
  });
}

void EwmhWorkspace::closeWindows(const RunningApp& app) {
  xcb_connection_t* c = connection_->get();
  // Window ids carry the id base of the connection that made them.
  const uint32_t base = ~xcb_get_setup(c)->resource_id_mask;
  std::vector<uint32_t> shared;  // bases of connections that made other applications' windows
  for (const xcb_window_t window :
       connection_->cardinals(connection_->root(), connection_->atom("_NET_CLIENT_LIST"))) {
    if (contains(app.windows, window)) {
      continue;
    }
    const auto other = identity(window);
    if (!other || other->bundleIdentifier != app.bundleIdentifier) {
      shared.push_back(window & base);
    }
  }
  for (const WindowId window : app.windows) {
    if (contains(shared, window & base)) {
      xcb_destroy_window(c, window);  // its connection serves other applications too
    } else {
      xcb_kill_client(c, window);
    }
  }
  xcb_flush(c);
}

EwmhWorkspace::ForceQuit EwmhWorkspace::forceQuit(const RunningApp& app) {
  const auto running = current(app);
  if (!running || running->windows.empty()) {
    return ForceQuit::nothing;
  }
  if (ownsItsProcess(*running) && ::kill(running->pid, SIGKILL) == 0) {
    return ForceQuit::killed;
  }
  closeWindows(*running);
  return ForceQuit::windowsClosed;
}

}  // namespace vesk
