#pragma once
// IconSources: where the desktop's icons and type names come from: the icon theme's image files,
// the content types of file names with their icons and descriptions, and the desktop entries of
// applications (their icon, their name, found by desktop id).
//
// Icons are named by theme icon names, most specific first, or by an image file. Every member is
// callable from any thread; implementations keep their own caches behind a lock.

#include <optional>
#include <string>
#include <vector>

namespace vesk {

class IconSources {
 public:
  // An icon: theme names in order of preference, or an image file (then `names` is empty).
  struct Icon {
    std::vector<std::string> names;
    std::string file;
    bool empty() const { return names.empty() && file.empty(); }
  };
  // A file type: its icon and its localized description (empty when the type is unknown).
  struct FileType {
    Icon icon;
    std::string description;
  };
  // An application found by desktop id: its entry path and localized name.
  struct App {
    std::string path;
    std::string name;
  };

  IconSources() = default;
  virtual ~IconSources() = default;
  IconSources(const IconSources&) = delete;
  IconSources& operator=(const IconSources&) = delete;

  // The image file of the best icon for `names` at `pixels` device pixels, looked up in
  // `theme` (empty: the desktop's default), its parents and the fallback themes; empty when no
  // theme has any of the names.
  virtual std::string findIcon(const std::string& theme, const std::vector<std::string>& names,
                               int pixels) const = 0;
  // Forgets what was read of the installed themes, after an icon theme change.
  virtual void forgetThemes() const = 0;

  // The folder type.
  virtual FileType folderType() const = 0;
  // The type of files with this lower-cased extension (without the dot); the generic data type
  // with an empty description when no type has it.
  virtual FileType typeForExtension(const std::string& extension) const = 0;
  // The type of application entries (desktop files).
  virtual FileType appType() const = 0;

  // The icon named by the desktop entry at `entryPath`; empty when it names none or is unreadable.
  // "<entry>#<action>" names one of the entry's actions: its own icon, else the entry's.
  virtual Icon appIcon(const std::string& entryPath) const = 0;
  // The application with this desktop id ("org.gnome.Terminal", with or without ".desktop").
  virtual std::optional<App> appForDesktopId(const std::string& desktopId) const = 0;
};

}  // namespace vesk
