#pragma once
// PanelContent: what each list row and the details stage show for the controller's state, in
// which words and with which colour role. Computed from scratch each time the selection, the
// rows or the confirmation state change; the row delegate (`ResultCell`) and the stage
// (`StageView`) only draw it.
//
// Main thread. File facts (does a clip's file still exist, its size) come from `facts`, which
// answers at once with what it knows and loads the rest in the background.

#include <QImage>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/launcher/panel_icons.h"
#include "app/launcher/row.h"

namespace vesk {

class History;
class IconStore;
class LauncherController;

struct FileFact {
  bool exists = false;
  bool isFolder = false;
  std::optional<int64_t> size;
  bool operator==(const FileFact&) const = default;
};

// What the content depends on besides the controller.
struct PanelContext {
  const LauncherController* controller = nullptr;
  const History* history = nullptr;  // none: nothing was opened
  std::function<bool(const Item&)> isRunning;
  std::string home;
  std::string configFile;
  double now = 0;  // seconds since 1970
  // A clip's image: its row thumbnail, or its preview; none while it loads.
  std::function<std::optional<QImage>(const Clip&, bool preview)> clipImage;
  // The fact of a path, none until it is known.
  std::function<std::optional<FileFact>(const std::string& path)> fact;
  // Type names and the names of clip sources; none: neither is shown.
  IconStore* icons = nullptr;
};

struct CellContent {
  std::string title;
  std::string detail;
  std::string tag;
  IconRef icon;
  bool isPinned = false;
  bool cutsAtTheEnd = false;
  bool isQuietTitle = false;
  bool isDanger = false;
  std::string mark;  // the open key's cap on the selected row
  bool operator==(const CellContent&) const = default;
};

struct StageContent {
  struct Key {
    std::string words;
    std::vector<std::string> caps;
    bool operator==(const Key&) const = default;
  };
  struct TextPreview {
    std::string text;
    bool isBlank = false;
    bool operator==(const TextPreview&) const = default;
  };
  struct ImagePreview {
    QImage image;
    int64_t width = 0;
    int64_t height = 0;
    bool operator==(const ImagePreview& other) const {
      return image.cacheKey() == other.image.cacheKey() && width == other.width &&
             height == other.height;
    }
  };
  using Preview = std::variant<TextPreview, ImagePreview>;

  IconRef icon;
  std::string name;
  std::string place;
  std::string kind;
  std::string primary;  // empty: no key hints
  std::vector<std::string> primaryCaps;
  bool isDanger = false;
  std::optional<Key> secondary;
  std::optional<Preview> preview;
  int placeLines = 1;
  bool operator==(const StageContent&) const = default;
};

namespace PanelContent {

inline constexpr std::string_view kWarningSymbol = "exclamationmark.triangle";
inline constexpr std::string_view kPausedSymbol = "pause.circle";

CellContent cell(const Row& row, size_t position, const PanelContext& context);
// The stage for the controller's selection; none when there is no valid selection (the stage
// is then left as it is).
std::optional<StageContent> stage(const PanelContext& context);

// "line 4: unknown key" → {"Unknown key", "Config problem, line 4"}; other texts stay whole
// with the detail "Config problem".
std::pair<std::string, std::string> problemTile(const std::string& problem);
// The first ⌈n/2⌉ characters, "…", the last ⌊n/2⌋; a text of at most n characters stays.
std::string middle(const std::string& text, size_t keeping);
// "~/Projects" for a folder under `home`.
std::string tildePath(const std::string& path, const std::string& home);
std::string parentFolder(const std::string& path, const std::string& home);
// What an app's row and stage say about it: its entry's generic name or comment, else the
// folder of its entry.
std::string appDetail(const Item& app, const PanelContext& context);
// "1.2 MB".
std::string fileSize(int64_t bytes);

// The icons of an item, of a clip's source app, and of a clip's file (a folder once the file's
// facts say so); rows and the stage draw the same.
IconRef itemIcon(const Item& item);
// The icon store's key of an app's icon: its entry, or "<entry>#<action>" for one of its actions.
std::string appIconKey(const Item& app);
IconRef sourceIcon(const Clip& clip);
IconRef clipFileIcon(const std::string& path, const PanelContext& context);

}  // namespace PanelContent

}  // namespace vesk
