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

void LogNotifier::update(const std::string& title, const std::string& body) {
  Log::app.info("Notification: %s: %s", title.c_str(), body.c_str());
}

void LogNotifier::failed(const std::string& title, const std::optional<std::string>& path,
                         const std::string& reason) {
  if (path) {
    Log::app.error("Notification: %s (%s): %s", title.c_str(), path->c_str(), reason.c_str());
  } else {
    Log::app.error("Notification: %s: %s", title.c_str(), reason.c_str());
  }
}

void LogNotifier::saved(const std::string& path) {
  Log::app.info("Notification: the clip was saved as %s", path.c_str());
}

void LogNotifier::zip(const std::string& path) {
  Log::app.error("Couldn't zip %s: zip archives aren't available in this build yet", path.c_str());
}

void LogNotifier::notice(const std::string& title, const std::string& body,
                         const std::string& /*action*/, std::function<void()> /*onClick*/) {
  Log::app.info("Notification: %s: %s", title.c_str(), body.c_str());
}

}  // namespace vesk
