#pragma once
// GioIconSources: IconSources over GIO's content types (shared-mime-info) and desktop entries,
// with the icon themes of the freedesktop icon folders read by XdgIconThemes. Entries are read
// through DesktopEntries, so an entry that is a FIFO or a device never blocks a render.

#include <memory>
#include <mutex>

#include "platform/icon_sources.h"
#include "platform/linux/desktop_entries.h"
#include "platform/linux/xdg_icon_themes.h"

namespace vesk {

class GioIconSources final : public IconSources {
 public:
  // Themes under the folders of the XDG environment at construction.
  GioIconSources();
  explicit GioIconSources(XdgIconThemes::Paths paths);

  std::string findIcon(const std::string& theme, const std::vector<std::string>& names,
                       int pixels) const override;
  void forgetThemes() const override;
  FileType folderType() const override;
  FileType typeForExtension(const std::string& extension) const override;
  FileType appType() const override;
  Icon appIcon(const std::string& entryPath) const override;
  std::optional<App> appForDesktopId(const std::string& desktopId) const override;

 private:
  mutable std::mutex mutex_;
  mutable XdgIconThemes themes_;
  DesktopEntries entries_;
};

}  // namespace vesk
