#include "app/launcher/panel_icons.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>
#include <QTextStream>
#include <map>
#include <utility>

namespace vesk {

namespace {

// Symbol names of the interface → icon theme names, most specific first.
const std::map<std::string, QStringList>& symbolNames() {
  static const std::map<std::string, QStringList> kNames = {
      {"magnifyingglass", {"system-search-symbolic", "edit-find-symbolic", "system-search"}},
      {"doc.on.clipboard", {"edit-paste-symbolic", "edit-paste"}},
      {"doc.on.doc", {"edit-copy-symbolic", "edit-copy"}},
      {"arrow.down.doc", {"edit-paste-symbolic", "edit-paste"}},
      {"textformat", {"format-text-plaintext-symbolic", "insert-text-symbolic", "edit-paste"}},
      {"text.alignleft", {"format-justify-left-symbolic", "text-x-generic-symbolic"}},
      {"link", {"insert-link-symbolic", "emblem-symbolic-link"}},
      {"safari", {"web-browser-symbolic", "applications-internet"}},
      {"arrow.up.forward.app", {"document-open-symbolic", "document-open"}},
      {"folder", {"folder-open-symbolic", "folder-symbolic", "folder"}},
      {"square.grid.2x2", {"view-app-grid-symbolic", "view-grid-symbolic", "applications-other"}},
      {"terminal", {"utilities-terminal-symbolic", "utilities-terminal"}},
      {"doc.zipper", {"package-x-generic-symbolic", "package-x-generic"}},
      {"trash", {"user-trash-symbolic", "edit-delete-symbolic", "user-trash"}},
      {"xmark.circle", {"window-close-symbolic", "process-stop-symbolic"}},
      {"xmark.octagon", {"process-stop-symbolic", "dialog-error-symbolic"}},
      {"square.and.arrow.down", {"document-save-symbolic", "document-save"}},
      {"pin", {"view-pin-symbolic", "starred-symbolic"}},
      {"pin.slash", {"view-pin-symbolic", "non-starred-symbolic"}},
      {"exclamationmark.triangle", {"dialog-warning-symbolic", "dialog-warning"}},
      {"pause.circle", {"media-playback-pause-symbolic", "media-playback-pause"}},
      {"play.circle", {"media-playback-start-symbolic", "media-playback-start"}},
      {"arrow.down.circle", {"software-update-available-symbolic", "go-down-symbolic"}},
      {"arrow.triangle.2.circlepath", {"view-refresh-symbolic", "view-refresh"}},
      {"gearshape", {"emblem-system-symbolic", "preferences-system-symbolic"}},
      {"arrow.clockwise", {"view-refresh-symbolic", "view-refresh"}},
      {"power", {"system-shutdown-symbolic", "application-exit-symbolic"}},
  };
  return kNames;
}

// Icon themes other than hicolor carry the symbolic icons; a bare X session names none.
void ensureTheme() {
  static const bool done = [] {
    // The system's themes, also when XDG_DATA_DIRS names other folders only.
    QStringList paths = QIcon::themeSearchPaths();
    if (!paths.contains("/usr/share/icons")) {
      paths << "/usr/share/icons";
      QIcon::setThemeSearchPaths(paths);
    }
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") {
      QIcon::setThemeName("Adwaita");
    }
    return true;
  }();
  (void)done;
}

QIcon themed(const QStringList& names) {
  ensureTheme();
  for (const QString& name : names) {
    if (QIcon::hasThemeIcon(name)) {
      return QIcon::fromTheme(name);
    }
  }
  return {};
}

struct Entry {
  QString name;
  QString icon;
};

// The [Desktop Entry] group's Name and Icon of a desktop file.
std::optional<Entry> readEntry(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    return std::nullopt;
  }
  Entry entry;
  bool inMain = false;
  QTextStream stream(&file);
  while (!stream.atEnd()) {
    const QString line = stream.readLine().trimmed();
    if (line.startsWith('[')) {
      inMain = line == "[Desktop Entry]";
    } else if (inMain && line.startsWith("Name=") && entry.name.isEmpty()) {
      entry.name = line.mid(5);
    } else if (inMain && line.startsWith("Icon=") && entry.icon.isEmpty()) {
      entry.icon = line.mid(5);
    }
  }
  return entry;
}

std::optional<Entry> entryById(const std::string& id) {
  static QHash<QString, std::optional<Entry>> cache;
  QString file = QString::fromStdString(id);
  if (!file.endsWith(".desktop")) {
    file += ".desktop";
  }
  if (const auto found = cache.constFind(file); found != cache.constEnd()) {
    return *found;
  }
  const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, file,
                                              QStandardPaths::LocateFile);
  std::optional<Entry> entry = path.isEmpty() ? std::nullopt : readEntry(path);
  cache.insert(file, entry);
  return entry;
}

QIcon entryIcon(const Entry& entry) {
  ensureTheme();
  if (QFileInfo(entry.icon).isAbsolute()) {
    return QIcon(entry.icon);
  }
  return QIcon::fromTheme(entry.icon, themed({"application-x-executable"}));
}

QPixmap tinted(const QIcon& icon, int size, const QColor& color, qreal scale) {
  // Symbols sit a little inside their square, as text glyphs do.
  const int inner = static_cast<int>(size * 0.8);
  QPixmap art = icon.pixmap(QSize(inner, inner), scale);
  QPixmap out(QSize(size, size) * scale);
  out.setDevicePixelRatio(scale);
  out.fill(Qt::transparent);
  QPainter painter(&out);
  const qreal offset = (size - inner) / 2.0;
  painter.drawPixmap(QPointF(offset, offset), art);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(QRectF(0, 0, size, size), color);
  return out;
}

QPixmap fromIcon(const QIcon& icon, int size, qreal scale) {
  QPixmap art = icon.pixmap(QSize(size, size), scale);
  if (art.deviceIndependentSize().width() >= size) {
    return art;
  }
  // A theme without that size: scale the largest one smoothly rather than draw it small.
  const QList<QSize> sizes = icon.availableSizes();
  QSize largest = sizes.isEmpty() ? QSize(size, size) : sizes.last();
  for (const QSize& s : sizes) {
    largest = s.width() > largest.width() ? s : largest;
  }
  QPixmap big = icon.pixmap(largest);
  QPixmap scaled =
      big.scaled(QSize(size, size) * scale, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  scaled.setDevicePixelRatio(scale);
  return scaled;
}

QPixmap rounded(const QImage& image, int size, int radius, qreal scale) {
  QPixmap out(QSize(size, size) * scale);
  out.setDevicePixelRatio(scale);
  out.fill(Qt::transparent);
  QPainter painter(&out);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  QPainterPath clip;
  clip.addRoundedRect(QRectF(0, 0, size, size), radius, radius);
  painter.setClipPath(clip);
  const QImage fitted = image.scaled(QSize(size, size) * scale, Qt::KeepAspectRatioByExpanding,
                                     Qt::SmoothTransformation);
  const QPointF origin((size * scale - fitted.width()) / 2.0 / scale,
                       (size * scale - fitted.height()) / 2.0 / scale);
  QImage drawn = fitted;
  drawn.setDevicePixelRatio(scale);
  painter.drawImage(origin, drawn);
  return out;
}

}  // namespace

namespace PanelIcons {

QPixmap pixmap(const IconRef& icon, int size, const Palette& palette, qreal scale) {
  switch (icon.kind) {
    case IconRef::Kind::none:
      return {};
    case IconRef::Kind::symbol: {
      const auto found = symbolNames().find(icon.name);
      const QIcon art =
          found != symbolNames().end() ? themed(found->second) : themed({"image-missing"});
      return tinted(art, size, palette[icon.tint], scale);
    }
    case IconRef::Kind::file: {
      if (QFileInfo(QString::fromStdString(icon.name)).isDir()) {
        return fromIcon(themed({"folder", "inode-directory"}), size, scale);
      }
      static QMimeDatabase database;
      const QMimeType type = database.mimeTypeForFile(QString::fromStdString(icon.name));
      ensureTheme();
      const QIcon art = QIcon::fromTheme(
          type.iconName(),
          QIcon::fromTheme(type.genericIconName(), themed({"text-x-generic", "unknown"})));
      return fromIcon(art, size, scale);
    }
    case IconRef::Kind::app: {
      const std::optional<Entry> entry = readEntry(QString::fromStdString(icon.name));
      return fromIcon(entry ? entryIcon(*entry) : themed({"application-x-executable"}), size,
                      scale);
    }
    case IconRef::Kind::source: {
      if (const std::optional<Entry> entry = entryById(icon.name)) {
        return fromIcon(entryIcon(*entry), size, scale);
      }
      return pixmap(IconRef::symbol(icon.fallbackSymbol), size, palette, scale);
    }
    case IconRef::Kind::image:
      return rounded(icon.image, size, icon.cornerRadius, scale);
  }
  return {};
}

std::string typeName(const std::string& path) {
  static QMimeDatabase database;
  return database.mimeTypeForFile(QString::fromStdString(path)).comment().toStdString();
}

std::optional<std::string> appName(const std::string& entryId) {
  const std::optional<Entry> entry = entryById(entryId);
  if (!entry || entry->name.isEmpty()) {
    return std::nullopt;
  }
  return entry->name.toStdString();
}

bool knowsApp(const std::string& entryId) {
  return entryById(entryId).has_value();
}

}  // namespace PanelIcons

}  // namespace vesk
