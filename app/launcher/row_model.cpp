#include "app/launcher/row_model.h"

#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_panel.h"
#include "app/launcher/panel_content.h"
#include "app/launcher/result_cell.h"

namespace vesk {

RowModel::RowModel(LauncherPanel& panel, QObject* parent)
    : QAbstractListModel(parent), panel_(panel) {}

int RowModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_);
}

QVariant RowModel::data(const QModelIndex& index, int role) const {
  const Rows& rows = panel_.launcher().tableRows();
  const auto row = static_cast<size_t>(index.row());
  if (role != ResultCell::kContentRole || row >= rows.size()) {
    return {};
  }
  return QVariant::fromValue(PanelContent::cell(rows[row], row, panel_.context()));
}

void RowModel::reload() {
  beginResetModel();
  shown_ = panel_.launcher().tableRows().size();
  endResetModel();
}

void RowModel::insert(size_t from, size_t to) {
  if (to <= from || from != shown_) {
    reload();
    return;
  }
  beginInsertRows({}, static_cast<int>(from), static_cast<int>(to) - 1);
  shown_ = to;
  endInsertRows();
}

void RowModel::remove(size_t from, size_t to) {
  if (to <= from || to != shown_) {
    reload();
    return;
  }
  beginRemoveRows({}, static_cast<int>(from), static_cast<int>(to) - 1);
  shown_ = from;
  endRemoveRows();
}

void RowModel::changed() {
  if (shown_ > 0) {
    emit dataChanged(index(0), index(static_cast<int>(shown_) - 1));
  }
}

}  // namespace vesk
