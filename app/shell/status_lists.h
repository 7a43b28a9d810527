#pragma once
// StatusLists: the two lists the launcher shows above its results: the problems (the
// platform's first, then the configuration's, the hot keys' and the applications') and the
// clipboard notices. Each list is rebuilt whole from its sources and logs what is new.
//
// Main thread only.

#include <string>
#include <vector>

#include "app/clipboard/clipboard_notice.h"

namespace vesk {

class StatusLists final {
 public:
  // Problems new to the list are logged once, except the configuration's: the config store
  // logs those as it reads them.
  void publishProblems(const std::vector<std::string>& platform,
                       const std::vector<std::string>& config,
                       const std::vector<std::string>& hotkeys,
                       const std::vector<std::string>& apps);
  // The notices are logged whenever the list changes.
  void publishClipboardNotices(bool canRead, bool canPaste, bool isPaused);

  const std::vector<std::string>& problems() const { return problems_; }
  const std::vector<ClipboardNotice>& clipboardNotices() const { return notices_; }

 private:
  std::vector<std::string> problems_;
  std::vector<ClipboardNotice> notices_;
};

}  // namespace vesk
