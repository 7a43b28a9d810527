#include "core/clipboard/clipboard_files.h"

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/atomic_file.h"

namespace vesk::ClipboardFiles {
namespace {

constexpr mode_t kFolderMode = 0700;

struct FileDescriptor {
  int fd = -1;
  explicit FileDescriptor(int descriptor) : fd(descriptor) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

struct DirectoryClose {
  void operator()(DIR* directory) const { ::closedir(directory); }
};

}  // namespace

Result<void> createFolder(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return {};
  }
  // Create each missing component from the top down.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string component = path.substr(0, slash);
    if (!component.empty() && ::mkdir(component.c_str(), kFolderMode) != 0 && errno != EEXIST) {
      return Failure{"couldn't create " + path + ": " + errnoText(errno)};
    }
    if (slash == std::string::npos) {
      break;
    }
  }
  if (::stat(path.c_str(), &status) != 0) {
    return Failure{"couldn't create " + path + ": " + errnoText(errno)};
  }
  if (!S_ISDIR(status.st_mode)) {
    return Failure{"couldn't create " + path + ": " + errnoText(ENOTDIR)};
  }
  return {};
}

bool narrow(const std::string& path, unsigned mode) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || S_ISLNK(status.st_mode)) {
    return false;
  }
  const mode_t current = status.st_mode & 07777;
  const mode_t wanted = current & mode;
  return current != wanted && ::chmod(path.c_str(), wanted) == 0;
}

Result<std::vector<uint8_t>> read(const std::string& path) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.fd < 0) {
    return Failure{errnoText(errno)};
  }
  struct stat status {};
  if (::fstat(file.fd, &status) != 0) {
    return Failure{errnoText(errno)};
  }
  if (!S_ISREG(status.st_mode)) {
    return Failure{errnoText(EINVAL)};
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(status.st_size));
  uint8_t buffer[65536];
  while (true) {
    const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Failure{errnoText(errno)};
    }
    if (n == 0) {
      return bytes;
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

Result<void> remove(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return Failure{errnoText(errno)};
  }
  return {};
}

void removeQuietly(const std::string& path) {
  ::unlink(path.c_str());
}

std::vector<std::string> names(const std::string& folder) {
  std::vector<std::string> found;
  const std::unique_ptr<DIR, DirectoryClose> directory(::opendir(folder.c_str()));
  if (!directory) {
    return found;
  }
  while (const dirent* entry = ::readdir(directory.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      found.emplace_back(name);
    }
  }
  return found;
}

}  // namespace vesk::ClipboardFiles
