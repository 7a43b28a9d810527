#pragma once
// Symbols: the small monochrome images the launcher draws for commands, actions, clip actions,
// notices and problems, named as the interface names them ("trash", "doc.on.clipboard", …).
//
// Each name maps to freedesktop icon names, looked up as symbolic icons in the user's icon
// theme; Vesk ships a drawing of its own for every name (24 × 24 SVGs in the `symbols`
// resource), used when the theme has none. Either is tinted with one colour when rendered.
//
// Also here: the two icon sizes and the three tints that every icon and symbol is rendered at.

#include <QColor>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/search/item.h"

namespace vesk {

// Row icons and stage tiles. Pixel sizes are the sizes in device-independent pixels times the
// largest device pixel ratio among the screens.
enum class IconSize : uint8_t { row, tile };
inline constexpr int kIconPoints[] = {20, 48};
inline constexpr int points(IconSize size) {
  return kIconPoints[static_cast<size_t>(size)];
}

// The colour roles a symbol is drawn with, each with a light and a dark variant.
enum class SymbolTint : uint8_t { quiet, warning, danger };

// One rendered symbol image.
struct SymbolKey {
  std::string name;
  SymbolTint tint = SymbolTint::quiet;
  IconSize size = IconSize::row;
  bool operator==(const SymbolKey&) const = default;
};

struct Symbols {
  // Every symbol name a row, the stage or the search field uses.
  static std::span<const std::string_view> all();
  // The command's symbol.
  static std::string_view command(Command command);
  // What the store renders ahead of any request: every name at (quiet, row), every command
  // symbol and the clip source fallbacks at (quiet, tile), and the warning and danger variants
  // that problems, notices and armed rows use.
  static const std::vector<SymbolKey>& rendered();

  // The freedesktop symbolic icon names for a symbol, best first; empty for unknown names.
  static std::vector<std::string> themeNames(std::string_view name);
  // The resource path of Vesk's own drawing of a symbol; empty when there is none.
  static QString drawing(std::string_view name);

  // The drawings that stand in for an application or a file when no icon can be found.
  static constexpr std::string_view kAppFallback = "app";
  static constexpr std::string_view kFileFallback = "doc";
  static constexpr std::string_view kFolderFallback = "folder";

  // The colour of a tint in the light or dark appearance.
  static QColor color(SymbolTint tint, bool dark);
};

}  // namespace vesk

template <>
struct std::hash<vesk::SymbolKey> {
  size_t operator()(const vesk::SymbolKey& key) const noexcept {
    return std::hash<std::string>()(key.name) ^
           (static_cast<size_t>(key.tint) * 31 + static_cast<size_t>(key.size) + 1) *
               0x9e3779b97f4a7c15ULL;
  }
};
