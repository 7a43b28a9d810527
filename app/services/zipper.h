#pragma once
// Zipper: makes a zip archive of a file or folder beside it. The archive holds the item under its
// own name (a folder's contents below it); symbolic links are stored as links, not followed;
// permissions and modification times are kept. Files are streamed through in blocks, so memory
// stays bounded whatever the size of the tree.
//
// No state. `zip` blocks for as long as the tree takes: call it in the background. Any thread.

#include <string>

#include "core/base/result.h"

namespace vesk {

class Zipper final {
 public:
  // What went wrong, as shown to the user: libarchive's own text where it failed.
  struct Failure {
    std::string description;
  };

  // In the folder of `path`: its name + ".zip", or, while that exists, its name + " 2.zip",
  // " 3.zip"… The first name that is free.
  static std::string destination(const std::string& path);

  // Writes the archive of `path` at destination(path) and returns that location. On failure
  // nothing is left at the destination.
  static Result<std::string, Failure> zip(const std::string& path);
};

}  // namespace vesk
