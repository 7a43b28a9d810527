#include "app/shell/log_panel.h"

#include "app/base/log.h"
#include "app/clipboard/clipboard_history.h"

namespace vesk {

void LogPanel::present(LauncherController::Mode mode) {
  if (mode == LauncherController::Mode::launcher) {
    Log::app.info("Presenting the launcher");
  } else {
    const size_t clips =
        controller_.clipboard() != nullptr ? controller_.clipboard()->index().count() : 0;
    Log::app.info("Presenting the clipboard history (%zu clips)", clips);
  }
  controller_.prepareToShow(mode);
}

void LogPanel::reloadRows() {
  Log::app.debug("The list shows %zu rows", controller_.tableRows().size());
}

void LogPanel::insertRows(size_t from, size_t to) {
  Log::app.debug("The list grows from %zu to %zu rows", from, to);
}

void LogPanel::removeRows(size_t from, size_t to) {
  Log::app.debug("The list shrinks from %zu to %zu rows", to, from);
}

void LogPanel::selectRow(size_t row) {
  if (row < controller_.rows().size()) {
    Log::app.debug("Selected: %s", controller_.title(controller_.rows()[row]).c_str());
  }
}

void LogPanel::dismiss() {
  Log::app.info("Dismissing the launcher");
  controller_.reset();
}

}  // namespace vesk
