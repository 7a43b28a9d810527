#pragma once
// RowModel: the panel's list rows for Qt's list view: the controller's table rows, each drawn
// from its content. It follows the view calls (reload, insert, remove) so the list view only
// lays out what changed.

#include <QAbstractListModel>
#include <cstddef>

namespace vesk {

class LauncherPanel;

class RowModel final : public QAbstractListModel {
 public:
  RowModel(LauncherPanel& panel, QObject* parent);

  int rowCount(const QModelIndex& parent) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // The table rows changed entirely; rows [from, to) were added at the end or removed from it
  // (anything else reloads); the shown rows' contents changed.
  void reload();
  void insert(size_t from, size_t to);
  void remove(size_t from, size_t to);
  void changed();

 private:
  LauncherPanel& panel_;
  size_t shown_ = 0;
};

}  // namespace vesk
