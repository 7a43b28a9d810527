#include "app/launcher/palette.h"

#include <QGuiApplication>
#include <QPalette>

namespace vesk {

Palette Palette::current() {
  const QColor window = QGuiApplication::palette().color(QPalette::Window);
  return Palette{window.lightnessF() < 0.5};
}

QColor Palette::operator[](Role role) const {
  // {light, dark}
  const auto pick = [this](QColor light, QColor dark) { return isDark ? dark : light; };
  switch (role) {
    case Role::text:
      return pick(QColor(0x1d, 0x1d, 0x1f), QColor(0xf2, 0xf2, 0xf4));
    case Role::quiet:
      return pick(QColor(0x6e, 0x6e, 0x73), QColor(0x9a, 0x9a, 0xa2));
    case Role::key:
      return pick(QColor(0, 0, 0, 20), QColor(255, 255, 255, 26));
    case Role::tile:
      return pick(QColor(0, 0, 0, 12), QColor(255, 255, 255, 16));
    case Role::selection:
      return pick(QColor(0x0a, 0x64, 0xd8, 36), QColor(0x3d, 0x8b, 0xff, 64));
    case Role::danger:
      return pick(QColor(0xd7, 0x26, 0x1e), QColor(0xff, 0x5f, 0x56));
    case Role::dangerFill:
      return pick(QColor(0xd7, 0x26, 0x1e, 30), QColor(0xff, 0x5f, 0x56, 46));
    case Role::warning:
      return pick(QColor(0xc9, 0x7a, 0x00), QColor(0xff, 0xb3, 0x40));
    case Role::edge:
      return pick(QColor(0, 0, 0, 38), QColor(255, 255, 255, 36));
    case Role::window:
      return pick(QColor(0xfb, 0xfb, 0xfc), QColor(0x26, 0x26, 0x2b));
  }
  return {};
}

}  // namespace vesk
