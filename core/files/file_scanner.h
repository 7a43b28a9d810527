#pragma once
// FileScanner: walks the roots of FileRules into a FileIndex with fts, never following
// symbolic links and never crossing into another file system.
//
// The walk relies on the directory entry types fts reports and calls no stat per file.
// Names are tested in the cheapest order: the name set, then the patterns, then the ignored
// path prefixes. Directory bundles ("Mail.app", "Photos Library.photoslibrary") are listed as
// single files and not entered. Unreadable folders contribute nothing; nothing is reported.
//
// Stateless: every function may run on any thread; the index passed in must not be read by
// anyone else while it is filled.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/files/file_index.h"
#include "core/files/file_rules.h"

namespace vesk {

// Whether a name is a directory bundle, remembered per lower-cased extension for one walk.
class PackageCache {
 public:
  bool isPackage(std::string_view name);

 private:
  std::unordered_map<std::string, bool> byExtension_;
};

class FileScanner {
 public:
  // Adds every root of `rules` and everything below it that the rules allow.
  static void scan(const FileRules& rules, FileIndex& index);
  // Walks again below a folder that is already in the index, with the rules of its root, and
  // adds what it finds under the folder's entry. Nothing happens for an unknown folder.
  static void scan(std::string_view folder, const FileRules& rules, FileIndex& index);
  // True when the name of a directory marks it as a bundle.
  static bool isPackage(std::string_view path);
  // Up to `limit` folders for the watcher to leave out: the ignored paths inside the roots,
  // then the skipped folders directly inside each root, most recently changed first.
  static std::vector<std::string> watchExclusions(const FileRules& rules, size_t limit);
};

}  // namespace vesk
