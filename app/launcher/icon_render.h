#pragma once
// Icon rendering: turning theme icons, image files and Vesk's symbol drawings into bitmaps of
// an exact device-pixel size, premultiplied ARGB, with their device pixel ratio set, so that
// drawing one is a plain blit.
//
// Everything here except `IconStyle::current` is safe on any thread: only QImage, QImageReader
// and QSvgRenderer are used, never QPixmap or QIcon. A missing icon never leaves a hole: an app
// falls back to the generic program icon and then to a drawing, a file type to the generic
// document icon and then to a drawing.

#include <QImage>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "app/launcher/symbols.h"

namespace vesk {

class IconSources;

// What a render is drawn for: the icon theme, the screens' density and the appearance.
struct IconStyle {
  std::string theme;
  double scale = 2;
  bool dark = false;

  // The largest device pixel ratio among the screens (2 with none), the application palette's
  // appearance and Qt's icon theme name. Main thread only.
  static IconStyle current();
  // Dark when the window colour of the application palette is less than half light.
  static bool isDarkAppearance();

  int pixels(IconSize size) const;
  bool operator==(const IconStyle&) const = default;
};

// One image at each icon size.
struct IconPair {
  std::optional<QImage> row;
  std::optional<QImage> tile;
  const std::optional<QImage>& at(IconSize size) const {
    return size == IconSize::row ? row : tile;
  }
};

// A file type's icons and display name.
struct TypeRender {
  IconPair icons;
  std::string name;
};

// The images already drawn from each file at each size, shared by the renders of one style:
// many types show the same generic icon, and a theme's large bitmaps are slow to decode.
// Thread-safe; bounded by `kMaxImages` (it starts over when full).
class RenderCache final {
 public:
  static constexpr size_t kMaxImages = 1024;

  std::optional<QImage> find(const std::string& file, int pixels) const;
  void insert(const std::string& file, int pixels, const QImage& image);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, QImage> images_;
};

// The icon of the application entry at `path`.
IconPair renderApp(const IconSources& sources, const IconStyle& style, const std::string& path,
                   RenderCache* cache = nullptr);
// The icons and name of a type key ("folder", "path:…", "ext:…").
TypeRender renderType(const IconSources& sources, const IconStyle& style, const std::string& key,
                      RenderCache* cache = nullptr);
// A symbol, tinted, centred in a square of its size.
QImage renderSymbol(const IconSources& sources, const IconStyle& style, const SymbolKey& key);

// The part of the square a symbol's point size takes, and how far a drawing reaches around it
// (a symbol's strokes reach past its point size, as a letter's ascenders and descenders do).
inline constexpr double kSymbolPointShare = 0.62;
inline constexpr double kSymbolReachPerPoint = 1.2;

}  // namespace vesk
