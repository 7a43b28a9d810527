#pragma once
// ResultCell: draws one row of the panel's list from its `CellContent`: the icon, the title
// (cut at the end or in the middle), the detail after it, the pin mark and the tag at the right,
// and on the selected row the open key's cap. An armed row is drawn in the danger role.
//
// Main thread. The model hands the content as the row's data (role `kContentRole`); the icons
// come from the store `icons` answers (none: rows are drawn without icons).

#include <QStyledItemDelegate>
#include <functional>
#include <utility>

#include "app/launcher/palette.h"
#include "app/launcher/panel_content.h"

namespace vesk {

class IconStore;

class ResultCell final : public QStyledItemDelegate {
 public:
  static constexpr int kContentRole = Qt::UserRole + 1;
  static constexpr int kHeight = 40;
  static constexpr int kIconSize = points(IconSize::row);

  ResultCell(std::function<IconStore*()> icons, QObject* parent)
      : QStyledItemDelegate(parent), icons_(std::move(icons)) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // Draws a key cap ("Ctrl", "Enter") with its top-left corner at `at`; its width.
  static int drawCap(QPainter& painter, QPointF at, const QString& cap, const QFont& font,
                     const Palette& palette, bool danger);
  static int capWidth(const QString& cap, const QFont& font);

 private:
  std::function<IconStore*()> icons_;
};

}  // namespace vesk
