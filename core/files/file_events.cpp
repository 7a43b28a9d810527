#include "core/files/file_events.h"

#include <algorithm>
#include <memory>
#include <optional>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include "core/files/file_scanner.h"
#include "core/search/item.h"

namespace vesk::FileEvents {

namespace {

using Event = DirectoryWatcher::Event;

// On a case-insensitive volume a path still resolves after a rename that changed only letter
// case; the name stored in the folder then differs from the path's last component.
bool nameDiffersOnDisk(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = path.substr(slash + 1);
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) {
    return false;
  }
  bool caseVariant = false;
  while (const dirent* item = readdir(dir.get())) {
    if (name == item->d_name) {
      return false;
    }
    caseVariant = caseVariant || strcasecmp(name.c_str(), item->d_name) == 0;
  }
  return caseVariant;
}

// Brings one path in line with the disk; true when it walked a folder it inserted.
bool update(FileIndex& index, const FileRules& rules, const std::string& path, bool moved,
            std::vector<std::string>& removed, const Report& report) {
  const auto entry = index.entry(path);
  const bool indexed = entry && (index.flags(*entry) & FileIndex::kRoot) == 0;
  if (!indexed) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || !index.entry(slash == 0 ? "/" : path.substr(0, slash))) {
      return false;
    }
  }
  struct stat status {};
  const bool exists = lstat(path.c_str(), &status) == 0;
  const bool missing = !exists || (indexed && moved && nameDiffersOnDisk(path));
  const std::string_view name = ItemPath::lastComponent(path);
  if (!missing && !rules.ignoreAt(path).ignores(name, path)) {
    const bool isFolder = S_ISDIR(status.st_mode) && !FileScanner::isPackage(path);
    if (indexed) {
      if (((index.flags(*entry) & FileIndex::kFolder) != 0) == isFolder) {
        return false;
      }
      index.remove(path);
    }
    if (!index.insert(path, isFolder, rules.maxDepth)) {
      return false;
    }
    report(indexed ? "replaced" : "added", path);
    if (isFolder) {
      FileScanner::scan(path, rules, index);
      return true;
    }
    return false;
  }
  if (indexed) {
    index.remove(path);
    removed.push_back(path);
    report("removed", path);
  }
  return false;
}

}  // namespace

Applied apply(FileIndex& index, const FileRules& rules, const std::vector<Event>& events,
              const Report& report) {
  Applied applied;
  for (const Event& event : events) {
    std::string path = event.path;
    while (path.size() > 1 && path.back() == '/') {
      path.pop_back();
    }
    const bool atOrAboveRoot =
        std::any_of(rules.roots.begin(), rules.roots.end(),
                    [&](const auto& root) { return isAtOrBelow(root, path); });
    if (atOrAboveRoot) {
      applied.needsRebuild =
          applied.needsRebuild || event.mustRescan() || event.isAddedRemovedOrMoved();
      continue;
    }
    const bool walked =
        update(index, rules, path, event.isAddedRemovedOrMoved(), applied.removed, report);
    if (event.mustRescan() && !walked) {
      const auto entry = index.entry(path);
      if (entry && (index.flags(*entry) & FileIndex::kFolder) != 0) {
        index.removeDescendants(path);
        FileScanner::scan(path, rules, index);
        report("rescanned", path);
      }
    }
  }
  return applied;
}

}  // namespace vesk::FileEvents
