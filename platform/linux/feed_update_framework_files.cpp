// Signatures (OpenSSL Ed25519), unpacking (libarchive) and the user-local install of feed
// updates.

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include "core/base/atomic_file.h"
#include "platform/linux/feed_update_framework_steps.h"

namespace vesk::FeedUpdateSteps {

namespace {

namespace fs = std::filesystem;

constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSignatureBytes = 64;
constexpr size_t kReadBlock = size_t{64} * 1024;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
struct ReadFree {
  void operator()(archive* handle) const { archive_read_free(handle); }
};
struct WriteFree {
  void operator()(archive* handle) const { archive_write_free(handle); }
};

using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

Result<Key> readPrivateKey(const std::string& keyFile) {
  const std::unique_ptr<std::FILE, FileClose> file(std::fopen(keyFile.c_str(), "rbe"));
  if (!file) {
    return Failure{"the key file " + keyFile + " can't be read: " + errnoText(errno)};
  }
  Key key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) {
    return Failure{"the key file " + keyFile + " holds no Ed25519 private key (PEM)"};
  }
  return key;
}

std::string archiveText(archive* handle) {
  const char* text = archive_error_string(handle);
  return text != nullptr ? text
                         : "libarchive failed (" + std::to_string(archive_errno(handle)) + ")";
}

// Relative, without empty, "." or ".." parts once a leading "./" is dropped.
std::optional<std::string> safeName(std::string name) {
  while (name.rfind("./", 0) == 0) {
    name.erase(0, 2);
  }
  while (!name.empty() && name.back() == '/') {
    name.pop_back();
  }
  if (name.empty() || name.front() == '/') {
    return std::nullopt;
  }
  for (const fs::path& part : fs::path(name)) {
    if (part == ".." || part == "." || part.empty()) {
      return std::nullopt;
    }
  }
  return name;
}

Result<void> copyEntry(archive* in, archive* out) {
  const void* block = nullptr;
  size_t size = 0;
  la_int64_t offset = 0;
  for (;;) {
    const int status = archive_read_data_block(in, &block, &size, &offset);
    if (status == ARCHIVE_EOF) {
      return {};
    }
    if (status < ARCHIVE_WARN) {
      return Failure{archiveText(in)};
    }
    if (archive_write_data_block(out, block, size, offset) < ARCHIVE_WARN) {
      return Failure{archiveText(out)};
    }
  }
}

// The name `entry` unpacks under, or empty for the version folder itself. Failure: the rule it
// breaks.
Result<std::string> allowedName(archive_entry* entry) {
  const char* rawName = archive_entry_pathname(entry);
  const std::string raw = rawName != nullptr ? rawName : "";
  const auto name = safeName(raw);
  const mode_t type = archive_entry_filetype(entry);
  if (!name) {
    if (type == AE_IFDIR && (raw == "." || raw == "./")) {
      return std::string();
    }
    return Failure{"the entry \"" + raw + "\" lies outside the version folder"};
  }
  if (type == AE_IFLNK) {
    const char* target = archive_entry_symlink(entry);
    if (target == nullptr || !safeName(target)) {
      return Failure{"the link \"" + *name + "\" points outside its folder"};
    }
  } else if (type != AE_IFREG && type != AE_IFDIR) {
    return Failure{"the entry \"" + *name + "\" is neither a file, a folder nor a link"};
  }
  if (archive_entry_hardlink(entry) != nullptr) {
    return Failure{"the entry \"" + *name + "\" is a hard link"};
  }
  return *name;
}

// Reads an open file from its start for libarchive, digesting every byte handed over.
struct DigestingReader {
  int fd = -1;
  off_t offset = 0;
  std::unique_ptr<EVP_MD_CTX, ContextFree> digest{EVP_MD_CTX_new()};
  std::vector<char> block = std::vector<char>(kReadBlock);
  bool failed = false;

  static la_ssize_t read(archive* /*handle*/, void* user, const void** data) {
    auto& reader = *static_cast<DigestingReader*>(user);
    *data = reader.block.data();
    return reader.next();
  }

  la_ssize_t next() {
    ssize_t got = -1;
    do {
      got = ::pread(fd, block.data(), block.size(), offset);
    } while (got < 0 && errno == EINTR);
    if (got < 0 || EVP_DigestUpdate(digest.get(), block.data(), static_cast<size_t>(got)) != 1) {
      failed = true;
      return -1;
    }
    offset += got;
    return got;
  }

  // The hex digest of the whole file, the part libarchive did not need included.
  std::optional<std::string> finish() {
    while (!failed) {
      const la_ssize_t got = next();
      if (got == 0) {
        std::array<uint8_t, EVP_MAX_MD_SIZE> bytes{};
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(digest.get(), bytes.data(), &length) != 1) {
          return std::nullopt;
        }
        std::string hex;
        for (size_t i = 0; i < length; ++i) {
          static constexpr char kDigits[] = "0123456789abcdef";
          hex.push_back(kDigits[bytes[i] >> 4]);
          hex.push_back(kDigits[bytes[i] & 15]);
        }
        return hex;
      }
    }
    return std::nullopt;
  }
};

Result<void> unpackInto(int fd, const std::string& folder, std::string_view sha256) {
  const std::unique_ptr<archive, ReadFree> in(archive_read_new());
  const std::unique_ptr<archive, WriteFree> out(archive_write_disk_new());
  DigestingReader reader;
  reader.fd = fd;
  if (!in || !out || !reader.digest ||
      EVP_DigestInit_ex(reader.digest.get(), EVP_sha256(), nullptr) != 1) {
    return Failure{"libarchive is out of memory"};
  }
  archive_read_support_filter_gzip(in.get());
  archive_read_support_format_tar(in.get());
  archive_write_disk_set_options(
      out.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
  if (archive_read_open(in.get(), &reader, nullptr, DigestingReader::read, nullptr) != ARCHIVE_OK) {
    return Failure{archiveText(in.get())};
  }
  for (;;) {
    archive_entry* entry = nullptr;
    const int status = archive_read_next_header(in.get(), &entry);
    if (status == ARCHIVE_EOF) {
      break;
    }
    if (status < ARCHIVE_WARN) {
      return Failure{archiveText(in.get())};
    }
    auto name = allowedName(entry);
    if (!name) {
      return name.failure();
    }
    if (name.value().empty()) {
      continue;  // the version folder itself
    }
    archive_entry_copy_pathname(entry, (folder + "/" + name.value()).c_str());
    if (archive_write_header(out.get(), entry) < ARCHIVE_WARN) {
      return Failure{archiveText(out.get())};
    }
    if (archive_entry_size(entry) > 0) {
      if (auto copied = copyEntry(in.get(), out.get()); !copied) {
        return copied;
      }
    }
    if (archive_write_finish_entry(out.get()) < ARCHIVE_WARN) {
      return Failure{archiveText(out.get())};
    }
  }
  if (archive_write_close(out.get()) != ARCHIVE_OK) {
    return Failure{archiveText(out.get())};
  }
  if (reader.finish() != sha256) {
    return Failure{"the archive changed while it was unpacked"};
  }
  const std::string vesk = folder + "/bin/vesk";
  struct stat status {};
  if (::lstat(vesk.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      ::access(vesk.c_str(), X_OK) != 0) {
    return Failure{"it holds no program bin/vesk"};
  }
  if (!buildOf(folder)) {
    return Failure{"it names no build"};
  }
  return {};
}

// The build named by a `build` file's text: its first line, of at most 64 bytes.
std::optional<std::string> buildFromText(std::string text) {
  if (const size_t end = text.find('\n'); end != std::string::npos) {
    text.resize(end);
  }
  if (text.empty() || text.size() > 64) {
    return std::nullopt;
  }
  return text;
}

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

std::optional<std::vector<uint8_t>> decodeBase64(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  if (text.empty() || text.size() % 4 != 0) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(text.size() / 4 * 3);
  const int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const uint8_t*>(text.data()),
                                     static_cast<int>(text.size()));
  if (length < 0) {
    return std::nullopt;
  }
  // EVP_DecodeBlock counts the padding as bytes.
  const size_t padding = (text.back() == '=' ? 1 : 0) + (text[text.size() - 2] == '=' ? 1 : 0);
  bytes.resize(static_cast<size_t>(length) - padding);
  return bytes;
}

std::string encodeBase64(std::span<const uint8_t> bytes) {
  std::string text((bytes.size() + 2) / 3 * 4 + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<uint8_t*>(text.data()), bytes.data(),
                                     static_cast<int>(bytes.size()));
  text.resize(static_cast<size_t>(length));
  return text;
}

bool verify(std::span<const uint8_t> publicKey, std::span<const uint8_t> data,
            std::string_view signature) {
  const auto signatureBytes = decodeBase64(signature);
  if (publicKey.size() != kPublicKeyBytes || !signatureBytes ||
      signatureBytes->size() != kSignatureBytes) {
    return false;
  }
  const Key key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
  const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  if (!key || !context ||
      EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(context.get(), signatureBytes->data(), signatureBytes->size(),
                          data.data(), data.size()) == 1;
}

Result<std::string> sign(const std::string& keyFile, std::span<const uint8_t> data) {
  auto key = readPrivateKey(keyFile);
  if (!key) {
    return key.failure();
  }
  const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  std::array<uint8_t, kSignatureBytes> signature{};
  size_t length = signature.size();
  if (!context ||
      EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.value().get()) != 1 ||
      EVP_DigestSign(context.get(), signature.data(), &length, data.data(), data.size()) != 1) {
    return Failure{"OpenSSL couldn't sign the archive"};
  }
  return encodeBase64(std::span(signature.data(), length));
}

Result<std::string> publicKeyOf(const std::string& keyFile) {
  auto key = readPrivateKey(keyFile);
  if (!key) {
    return key.failure();
  }
  std::array<uint8_t, kPublicKeyBytes> raw{};
  size_t length = raw.size();
  if (EVP_PKEY_get_raw_public_key(key.value().get(), raw.data(), &length) != 1) {
    return Failure{"OpenSSL couldn't read the public key"};
  }
  return encodeBase64(std::span(raw.data(), length));
}

Result<void> unpack(int fd, const std::string& folder, std::string_view sha256) {
  std::error_code error;
  if (!fs::create_directory(folder, error)) {
    return Failure{"the folder " + folder +
                   " can't be made: " + (error ? error.message() : "it exists")};
  }
  auto done = unpackInto(fd, folder, sha256);
  if (!done) {
    fs::remove_all(folder, error);
  }
  return done;
}

std::optional<std::string> buildOf(const std::string& folder) {
  const std::string path = folder + "/build";
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  struct stat status {};
  std::array<char, 128> text{};
  ssize_t got = -1;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    got = ::read(fd, text.data(), text.size());
  }
  ::close(fd);
  if (got <= 0) {
    return std::nullopt;
  }
  return buildFromText(std::string(text.data(), static_cast<size_t>(got)));
}

Result<std::string> buildInArchive(const std::string& archivePath) {
  const std::unique_ptr<archive, ReadFree> in(archive_read_new());
  if (!in) {
    return Failure{"libarchive is out of memory"};
  }
  archive_read_support_filter_gzip(in.get());
  archive_read_support_format_tar(in.get());
  if (archive_read_open_filename(in.get(), archivePath.c_str(), kReadBlock) != ARCHIVE_OK) {
    return Failure{archiveText(in.get())};
  }
  archive_entry* entry = nullptr;
  while (archive_read_next_header(in.get(), &entry) == ARCHIVE_OK) {
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr || safeName(name) != "build" || archive_entry_filetype(entry) != AE_IFREG) {
      continue;
    }
    std::array<char, 128> text{};
    const la_ssize_t got = archive_read_data(in.get(), text.data(), text.size());
    if (auto build = got > 0 ? buildFromText(std::string(text.data(), static_cast<size_t>(got)))
                             : std::nullopt) {
      return *build;
    }
    return Failure{"its build file is empty or too long"};
  }
  return Failure{"it holds no build file"};
}

std::optional<std::string> userLocalPrefix(const std::string& executable, const std::string& home) {
  const fs::path path(executable);
  const fs::path bin = path.parent_path();
  const fs::path version = bin.parent_path();
  const fs::path lib = version.parent_path();
  if (path.filename() != "vesk" || bin.filename() != "bin" ||
      !isVersionName(version.filename().string()) || lib.filename() != "vesk" ||
      lib.parent_path().filename() != "lib") {
    return std::nullopt;
  }
  const std::string prefix = lib.parent_path().parent_path().string();
  if (!home.empty() && prefix == fs::path(home).lexically_normal().string() + "/.local") {
    return prefix;
  }
  struct stat status {};
  if (prefix.rfind("/opt/", 0) == 0 && ::stat(prefix.c_str(), &status) == 0 &&
      status.st_uid == ::geteuid() && ::access(lib.c_str(), W_OK) == 0) {
    return prefix;
  }
  return std::nullopt;
}

Result<void> install(const std::string& prefix, const std::string& version,
                     const std::string& staged) {
  const std::string lib = prefix + "/lib/vesk";
  const std::string target = lib + "/" + version;
  const std::string current = lib + "/current";
  std::error_code error;
  if (fs::exists(fs::symlink_status(target, error))) {
    if (fs::equivalent(current, target, error)) {
      return Failure{"version " + version + " is already the one installed"};
    }
    fs::remove_all(target, error);  // an earlier copy that never became current
  }
  if (::rename(staged.c_str(), target.c_str()) != 0) {
    return Failure{"the new version can't be moved into " + lib + ": " + errnoText(errno)};
  }
  const std::string link = lib + "/.current-" + std::to_string(::getpid());
  ::unlink(link.c_str());
  if (::symlink(version.c_str(), link.c_str()) != 0) {
    return Failure{"the link to the new version can't be made: " + errnoText(errno)};
  }
  if (::rename(link.c_str(), current.c_str()) != 0) {
    const int code = errno;
    ::unlink(link.c_str());
    return Failure{"the current version can't be switched: " + errnoText(code)};
  }
  syncFolder(lib);
  return {};
}

Result<void> removeOtherVersions(const std::string& prefix, const std::string& keep) {
  const std::string lib = prefix + "/lib/vesk";
  std::error_code error;
  const std::string current = fs::read_symlink(lib + "/current", error).filename().string();
  if (error || current.empty()) {
    return Failure{"the current version can't be read: " + error.message()};
  }
  std::optional<std::string> stayed;
  for (const auto& entry : fs::directory_iterator(lib, error)) {
    const std::string name = entry.path().filename().string();
    const bool staged = name.rfind(".staged-", 0) == 0;
    if (name == "current" || name == current || name == keep || (!staged && !isVersionName(name)) ||
        !entry.is_directory(error) || entry.is_symlink(error)) {
      continue;
    }
    std::error_code removed;
    fs::remove_all(entry.path(), removed);
    if (removed && !stayed) {
      stayed = name + ": " + removed.message();
    }
  }
  if (stayed) {
    return Failure{"an old version stays (" + *stayed + ")"};
  }
  return {};
}

}  // namespace vesk::FeedUpdateSteps
