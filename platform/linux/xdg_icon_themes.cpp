#include "platform/linux/xdg_icon_themes.h"

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string_view>

#include "core/base/regular_file.h"
#include "core/base/xdg_folders.h"

namespace vesk {

namespace {

constexpr std::array<std::string_view, 3> kExtensions = {".png", ".svg", ".xpm"};
constexpr const char* kLastTheme = "hicolor";
// The largest theme index read; real ones are a few tens of kilobytes.
constexpr size_t kMaxIndexBytes = size_t{4} << 20;

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

// The non-empty parts between separators, trimmed.
std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(separator, start), text.size());
    std::string part = trimmed(text.substr(start, end - start));
    if (!part.empty()) {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  return parts;
}

int number(const std::string& text, int fallback) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || value < 0 || value > 100000) {
    return fallback;
  }
  return static_cast<int>(value);
}

// Sections of an index.theme: section name → key → value. Lines that are neither a section
// header nor a key are skipped, so a damaged file gives what it still holds.
using IniSections = std::unordered_map<std::string, std::unordered_map<std::string, std::string>>;

IniSections readIni(const std::string& path) {
  IniSections sections;
  // Anyone who can write an icon folder could leave a FIFO here: only a regular file is read.
  const RegularFile file = RegularFile::read(path, kMaxIndexBytes);
  if (file.problem != RegularFile::Problem::none) {
    return sections;
  }
  std::istringstream in(file.bytes);
  std::string line;
  std::string section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.empty() || line[0] == '#') {
      continue;
    }
    if (line[0] == '[') {
      const auto close = line.find(']');
      section = close == std::string::npos ? std::string() : line.substr(1, close - 1);
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos || section.empty()) {
      continue;
    }
    const std::string key = trimmed(std::string_view(line).substr(0, equals));
    if (!key.empty()) {
      sections[section][key] = trimmed(std::string_view(line).substr(equals + 1));
    }
  }
  return sections;
}

// How far a folder's images are from `pixels`: 0 when the folder fits that size.
template <class Directory>
int distance(const Directory& directory, int pixels) {
  using Type = typename Directory::Type;
  int low = directory.size;
  int high = directory.size;
  if (directory.type == Type::scalable) {
    low = directory.minSize;
    high = directory.maxSize;
  } else if (directory.type == Type::threshold) {
    low = directory.size - directory.threshold;
    high = directory.size + directory.threshold;
  }
  low *= directory.scale;
  high *= directory.scale;
  if (pixels < low) {
    return low - pixels;
  }
  if (pixels > high) {
    return pixels - high;
  }
  return 0;
}

}  // namespace

XdgIconThemes::Paths XdgIconThemes::Paths::standard() {
  Paths paths;
  const XDGFolders folders;
  paths.themeRoots.push_back(folders.dataHome() + "/icons");
  paths.themeRoots.push_back(folders.home() + "/.icons");
  for (const std::string& dir : folders.dataDirs()) {
    paths.themeRoots.push_back(dir + "/icons");
    paths.pixmapRoots.push_back(dir + "/pixmaps");
  }
  return paths;
}

XdgIconThemes::XdgIconThemes(Paths paths) : paths_(std::move(paths)) {}

const XdgIconThemes::Theme& XdgIconThemes::theme(const std::string& name) {
  if (const auto found = themes_.find(name); found != themes_.end()) {
    return found->second;
  }
  Theme& theme = themes_[name];
  std::error_code error;
  std::optional<IniSections> index;
  for (const std::string& root : paths_.themeRoots) {
    const std::string file = root + "/" + name + "/index.theme";
    if (std::filesystem::is_regular_file(file, error)) {
      index = readIni(file);
      break;
    }
  }
  if (!index) {
    return theme;
  }
  theme.installed = true;
  const auto& header = (*index)["Icon Theme"];
  if (const auto inherits = header.find("Inherits"); inherits != header.end()) {
    theme.parents = split(inherits->second, ',');
  }
  std::vector<std::string> folders;
  for (const char* key : {"Directories", "ScaledDirectories"}) {
    if (const auto list = header.find(key); list != header.end()) {
      for (std::string& folder : split(list->second, ',')) {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
          folders.push_back(std::move(folder));
        }
      }
    }
  }
  for (const std::string& folder : folders) {
    const auto& keys = (*index)[folder];
    const auto value = [&keys](const char* key) {
      const auto found = keys.find(key);
      return found == keys.end() ? std::string() : found->second;
    };
    Directory directory;
    directory.size = number(value("Size"), 0);
    if (directory.size == 0) {
      continue;  // A folder without a size can't be matched to one.
    }
    directory.minSize = number(value("MinSize"), directory.size);
    directory.maxSize = number(value("MaxSize"), directory.size);
    directory.threshold = number(value("Threshold"), 2);
    directory.scale = std::max(1, number(value("Scale"), 1));
    const std::string type = value("Type");
    directory.type = type == "Fixed"      ? Directory::Type::fixed
                     : type == "Scalable" ? Directory::Type::scalable
                                          : Directory::Type::threshold;
    const size_t position = theme.directories.size();
    theme.directories.push_back(directory);
    for (const std::string& root : paths_.themeRoots) {
      const std::filesystem::path dir = std::filesystem::path(root) / name / folder;
      for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
           it.increment(error)) {
        const std::string extension = it->path().extension().string();
        if (std::find(kExtensions.begin(), kExtensions.end(), extension) == kExtensions.end()) {
          continue;
        }
        theme.icons[it->path().stem().string()].push_back({position, it->path().string()});
      }
      error.clear();
    }
  }
  return theme;
}

void XdgIconThemes::addChain(const std::string& name, std::vector<const Theme*>& chain,
                             std::vector<std::string>& seen) {
  if (name.empty() || name == kLastTheme ||
      std::find(seen.begin(), seen.end(), name) != seen.end()) {
    return;
  }
  seen.push_back(name);
  const Theme& found = theme(name);
  if (!found.installed) {
    return;
  }
  chain.push_back(&found);
  for (const std::string& parent : found.parents) {
    addChain(parent, chain, seen);
  }
}

std::string XdgIconThemes::find(const std::string& themeName, const std::vector<std::string>& names,
                                int pixels) {
  std::vector<const Theme*> chain;
  std::vector<std::string> seen;
  addChain(themeName, chain, seen);
  addChain(kFallbackTheme, chain, seen);
  if (const Theme& last = theme(kLastTheme); last.installed) {
    chain.push_back(&last);
  }
  for (const Theme* theme : chain) {
    for (const std::string& name : names) {
      const auto found = theme->icons.find(name);
      if (found == theme->icons.end()) {
        continue;
      }
      // The nearest size wins; between two as near, the larger one, as shrinking stays sharp.
      const Entry* best = nullptr;
      int bestDistance = INT_MAX;
      int bestSize = 0;
      for (const Entry& entry : found->second) {
        const Directory& directory = theme->directories[entry.directory];
        const int d = distance(directory, pixels);
        const int size = directory.size * directory.scale;
        if (d < bestDistance || (d == bestDistance && size > bestSize)) {
          best = &entry;
          bestDistance = d;
          bestSize = size;
        }
      }
      if (best != nullptr) {
        return best->file;
      }
    }
  }
  for (const std::string& name : names) {
    if (std::string file = pixmap(name); !file.empty()) {
      return file;
    }
  }
  return {};
}

std::string XdgIconThemes::pixmap(const std::string& name) const {
  std::error_code error;
  for (const std::string& root : paths_.pixmapRoots) {
    for (const std::string_view extension : kExtensions) {
      std::string file = root + "/" + name;
      file += extension;
      if (std::filesystem::is_regular_file(file, error)) {
        return file;
      }
    }
  }
  return {};
}

}  // namespace vesk
