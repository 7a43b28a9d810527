#include "app/apps/app_resolver.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <utility>

#include "core/base/regular_file.h"
#include "core/search/search_index.h"
#include "platform/app_catalog.h"

namespace vesk {
namespace AppResolver {

namespace {

std::string lowered(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && lowered(a) == lowered(b);
}

std::string fileStem(const std::string& path) {
  return std::string(ItemPath::deletingExtension(ItemPath::lastComponent(path)));
}

// The terminal setting's default, which also names the desktop's own terminal.
constexpr std::string_view kDefaultTerminal = "Terminal";

// Type identifiers people write in configurations, and the MIME types they stand for here.
constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kTypeTable = {{
    {"public.image", "image/*"},
    {"public.png", "image/png"},
    {"public.jpeg", "image/jpeg"},
    {"public.plain-text", "text/plain"},
    {"public.text", "text/*"},
    {"com.adobe.pdf", "application/pdf"},
    {"net.daringfireball.markdown", "text/markdown"},
    {"public.html", "text/html"},
    {"public.movie", "video/*"},
    {"public.audio", "audio/*"},
}};

}  // namespace

std::vector<App> knownApps(const SearchIndex& index) {
  std::vector<App> apps;
  for (const Item& item : index.items()) {
    if (!item.isApp()) {
      continue;
    }
    const std::string& url = item.kind.url;
    App app{{item.name}, url};
    std::string stem = fileStem(url);
    if (!stem.empty() && stem != item.name) {
      app.names.push_back(std::move(stem));
    }
    apps.push_back(std::move(app));
  }
  return apps;
}

namespace {

bool isPathReference(std::string_view reference) {
  return reference.starts_with("/") || reference.starts_with("~");
}

std::string pathOf(std::string_view reference, const std::string& home) {
  std::string path(reference);
  if (reference == "~" || reference.starts_with("~/")) {
    path = home + path.substr(1);
  }
  return path;
}

// An entry named by its path runs what it says: it counts only when no one but the user (or
// root) may change it.
bool isUntrustedEntry(const std::string& path) {
  const RegularFile file = RegularFile::check(path, SIZE_MAX);
  return file.problem == RegularFile::Problem::none && !file.isTrusted();
}

// The problem of a setting whose app wasn't found, saying why when the entry is there.
std::string missing(const std::string& setting, const std::string& reference,
                    const std::string& home) {
  if (isPathReference(reference) && isUntrustedEntry(pathOf(reference, home))) {
    return setting + ": \"" + reference + "\" can be changed by other users, so it isn't used";
  }
  return setting + ": can't find the app \"" + reference + "\"";
}

}  // namespace

std::optional<std::string> resolve(std::string_view reference, const std::vector<App>& among,
                                   const AppCatalog& catalog, const std::string& home) {
  if (isPathReference(reference)) {
    std::string path = pathOf(reference, home);
    std::error_code error;
    if (path.ends_with(".desktop") && std::filesystem::exists(path, error) &&
        !isUntrustedEntry(path)) {
      return path;
    }
    return std::nullopt;
  }
  for (const App& app : among) {
    for (const std::string& name : app.names) {
      if (equalsIgnoringCase(name, reference)) {
        return app.url;
      }
    }
  }
  if (reference.find('.') != std::string_view::npos &&
      reference.find(' ') == std::string_view::npos) {
    return catalog.pathForDesktopId(std::string(reference));
  }
  return std::nullopt;
}

bool isTypeKey(std::string_view key) {
  return key.find('.') != std::string_view::npos || key.find('/') != std::string_view::npos;
}

std::optional<std::string> typeForKey(std::string_view key) {
  if (key.find('/') != std::string_view::npos) {
    return std::string(key);
  }
  for (const auto& [identifier, mime] : kTypeTable) {
    if (identifier == key) {
      return std::string(mime);
    }
  }
  return std::nullopt;
}

Links links(const std::map<std::string, std::string>& table, const std::vector<App>& among,
            const AppCatalog& catalog, const std::string& home) {
  Links result;
  for (const auto& [scheme, reference] : table) {
    if (auto app = resolve(reference, among, catalog, home)) {
      result.apps.emplace(scheme, std::move(*app));
    } else {
      result.problems.push_back(missing("open_links." + scheme, reference, home));
    }
  }
  if (!table.contains("http")) {
    if (const auto https = result.apps.find("https"); https != result.apps.end()) {
      result.apps.emplace("http", https->second);
    }
  }
  return result;
}

Configured resolveConfigured(const std::map<std::string, std::string>& openWith,
                             const std::map<std::string, std::string>& openLinks,
                             const std::string& terminal, const std::vector<App>& among,
                             const AppCatalog& catalog, const std::string& home) {
  Configured result;
  for (const auto& [key, reference] : openWith) {
    if (isTypeKey(key)) {
      const auto type = typeForKey(key);
      if (!type || !catalog.isKnownType(*type)) {
        result.problems.push_back("open_with \"" + key + "\" isn't a known file type");
        continue;
      }
    }
    if (auto app = resolve(reference, among, catalog, home)) {
      result.openWith.emplace(key, std::move(*app));
    } else {
      result.problems.push_back(missing("open_with." + key, reference, home));
    }
  }
  Links resolvedLinks = links(openLinks, among, catalog, home);
  result.openLinks = std::move(resolvedLinks.apps);
  result.problems.insert(result.problems.end(), resolvedLinks.problems.begin(),
                         resolvedLinks.problems.end());
  result.terminal = resolve(terminal, among, catalog, home);
  // The default "Terminal" names the desktop's own terminal when no app is called so, so that
  // a fresh desktop has no problem to show.
  if (!result.terminal && equalsIgnoringCase(terminal, kDefaultTerminal)) {
    result.terminal = catalog.systemTerminal();
  }
  if (!result.terminal) {
    result.problems.push_back(missing("actions.terminal", terminal, home));
  }
  return result;
}

std::optional<std::string> app(const std::string& forFile,
                               const std::map<std::string, std::string>& openWith,
                               const AppCatalog& catalog) {
  const std::string name(ItemPath::lastComponent(forFile));
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) {
    if (const auto entry = openWith.find(lowered(name.substr(dot + 1))); entry != openWith.end()) {
      return entry->second;
    }
  }
  const auto fileType = catalog.typeOfFile(forFile);
  if (!fileType) {
    return std::nullopt;
  }
  std::vector<std::pair<std::string, std::string>> collected;  // type → application
  for (const auto& [key, application] : openWith) {
    if (!isTypeKey(key)) {
      continue;
    }
    const auto type = typeForKey(key);
    if (type && catalog.isKnownType(*type) && catalog.conforms(*fileType, *type)) {
      collected.emplace_back(*type, application);
    }
  }
  for (const auto& [type, application] : collected) {
    const bool mostSpecific = std::all_of(collected.begin(), collected.end(), [&](const auto& o) {
      return catalog.conforms(type, o.first);
    });
    if (mostSpecific) {
      return application;
    }
  }
  if (!collected.empty()) {
    return collected.front().second;
  }
  return std::nullopt;
}

std::vector<Item> apps(const std::string& toOpen, const std::vector<App>& among,
                       const AppCatalog& catalog) {
  std::vector<Item> items;
  for (const std::string& path : catalog.appsToOpen(toOpen)) {
    std::string name = fileStem(path);
    const auto known = std::find_if(among.begin(), among.end(),
                                    [&path](const App& app) { return app.url == path; });
    if (known != among.end() && !known->names.empty()) {
      name = known->names.front();
    }
    items.push_back(Item::app(std::move(name), path, path));
  }
  return items;
}

}  // namespace AppResolver
}  // namespace vesk
