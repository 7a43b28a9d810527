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
  // An owned file descriptor; -1 when there is none.
  class Descriptor final {
   public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor();
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Gives up ownership: the caller closes it.
    int release();

   private:
    int fd_ = -1;
  };

  enum class Problem {
    none,
    missing,     // nothing at the path (or a dangling link)
    notRegular,  // a folder, FIFO, socket or device
    tooLarge,    // more than the bound
    unreadable,  // any other failure; `error` holds errno
  };
  Problem problem = Problem::none;
  int error = 0;
  // The owner and permission bits of the file (after links), when it was found.
  unsigned owner = 0;
  unsigned mode = 0;
  std::string bytes;  // the contents when `problem` is none, after `read`
  Descriptor file;    // the open file when `problem` is none, after `open`

  // Whether the file belongs to this process's user or to root and no one else may write it:
  // only such a file may say what Vesk runs.
  bool isTrusted() const;

  // Whether `path` (following links) is a regular file of at most `maxBytes`; never opens it.
  static RegularFile check(const std::string& path, size_t maxBytes);
  // The whole contents of `path` when it is a regular file of at most `maxBytes`.
  static RegularFile read(const std::string& path, size_t maxBytes);
  // `path` opened for reading (non-blocking, close-on-exec) when it is a regular file of at
  // most `maxBytes`, for readers that take a descriptor or stop early. The file is judged again
  // on the open descriptor, so one swapped in after the check is refused too.
  static RegularFile open(const std::string& path, size_t maxBytes);
};

}  // namespace vesk
