#include "core/base/regular_file.h"

#include <algorithm>
#include <cerrno>
#include <utility>

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

}  // namespace

RegularFile::Descriptor::~Descriptor() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

RegularFile::Descriptor& RegularFile::Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = other.release();
  }
  return *this;
}

int RegularFile::Descriptor::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool RegularFile::isTrusted() const {
  const bool ours = owner == ::geteuid() || owner == 0;
  return ours && (mode & (S_IWGRP | S_IWOTH)) == 0;
}

RegularFile RegularFile::check(const std::string& path, size_t maxBytes) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    return failed(errno);
  }
  RegularFile file;
  file.problem = judge(status, maxBytes);
  file.owner = status.st_uid;
  file.mode = status.st_mode;
  return file;
}

RegularFile RegularFile::open(const std::string& path, size_t maxBytes) {
  // Checked before opening, so that no device or FIFO is ever opened, and again on the open
  // descriptor, for a file swapped in between. O_NONBLOCK keeps a FIFO that appears in the
  // meantime from blocking the open; it changes nothing for regular files.
  RegularFile file = check(path, maxBytes);
  if (file.problem != Problem::none) {
    return file;
  }
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    return failed(errno);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    return failed(errno);
  }
  file.problem = judge(status, maxBytes);
  file.owner = status.st_uid;
  file.mode = status.st_mode;
  if (file.problem == Problem::none) {
    file.file = std::move(fd);
  }
  return file;
}

RegularFile RegularFile::read(const std::string& path, size_t maxBytes) {
  RegularFile file = open(path, maxBytes);
  if (file.problem != Problem::none) {
    return file;
  }
  const Descriptor fd = std::move(file.file);
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) {
    return failed(errno);
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
