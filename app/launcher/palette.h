#pragma once
// Palette: the colour roles of the panel, each with a light and a dark variant. The desktop's
// palette decides which: dark when its window colour is darker than half.
//
// `current` reads the application palette (main thread); a Palette's colours are plain values,
// safe on any thread (the icon renders use them for symbol tints).

#include <QColor>

namespace vesk {

struct Palette {
  enum class Role { text, quiet, key, tile, selection, danger, dangerFill, warning, edge, window };

  bool isDark = false;

  // From the application's current palette.
  static Palette current();
  QColor operator[](Role role) const;
};

}  // namespace vesk
