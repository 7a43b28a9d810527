#pragma once
// GioAppCatalog: AppCatalog over GIO's GDesktopAppInfo and content types (shared-mime-info and
// the mimeapps.list associations that freedesktop desktops share). Entries are read through
// DesktopEntries, never by GIO's own blocking listing.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/app_catalog.h"
#include "platform/linux/desktop_entries.h"

namespace vesk {

class GioAppCatalog final : public AppCatalog {
 public:
  // The startup id of a launch, "vesk:<desktop id>:<pid>-<n>" with "_TIME<time>" when the
  // press time is known: a window or process carrying it is one Vesk started from that entry.
  static std::string startupId(const std::string& appPath, uint32_t userTime);
  // The desktop id ("org.gnome.Calculator") named by a startup id Vesk made; none for others.
  static std::optional<std::string> launchedDesktopId(std::string_view startupId);

  // A larger desktop entry is not an application: real ones, with every translation, stay
  // well under 100 KB.
  static constexpr size_t kMaxEntryBytes = DesktopEntries::kMaxEntryBytes;

  // The application folders of the process environment.
  GioAppCatalog() = default;

  std::optional<std::string> listedName(const std::string& path) const override;
  std::optional<Entry> listedEntry(const std::string& path) const override;
  std::optional<std::string> pathForDesktopId(const std::string& desktopId) const override;
  bool isKnownType(const std::string& type) const override;
  std::optional<std::string> typeOfFile(const std::string& path) const override;
  bool conforms(const std::string& type, const std::string& other) const override;
  std::vector<std::string> appsToOpen(const std::string& path) const override;
  std::optional<std::string> defaultAppToOpen(const std::string& path) const override;
  std::optional<std::string> systemTerminal() const override;
  bool isTerminalEmulator(const std::string& path) const override;
  Result<void> launch(const std::string& appPath, const LaunchOptions& options) const override;
  Result<void> open(const std::vector<std::string>& targets, const std::string& appPath,
                    const LaunchOptions& options) const override;
  Result<void> openWithDefault(const std::string& target,
                               const LaunchOptions& options) const override;

 private:
  DesktopEntries entries_;
};

}  // namespace vesk
