#pragma once
// What the file search walks and what it skips.
//
// IgnoreRules are built from the `launcher.ignore` list: exact names, simple patterns (a
// prefix, a suffix or a shell glob) and absolute paths. Names and patterns are compared
// case-sensitively with an entry's own name, never with its path; a path skips the entry at
// that path and everything below it.
//
// FileRules add the roots, the depth limit and the protected folders, and derive the rules
// applied inside each root: an ignored path that covers a root does not apply inside that
// root (so a folder inside an ignored one can still be searched), and a root nested in
// another is skipped by the outer walk because it is walked as its own root.
//
// Both are plain values: cheap to copy between queues, compared field by field.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// True when `path` equals `base` or lies below it ("/" is above every absolute path).
bool isAtOrBelow(std::string_view path, std::string_view base);

struct IgnoreRules {
  struct Pattern {
    enum class Kind : uint8_t { prefix, suffix, glob };
    Kind kind = Kind::prefix;
    std::string text;

    static Pattern prefix(std::string text) { return {Kind::prefix, std::move(text)}; }
    static Pattern suffix(std::string text) { return {Kind::suffix, std::move(text)}; }
    static Pattern glob(std::string text) { return {Kind::glob, std::move(text)}; }

    bool matches(std::string_view name) const;
    bool operator==(const Pattern&) const = default;
  };

  std::set<std::string, std::less<>> names;
  std::vector<Pattern> patterns;
  // Absolute paths without a trailing "/".
  std::vector<std::string> paths;
  // The same paths as NUL-terminated bytes, compared byte-wise during a walk.
  std::vector<std::string> pathBytes;

  IgnoreRules() = default;
  // Builds rules from the configured entries; "~" and "~/" are expanded against `home`.
  IgnoreRules(const std::vector<std::string>& entries, std::string_view home);

  // The name test alone: in `names` or matching a pattern.
  bool skipsName(std::string_view name) const;
  // The path test alone: `path` equals an ignored path or lies below one.
  bool coversPath(std::string_view path) const;
  bool ignores(std::string_view name, std::string_view path) const {
    return skipsName(name) || coversPath(path);
  }

  // A copy without the ignored paths that equal `root` or contain it.
  IgnoreRules inside(std::string_view root) const;

  // Appends an ignored path (kept in both `paths` and `pathBytes`).
  void addPath(std::string path);

  bool operator==(const IgnoreRules&) const = default;
};

struct FileRules {
  // Absolute folders to search, without duplicates, in configured order.
  std::vector<std::string> roots;
  IgnoreRules ignore;
  // How many folder levels below a root are entered (1 to 32).
  int maxDepth = 6;
  // Folders the desktop may guard behind a permission prompt. (`protected` is a keyword.)
  std::vector<std::string> protectedPaths;
  // The rules applied inside each root, in root order.
  std::vector<IgnoreRules> ignoreInRoots;

  FileRules() = default;
  FileRules(std::vector<std::string> roots, IgnoreRules ignore, int maxDepth,
            std::vector<std::string> protectedPaths);

  // The index of the root that contains `path` (the longest one), or -1.
  int rootOf(std::string_view path) const;
  // The rules of the root that contains `path`; the configured rules outside every root.
  const IgnoreRules& ignoreAt(std::string_view path) const;

  // The protected folders a scan would read, in the order of `protectedPaths`.
  std::vector<std::string> protectedFolders() const;
  // The same rules with `paths` left out: roots at or below them dropped, the paths ignored.
  FileRules deferring(const std::set<std::string>& paths) const;
  // Ignored paths inside a root, in the order of `ignore.paths`. Paths that equal or contain
  // a root are left out: excluding them from watching would leave that root stale.
  std::vector<std::string> excludedPaths() const;

  bool operator==(const FileRules&) const = default;
};

}  // namespace vesk
