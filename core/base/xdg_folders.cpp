#include "core/base/xdg_folders.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <utility>

#include <pwd.h>
#include <unistd.h>

namespace vesk {

namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

std::string joined(const std::string& folder, std::string_view relative) {
  std::string path = folder == "/" ? std::string() : folder;
  path += '/';
  path.append(relative);
  return path;
}

// The value of `XDG_DOWNLOAD_DIR="$HOME/Downloads"` in a user-dirs.dirs file: a quoted
// path, absolute or starting with $HOME. Empty when the line isn't there or doesn't parse.
std::string downloadLine(const std::string& file, const std::string& home) {
  std::ifstream in(file);
  std::string line;
  constexpr std::string_view kKey = "XDG_DOWNLOAD_DIR=\"";
  while (std::getline(in, line)) {
    if (!line.starts_with(kKey) || !line.ends_with('"') || line.size() <= kKey.size()) {
      continue;
    }
    std::string value = line.substr(kKey.size(), line.size() - kKey.size() - 1);
    if (value.starts_with("$HOME/")) {
      value = joined(home, std::string_view(value).substr(6));
    }
    return value.starts_with('/') ? withoutTrailingSlashes(value) : std::string();
  }
  return {};
}

}  // namespace

XDGFolders::XDGFolders()
    : XDGFolders([](const char* name) {
        const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): see header
        return value == nullptr ? std::string() : std::string(value);
      }) {}

XDGFolders::XDGFolders(Lookup lookup) : lookup_(std::move(lookup)) {}

std::string XDGFolders::home() const {
  std::string home = lookup_("HOME");
  if (home.empty()) {
    const passwd* entry = getpwuid(getuid());  // NOLINT(concurrency-mt-unsafe): see header
    if (entry != nullptr && entry->pw_dir != nullptr) {
      home = entry->pw_dir;
    }
  }
  return home.starts_with('/') ? withoutTrailingSlashes(home) : "/";
}

std::string XDGFolders::absolute(const char* name) const {
  std::string value = lookup_(name);
  return value.starts_with('/') ? withoutTrailingSlashes(std::move(value)) : std::string();
}

std::string XDGFolders::belowHome(std::string_view relative) const {
  return joined(home(), relative);
}

std::string XDGFolders::configHome() const {
  const std::string set = absolute("XDG_CONFIG_HOME");
  return set.empty() ? belowHome(".config") : set;
}

std::string XDGFolders::dataHome() const {
  const std::string set = absolute("XDG_DATA_HOME");
  return set.empty() ? belowHome(".local/share") : set;
}

std::string XDGFolders::stateHome() const {
  const std::string set = absolute("XDG_STATE_HOME");
  return set.empty() ? belowHome(".local/state") : set;
}

std::string XDGFolders::cacheHome() const {
  const std::string set = absolute("XDG_CACHE_HOME");
  return set.empty() ? belowHome(".cache") : set;
}

std::optional<std::string> XDGFolders::runtimeDir() const {
  std::string set = absolute("XDG_RUNTIME_DIR");
  return set.empty() ? std::nullopt : std::optional(std::move(set));
}

std::vector<std::string> XDGFolders::dataDirs() const {
  std::vector<std::string> dirs;
  const std::string value = lookup_("XDG_DATA_DIRS");
  if (value.empty()) {
    return {"/usr/local/share", "/usr/share"};
  }
  size_t start = 0;
  while (start < value.size()) {
    const size_t end = std::min(value.find(':', start), value.size());
    std::string dir = value.substr(start, end - start);
    if (dir.starts_with('/')) {
      dir = withoutTrailingSlashes(std::move(dir));
      if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) {
        dirs.push_back(std::move(dir));
      }
    }
    start = end + 1;
  }
  return dirs;
}

std::string XDGFolders::downloads() const {
  const std::string set = downloadLine(joined(configHome(), "user-dirs.dirs"), home());
  return set.empty() ? belowHome("Downloads") : set;
}

}  // namespace vesk
