#include "platform/linux/gio_app_catalog.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <ranges>
#include <string_view>
#include <unordered_set>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "core/base/regular_file.h"
#include "platform/linux/desktop_entries.h"
#include "platform/linux/gio_owned.h"

namespace vesk {

namespace {

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

}  // namespace vesk
