#include "core/files/file_scanner.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <utility>

#include <dirent.h>
#include <fnmatch.h>
#include <fts.h>
#include <sys/stat.h>

namespace vesk {

namespace {

// Directory bundles that turn up on Linux disks shared with other systems. Lower case.
constexpr std::array<std::string_view, 6> kPackageExtensions = {
    "app", "bundle", "framework", "photoslibrary", "xcodeproj", "xcworkspace"};

struct FtsCloser {
  void operator()(FTS* fts) const { fts_close(fts); }
};

// The name test on the NUL-terminated name fts hands out, so globs need no copy.
bool skipsName(const IgnoreRules& rules, const char* name, size_t length) {
  const std::string_view view(name, length);
  if (rules.names.find(view) != rules.names.end()) {
    return true;
  }
  return std::ranges::any_of(rules.patterns, [&](const IgnoreRules::Pattern& pattern) {
    using Kind = IgnoreRules::Pattern::Kind;
    return pattern.kind == Kind::prefix   ? view.starts_with(pattern.text)
           : pattern.kind == Kind::suffix ? view.ends_with(pattern.text)
                                          : fnmatch(pattern.text.c_str(), name, 0) == 0;
  });
}

// Walks below `start` (an indexed folder: `startEntry`) and adds what the rules allow.
void walk(const std::string& start, int32_t startEntry, const IgnoreRules& rules, int maxDepth,
          FileIndex& index) {
  if (index.depth(startEntry) >= maxDepth) {
    return;
  }
  std::string startPath = start;
  std::array<char*, 2> argv = {startPath.data(), nullptr};
  const std::unique_ptr<FTS, FtsCloser> fts(
      fts_open(argv.data(), FTS_NOCHDIR | FTS_NOSTAT | FTS_PHYSICAL | FTS_XDEV, nullptr));
  if (!fts) {
    return;
  }
  PackageCache packages;
  while (FTSENT* item = fts_read(fts.get())) {
    if (item->fts_level == FTS_ROOTLEVEL) {
      if (item->fts_info != FTS_D) {
        fts_set(fts.get(), item, FTS_SKIP);
      }
      item->fts_number = startEntry;
      continue;
    }
    switch (item->fts_info) {
      case FTS_DC:
      case FTS_DNR:
      case FTS_DP:
      case FTS_ERR:
      case FTS_NS:
        continue;
      default:
        break;
    }
    const bool isDirectory = item->fts_info == FTS_D;
    const std::string_view path(item->fts_path, item->fts_pathlen);
    if (skipsName(rules, item->fts_name, item->fts_namelen) || rules.coversPath(path)) {
      if (isDirectory) {
        fts_set(fts.get(), item, FTS_SKIP);
      }
      continue;
    }
    const std::string_view name(item->fts_name, item->fts_namelen);
    const bool isPackage = isDirectory && packages.isPackage(name);
    const auto parent = static_cast<int32_t>(item->fts_parent->fts_number);
    const int32_t entry = index.add(name, parent, isDirectory && !isPackage);
    if (isDirectory) {
      item->fts_number = entry;
      if (isPackage || entry < 0 || index.depth(entry) >= maxDepth) {
        fts_set(fts.get(), item, FTS_SKIP);
      }
    }
  }
}

}  // namespace

bool PackageCache::isPackage(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    return false;
  }
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const auto cached = byExtension_.find(extension);
  if (cached != byExtension_.end()) {
    return cached->second;
  }
  const bool package = std::find(kPackageExtensions.begin(), kPackageExtensions.end(), extension) !=
                       kPackageExtensions.end();
  byExtension_.emplace(std::move(extension), package);
  return package;
}

bool FileScanner::isPackage(std::string_view path) {
  PackageCache cache;
  return cache.isPackage(path.substr(path.rfind('/') + 1));
}

void FileScanner::scan(const FileRules& rules, FileIndex& index) {
  for (size_t i = 0; i < rules.roots.size(); ++i) {
    const int32_t root = index.addRoot(rules.roots[i]);
    if (root >= 0) {
      walk(rules.roots[i], root, rules.ignoreInRoots[i], rules.maxDepth, index);
    }
  }
}

void FileScanner::scan(std::string_view folder, const FileRules& rules, FileIndex& index) {
  const auto entry = index.entry(folder);
  if (!entry || (index.flags(*entry) & FileIndex::kFolder) == 0) {
    return;
  }
  walk(std::string(folder), *entry, rules.ignoreAt(folder), rules.maxDepth, index);
}

std::vector<std::string> FileScanner::watchExclusions(const FileRules& rules, size_t limit) {
  std::vector<std::string> exclusions = rules.excludedPaths();
  if (exclusions.size() >= limit) {
    exclusions.resize(limit);
    return exclusions;
  }
  // Skipped folders at the top of a root (".git", "node_modules", caches) are often the
  // busiest; only folders are worth a place, as only folders are watched.
  std::vector<std::pair<struct timespec, std::string>> skipped;
  for (size_t r = 0; r < rules.roots.size(); ++r) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(rules.roots[r].c_str()), closedir);
    if (!dir) {
      continue;
    }
    // The stream is this call's own, so readdir's shared buffer is not shared here.
    while (const dirent* item = readdir(dir.get())) {  // NOLINT(concurrency-mt-unsafe)
      const std::string_view name(item->d_name);
      if (name == "." || name == ".." || !rules.ignoreInRoots[r].skipsName(name)) {
        continue;
      }
      std::string path = rules.roots[r] == "/" ? std::string() : rules.roots[r];
      path += '/';
      path += name;
      struct stat status {};
      if (lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        continue;
      }
      if (std::find(exclusions.begin(), exclusions.end(), path) == exclusions.end()) {
        skipped.emplace_back(status.st_mtim, std::move(path));
      }
    }
  }
  std::stable_sort(skipped.begin(), skipped.end(), [](const auto& a, const auto& b) {
    return std::pair(a.first.tv_sec, a.first.tv_nsec) > std::pair(b.first.tv_sec, b.first.tv_nsec);
  });
  for (auto& [time, path] : skipped) {
    if (exclusions.size() >= limit) {
      break;
    }
    exclusions.push_back(std::move(path));
  }
  return exclusions;
}

}  // namespace vesk
