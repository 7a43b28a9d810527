#include "platform/linux/gio_icon_sources.h"

#include <memory>
#include <string_view>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "core/base/regular_file.h"
#include "platform/linux/gio_owned.h"

namespace vesk {

namespace {

using GIconPtr = std::unique_ptr<GIcon, ObjectUnref>;
using OwnedText = std::unique_ptr<gchar, GFree>;

constexpr const char* kFolderType = "inode/directory";
constexpr const char* kAppType = "application/x-desktop";

// A theme name is one file name; anything with a separator would leave the icon folders.
bool isIconName(std::string_view name) {
  return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

// The names of a themed icon or the file of a file icon; empty for any other kind of icon.
IconSources::Icon iconFrom(GIcon* icon) {
  IconSources::Icon result;
  if (icon == nullptr) {
    return result;
  }
  if (G_IS_THEMED_ICON(icon)) {
    const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
    for (; names != nullptr && *names != nullptr; ++names) {
      if (isIconName(*names)) {
        result.names.emplace_back(*names);
      }
    }
  } else if (G_IS_FILE_ICON(icon)) {
    const OwnedText path(g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon))));
    if (path) {
      result.file = path.get();
    }
  }
  return result;
}

IconSources::FileType typeOf(const char* contentType, bool known) {
  IconSources::FileType type;
  const GIconPtr icon(g_content_type_get_icon(contentType));
  type.icon = iconFrom(icon.get());
  if (known) {
    const OwnedText description(g_content_type_get_description(contentType));
    if (description) {
      type.description = description.get();
    }
  }
  return type;
}

}  // namespace

GioIconSources::GioIconSources() : GioIconSources(XdgIconThemes::Paths::standard()) {}

GioIconSources::GioIconSources(XdgIconThemes::Paths paths) : themes_(std::move(paths)) {}

std::string GioIconSources::findIcon(const std::string& theme,
                                     const std::vector<std::string>& names, int pixels) const {
  const std::lock_guard lock(mutex_);
  return themes_.find(theme, names, pixels);
}

void GioIconSources::forgetThemes() const {
  const std::lock_guard lock(mutex_);
  themes_.clear();
}

IconSources::FileType GioIconSources::folderType() const {
  return typeOf(kFolderType, true);
}

IconSources::FileType GioIconSources::typeForExtension(const std::string& extension) const {
  // Judged by the name alone: the file is never opened.
  const std::string name = "file." + extension;
  gboolean uncertain = FALSE;
  const OwnedText type(g_content_type_guess(name.c_str(), nullptr, 0, &uncertain));
  const bool known = type && !extension.empty() && g_content_type_is_unknown(type.get()) == FALSE &&
                     g_str_has_prefix(type.get(), "inode/") == FALSE;
  return typeOf(known ? type.get() : "application/octet-stream", known);
}

IconSources::FileType GioIconSources::appType() const {
  return typeOf(kAppType, true);
}

IconSources::Icon GioIconSources::appIcon(const std::string& entryPath) const {
  constexpr std::string_view kActionMark = ".desktop#";
  if (const size_t mark = entryPath.rfind(kActionMark); mark != std::string::npos) {
    const std::string entry = entryPath.substr(0, mark + kActionMark.size() - 1);
    const std::string group = "Desktop Action " + entryPath.substr(mark + kActionMark.size());
    const std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> file(g_key_file_new(),
                                                                     g_key_file_free);
    // Read only as a regular file: an entry that is a FIFO would block the icon thread.
    const RegularFile bytes = RegularFile::read(entry, DesktopEntries::kMaxEntryBytes);
    if (bytes.problem == RegularFile::Problem::none &&
        g_key_file_load_from_data(file.get(), bytes.bytes.data(), bytes.bytes.size(),
                                  G_KEY_FILE_NONE, nullptr) != FALSE) {
      const OwnedText name(g_key_file_get_string(file.get(), group.c_str(), "Icon", nullptr));
      if (name && name.get()[0] != '\0') {
        const std::unique_ptr<GIcon, decltype(&g_object_unref)> icon(
            g_icon_new_for_string(name.get(), nullptr), g_object_unref);
        if (icon) {
          return iconFrom(icon.get());
        }
      }
    }
    return appIcon(entry);
  }
  const DesktopEntries::App app = DesktopEntries::read(entryPath);
  if (!app) {
    return {};
  }
  return iconFrom(g_app_info_get_icon(G_APP_INFO(app.get())));
}

std::optional<IconSources::App> GioIconSources::appForDesktopId(
    const std::string& desktopId) const {
  if (desktopId.empty() || desktopId.find('/') != std::string::npos) {
    return std::nullopt;
  }
  std::string id = desktopId;
  if (!id.ends_with(".desktop")) {
    id += ".desktop";
  }
  const std::optional<std::string> path = entries_.pathForId(id);
  if (!path) {
    return std::nullopt;
  }
  const DesktopEntries::App app = DesktopEntries::read(*path);
  if (!app) {
    return std::nullopt;
  }
  App found{*path, {}};
  if (const char* name = g_app_info_get_name(G_APP_INFO(app.get())); name != nullptr) {
    found.name = name;
  }
  return found;
}

}  // namespace vesk
