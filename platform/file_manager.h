#pragma once
// FileManager: what Vesk asks of the desktop's file manager: show files selected in a window,
// and move a file or folder to the trash.
//
// Threads: both block (a D-Bus call, a file-system move) and run on background threads; safe
// from any thread.

#include <string>
#include <vector>

#include "core/base/result.h"

namespace vesk {

class FileManager {
 public:
  virtual ~FileManager() = default;

  // Shows the paths (absolute) selected in a file-manager window; where no file manager
  // takes such requests, opens the first path's folder.
  virtual Result<void> reveal(const std::vector<std::string>& paths) = 0;
  // Moves the file or folder at `path` to the user's trash; the failure names why.
  virtual Result<void> trash(const std::string& path) = 0;
};

}  // namespace vesk
