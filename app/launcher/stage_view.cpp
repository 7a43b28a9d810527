#include "app/launcher/stage_view.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>
#include <cmath>
#include <utility>

#include "app/launcher/result_cell.h"

namespace vesk {

namespace {

using Role = Palette::Role;
constexpr int kInset = 16;
constexpr int kKeyGap = 6;
constexpr int kKeysGap = 16;
constexpr int kBottomLine = 30;  // the kind line and keys under a preview
constexpr int kChecker = 8;
constexpr int kTilePad = 6;  // the tile around the large icon

QFont sized(qreal pixels, QFont::Weight weight = QFont::Normal) {
  QFont font = QApplication::font();
  font.setPixelSize(static_cast<int>(pixels));
  font.setWeight(weight);
  return font;
}

QFont nameFont() {
  return sized(16, QFont::DemiBold);
}
QFont lineFont() {
  return sized(12.5);
}
QFont capFont() {
  return sized(11.5, QFont::Medium);
}
QFont wordFont() {
  return sized(12.5);
}

// Lines of `text` wrapped at `width`: where a line may break (after a slash or a hyphen of a
// URL), else anywhere.
int lineCount(const QString& text, const QFont& font, qreal width) {
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  int lines = 0;
  while (true) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) {
      break;
    }
    line.setLineWidth(width);
    ++lines;
  }
  layout.endLayout();
  return lines;
}

void drawChecker(QPainter& painter, const QRectF& area, const Palette& palette) {
  painter.save();
  painter.setClipRect(area);
  const QColor light = palette.isDark ? QColor(0x3a, 0x3a, 0x40) : QColor(0xff, 0xff, 0xff);
  const QColor dark = palette.isDark ? QColor(0x30, 0x30, 0x36) : QColor(0xe6, 0xe6, 0xea);
  painter.fillRect(area, light);
  const int rows = static_cast<int>(std::ceil(area.height() / kChecker));
  const int columns = static_cast<int>(std::ceil(area.width() / kChecker));
  for (int row = 0; row < rows; ++row) {
    for (int column = row % 2 == 0 ? 1 : 0; column < columns; column += 2) {
      painter.fillRect(
          QRectF(area.left() + column * kChecker, area.top() + row * kChecker, kChecker, kChecker),
          dark);
    }
  }
  painter.restore();
}

}  // namespace

StageView::StageView(std::function<IconStore*()> icons, QWidget* parent)
    : QWidget(parent), icons_(std::move(icons)) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void StageView::setContent(StageContent content) {
  if (content == content_) {
    return;
  }
  content_ = std::move(content);
  update();
}

QString StageView::fitPlace(int width) const {
  QString place = QString::fromStdString(content_.place);
  if (content_.placeLines <= 1) {
    return place;
  }
  const QFont font = lineFont();
  if (lineCount(place, font, width) <= content_.placeLines) {
    return place;
  }
  // The longest middle-shortened form that fits, by halving the range of kept characters.
  size_t low = 0;
  size_t high = static_cast<size_t>(place.toUcs4().size());
  while (low < high) {
    const size_t keep = (low + high + 1) / 2;
    const QString shortened = QString::fromStdString(PanelContent::middle(content_.place, keep));
    if (lineCount(shortened, font, width) <= content_.placeLines) {
      low = keep;
    } else {
      high = keep - 1;
    }
  }
  return QString::fromStdString(PanelContent::middle(content_.place, low));
}

int StageView::keysWidth() const {
  if (content_.primary.empty()) {
    return 0;
  }
  const auto keyWidth = [](const std::vector<std::string>& caps, const std::string& words) {
    int width = 0;
    for (const std::string& cap : caps) {
      width += ResultCell::capWidth(QString::fromStdString(cap), capFont()) + 3;
    }
    return width + kKeyGap +
           QFontMetrics(wordFont()).horizontalAdvance(QString::fromStdString(words));
  };
  int width = keyWidth(content_.primaryCaps, content_.primary);
  if (content_.secondary) {
    width += kKeysGap + keyWidth(content_.secondary->caps, content_.secondary->words);
  }
  return width;
}

// The keys right-aligned in `area`, vertically centred; their width.
int StageView::drawKeys(QPainter& painter, const QRectF& area) {
  const Palette palette = Palette::current();
  const int width = keysWidth();
  if (width == 0) {
    return 0;
  }
  qreal x = area.right() - width;
  const qreal y = area.center().y() - 10;
  const auto drawKey = [&](const std::vector<std::string>& caps, const std::string& words,
                           bool danger) {
    for (const std::string& cap : caps) {
      x += ResultCell::drawCap(painter, QPointF(x, y), QString::fromStdString(cap), capFont(),
                               palette, danger) +
           3;
    }
    x += kKeyGap;
    const QString text = QString::fromStdString(words);
    const int textWidth = QFontMetrics(wordFont()).horizontalAdvance(text);
    painter.setFont(wordFont());
    painter.setPen(danger ? palette[Role::danger] : palette[Role::text]);
    painter.drawText(QRectF(x, y - 2, textWidth + 2, 24), Qt::AlignVCenter | Qt::AlignLeft, text);
    x += textWidth + kKeysGap;
  };
  drawKey(content_.primaryCaps, content_.primary, content_.isDanger);
  if (content_.secondary) {
    drawKey(content_.secondary->caps, content_.secondary->words, content_.isDanger);
  }
  return width;
}

void StageView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRectF area = QRectF(rect()).adjusted(kInset, 10, -kInset, -8);
  if (content_.preview) {
    drawPreview(painter, area);
  } else {
    drawDetails(painter, area);
  }
}

void StageView::drawPreview(QPainter& painter, const QRectF& area) {
  const Palette palette = Palette::current();
  // The preview fills the stage; the kind line and the keys sit under it.
  const QRectF bottom(area.left(), area.bottom() - kBottomLine + 4, area.width(), kBottomLine);
  const QRectF room(area.left(), area.top(), area.width(), bottom.top() - area.top() - 6);
  const int keys = drawKeys(painter, bottom);
  painter.setFont(lineFont());
  painter.setPen(palette[Role::quiet]);
  const QString kind = QFontMetrics(lineFont())
                           .elidedText(QString::fromStdString(content_.kind), Qt::ElideRight,
                                       static_cast<int>(bottom.width() - keys - kKeysGap));
  painter.drawText(bottom, Qt::AlignVCenter | Qt::AlignLeft, kind);

  if (const auto* text = std::get_if<StageContent::TextPreview>(&*content_.preview)) {
    QFont font = sized(15);
    painter.setFont(font);
    painter.setPen(text->isBlank ? palette[Role::quiet] : palette[Role::text]);
    const QString shown = text->isBlank ? QStringLiteral("Spaces and line breaks")
                                        : QString::fromStdString(text->text);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    painter.save();
    painter.setClipRect(room);
    painter.drawText(room, shown, option);
    painter.restore();
  } else if (const auto* image = std::get_if<StageContent::ImagePreview>(&*content_.preview)) {
    QSizeF size(static_cast<qreal>(image->width), static_cast<qreal>(image->height));
    if (size.isEmpty()) {
      size = QSizeF(room.height(), room.height());
    }
    size = size.scaled(room.size().boundedTo(size), Qt::KeepAspectRatio);
    // The name and place sit beside the image.
    const QRectF frame(room.left(), room.top(), size.width(), size.height());
    drawChecker(painter, frame, palette);
    if (!image->image.isNull()) {
      painter.drawImage(frame, image->image);
    }
    painter.setPen(palette[Role::edge]);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(0.5, 0.5, -0.5, -0.5));
    const QRectF info(frame.right() + 16, room.top(), room.right() - frame.right() - 16,
                      room.height());
    painter.setFont(nameFont());
    painter.setPen(palette[Role::text]);
    painter.drawText(QRectF(info.left(), info.top(), info.width(), 24),
                     Qt::AlignVCenter | Qt::AlignLeft, QString::fromStdString(content_.name));
    painter.setFont(lineFont());
    painter.setPen(palette[Role::quiet]);
    painter.drawText(QRectF(info.left(), info.top() + 26, info.width(), 20),
                     Qt::AlignVCenter | Qt::AlignLeft,
                     QFontMetrics(lineFont())
                         .elidedText(QString::fromStdString(content_.place), Qt::ElideMiddle,
                                     static_cast<int>(info.width())));
  }
}

void StageView::drawDetails(QPainter& painter, const QRectF& area) {
  const Palette palette = Palette::current();
  const qreal scale = devicePixelRatioF();
  // Icon tile, then name, place and kind; the keys on the right.
  qreal textX = area.left();
  if (content_.icon.kind != IconRef::Kind::none) {
    const QRectF tile(area.left(), std::round(area.center().y() - kTileSize / 2.0) - kTilePad,
                      kTileSize + 2 * kTilePad, kTileSize + 2 * kTilePad);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette[Role::tile]);
    painter.drawRoundedRect(tile, 12, 12);
    if (const auto icon =
            PanelIcons::image(content_.icon, IconSize::tile, icons_ ? icons_() : nullptr, scale)) {
      painter.drawImage(QRectF(tile.left() + kTilePad, tile.top() + kTilePad, kTileSize, kTileSize),
                        *icon);
    }
    textX = tile.right() + 14;
  }
  const int keys = keysWidth();
  const qreal textWidth = area.right() - textX - (keys > 0 ? keys + kKeysGap : 0);
  // The keys level with the middle of the tile and the text beside it.
  const QRectF keyArea(area.left(), std::round(area.center().y()) - 12, area.width(), 24);
  drawKeys(painter, keyArea);

  const QFontMetricsF line(lineFont());
  const QString place = fitPlace(static_cast<int>(textWidth));
  const int placeLines = content_.placeLines > 1 ? std::min(content_.placeLines,
                                                            lineCount(place, lineFont(), textWidth))
                                                 : (place.isEmpty() ? 0 : 1);
  const qreal nameHeight = 22;
  const qreal lineHeight = line.height() + 2;
  const qreal kindHeight = content_.kind.empty() ? 0 : lineHeight;
  const qreal total = nameHeight + placeLines * lineHeight + kindHeight;
  qreal y = area.center().y() - total / 2 - 2;

  painter.setFont(nameFont());
  painter.setPen(palette[Role::text]);
  painter.drawText(QRectF(textX, y, textWidth, nameHeight), Qt::AlignVCenter | Qt::AlignLeft,
                   QFontMetrics(nameFont())
                       .elidedText(QString::fromStdString(content_.name), Qt::ElideRight,
                                   static_cast<int>(textWidth)));
  y += nameHeight;
  painter.setFont(lineFont());
  painter.setPen(palette[Role::quiet]);
  if (placeLines > 0) {
    const QRectF placeRect(textX, y, textWidth, placeLines * lineHeight);
    if (content_.placeLines > 1) {
      QTextOption option;
      option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
      painter.drawText(placeRect, place, option);
    } else {
      painter.drawText(placeRect, Qt::AlignVCenter | Qt::AlignLeft,
                       line.elidedText(place, Qt::ElideMiddle, textWidth));
    }
    y += placeLines * lineHeight;
  }
  if (kindHeight > 0) {
    painter.drawText(
        QRectF(textX, y, textWidth, lineHeight), Qt::AlignVCenter | Qt::AlignLeft,
        line.elidedText(QString::fromStdString(content_.kind), Qt::ElideRight, textWidth));
  }
}

}  // namespace vesk
