#pragma once
// PanelIcons: the images the rows and the stage draw, named by what they show (`IconRef`), and
// the one place that turns such a name into a bitmap from the IconStore. Nothing here renders:
// an icon the store doesn't have yet is answered with none (the store renders it and tells the
// panel to draw again), and a missing one is answered with the store's fallback (the type's
// generic icon, then a symbol).
//
// Main thread (the store is main-thread only).

#include <QImage>
#include <optional>
#include <string>

#include "app/launcher/symbols.h"

namespace vesk {

class IconStore;

struct IconRef {
  enum class Kind { none, symbol, file, folder, app, source, image };
  Kind kind = Kind::none;
  std::string name;  // symbol name, file or entry path, or the source's desktop id
  SymbolTint tint = SymbolTint::quiet;
  QImage image;          // for Kind::image: a clip's thumbnail
  int cornerRadius = 0;  // for Kind::image
  // For Kind::source: the symbol drawn once the source's entry is known to be missing.
  std::string fallbackSymbol;

  static IconRef symbol(std::string name, SymbolTint tint = SymbolTint::quiet) {
    return {Kind::symbol, std::move(name), tint, {}, 0, {}};
  }
  static IconRef of(Kind kind, std::string name) { return {kind, std::move(name), {}, {}, 0, {}}; }
  bool operator==(const IconRef& other) const {
    return kind == other.kind && name == other.name && tint == other.tint &&
           image.cacheKey() == other.image.cacheKey() && cornerRadius == other.cornerRadius &&
           fallbackSymbol == other.fallbackSymbol;
  }
};

namespace PanelIcons {

// The bitmap for `icon` at `size`, with its device pixel ratio set; none while it is rendered,
// and always none without a store. A thumbnail is fitted into the square with rounded corners
// at `scale`.
std::optional<QImage> image(const IconRef& icon, IconSize size, IconStore* store, qreal scale);

}  // namespace PanelIcons

}  // namespace vesk
