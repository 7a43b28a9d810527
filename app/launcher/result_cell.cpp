#include "app/launcher/result_cell.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace vesk {

namespace {

using Role = Palette::Role;
constexpr int kSideInset = 8;  // the highlight's distance from the panel's edges
constexpr int kPadding = 10;   // inside the highlight
constexpr int kGap = 10;       // icon to title
constexpr int kRadius = 8;
constexpr int kCapHeight = 20;

QFont sized(const QFont& base, qreal pixels, QFont::Weight weight = QFont::Normal) {
  QFont font = base;
  font.setPixelSize(static_cast<int>(pixels));
  font.setWeight(weight);
  return font;
}

}  // namespace

int ResultCell::capWidth(const QString& cap, const QFont& font) {
  return std::max(kCapHeight, QFontMetrics(font).horizontalAdvance(cap) + 10);
}

int ResultCell::drawCap(QPainter& painter, QPointF at, const QString& cap, const QFont& font,
                        const Palette& palette, bool danger) {
  const int width = capWidth(cap, font);
  const QRectF box(at, QSizeF(width, kCapHeight));
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(danger ? palette[Role::dangerFill] : palette[Role::key]);
  painter.drawRoundedRect(box, 5, 5);
  painter.setFont(font);
  painter.setPen(danger ? palette[Role::danger] : palette[Role::quiet]);
  painter.drawText(box, Qt::AlignCenter, cap);
  painter.restore();
  return width;
}

QSize ResultCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& /*index*/) const {
  return {option.rect.width(), kHeight};
}

void ResultCell::paint(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index) const {
  const auto content = index.data(kContentRole).value<CellContent>();
  const Palette palette = Palette::current();
  const bool selected = option.state.testFlag(QStyle::State_Selected);
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  painter->setRenderHint(QPainter::TextAntialiasing);

  const QRectF row = QRectF(option.rect).adjusted(kSideInset, 1, -kSideInset, -1);
  if (selected || content.isDanger) {
    painter->setPen(Qt::NoPen);
    painter->setBrush(content.isDanger ? palette[Role::dangerFill] : palette[Role::selection]);
    painter->drawRoundedRect(row, kRadius, kRadius);
  }

  const qreal scale = painter->device()->devicePixelRatioF();
  IconStore* store = icons_ ? icons_() : nullptr;
  const qreal iconX = row.left() + kPadding;
  // On whole pixels: the bitmaps are drawn for the device's grid.
  const qreal iconY = std::round(row.center().y() - kIconSize / 2.0);
  if (const auto icon = PanelIcons::image(content.icon, IconSize::row, store, scale)) {
    painter->drawImage(QRectF(iconX, iconY, kIconSize, kIconSize), *icon);
  }

  const QFont base = QApplication::font();
  const QFont titleFont = sized(base, 14, QFont::Normal);
  const QFont detailFont = sized(base, 12.5);
  const QFont capFont = sized(base, 11.5, QFont::Medium);

  // From the right: the open key's cap, the tag, the pin.
  qreal right = row.right() - kPadding;
  if (!content.mark.empty()) {
    // One cap per key of the shortcut ("Ctrl+Enter": "Ctrl", "Enter"); no key's word is "+".
    const QStringList caps = QString::fromStdString(content.mark).split(u'+');
    for (auto cap = caps.rbegin(); cap != caps.rend(); ++cap) {
      right -= capWidth(*cap, capFont);
      drawCap(*painter, QPointF(right, row.center().y() - kCapHeight / 2.0), *cap, capFont, palette,
              content.isDanger);
      right -= 3;
    }
    right -= 5;
  }
  if (!content.tag.empty()) {
    const QString tag = QString::fromStdString(content.tag);
    const int width = QFontMetrics(detailFont).horizontalAdvance(tag);
    right -= width;
    painter->setFont(detailFont);
    painter->setPen(palette[Role::quiet]);
    painter->drawText(QRectF(right, row.top(), width + 1, row.height()), Qt::AlignVCenter, tag);
    right -= 8;
  }
  if (content.isPinned) {
    right -= kIconSize;
    if (const auto pin = PanelIcons::image(IconRef::symbol("pin"), IconSize::row, store, scale)) {
      painter->drawImage(QRectF(right, iconY, kIconSize, kIconSize), *pin);
    }
    right -= 4;
  }

  // The title, then the detail in what is left.
  const qreal textX = iconX + kIconSize + kGap;
  const qreal available = std::max<qreal>(0, right - textX);
  const QFontMetricsF titleMetrics(titleFont);
  const QString fullTitle = QString::fromStdString(content.title);
  const qreal titleWidth = std::min(available, titleMetrics.horizontalAdvance(fullTitle));
  const QString title = titleMetrics.elidedText(
      fullTitle, content.cutsAtTheEnd ? Qt::ElideRight : Qt::ElideMiddle, titleWidth + 0.5);
  painter->setFont(titleFont);
  painter->setPen(content.isDanger       ? palette[Role::danger]
                  : content.isQuietTitle ? palette[Role::quiet]
                                         : palette[Role::text]);
  painter->drawText(QRectF(textX, row.top(), titleWidth + 1, row.height()),
                    Qt::AlignVCenter | Qt::AlignLeft, title);
  const qreal detailX = textX + titleMetrics.horizontalAdvance(title) + 8;
  const qreal detailRoom = right - detailX;
  if (!content.detail.empty() && detailRoom > 24) {
    const QFontMetricsF metrics(detailFont);
    const QString detail =
        metrics.elidedText(QString::fromStdString(content.detail), Qt::ElideMiddle, detailRoom);
    painter->setFont(detailFont);
    painter->setPen(palette[Role::quiet]);
    painter->drawText(QRectF(detailX, row.top(), detailRoom, row.height()),
                      Qt::AlignVCenter | Qt::AlignLeft, detail);
  }
  painter->restore();
}

}  // namespace vesk
