#pragma once
// LogPanel: the launcher's view until the panel window exists. It presents by preparing the
// controller and logging "Presenting …", and it logs what the list would show at debug level.
// No window is on screen, so it is never visible: every hot key press presents again.
//
// Main thread only.

#include <string>

#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_view.h"

namespace vesk {

class LogPanel final : public LauncherView {
 public:
  explicit LogPanel(LauncherController& controller) : controller_(controller) {}

  void present(LauncherController::Mode mode);

  void reloadRows() override;
  void reconfigureVisibleRows() override {}
  void insertRows(size_t from, size_t to) override;
  void removeRows(size_t from, size_t to) override;
  void selectRow(size_t row) override;
  void setSearchText(const std::string&, size_t) override {}
  void setPlaceholder(const std::string&) override {}
  void setSymbol(const std::string&) override {}
  void setExpanded(bool, bool) override {}
  void setClipboardLook(bool) override {}
  void refreshStage() override {}
  void setResultsVisible(bool) override {}
  void drawNow() override {}
  void dismiss() override;
  bool isVisible() const override { return false; }

 private:
  LauncherController& controller_;
};

}  // namespace vesk
