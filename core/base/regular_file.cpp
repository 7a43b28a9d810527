#include "core/base/regular_file.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {

namespace {

RegularFile failed(int error) {
  RegularFile file;
  file.error = error;
  file.problem = error == ENOENT || error == ENOTDIR ? RegularFile::Problem::missing
                                                     : RegularFile::Problem::unreadable;
  return file;
}

RegularFile::Problem judge(const struct stat& status, size_t maxBytes) {
  if (!S_ISREG(status.st_mode)) {
    return RegularFile::Problem::notRegular;
  }
  if (static_cast<unsigned long long>(status.st_size) > maxBytes) {
    return RegularFile::Problem::tooLarge;
  }
  return RegularFile::Problem::none;
}

class Descriptor final {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

RegularFile RegularFile::check(const std::string& path, size_t maxBytes) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return failed(errno);
  }
  RegularFile file;
  file.problem = judge(status, maxBytes);
  return file;
}

RegularFile RegularFile::read(const std::string& path, size_t maxBytes) {
  // Checked before opening, so that no device or FIFO is ever opened, and again on the open
  // descriptor, for a file swapped in between. O_NONBLOCK keeps a FIFO that appears in the
  // meantime from blocking the open; it changes nothing for regular files.
  RegularFile file = check(path, maxBytes);
  if (file.problem != Problem::none) {
    return file;
  }
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    return failed(errno);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    return failed(errno);
  }
  file.problem = judge(status, maxBytes);
  if (file.problem != Problem::none) {
    return file;
  }
  // The file may grow while it is read: read at most one byte past the bound to notice.
  file.bytes.resize(static_cast<size_t>(status.st_size) + 1);
  size_t filled = 0;
  while (true) {
    if (filled == file.bytes.size()) {
      if (filled > maxBytes) {
        file.bytes.clear();
        file.problem = Problem::tooLarge;
        return file;
      }
      file.bytes.resize(std::min(maxBytes + 1, filled * 2 + 4096));
    }
    const ssize_t n = ::read(fd.get(), file.bytes.data() + filled, file.bytes.size() - filled);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return failed(errno);
    }
    if (n == 0) {
      break;
    }
    filled += static_cast<size_t>(n);
  }
  file.bytes.resize(filled);
  return file;
}

}  // namespace vesk
