#include "platform/linux/ewmh_app_identity.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "platform/linux/xcb_connection.h"

namespace vesk {
namespace {

constexpr auto kReloadInterval = std::chrono::seconds(10);

std::string lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

std::string baseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string resolved(const char* path) {
  char buffer[PATH_MAX];
  return ::realpath(path, buffer) != nullptr ? std::string(buffer) : std::string(path);
}

std::string executableOf(int32_t pid) {
  if (pid <= 0) {
    return {};
  }
  char buffer[PATH_MAX];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
  return length > 0 ? baseName(std::string_view(buffer, static_cast<size_t>(length))) : "";
}

}  // namespace

EwmhAppIdentity::EwmhAppIdentity(XcbConnection& connection) : connection_(connection) {
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host - 1) == 0) {
    hostName_ = host;
  }
}

void EwmhAppIdentity::load() {
  entries_.clear();
  byId_.clear();
  byWmClass_.clear();
  byProgram_.clear();
  GList* all = g_app_info_get_all();
  for (GList* node = all; node != nullptr; node = node->next) {
    auto* info = G_DESKTOP_APP_INFO(node->data);
    const char* id = g_app_info_get_id(G_APP_INFO(info));
    const char* file = g_desktop_app_info_get_filename(info);
    if (id == nullptr || file == nullptr) {
      continue;
    }
    std::string plainId = id;
    if (plainId.ends_with(".desktop")) {
      plainId.resize(plainId.size() - 8);
    }
    const char* name = g_app_info_get_name(G_APP_INFO(info));
    const size_t index = entries_.size();
    entries_.push_back({plainId, resolved(file), name != nullptr ? name : plainId});
    byId_.emplace(lower(plainId), index);
    if (const char* wmClass = g_desktop_app_info_get_startup_wm_class(info)) {
      byWmClass_.emplace(lower(wmClass), index);
    }
    if (const char* program = g_app_info_get_executable(G_APP_INFO(info))) {
      byProgram_.emplace(baseName(program), index);
    }
  }
  g_list_free_full(all, g_object_unref);
  loaded_ = std::chrono::steady_clock::now();
  everLoaded_ = true;
}

const EwmhAppIdentity::Entry* EwmhAppIdentity::findOnce(std::string_view gtkId,
                                                        std::string_view instance,
                                                        std::string_view wmClass,
                                                        int32_t pid) const {
  const auto lookup = [&](const std::unordered_map<std::string, size_t>& map,
                          std::string_view key) -> const Entry* {
    if (key.empty()) {
      return nullptr;
    }
    const auto found = map.find(lower(key));
    return found == map.end() ? nullptr : &entries_[found->second];
  };
  for (const Entry* entry :
       {lookup(byId_, gtkId), lookup(byWmClass_, wmClass), lookup(byWmClass_, instance),
        lookup(byId_, wmClass), lookup(byId_, instance)}) {
    if (entry != nullptr) {
      return entry;
    }
  }
  if (const std::string program = executableOf(pid); !program.empty()) {
    if (const auto found = byProgram_.find(program); found != byProgram_.end()) {
      return &entries_[found->second];
    }
  }
  return nullptr;
}

const EwmhAppIdentity::Entry* EwmhAppIdentity::find(std::string_view gtkId,
                                                    std::string_view instance,
                                                    std::string_view wmClass, int32_t pid) {
  if (!everLoaded_) {
    load();
  }
  if (const Entry* entry = findOnce(gtkId, instance, wmClass, pid)) {
    return entry;
  }
  // Perhaps the application was installed since the table was read.
  if (std::chrono::steady_clock::now() - loaded_ < kReloadInterval) {
    return nullptr;
  }
  load();
  return findOnce(gtkId, instance, wmClass, pid);
}

bool EwmhAppIdentity::isLocal(xcb_window_t window) {
  const std::string machine = connection_.text(window, XCB_ATOM_WM_CLIENT_MACHINE);
  return machine.empty() || machine == hostName_;
}

std::optional<RunningApp> EwmhAppIdentity::identify(xcb_window_t window) {
  const auto classProperty = connection_.property(window, XCB_ATOM_WM_CLASS);
  const std::string gtkId = connection_.text(window, connection_.atom("_GTK_APPLICATION_ID"));
  const auto pids = connection_.cardinals(window, connection_.atom("_NET_WM_PID"));
  if (connection_.broken()) {
    return std::nullopt;
  }
  // WM_CLASS is "instance\0class\0".
  std::string instance;
  std::string wmClass;
  if (classProperty) {
    const std::string raw(classProperty->bytes.begin(), classProperty->bytes.end());
    const size_t split = raw.find('\0');
    instance = raw.substr(0, split);
    if (split != std::string::npos) {
      wmClass = raw.substr(split + 1);
      wmClass = wmClass.substr(0, wmClass.find('\0'));
    }
  }
  RunningApp app;
  const bool local = isLocal(window);
  app.pid = !pids.empty() && local ? static_cast<int32_t>(pids[0]) : 0;
  app.launchDate = launchDate(app.pid);
  if (const Entry* entry = find(gtkId, instance, wmClass, app.pid)) {
    app.bundleIdentifier = entry->id;
    app.entryPath = entry->path;
    app.name = entry->name;
  } else {
    app.bundleIdentifier = !wmClass.empty() ? wmClass : !instance.empty() ? instance : gtkId;
    app.name = app.bundleIdentifier;
  }
  if (app.bundleIdentifier.empty()) {
    return std::nullopt;  // nothing names it: not an application window
  }
  return app;
}

RunningApp EwmhAppIdentity::identifyAppId(std::string_view appId) {
  RunningApp app;
  if (const Entry* entry = find(appId, appId, appId, 0)) {
    app.bundleIdentifier = entry->id;
    app.entryPath = entry->path;
    app.name = entry->name;
  } else {
    app.bundleIdentifier = std::string(appId);
    app.name = app.bundleIdentifier;
  }
  return app;
}

double EwmhAppIdentity::launchDate(int32_t pid) {
  if (pid <= 0) {
    return 0;
  }
  // Field 22 of /proc/PID/stat is the start in clock ticks after boot; the command name in
  // field 2 may hold spaces, so count from its closing parenthesis.
  std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) {
    return 0;
  }
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long ticks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 22) {
      ticks = std::strtoull(field.c_str(), nullptr, 10);
      break;
    }
  }
  std::ifstream system("/proc/stat");
  std::string line;
  double bootTime = 0;
  while (std::getline(system, line)) {
    if (line.starts_with("btime ")) {
      bootTime = std::strtod(line.c_str() + 6, nullptr);
      break;
    }
  }
  const long perSecond = ::sysconf(_SC_CLK_TCK);
  if (ticks == 0 || bootTime == 0 || perSecond <= 0) {
    return 0;
  }
  return bootTime + static_cast<double>(ticks) / static_cast<double>(perSecond);
}

}  // namespace vesk
