#pragma once
// PanelIcons: the images the rows and the stage draw, named by what they show (`IconRef`), and
// the one place that turns such a name into pixels. Symbols come from the icon theme by a
// table of symbol names, tinted with a palette role; files get their MIME type's icon, apps
// the icon of their desktop entry, clip sources the icon of the entry with that id.
//
// Main thread. Pixmaps are cached by reference, size, scale and appearance.

#include <QImage>
#include <QPixmap>
#include <optional>
#include <string>

#include "app/launcher/palette.h"

namespace vesk {

struct IconRef {
  enum class Kind { none, symbol, file, app, source, image };
  Kind kind = Kind::none;
  std::string name;  // symbol name, file or entry path, or the source's id
  Palette::Role tint = Palette::Role::quiet;
  QImage image;          // for Kind::image
  int cornerRadius = 0;  // for Kind::image
  // For Kind::source: what to draw when the source's entry is unknown.
  std::string fallbackSymbol;

  static IconRef symbol(std::string name, Palette::Role tint = Palette::Role::quiet) {
    return {Kind::symbol, std::move(name), tint, {}, 0, {}};
  }
  bool operator==(const IconRef& other) const {
    return kind == other.kind && name == other.name && tint == other.tint &&
           image.cacheKey() == other.image.cacheKey() && cornerRadius == other.cornerRadius &&
           fallbackSymbol == other.fallbackSymbol;
  }
};

namespace PanelIcons {

// `size` in device-independent pixels; the pixmap carries `scale` as its device pixel ratio.
QPixmap pixmap(const IconRef& icon, int size, const Palette& palette, qreal scale);
// The file's type name ("PDF document", "Folder").
std::string typeName(const std::string& path);
// The name and icon of the desktop entry with this id ("org.gnome.gedit" or with ".desktop"),
// none when no entry has it.
std::optional<std::string> appName(const std::string& entryId);
bool knowsApp(const std::string& entryId);

}  // namespace PanelIcons

}  // namespace vesk
