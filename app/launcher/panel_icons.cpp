#include "app/launcher/panel_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "app/launcher/icon_store.h"
#include "app/launcher/palette.h"

namespace vesk {

namespace {

// A thumbnail fitted into a rounded square of the tile colour (transparent parts stay
// readable, and nothing is cut off), at the screen's density.
QImage rounded(const QImage& image, IconSize size, int radius, qreal scale) {
  const int points = vesk::points(size);
  const int pixels = static_cast<int>(std::lround(points * scale));
  QImage out(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  out.fill(Qt::transparent);
  out.setDevicePixelRatio(scale);
  QPainter painter(&out);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  QPainterPath clip;
  clip.addRoundedRect(QRectF(0, 0, points, points), radius, radius);
  painter.setClipPath(clip);
  painter.fillRect(QRectF(0, 0, points, points), Palette::current()[Palette::Role::tile]);
  QImage fitted =
      image.scaled(QSize(pixels, pixels), Qt::KeepAspectRatio, Qt::SmoothTransformation);
  fitted.setDevicePixelRatio(scale);
  const QPointF origin((pixels - fitted.width()) / 2.0 / scale,
                       (pixels - fitted.height()) / 2.0 / scale);
  painter.drawImage(origin, fitted);
  return out;
}

}  // namespace

std::optional<QImage> PanelIcons::image(const IconRef& icon, IconSize size, IconStore* store,
                                        qreal scale) {
  if (icon.kind == IconRef::Kind::image) {
    return icon.image.isNull()
               ? std::nullopt
               : std::optional<QImage>(rounded(icon.image, size, icon.cornerRadius, scale));
  }
  if (store == nullptr) {
    return std::nullopt;
  }
  switch (icon.kind) {
    case IconRef::Kind::none:
    case IconRef::Kind::image:
      return std::nullopt;
    case IconRef::Kind::symbol:
      return store->symbol(icon.name, icon.tint, size);
    case IconRef::Kind::file:
      return store->iconForFile(icon.name, size);
    case IconRef::Kind::folder:
      return store->iconForFile(icon.name, size, true);
    case IconRef::Kind::app:
      // Apps outside the wanted set (just installed, or not indexed) get their entry's icon
      // through the type cache, which keys each entry by its path.
      if (store->wanted().contains(icon.name)) {
        return store->icon(icon.name, size);
      }
      return store->iconForFile(icon.name, size);
    case IconRef::Kind::source:
      if (store->isMissing(icon.name)) {
        return store->symbol(icon.fallbackSymbol, SymbolTint::quiet, size);
      }
      return store->iconForBundleID(icon.name, size);
  }
  return std::nullopt;
}

}  // namespace vesk
