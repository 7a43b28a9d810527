#pragma once
// FakeIconSources: icon sources with no icon theme (every icon falls back to Vesk's drawings),
// types named after their extension, and applications by desktop id from a table the test fills.
// Enough for an IconStore in controller tests; the store's own tests use the real sources.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/icon_sources.h"

namespace vesk {

class FakeIconSources final : public IconSources {
 public:
  std::string findIcon(const std::string&, const std::vector<std::string>&, int) const override {
    return {};
  }
  void forgetThemes() const override {}
  FileType folderType() const override { return {{}, "folder"}; }
  FileType typeForExtension(const std::string& extension) const override {
    return {{}, extension.empty() ? std::string() : extension + " file"};
  }
  FileType appType() const override { return {{}, "desktop entry"}; }
  Icon appIcon(const std::string&) const override { return {}; }
  std::optional<App> appForDesktopId(const std::string& desktopId) const override {
    const auto found = apps.find(desktopId);
    return found == apps.end() ? std::nullopt : std::optional<App>(found->second);
  }

  // Desktop id → the application it resolves to.
  std::map<std::string, App> apps;
};

}  // namespace vesk
