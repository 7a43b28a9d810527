#include "app/launcher/icon_render.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>

#include "core/base/regular_file.h"
#include "platform/icon_sources.h"

namespace vesk {

namespace {

constexpr double kNoScreenScale = 2;

QImage canvas(int pixels, double scale) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(scale);
  return image;
}

// Icon files are small; a larger one is not an icon (and would cost a lot to decode).
constexpr size_t kMaxIconBytes = size_t{8} << 20;

// The bytes of an icon file, or none. Files of Vesk's resources are read by Qt; any other comes
// from a theme or a desktop entry that anyone may have written, so a FIFO, a device or a huge
// file is refused without blocking before Qt sees it.
std::optional<QByteArray> iconBytes(const QString& file) {
  if (file.startsWith(QLatin1Char(':'))) {
    QFile resource(file);
    if (!resource.open(QIODevice::ReadOnly)) {
      return std::nullopt;
    }
    return resource.readAll();
  }
  RegularFile read = RegularFile::read(file.toStdString(), kMaxIconBytes);
  if (read.problem != RegularFile::Problem::none) {
    return std::nullopt;
  }
  return QByteArray(read.bytes.data(), static_cast<qsizetype>(read.bytes.size()));
}

// The image file drawn into `box` of `target`, keeping its proportions; false when it can't be
// read.
bool drawFile(QImage& target, const QString& file, const QRectF& box) {
  std::optional<QByteArray> bytes = iconBytes(file);
  if (!bytes) {
    return false;
  }
  QPainter painter(&target);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.setRenderHint(QPainter::Antialiasing);
  // Pixel coordinates: the painter works in device-independent ones on a scaled image.
  painter.scale(1 / target.devicePixelRatio(), 1 / target.devicePixelRatio());
  if (file.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive) ||
      file.endsWith(QLatin1String(".svgz"), Qt::CaseInsensitive)) {
    QSvgRenderer renderer(*bytes);
    if (!renderer.isValid()) {
      return false;
    }
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    renderer.render(&painter, box);
    return true;
  }
  QBuffer buffer(&*bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  const QSize size = reader.size();
  if (size.isValid() && (size.width() > box.width() || size.height() > box.height())) {
    reader.setScaledSize(size.scaled(box.size().toSize(), Qt::KeepAspectRatio));
  }
  const QImage image = reader.read();
  if (image.isNull()) {
    return false;
  }
  const QSizeF fitted = QSizeF(image.size()).scaled(box.size(), Qt::KeepAspectRatio);
  const QRectF placed(box.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);
  painter.drawImage(placed, image);
  return true;
}

// The first readable image for `icon` at `pixels`, or none.
std::optional<QImage> renderIcon(const IconSources& sources, const IconStyle& style,
                                 const IconSources::Icon& icon, int pixels, RenderCache* cache) {
  std::string file = icon.file;
  if (file.empty() && !icon.names.empty()) {
    file = sources.findIcon(style.theme, icon.names, pixels);
  }
  if (file.empty()) {
    return std::nullopt;
  }
  if (cache != nullptr) {
    if (auto image = cache->find(file, pixels)) {
      return image;
    }
  }
  QImage image = canvas(pixels, style.scale);
  if (!drawFile(image, QString::fromStdString(file), QRectF(0, 0, pixels, pixels))) {
    return std::nullopt;
  }
  if (cache != nullptr) {
    cache->insert(file, pixels, image);
  }
  return image;
}

// A monochrome image `file` (a symbolic icon or one of Vesk's drawings) in the middle of the
// square, filled with the tint colour wherever it has ink.
std::optional<QImage> renderTinted(const QString& file, int pixels, const IconStyle& style,
                                   double share, QColor color) {
  QImage image = canvas(pixels, style.scale);
  const double side = std::min<double>(pixels, pixels * share);
  const QRectF box((pixels - side) / 2, (pixels - side) / 2, side, side);
  if (!drawFile(image, file, box)) {
    return std::nullopt;
  }
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(QRectF(0, 0, image.width(), image.height()), color);
  return image;
}

QImage fallbackDrawing(std::string_view name, int pixels, const IconStyle& style) {
  // Drawn larger than a symbol: it stands where a full icon would be.
  auto image = renderTinted(Symbols::drawing(name), pixels, style, 0.9,
                            Symbols::color(SymbolTint::quiet, style.dark));
  return image ? *image : canvas(pixels, style.scale);
}

// `icon`, else `generic`, else the drawing `fallback`, at both sizes.
IconPair renderWithFallbacks(const IconSources& sources, const IconStyle& style,
                             const IconSources::Icon& icon, const IconSources::Icon& generic,
                             std::string_view fallback, RenderCache* cache) {
  IconPair pair;
  for (const IconSize size : {IconSize::row, IconSize::tile}) {
    const int pixels = style.pixels(size);
    std::optional<QImage> image = renderIcon(sources, style, icon, pixels, cache);
    if (!image) {
      image = renderIcon(sources, style, generic, pixels, cache);
    }
    if (!image) {
      image = fallbackDrawing(fallback, pixels, style);
    }
    (size == IconSize::row ? pair.row : pair.tile) = std::move(image);
  }
  return pair;
}

// GIO's descriptions start in lower case ("plain text document"); titles start in upper case.
std::string capitalized(const std::string& text) {
  QString value = QString::fromStdString(text);
  if (!value.isEmpty()) {
    value[0] = value[0].toUpper();
  }
  return value.toStdString();
}

const IconSources::Icon kGenericProgram{{"application-x-executable"}, {}};

}  // namespace

IconStyle IconStyle::current() {
  IconStyle style;
  double scale = 0;
  for (const QScreen* screen : QGuiApplication::screens()) {
    scale = std::max(scale, screen->devicePixelRatio());
  }
  style.scale = scale > 0 ? scale : kNoScreenScale;
  style.dark = isDarkAppearance();
  style.theme = QIcon::themeName().toStdString();
  return style;
}

bool IconStyle::isDarkAppearance() {
  return QGuiApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
}

int IconStyle::pixels(IconSize size) const {
  return std::max(1, static_cast<int>(std::lround(points(size) * scale)));
}

std::optional<QImage> RenderCache::find(const std::string& file, int pixels) const {
  const std::lock_guard lock(mutex_);
  const auto found = images_.find(file + '@' + std::to_string(pixels));
  if (found == images_.end()) {
    return std::nullopt;
  }
  return found->second;
}

void RenderCache::insert(const std::string& file, int pixels, const QImage& image) {
  const std::lock_guard lock(mutex_);
  if (images_.size() >= kMaxImages) {
    images_.clear();
  }
  images_.emplace(file + '@' + std::to_string(pixels), image);
}

IconPair renderApp(const IconSources& sources, const IconStyle& style, const std::string& path,
                   RenderCache* cache) {
  return renderWithFallbacks(sources, style, sources.appIcon(path), kGenericProgram,
                             Symbols::kAppFallback, cache);
}

TypeRender renderType(const IconSources& sources, const IconStyle& style, const std::string& key,
                      RenderCache* cache) {
  TypeRender render;
  if (key == "folder") {
    const IconSources::FileType type = sources.folderType();
    render.icons =
        renderWithFallbacks(sources, style, type.icon, {}, Symbols::kFolderFallback, cache);
    render.name = capitalized(type.description);
  } else if (key.starts_with("path:")) {
    const IconSources::FileType type = sources.appType();
    render.icons = renderWithFallbacks(sources, style, sources.appIcon(key.substr(5)), type.icon,
                                       Symbols::kAppFallback, cache);
    render.name = capitalized(type.description);
  } else {
    const std::string extension = key.starts_with("ext:") ? key.substr(4) : std::string();
    const IconSources::FileType type = sources.typeForExtension(extension);
    render.icons =
        renderWithFallbacks(sources, style, type.icon, {}, Symbols::kFileFallback, cache);
    render.name = type.description.empty() ? "Document" : capitalized(type.description);
  }
  return render;
}

QImage renderSymbol(const IconSources& sources, const IconStyle& style, const SymbolKey& key) {
  const int pixels = style.pixels(key.size);
  const double share = kSymbolPointShare * kSymbolReachPerPoint;
  const QColor color = Symbols::color(key.tint, style.dark);
  const std::vector<std::string> names = Symbols::themeNames(key.name);
  if (!names.empty()) {
    const std::string file = sources.findIcon(style.theme, names, pixels);
    if (!file.empty()) {
      if (auto image = renderTinted(QString::fromStdString(file), pixels, style, share, color)) {
        return *image;
      }
    }
  }
  if (const QString drawing = Symbols::drawing(key.name); !drawing.isEmpty()) {
    if (auto image = renderTinted(drawing, pixels, style, share, color)) {
      return *image;
    }
  }
  return fallbackDrawing(Symbols::kFileFallback, pixels, style);
}

}  // namespace vesk
