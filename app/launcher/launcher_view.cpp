#include "app/launcher/launcher_view.h"

namespace vesk {

namespace {

class NoView final : public LauncherView {
 public:
  void reloadRows() override {}
  void reconfigureVisibleRows() override {}
  void insertRows(size_t, size_t) override {}
  void removeRows(size_t, size_t) override {}
  void selectRow(size_t) override {}
  void setSearchText(const std::string&, size_t) override {}
  void setPlaceholder(const std::string&) override {}
  void setSymbol(const std::string&) override {}
  void setExpanded(bool, bool) override {}
  void setClipboardLook(bool) override {}
  void refreshStage() override {}
  void setResultsVisible(bool) override {}
  void drawNow() override {}
  void dismiss() override {}
  bool isVisible() const override { return false; }
};

}  // namespace

LauncherView& LauncherView::none() {
  static NoView view;
  return view;
}

}  // namespace vesk
