// Starting applications from their desktop entries: the launch's startup id, an entry that asks
// for a terminal run in the configured one, and files and URLs opened with an entry or with the
// default application.
#include <array>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>

#include <unistd.h>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "core/base/regular_file.h"
#include "platform/linux/desktop_entries.h"
#include "platform/linux/gio_app_catalog.h"
#include "platform/linux/gio_owned.h"

namespace vesk {

namespace {

using DesktopApp = std::unique_ptr<GDesktopAppInfo, ObjectUnref>;

bool hasScheme(const std::string& target) {
  if (target.empty() || target[0] == '/') {
    return false;
  }
  const auto colon = target.find(':');
  return colon != std::string::npos && colon > 0;
}

// A file path becomes a file URI; a URL stays as it is.
std::string uriFor(const std::string& target) {
  if (hasScheme(target)) {
    return target;
  }
  return takeString(g_filename_to_uri(target.c_str(), nullptr, nullptr));
}

// The entry to launch: GIO reads it again from its path, so that it knows the entry's desktop
// id (for D-Bus activation) and file (for %k). Only a regular file within the bound reaches it;
// the user chose this one.
DesktopApp launchableAt(const std::string& path) {
  if (RegularFile::check(path, GioAppCatalog::kMaxEntryBytes).problem !=
      RegularFile::Problem::none) {
    return nullptr;
  }
  return DesktopApp(g_desktop_app_info_new_from_filename(path.c_str()));
}

std::string desktopIdOfPath(const std::string& path) {
  std::string id(std::filesystem::path(path).filename().string());
  if (id.ends_with(".desktop")) {
    id.resize(id.size() - std::string_view(".desktop").size());
  }
  return id;
}

using LaunchContext = std::unique_ptr<GAppLaunchContext, ObjectUnref>;

// A launch context whose startup id names the entry and carries the user's press time. GTK and
// Qt applications read the time from DESKTOP_STARTUP_ID and stamp their first window with it
// (and its id as _NET_STARTUP_ID), which also tells Vesk which entry the window came from.
LaunchContext launchContext(const std::string& appPath, const AppCatalog::LaunchOptions& options) {
  LaunchContext context(g_app_launch_context_new());
  const std::string id = GioAppCatalog::startupId(appPath, options.userTime);
  g_app_launch_context_setenv(context.get(), "DESKTOP_STARTUP_ID", id.c_str());
  return context;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
void changeDirectory(gpointer folder) {
  if (folder != nullptr) {
    (void)::chdir(static_cast<const char*>(folder));
  }
}

// An app info made from the key file keeps a reference to it and reads its actions from it
// later: g_key_file_free would empty it under the app info.
struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};

// How each terminal is told the command it runs: the rest of its arguments after this option.
std::string_view commandOption(std::string_view program) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kOptions = {{
      {"gnome-terminal", "--"},
      {"kgx", "--"},
      {"ptyxis", "--"},
      {"mate-terminal", "-x"},
      {"xfce4-terminal", "-x"},
      {"terminator", "-x"},
  }};
  for (const auto& [name, option] : kOptions) {
    if (program == name) {
      return option;
    }
  }
  return "-e";  // xterm, konsole, alacritty, kitty, foot, urxvt, tilix, …
}

// One argument of an Exec line, quoted as desktop entries quote.
std::string quotedArgument(std::string_view argument) {
  std::string quoted = "\"";
  for (const char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') {
      quoted.push_back('\\');
    }
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

// The entry at `path` rewritten to run in the entry `terminal` when it asks for a terminal
// (Terminal=true), which GIO would otherwise look for among a few programs of its own; none
// for an entry that runs without one.
DesktopApp inTerminal(const std::string& path, const std::string& terminal) {
  if (terminal.empty()) {
    return nullptr;
  }
  const RegularFile file = RegularFile::read(path, GioAppCatalog::kMaxEntryBytes);
  if (file.problem != RegularFile::Problem::none) {
    return nullptr;
  }
  const std::unique_ptr<GKeyFile, KeyFileFree> keys(g_key_file_new());
  constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;
  if (g_key_file_load_from_data(keys.get(), file.bytes.data(), file.bytes.size(), G_KEY_FILE_NONE,
                                nullptr) == FALSE ||
      g_key_file_get_boolean(keys.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_TERMINAL, nullptr) ==
          FALSE) {
    return nullptr;
  }
  const DesktopEntries::App terminalApp = DesktopEntries::read(terminal);
  const char* program =
      terminalApp ? g_app_info_get_executable(G_APP_INFO(terminalApp.get())) : nullptr;
  const std::string exec =
      takeString(g_key_file_get_string(keys.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr));
  if (program == nullptr || exec.empty()) {
    return nullptr;
  }
  const std::string name = std::filesystem::path(program).filename().string();
  const std::string wrapped =
      quotedArgument(program) + " " + std::string(commandOption(name)) + " " + exec;
  g_key_file_set_string(keys.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, wrapped.c_str());
  g_key_file_set_boolean(keys.get(), kGroup, G_KEY_FILE_DESKTOP_KEY_TERMINAL, FALSE);
  return DesktopApp(g_desktop_app_info_new_from_keyfile(keys.get()));
}

// The entry to start: in the configured terminal when it needs one, else as it is.
DesktopApp startable(const std::string& path, const AppCatalog::LaunchOptions& options) {
  if (DesktopApp wrapped = inTerminal(path, options.terminal)) {
    return wrapped;
  }
  return launchableAt(path);
}

Result<void> launchEntry(const std::string& appPath, GDesktopAppInfo* app, GList* uris,
                         const AppCatalog::LaunchOptions& options) {
  const LaunchContext context = launchContext(appPath, options);
  if (!options.action.empty()) {
    // GIO reports nothing back from an action's launch: an action the entry doesn't have is
    // refused here, where it can still be told.
    bool listed = false;
    if (const gchar* const* actions = g_desktop_app_info_list_actions(app)) {
      for (const gchar* const* id = actions; *id != nullptr && !listed; ++id) {
        listed = options.action == *id;
      }
    }
    if (!listed) {
      return Failure{"the app has no action \"" + options.action + "\""};
    }
    g_desktop_app_info_launch_action(app, options.action.c_str(), context.get());
    return {};
  }
  GError* error = nullptr;
  gboolean launched = FALSE;
  if (options.workingDirectory.empty()) {
    launched = g_app_info_launch_uris(G_APP_INFO(app), uris, context.get(), &error);
  } else {
    // Spawned, not activated over D-Bus: a running terminal would ignore the folder.
    launched = g_desktop_app_info_launch_uris_as_manager(
        app, uris, context.get(), G_SPAWN_SEARCH_PATH, changeDirectory,
        const_cast<char*>(options.workingDirectory.c_str()), nullptr, nullptr, &error);
  }
  if (launched == FALSE) {
    return failureFrom(error, "the app didn't start");
  }
  return {};
}

}  // namespace

std::string GioAppCatalog::startupId(const std::string& appPath, uint32_t userTime) {
  static std::atomic<uint64_t> launches{0};
  std::string id = "vesk:" + desktopIdOfPath(appPath) + ":" + std::to_string(::getpid()) + "-" +
                   std::to_string(++launches);
  if (userTime != 0) {
    id += "_TIME" + std::to_string(userTime);
  }
  return id;
}

std::optional<std::string> GioAppCatalog::launchedDesktopId(std::string_view startupId) {
  constexpr std::string_view kPrefix = "vesk:";
  if (!startupId.starts_with(kPrefix)) {
    return std::nullopt;
  }
  startupId.remove_prefix(kPrefix.size());
  const size_t end = startupId.rfind(':');
  if (end == std::string_view::npos || end == 0) {
    return std::nullopt;
  }
  return std::string(startupId.substr(0, end));
}

Result<void> GioAppCatalog::launch(const std::string& appPath, const LaunchOptions& options) const {
  const DesktopApp app = startable(appPath, options);
  if (!app) {
    return Failure{"\"" + appPath + "\" isn't an application entry"};
  }
  return launchEntry(appPath, app.get(), nullptr, options);
}

Result<void> GioAppCatalog::open(const std::vector<std::string>& targets,
                                 const std::string& appPath, const LaunchOptions& options) const {
  const DesktopApp app = startable(appPath, options);
  if (!app) {
    return Failure{"\"" + appPath + "\" isn't an application entry"};
  }
  std::vector<std::string> uris;
  uris.reserve(targets.size());
  for (const std::string& target : targets) {
    uris.push_back(uriFor(target));
  }
  GList* list = nullptr;
  for (std::string& uri : uris) {
    list = g_list_prepend(list, uri.data());
  }
  list = g_list_reverse(list);
  Result<void> launched = launchEntry(appPath, app.get(), list, options);
  g_list_free(list);
  return launched;
}

Result<void> GioAppCatalog::openWithDefault(const std::string& target,
                                            const LaunchOptions& options) const {
  const std::string uri = uriFor(target);
  const LaunchContext context = launchContext({}, options);
  GError* error = nullptr;
  if (g_app_info_launch_default_for_uri(uri.c_str(), context.get(), &error) == FALSE) {
    return failureFrom(error, "no app opens it");
  }
  return {};
}

}  // namespace vesk
