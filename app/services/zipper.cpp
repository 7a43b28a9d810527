#include "app/services/zipper.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/base/utf8.h"

namespace vesk {

namespace {

struct WriteFree {
  void operator()(archive* handle) const { archive_write_free(handle); }
};
struct FileCloser {
  int fd;
  explicit FileCloser(int file) : fd(file) {}
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  ~FileCloser() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};
struct EntryFree {
  void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

// The size of the blocks a file is streamed through.
constexpr size_t kBlock = 256 * 1024;

std::string textOf(archive* handle) {
  const char* text = archive_error_string(handle);
  if (text != nullptr && text[0] != '\0') {
    return text;
  }
  return "libarchive failed (" + std::to_string(archive_errno(handle)) + ")";
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

// Streams the open file `fd` into the archive entry just written, one block at a time.
Result<void, Zipper::Failure> copyData(int fd, const std::string& name, archive* zip) {
  std::vector<char> block(kBlock);
  for (;;) {
    const ssize_t size = ::read(fd, block.data(), block.size());
    if (size == 0) {
      return {};
    }
    if (size < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Zipper::Failure{"Couldn't read " + name + ": " + std::strerror(errno)};
    }
    if (archive_write_data(zip, block.data(), static_cast<size_t>(size)) < 0) {
      return Zipper::Failure{textOf(zip)};
    }
  }
}

// Writes the entry's header. libarchive marks every non-ASCII name as UTF-8 when the locale's
// is; a name that is not UTF-8 would then make standard readers refuse the whole archive, so
// its header is written in the C locale, which leaves the flag off (readers take the bytes as
// they are).
int writeHeader(archive* zip, archive_entry* entry, const std::string& name) {
  if (UTF8::isValid(name)) {
    return archive_write_header(zip, entry);
  }
  static const locale_t plain = ::newlocale(LC_ALL_MASK, "C", nullptr);
  if (plain == nullptr) {
    return archive_write_header(zip, entry);
  }
  const locale_t previous = ::uselocale(plain);
  const int status = archive_write_header(zip, entry);
  ::uselocale(previous);
  return status;
}

// Adds `path`, stored as `name`, and, for a folder, everything below it. Links are stored as
// links and never followed. Other kinds of files (sockets, pipes, devices) have no place in a
// zip archive and are left out.
//
// The walk is by absolute paths: libarchive's own disk reader changes the working folder of the
// whole process while it walks, which other threads must never see.
Result<void, Zipper::Failure> addTree(const std::string& path, const std::string& name,
                                      archive* zip, archive_entry* entry) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) {
    return Zipper::Failure{"Couldn't read " + name + ": " + std::strerror(errno)};
  }
  const bool isFolder = S_ISDIR(status.st_mode);
  const bool isFile = S_ISREG(status.st_mode);
  const bool isLink = S_ISLNK(status.st_mode);
  if (!isFolder && !isFile && !isLink) {
    return {};
  }
  archive_entry_clear(entry);
  archive_entry_copy_pathname(entry, name.c_str());
  archive_entry_copy_stat(entry, &status);
  if (isLink) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(path, error).string();
    if (error) {
      return Zipper::Failure{"Couldn't read " + name + ": " + error.message()};
    }
    archive_entry_copy_symlink(entry, target.c_str());
  }
  // Opened before its entry is written, so an unreadable file fails before any of it is.
  // Without blocking: a FIFO swapped in since the lstat is left out like any other.
  const int fd =
      isFile ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY) : -1;
  if (isFile && fd < 0) {
    return Zipper::Failure{"Couldn't open " + name + ": " + std::strerror(errno)};
  }
  const FileCloser closer(fd);
  struct stat opened {};
  if (isFile && (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))) {
    return {};
  }
  if (writeHeader(zip, entry, name) < ARCHIVE_WARN) {
    return Zipper::Failure{textOf(zip)};
  }
  if (isFile) {
    if (auto copied = copyData(fd, name, zip); !copied) {
      return copied;
    }
  }
  if (archive_write_finish_entry(zip) < ARCHIVE_WARN) {
    return Zipper::Failure{textOf(zip)};
  }
  if (!isFolder) {
    return {};
  }
  std::error_code error;
  std::vector<std::string> children;
  for (std::filesystem::directory_iterator it(path, error), end; !error && it != end;
       it.increment(error)) {
    children.push_back(it->path().filename().string());
  }
  if (error) {
    return Zipper::Failure{"Couldn't read " + name + ": " + error.message()};
  }
  std::sort(children.begin(), children.end());
  for (const std::string& child : children) {
    if (auto added = addTree(path + "/" + child, name + "/" + child, zip, entry); !added) {
      return added;
    }
  }
  return {};
}

}  // namespace

std::string Zipper::destination(const std::string& path) {
  const std::filesystem::path source(withoutTrailingSlashes(path));
  const std::filesystem::path folder = source.parent_path();
  const std::string name = source.filename().string();
  std::string candidate = (folder / (name + ".zip")).string();
  std::error_code error;
  for (int number = 2; std::filesystem::exists(std::filesystem::symlink_status(candidate, error));
       ++number) {
    candidate = (folder / (name + " " + std::to_string(number) + ".zip")).string();
  }
  return candidate;
}

Result<std::string, Zipper::Failure> Zipper::zip(const std::string& path) {
  const std::string source = withoutTrailingSlashes(path);
  const std::string folder = std::filesystem::path(source).parent_path().string();
  if (std::filesystem::path(source).filename().empty() || folder.empty()) {
    return Failure{"There is no folder to put the archive of " + path + " in"};
  }
  struct stat status {};
  if (::lstat(source.c_str(), &status) != 0) {
    return Failure{std::string("Couldn't read ") + source + ": " + std::strerror(errno)};
  }
  const std::string archivePath = destination(source);
  // O_EXCL: a file that appeared at the destination meanwhile is never overwritten.
  const int fd = ::open(archivePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    return Failure{"Couldn't create " + archivePath + ": " + std::strerror(errno)};
  }
  const std::string name = std::filesystem::path(source).filename().string();
  Result<void, Failure> written = [&]() -> Result<void, Failure> {
    const std::unique_ptr<archive, WriteFree> zip(archive_write_new());
    if (!zip) {
      return Failure{"libarchive is out of memory"};
    }
    if (archive_write_set_format_zip(zip.get()) != ARCHIVE_OK ||
        archive_write_zip_set_compression_deflate(zip.get()) != ARCHIVE_OK ||
        archive_write_open_fd(zip.get(), fd) != ARCHIVE_OK) {
      return Failure{textOf(zip.get())};
    }
    const std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
    if (auto tree = addTree(source, name, zip.get(), entry.get()); !tree) {
      return tree;
    }
    if (archive_write_close(zip.get()) != ARCHIVE_OK) {
      return Failure{textOf(zip.get())};
    }
    return {};
  }();
  if (::close(fd) != 0 && written) {
    written = Failure{"Couldn't write " + archivePath + ": " + std::strerror(errno)};
  }
  if (!written) {
    ::unlink(archivePath.c_str());
    return written.failure();
  }
  return archivePath;
}

}  // namespace vesk
