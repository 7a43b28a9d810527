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

#include "platform/linux/gio_app_catalog.h"
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

// The NUL-separated strings of /proc/PID/<name> (its command line or environment), at most
// `limit` of them.
std::vector<std::string> procStrings(int32_t pid, const char* name, size_t limit) {
  std::vector<std::string> strings;
  if (pid <= 0) {
    return strings;
  }
  std::ifstream file("/proc/" + std::to_string(pid) + "/" + name, std::ios::binary);
  std::string item;
  while (strings.size() < limit && std::getline(file, item, '\0')) {
    strings.push_back(std::move(item));
  }
  return strings;
}

// The program file names a process may be known by: its executable, its command's program and,
// for an interpreter running a script, the script ("python3 /usr/bin/tool" is "tool").
std::vector<std::string> programsOf(int32_t pid) {
  std::vector<std::string> programs;
  if (std::string executable = executableOf(pid); !executable.empty()) {
    programs.push_back(std::move(executable));
  }
  for (const std::string& argument : procStrings(pid, "cmdline", 2)) {
    if (!argument.empty() && argument[0] != '-') {
      programs.push_back(baseName(argument));
    }
  }
  return programs;
}

// DESKTOP_STARTUP_ID from the process's environment as it started.
std::string startupIdOf(int32_t pid) {
  constexpr std::string_view kName = "DESKTOP_STARTUP_ID=";
  for (const std::string& variable : procStrings(pid, "environ", 4096)) {
    if (variable.starts_with(kName)) {
      return variable.substr(kName.size());
    }
  }
  return {};
}

// The program an entry's Exec= runs, past an "env" and its variable assignments.
std::string execProgramOf(GAppInfo* info) {
  const char* commandLine = g_app_info_get_commandline(info);
  gchar** argv = nullptr;
  if (commandLine == nullptr || !g_shell_parse_argv(commandLine, nullptr, &argv, nullptr)) {
    const char* executable = g_app_info_get_executable(info);
    return executable != nullptr ? baseName(executable) : std::string();
  }
  std::string program;
  for (gchar** word = argv; *word != nullptr; ++word) {
    const std::string name = baseName(*word);
    if ((word == argv && name == "env") ||
        (word != argv && std::string_view(*word).find('=') != std::string_view::npos)) {
      continue;
    }
    program = name;
    break;
  }
  g_strfreev(argv);
  return program;
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
  byFileId_.clear();
  // Read through DesktopEntries, not GIO's listing: on the main thread, an entry that blocks
  // would freeze Vesk.
  for (const DesktopEntries::Listed& listed : desktopEntries_.all()) {
    GDesktopAppInfo* info = listed.app.get();
    std::string plainId = listed.id;
    if (plainId.ends_with(".desktop")) {
      plainId.resize(plainId.size() - 8);
    }
    const char* name = g_app_info_get_name(G_APP_INFO(info));
    const size_t index = entries_.size();
    const char* executable = g_app_info_get_executable(G_APP_INFO(info));
    entries_.push_back({plainId, resolved(listed.path.c_str()), name != nullptr ? name : plainId,
                        executable != nullptr ? executable : ""});
    byId_.emplace(lower(plainId), index);
    if (const char* wmClass = g_desktop_app_info_get_startup_wm_class(info)) {
      byWmClass_.emplace(lower(wmClass), index);
    }
    if (const std::string program = execProgramOf(G_APP_INFO(info)); !program.empty()) {
      byProgram_.emplace(program, index);
    }
    if (gchar* tryExec = g_desktop_app_info_get_string(info, "TryExec")) {
      byProgram_.emplace(baseName(tryExec), index);
      g_free(tryExec);
    }
    std::string fileId = baseName(listed.path);
    if (fileId.ends_with(".desktop")) {
      fileId.resize(fileId.size() - 8);
    }
    byFileId_.emplace(std::move(fileId), index);
  }
  loaded_ = std::chrono::steady_clock::now();
  everLoaded_ = true;
}

const EwmhAppIdentity::Entry* EwmhAppIdentity::findOnce(const Clues& clues) const {
  const auto lookup = [&](const std::unordered_map<std::string, size_t>& map,
                          std::string_view key) -> const Entry* {
    if (key.empty()) {
      return nullptr;
    }
    const auto found = map.find(lower(key));
    return found == map.end() ? nullptr : &entries_[found->second];
  };
  if (!clues.launchedId.empty()) {
    if (const auto found = byFileId_.find(clues.launchedId); found != byFileId_.end()) {
      return &entries_[found->second];
    }
    if (const Entry* entry = lookup(byId_, clues.launchedId)) {
      return entry;
    }
  }
  for (const Entry* entry : {lookup(byId_, clues.gtkId), lookup(byWmClass_, clues.wmClass),
                             lookup(byWmClass_, clues.instance), lookup(byId_, clues.wmClass),
                             lookup(byId_, clues.instance)}) {
    if (entry != nullptr) {
      return entry;
    }
  }
  for (const std::string& program : programsOf(clues.pid)) {
    if (const auto found = byProgram_.find(program); found != byProgram_.end()) {
      return &entries_[found->second];
    }
  }
  return nullptr;
}

const EwmhAppIdentity::Entry* EwmhAppIdentity::find(const Clues& clues) {
  if (!everLoaded_) {
    load();
  }
  if (const Entry* entry = findOnce(clues)) {
    return entry;
  }
  // Perhaps the application was installed since the table was read.
  if (std::chrono::steady_clock::now() - loaded_ < kReloadInterval) {
    return nullptr;
  }
  load();
  return findOnce(clues);
}

bool EwmhAppIdentity::isLocal(xcb_window_t window) {
  const std::string machine = connection_.text(window, XCB_ATOM_WM_CLIENT_MACHINE);
  return machine.empty() || machine == hostName_;
}

std::optional<RunningApp> EwmhAppIdentity::identify(xcb_window_t window) {
  const auto classProperty = connection_.property(window, XCB_ATOM_WM_CLASS);
  const std::string gtkId = connection_.text(window, connection_.atom("_GTK_APPLICATION_ID"));
  const auto pids = connection_.cardinals(window, connection_.atom("_NET_WM_PID"));
  std::string startupId = connection_.text(window, connection_.atom("_NET_STARTUP_ID"));
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
  if (startupId.empty()) {
    startupId = startupIdOf(app.pid);
  }
  const Clues clues{GioAppCatalog::launchedDesktopId(startupId).value_or(""), gtkId, instance,
                    wmClass, app.pid};
  if (const Entry* entry = find(clues)) {
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

std::string EwmhAppIdentity::programOf(std::string_view id) const {
  const auto found = byId_.find(lower(id));
  return found == byId_.end() ? std::string() : entries_[found->second].program;
}

RunningApp EwmhAppIdentity::identifyAppId(std::string_view appId) {
  RunningApp app;
  if (const Entry* entry =
          find(Clues{{}, std::string(appId), std::string(appId), std::string(appId), 0})) {
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
