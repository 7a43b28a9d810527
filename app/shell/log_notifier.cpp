#include "app/shell/log_notifier.h"

#include "app/base/log.h"

namespace vesk {

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
