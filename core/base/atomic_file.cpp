#include "core/base/atomic_file.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {

namespace {

// Closes the descriptor and removes the temporary unless released.
class Temporary final {
 public:
  explicit Temporary(std::string path) : path_(std::move(path)) {
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
  }
  ~Temporary() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    if (!kept_) {
      ::unlink(path_.c_str());
    }
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the descriptor; false (with errno set) when the close reported an error.
  bool close() { return ::close(std::exchange(fd_, -1)) == 0; }
  void keep() { kept_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool kept_ = false;
};

Result<void> writeAll(int fd, std::span<const uint8_t> bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Failure{errnoText(errno)};
    }
    written += static_cast<size_t>(n);
  }
  return {};
}

// A crash right after the rename could otherwise lose the new name on some file systems.
void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

std::string errnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

namespace AtomicFile {

Result<void> write(const std::string& path, std::span<const uint8_t> bytes, mode_t mode) {
  const size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  Temporary temporary(folder + "/." + name + ".partial-XXXXXX");
  if (temporary.fd() < 0) {
    return Failure{errnoText(errno)};
  }
  if (::fchmod(temporary.fd(), mode) != 0) {
    return Failure{errnoText(errno)};
  }
  if (auto written = writeAll(temporary.fd(), bytes); !written) {
    return written;
  }
  if (::fsync(temporary.fd()) != 0 || !temporary.close()) {
    return Failure{errnoText(errno)};
  }
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
    return Failure{errnoText(errno)};
  }
  temporary.keep();
  syncFolder(folder);
  return {};
}

Result<void> write(const std::string& path, std::string_view text, mode_t mode) {
  return write(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, mode);
}

}  // namespace AtomicFile
}  // namespace vesk
