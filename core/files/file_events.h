#pragma once
// FileEvents: brings a FileIndex in line with the disk after a batch of directory-watcher
// events, path by path, under the rules the index was built with. Events at or above a root
// are not applied: they call for a full rebuild instead.
//
// Reads the file system; runs wherever the index's owner mutates it.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/files/directory_watcher.h"
#include "core/files/file_index.h"
#include "core/files/file_rules.h"

namespace vesk::FileEvents {

// Told of every change: "added", "removed", "replaced" or "rescanned", with the path.
using Report = std::function<void(std::string_view change, const std::string& path)>;

struct Applied {
  // The paths that left the index, in order.
  std::vector<std::string> removed;
  // An event at or above a root changed what the roots hold.
  bool needsRebuild = false;
};

Applied apply(FileIndex& index, const FileRules& rules,
              const std::vector<DirectoryWatcher::Event>& events, const Report& report);

}  // namespace vesk::FileEvents
