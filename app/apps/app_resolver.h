#pragma once
// AppResolver: turns the user's application references (a display name, a desktop id or the
// path of a desktop entry) into applications, resolves the configured open-with, link and
// terminal choices with their problem messages, and picks or lists the applications for a file.
//
// Pure functions apart from the catalog look-ups they make; they run off the main thread.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/search/item.h"

namespace vesk {

class AppCatalog;
class SearchIndex;

namespace AppResolver {

// One known application: the names the user may call it by (its display name, then its entry's
// file name without extension) and its entry's path.
struct App {
  std::vector<std::string> names;
  std::string url;
  bool operator==(const App&) const = default;
};

// The applications of a search index, in index order.
std::vector<App> knownApps(const SearchIndex& index);

// The application a reference names, or none. `home` expands a leading "~".
std::optional<std::string> resolve(std::string_view reference, const std::vector<App>& among,
                                   const AppCatalog& catalog, const std::string& home);

// The MIME type (or "media/*") a type key of open_with stands for: a key with "/" as written,
// a common type identifier by table; none for any other key.
std::optional<std::string> typeForKey(std::string_view key);
// Whether an open_with key names a type rather than a file extension.
bool isTypeKey(std::string_view key);

struct Links {
  std::map<std::string, std::string> apps;  // scheme → application path
  std::vector<std::string> problems;
};
// open_links resolved; "https" also serves "http" unless "http" has its own entry.
Links links(const std::map<std::string, std::string>& table, const std::vector<App>& among,
            const AppCatalog& catalog, const std::string& home);

struct Configured {
  std::map<std::string, std::string> openWith;  // key → application path
  std::map<std::string, std::string> openLinks;
  std::optional<std::string> terminal;
  std::vector<std::string> problems;  // open_with, then open_links, then the terminal
};
Configured resolveConfigured(const std::map<std::string, std::string>& openWith,
                             const std::map<std::string, std::string>& openLinks,
                             const std::string& terminal, const std::vector<App>& among,
                             const AppCatalog& catalog, const std::string& home);

// The configured application for a file: its extension's entry, else the most specific type
// entry its type conforms to; none when the file opens with its default application.
std::optional<std::string> app(const std::string& forFile,
                               const std::map<std::string, std::string>& openWith,
                               const AppCatalog& catalog);

// Every application able to open the file, as application items named as the user knows them.
std::vector<Item> apps(const std::string& toOpen, const std::vector<App>& among,
                       const AppCatalog& catalog);

}  // namespace AppResolver
}  // namespace vesk
