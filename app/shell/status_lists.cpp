#include "app/shell/status_lists.h"

#include <algorithm>
#include <utility>

#include "app/base/log.h"

namespace vesk {

void StatusLists::publishProblems(const std::vector<std::string>& platform,
                                  const std::vector<std::string>& config,
                                  const std::vector<std::string>& hotkeys,
                                  const std::vector<std::string>& apps) {
  std::vector<std::string> problems = platform;
  const auto append = [&problems](const std::vector<std::string>& more) {
    problems.insert(problems.end(), more.begin(), more.end());
  };
  append(config);
  append(hotkeys);
  append(apps);
  for (const std::string& problem : problems) {
    const bool isConfig = std::find(config.begin(), config.end(), problem) != config.end();
    const bool known = std::find(problems_.begin(), problems_.end(), problem) != problems_.end();
    if (!isConfig && !known) {
      Log::app.error("Problem: %s", problem.c_str());
    }
  }
  problems_ = std::move(problems);
}

void StatusLists::publishClipboardNotices(bool canRead, bool canPaste, bool isPaused,
                                          bool historyUnreadable) {
  std::vector<ClipboardNotice> notices;
  if (historyUnreadable) {
    notices.push_back(ClipboardNotice::historyUnreadable);
  }
  if (!canRead) {
    notices.push_back(ClipboardNotice::cannotRead);
  }
  if (!canPaste) {
    notices.push_back(ClipboardNotice::needsAccessibility);
  }
  if (isPaused) {
    notices.push_back(ClipboardNotice::paused);
  }
  if (notices != notices_) {
    for (const ClipboardNotice notice : notices) {
      Log::app.info("Clipboard notice: %s", std::string(title(notice)).c_str());
    }
  }
  notices_ = std::move(notices);
}

}  // namespace vesk
