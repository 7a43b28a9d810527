#pragma once
// Reading files that others may have replaced by something hostile: a FIFO (open would block
// for ever), a device (/dev/zero never ends), a folder, or a runaway file. Only a regular file,
// or a link to one, is read, and never more than a given number of bytes.
//
// Any thread.

#include <cstddef>
#include <string>

namespace vesk {

struct RegularFile {
  enum class Problem {
    none,
    missing,     // nothing at the path (or a dangling link)
    notRegular,  // a folder, FIFO, socket or device
    tooLarge,    // more than the bound
    unreadable,  // any other failure; `error` holds errno
  };
  Problem problem = Problem::none;
  int error = 0;
  std::string bytes;  // the contents when `problem` is none

  // Whether `path` (following links) is a regular file of at most `maxBytes`; never opens it.
  static RegularFile check(const std::string& path, size_t maxBytes);
  // The whole contents of `path` when it is a regular file of at most `maxBytes`.
  static RegularFile read(const std::string& path, size_t maxBytes);
};

}  // namespace vesk
