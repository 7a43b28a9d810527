#pragma once
// XdgIconThemes: the icon themes installed under the freedesktop icon folders, and the lookup of
// an icon's image file by name and size by the freedesktop icon theme lookup rules: the
// theme, then its parents depth first, then the fallback theme (Adwaita), then hicolor, then
// the loose images of the pixmaps folders.
//
// Each theme's index.theme is read and its folders are listed once, on the first lookup in it,
// so a lookup afterwards is a few hash probes. Not thread-safe: the owner serialises calls.

#include <string>
#include <unordered_map>
#include <vector>

namespace vesk {

class XdgIconThemes final {
 public:
  struct Paths {
    // Folders holding themes, most important first ($XDG_DATA_HOME/icons, ~/.icons,
    // $XDG_DATA_DIRS/icons).
    std::vector<std::string> themeRoots;
    // Folders of loose images looked in last ($XDG_DATA_DIRS/pixmaps).
    std::vector<std::string> pixmapRoots;

    // From the XDG environment variables of this moment.
    static Paths standard();
  };

  // The theme used after the user's own, before hicolor.
  static constexpr const char* kFallbackTheme = "Adwaita";

  explicit XdgIconThemes(Paths paths);

  // The file of the best image for the first of `names` that a theme of the chain has, at
  // `pixels` device pixels; empty when none has any. An empty `theme` starts at the fallback.
  std::string find(const std::string& theme, const std::vector<std::string>& names, int pixels);

  // Forgets every theme read so far (they are read again on the next lookup).
  void clear() { themes_.clear(); }

 private:
  struct Directory {
    enum class Type { fixed, scalable, threshold };
    Type type = Type::threshold;
    int size = 0;
    int minSize = 0;
    int maxSize = 0;
    int threshold = 2;
    int scale = 1;
  };
  struct Entry {
    size_t directory = 0;
    std::string file;
  };
  struct Theme {
    bool installed = false;
    std::vector<std::string> parents;
    std::vector<Directory> directories;
    // Icon name (file name without extension) → its images in this theme.
    std::unordered_map<std::string, std::vector<Entry>> icons;
  };

  const Theme& theme(const std::string& name);
  void addChain(const std::string& name, std::vector<const Theme*>& chain,
                std::vector<std::string>& seen);
  std::string pixmap(const std::string& name) const;

  Paths paths_;
  std::unordered_map<std::string, Theme> themes_;
};

}  // namespace vesk
