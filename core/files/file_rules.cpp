#include "core/files/file_rules.h"

#include <algorithm>

#include <fnmatch.h>

namespace vesk {

bool isAtOrBelow(std::string_view path, std::string_view base) {
  if (!path.starts_with(base)) {
    return false;
  }
  if (path.size() == base.size()) {
    return true;
  }
  return base == "/" || path[base.size()] == '/';
}

namespace {

std::string trimTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

}  // namespace

bool IgnoreRules::Pattern::matches(std::string_view name) const {
  switch (kind) {
    case Kind::prefix:
      return name.starts_with(text);
    case Kind::suffix:
      return name.ends_with(text);
    case Kind::glob:
      // fnmatch needs a terminated string; names are short, so a small copy is fine here.
      return fnmatch(text.c_str(), std::string(name).c_str(), 0) == 0;
  }
  return false;
}

IgnoreRules::IgnoreRules(const std::vector<std::string>& entries, std::string_view home) {
  for (const std::string& entry : entries) {
    if (entry.empty()) {
      continue;
    }
    if (entry == "~" || entry.starts_with("~/") || entry.starts_with("/")) {
      std::string path = entry;
      if (path.front() == '~') {
        path = std::string(home) + path.substr(1);
      }
      addPath(trimTrailingSlashes(std::move(path)));
      continue;
    }
    const size_t wildcards = std::count_if(entry.begin(), entry.end(),
                                           [](char c) { return c == '*' || c == '?' || c == '['; });
    const size_t stars = std::count(entry.begin(), entry.end(), '*');
    if (wildcards == 0) {
      names.insert(entry);
    } else if (wildcards == 1 && stars == 1 && entry.front() == '*') {
      patterns.push_back(Pattern::suffix(entry.substr(1)));
    } else if (wildcards == 1 && stars == 1 && entry.back() == '*') {
      patterns.push_back(Pattern::prefix(entry.substr(0, entry.size() - 1)));
    } else {
      patterns.push_back(Pattern::glob(entry));
    }
  }
}

bool IgnoreRules::skipsName(std::string_view name) const {
  if (names.find(name) != names.end()) {
    return true;
  }
  return std::any_of(patterns.begin(), patterns.end(),
                     [name](const Pattern& p) { return p.matches(name); });
}

bool IgnoreRules::coversPath(std::string_view path) const {
  return std::any_of(pathBytes.begin(), pathBytes.end(),
                     [path](const std::string& p) { return isAtOrBelow(path, p); });
}

IgnoreRules IgnoreRules::inside(std::string_view root) const {
  IgnoreRules copy;
  copy.names = names;
  copy.patterns = patterns;
  for (const std::string& path : paths) {
    if (!isAtOrBelow(root, path)) {
      copy.addPath(path);
    }
  }
  return copy;
}

void IgnoreRules::addPath(std::string path) {
  pathBytes.push_back(path);
  paths.push_back(std::move(path));
}

FileRules::FileRules(std::vector<std::string> roots, IgnoreRules ignore, int maxDepth,
                     std::vector<std::string> protectedPaths)
    : ignore(std::move(ignore)), maxDepth(maxDepth), protectedPaths(std::move(protectedPaths)) {
  for (std::string& root : roots) {
    if (std::find(this->roots.begin(), this->roots.end(), root) == this->roots.end()) {
      this->roots.push_back(std::move(root));
    }
  }
  for (const std::string& root : this->roots) {
    IgnoreRules rules = this->ignore.inside(root);
    for (const std::string& other : this->roots) {
      if (other != root && isAtOrBelow(other, root)) {
        rules.addPath(other);
      }
    }
    ignoreInRoots.push_back(std::move(rules));
  }
}

int FileRules::rootOf(std::string_view path) const {
  int best = -1;
  for (size_t i = 0; i < roots.size(); ++i) {
    if (isAtOrBelow(path, roots[i]) &&
        (best < 0 || roots[i].size() > roots[static_cast<size_t>(best)].size())) {
      best = static_cast<int>(i);
    }
  }
  return best;
}

const IgnoreRules& FileRules::ignoreAt(std::string_view path) const {
  const int root = rootOf(path);
  return root < 0 ? ignore : ignoreInRoots[static_cast<size_t>(root)];
}

std::vector<std::string> FileRules::protectedFolders() const {
  std::vector<std::string> folders;
  for (const std::string& folder : protectedPaths) {
    const bool isOrHoldsRoot = std::any_of(
        roots.begin(), roots.end(), [&](const std::string& r) { return isAtOrBelow(r, folder); });
    bool read = isOrHoldsRoot;
    if (!read && rootOf(folder) >= 0) {
      const std::string_view name = std::string_view(folder).substr(folder.rfind('/') + 1);
      read = !ignoreAt(folder).ignores(name, folder);
    }
    if (read) {
      folders.push_back(folder);
    }
  }
  return folders;
}

FileRules FileRules::deferring(const std::set<std::string>& paths) const {
  if (paths.empty()) {
    return *this;
  }
  std::vector<std::string> kept;
  for (const std::string& root : roots) {
    const bool deferred = std::any_of(paths.begin(), paths.end(),
                                      [&](const std::string& p) { return isAtOrBelow(root, p); });
    if (!deferred) {
      kept.push_back(root);
    }
  }
  IgnoreRules rules = ignore;
  for (const std::string& path : paths) {  // a std::set iterates in sorted order
    rules.addPath(path);
  }
  return FileRules(std::move(kept), std::move(rules), maxDepth, protectedPaths);
}

std::vector<std::string> FileRules::excludedPaths() const {
  std::vector<std::string> excluded;
  for (const std::string& path : ignore.paths) {
    const bool insideRoot = std::any_of(roots.begin(), roots.end(),
                                        [&](const std::string& r) { return isAtOrBelow(path, r); });
    const bool coversRoot = std::any_of(roots.begin(), roots.end(),
                                        [&](const std::string& r) { return isAtOrBelow(r, path); });
    if (insideRoot && !coversRoot) {
      excluded.push_back(path);
    }
  }
  return excluded;
}

}  // namespace vesk
