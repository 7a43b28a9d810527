#include "platform/linux/gio_app_catalog.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <memory>
#include <ranges>
#include <string_view>
#include <unordered_set>

#include <unistd.h>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "core/base/regular_file.h"
#include "platform/linux/desktop_entries.h"

namespace vesk {

namespace {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct GFree {
  void operator()(gpointer memory) const { g_free(memory); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using DesktopApp = std::unique_ptr<GDesktopAppInfo, ObjectUnref>;
using GString_ = std::unique_ptr<gchar, GFree>;

std::string takeString(gchar* text) {
  const GString_ owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

Failure failureFrom(GError* error, std::string_view fallback) {
  const std::unique_ptr<GError, ErrorFree> owned(error);
  return Failure{owned ? std::string(owned->message) : std::string(fallback)};
}

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

std::string guessedType(const std::string& path) {
  gboolean uncertain = FALSE;
  return takeString(g_content_type_guess(path.c_str(), nullptr, 0, &uncertain));
}

const std::unordered_set<std::string>& registeredTypes() {
  static const std::unordered_set<std::string> types = [] {
    std::unordered_set<std::string> set;
    GList* list = g_content_types_get_registered();
    for (GList* node = list; node != nullptr; node = node->next) {
      set.insert(static_cast<const char*>(node->data));
    }
    g_list_free_full(list, g_free);
    return set;
  }();
  return types;
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

std::optional<std::string> filenameOf(GAppInfo* info) {
  if (info == nullptr || !G_IS_DESKTOP_APP_INFO(info)) {
    return std::nullopt;
  }
  const char* file = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(info));
  if (file == nullptr) {
    return std::nullopt;
  }
  return std::string(file);
}

}  // namespace

namespace {

// Whether Vesk lists the entry: GIO refuses entries that are not Type=Application or whose
// TryExec program is missing; hidden ones, NoDisplay ones and those that OnlyShowIn/NotShowIn
// keep out of the current desktop (XDG_CURRENT_DESKTOP) are left out here.
const char* listedNameOf(GDesktopAppInfo* app) {
  if (app == nullptr || g_desktop_app_info_get_is_hidden(app) != FALSE ||
      g_app_info_should_show(G_APP_INFO(app)) == FALSE) {
    return nullptr;
  }
  const char* name = g_app_info_get_name(G_APP_INFO(app));
  return name != nullptr && name[0] != '\0' ? name : nullptr;
}

std::string text(const char* value) {
  return value != nullptr ? std::string(value) : std::string();
}

// The Icon= of each "[Desktop Action id]" group, which GIO doesn't read; an action without a
// Name= of its own (GIO would call it "Unnamed") is dropped.
void readActionGroups(const std::string& path, std::vector<AppCatalog::Entry::Action>& actions) {
  std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> file(g_key_file_new(), g_key_file_free);
  const RegularFile entry = RegularFile::read(path, GioAppCatalog::kMaxEntryBytes);
  if (entry.problem != RegularFile::Problem::none ||
      g_key_file_load_from_data(file.get(), entry.bytes.data(), entry.bytes.size(), G_KEY_FILE_NONE,
                                nullptr) == FALSE) {
    actions.clear();
    return;
  }
  std::erase_if(actions, [&file](AppCatalog::Entry::Action& action) {
    const std::string group = "Desktop Action " + action.id;
    if (g_key_file_has_key(file.get(), group.c_str(), "Name", nullptr) == FALSE) {
      return true;
    }
    action.icon = takeString(g_key_file_get_string(file.get(), group.c_str(), "Icon", nullptr));
    return false;
  });
}

std::string desktopIdOfPath(const std::string& path) {
  std::string id(std::filesystem::path(path).filename().string());
  if (id.ends_with(".desktop")) {
    id.resize(id.size() - std::string_view(".desktop").size());
  }
  return id;
}

}  // namespace

std::optional<std::string> GioAppCatalog::listedName(const std::string& path) const {
  // GIO refuses entries that are not Type=Application or whose TryExec program is missing;
  // the entry is read only when it is a regular file.
  const DesktopEntries::App app = DesktopEntries::read(path);
  const char* name = listedNameOf(app.get());
  return name != nullptr ? std::optional<std::string>(name) : std::nullopt;
}

std::optional<AppCatalog::Entry> GioAppCatalog::listedEntry(const std::string& path) const {
  const DesktopEntries::App app = DesktopEntries::read(path);
  const char* name = listedNameOf(app.get());
  if (name == nullptr) {
    return std::nullopt;
  }
  Entry entry;
  entry.name = name;
  entry.genericName = text(g_desktop_app_info_get_generic_name(app.get()));
  entry.comment = text(g_app_info_get_description(G_APP_INFO(app.get())));
  if (const char* const* keywords = g_desktop_app_info_get_keywords(app.get())) {
    for (const char* const* word = keywords; *word != nullptr; ++word) {
      if ((*word)[0] != '\0') {
        entry.keywords.emplace_back(*word);
      }
    }
  }
  if (const gchar* const* actions = g_desktop_app_info_list_actions(app.get())) {
    for (const gchar* const* id = actions; *id != nullptr; ++id) {
      std::string actionName = takeString(g_desktop_app_info_get_action_name(app.get(), *id));
      if (!actionName.empty()) {
        entry.actions.push_back({*id, std::move(actionName), {}});
      }
    }
  }
  if (!entry.actions.empty()) {
    readActionGroups(path, entry.actions);
  }
  return entry;
}

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

std::optional<std::string> GioAppCatalog::pathForDesktopId(const std::string& desktopId) const {
  if (desktopId.empty() || desktopId.find('/') != std::string::npos) {
    return std::nullopt;
  }
  std::string id = desktopId;
  if (!id.ends_with(".desktop")) {
    id += ".desktop";
  }
  auto path = entries_.pathForId(id);
  if (!path || !DesktopEntries::read(*path)) {
    return std::nullopt;
  }
  return path;
}

bool GioAppCatalog::isKnownType(const std::string& type) const {
  static constexpr std::array<std::string_view, 10> kMediaTypes = {
      "application", "audio", "font",      "image", "inode",
      "message",     "model", "multipart", "text",  "video"};
  if (type.ends_with("/*")) {
    const std::string_view media(type.data(), type.size() - 2);
    return std::find(kMediaTypes.begin(), kMediaTypes.end(), media) != kMediaTypes.end();
  }
  return registeredTypes().contains(type);
}

std::optional<std::string> GioAppCatalog::typeOfFile(const std::string& path) const {
  const std::string type = guessedType(path);
  if (type.empty() || g_content_type_is_unknown(type.c_str()) != FALSE) {
    return std::nullopt;
  }
  std::string mime = takeString(g_content_type_get_mime_type(type.c_str()));
  if (mime.empty()) {
    return std::nullopt;
  }
  return mime;
}

bool GioAppCatalog::conforms(const std::string& type, const std::string& other) const {
  if (other.ends_with("/*")) {
    return type.starts_with(std::string_view(other.data(), other.size() - 1));
  }
  return g_content_type_is_a(type.c_str(), other.c_str()) != FALSE;
}

std::vector<std::string> GioAppCatalog::appsToOpen(const std::string& path) const {
  const std::string type = guessedType(path);
  std::vector<std::string> paths;
  if (type.empty()) {
    return paths;
  }
  if (const auto first = defaultAppToOpen(path)) {
    paths.push_back(*first);
  }
  GList* list = g_app_info_get_all_for_type(type.c_str());
  for (GList* node = list; node != nullptr; node = node->next) {
    if (const auto file = filenameOf(G_APP_INFO(node->data))) {
      if (std::find(paths.begin(), paths.end(), *file) == paths.end()) {
        paths.push_back(*file);
      }
    }
  }
  g_list_free_full(list, g_object_unref);
  return paths;
}

std::optional<std::string> GioAppCatalog::defaultAppToOpen(const std::string& path) const {
  const std::string type = guessedType(path);
  if (type.empty()) {
    return std::nullopt;
  }
  const std::unique_ptr<GAppInfo, ObjectUnref> app(
      g_app_info_get_default_for_type(type.c_str(), FALSE));
  return filenameOf(app.get());
}

namespace {

// Whether the entry's Categories= list ("System;TerminalEmulator;") names the terminal category.
bool isTerminalEntry(GDesktopAppInfo* info) {
  const char* categories = g_desktop_app_info_get_categories(info);
  if (categories == nullptr) {
    return false;
  }
  std::string_view rest(categories);
  while (!rest.empty()) {
    const auto end = rest.find(';');
    if (rest.substr(0, end) == "TerminalEmulator") {
      return true;
    }
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return false;
}

}  // namespace

bool GioAppCatalog::isTerminalEmulator(const std::string& path) const {
  if (path.empty()) {
    return false;
  }
  const DesktopEntries::App info = DesktopEntries::read(path);
  return info != nullptr && isTerminalEntry(info.get());
}

std::optional<std::string> GioAppCatalog::systemTerminal() const {
  std::error_code error;
  std::string alternative;
  const auto resolved = std::filesystem::canonical("/etc/alternatives/x-terminal-emulator", error);
  if (!error) {
    alternative = resolved.string();
    // Debian points the alternative at "gnome-terminal.wrapper" and the like.
    if (alternative.ends_with(".wrapper")) {
      alternative.resize(alternative.size() - std::string_view(".wrapper").size());
    }
  }
  std::optional<std::string> first;
  for (const DesktopEntries::Listed& entry : entries_.all()) {
    auto* info = G_APP_INFO(entry.app.get());
    if (g_app_info_should_show(info) == FALSE || !isTerminalEntry(entry.app.get())) {
      continue;
    }
    std::optional<std::string> file = entry.path;
    if (!first) {
      first = file;
    }
    const char* executable = g_app_info_get_executable(info);
    if (alternative.empty() || executable == nullptr) {
      continue;
    }
    const std::string program = takeString(g_find_program_in_path(executable));
    if (program.empty()) {
      continue;
    }
    const auto real = std::filesystem::canonical(program, error);
    if (!error && (real.string() == alternative || program == alternative)) {
      return file;
    }
  }
  return first;
}

namespace {

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
