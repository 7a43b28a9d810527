// The feed document, version order and the downloads (libcurl) of feed updates.

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include <curl/curl.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "platform/linux/feed_update_framework_steps.h"

namespace vesk::FeedUpdateSteps {

namespace {

struct EasyFree {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct DigestFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// Where the body goes: a string, or a file and a digest, never more than `limit` bytes.
struct Sink {
  std::string* text = nullptr;
  int fd = -1;
  EVP_MD_CTX* digest = nullptr;
  uint64_t limit = 0;
  uint64_t received = 0;
  bool overflowed = false;
  bool writeFailed = false;
};

std::string hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
  }
  return text;
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, data, size);
    if (done < 0 && errno == EINTR) {
      continue;
    }
    if (done <= 0) {
      return false;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

size_t receive(char* data, size_t size, size_t count, void* user) {
  auto& sink = *static_cast<Sink*>(user);
  const size_t bytes = size * count;
  if (sink.received + bytes > sink.limit) {
    sink.overflowed = true;
    return 0;  // curl stops with a write error
  }
  sink.received += bytes;
  if (sink.text != nullptr) {
    sink.text->append(data, bytes);
  } else if (!writeAll(sink.fd, data, bytes) || EVP_DigestUpdate(sink.digest, data, bytes) != 1) {
    sink.writeFailed = true;
    return 0;
  }
  return bytes;
}

int progress(void* user, curl_off_t /*downTotal*/, curl_off_t /*downNow*/, curl_off_t /*upTotal*/,
             curl_off_t /*upNow*/) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel != nullptr && cancel->load() ? 1 : 0;
}

Result<void> transfer(const std::string& url, Sink& sink, const Transfer& options) {
  const std::unique_ptr<CURL, EasyFree> easy(curl_easy_init());
  if (!easy) {
    return Failure{"the network library couldn't start"};
  }
  std::array<char, CURL_ERROR_SIZE> error{};
  CURL* handle = easy.get();
  const char* protocols = options.allowPlainHttp ? "http,https" : "https";
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, protocols);
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, options.connectSeconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, std::max(options.minimumRate, 1L));
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, options.stallSeconds);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, options.deadlineSeconds);
  curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.limit));
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "Vesk updater");
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error.data());
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receive);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, progress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(options.cancel));
  const CURLcode code = curl_easy_perform(handle);
  if (sink.overflowed || code == CURLE_FILESIZE_EXCEEDED) {
    return Failure{"the server sent more than the " + std::to_string(sink.limit) +
                   " bytes expected"};
  }
  if (sink.writeFailed) {
    return Failure{"the download couldn't be written to disk"};
  }
  if (code == CURLE_OPERATION_TIMEDOUT) {
    // curl gives one code for both limits; its text tells which.
    if (std::string_view(error.data()).find("too slow") != std::string_view::npos) {
      return Failure{"the server sent less than " + std::to_string(options.minimumRate) +
                     " bytes a second"};
    }
    return Failure{"it took longer than " + std::to_string(options.deadlineSeconds) + " seconds"};
  }
  if (code != CURLE_OK) {
    return Failure{error[0] != '\0' ? std::string(error.data()) : curl_easy_strerror(code)};
  }
  return {};
}

std::optional<std::string> text(const nlohmann::json& document, const char* key) {
  const auto found = document.find(key);
  if (found == document.end() || !found->is_string() || found->get<std::string>().empty()) {
    return std::nullopt;
  }
  return found->get<std::string>();
}

}  // namespace

std::string Feed::manifest() const {
  const nlohmann::ordered_json document = {
      {"version", version}, {"build", build}, {"url", url}, {"size", size}, {"sha256", sha256}};
  return document.dump();
}

Result<std::string> Feed::signedJson(const std::string& keyFile) const {
  const std::string text = manifest();
  auto signature =
      sign(keyFile, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  if (!signature) {
    return signature.failure();
  }
  const nlohmann::ordered_json document = {{"manifest", text}, {"signature", signature.value()}};
  return document.dump(2) + "\n";
}

Result<Feed> Feed::parse(std::string_view text, std::span<const uint8_t> publicKey) {
  const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
  if (!document.is_object()) {
    return Failure{"it isn't a JSON object"};
  }
  const auto manifestText = vesk::FeedUpdateSteps::text(document, "manifest");
  const auto signature = vesk::FeedUpdateSteps::text(document, "signature");
  if (!manifestText || !signature) {
    return Failure{"it has no signed \"manifest\""};
  }
  if (!verify(
          publicKey,
          std::span(reinterpret_cast<const uint8_t*>(manifestText->data()), manifestText->size()),
          *signature)) {
    return Failure{"it isn't signed with Vesk's key"};
  }
  const nlohmann::json manifest = nlohmann::json::parse(*manifestText, nullptr, false);
  if (!manifest.is_object()) {
    return Failure{"its manifest isn't a JSON object"};
  }
  Feed feed;
  for (auto [key, field] : {std::pair{"version", &feed.version}, std::pair{"build", &feed.build},
                            std::pair{"url", &feed.url}, std::pair{"sha256", &feed.sha256}}) {
    auto value = vesk::FeedUpdateSteps::text(manifest, key);
    if (!value) {
      return Failure{std::string("its manifest has no \"") + key + "\" text"};
    }
    *field = std::move(*value);
  }
  const auto size = manifest.find("size");
  if (size == manifest.end() || !size->is_number_unsigned() || size->get<uint64_t>() == 0) {
    return Failure{"its manifest has no \"size\" byte count"};
  }
  feed.size = size->get<uint64_t>();
  if (!isVersionName(feed.version)) {
    return Failure{"its version \"" + feed.version + "\" can't name a folder"};
  }
  if (feed.sha256.size() != 64 || !std::all_of(feed.sha256.begin(), feed.sha256.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    return Failure{"its \"sha256\" isn't a SHA-256 digest"};
  }
  std::transform(feed.sha256.begin(), feed.sha256.end(), feed.sha256.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  return feed;
}

int compareVersions(std::string_view a, std::string_view b) {
  const auto next = [](std::string_view& rest) {
    const size_t dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    return part;
  };
  const auto isNumber = [](std::string_view part) {
    return !part.empty() && part.size() < 19 &&
           std::all_of(part.begin(), part.end(), [](char c) { return std::isdigit(c) != 0; });
  };
  while (!a.empty() || !b.empty()) {
    if (a.empty() || b.empty()) {
      return a.empty() ? -1 : 1;
    }
    const std::string_view x = next(a);
    const std::string_view y = next(b);
    if (isNumber(x) && isNumber(y)) {
      const long long left = std::stoll(std::string(x));
      const long long right = std::stoll(std::string(y));
      if (left != right) {
        return left < right ? -1 : 1;
      }
    } else if (const int order = x.compare(y); order != 0) {
      return order;
    }
  }
  return 0;
}

bool isVersionName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name == "current" || name.size() > 64) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '+' ||
           c == '-';
  });
}

void initializeNetwork() {
  static const bool initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)initialized;
}

Result<std::string> fetchText(const std::string& url, size_t maxBytes, const Transfer& options) {
  std::string text;
  Sink sink;
  sink.text = &text;
  sink.limit = maxBytes;
  if (auto done = transfer(url, sink, options); !done) {
    return done.failure();
  }
  return text;
}

Result<std::string> fetchFile(const std::string& url, int fd, uint64_t size,
                              const Transfer& options) {
  const std::unique_ptr<EVP_MD_CTX, DigestFree> digest(EVP_MD_CTX_new());
  if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1) {
    return Failure{"the digest can't be started"};
  }
  Sink sink;
  sink.fd = fd;
  sink.digest = digest.get();
  sink.limit = size;
  if (auto done = transfer(url, sink, options); !done) {
    return done.failure();
  }
  if (sink.received != size) {
    return Failure{"the download ended after " + std::to_string(sink.received) + " of " +
                   std::to_string(size) + " bytes"};
  }
  std::array<uint8_t, EVP_MAX_MD_SIZE> bytes{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(digest.get(), bytes.data(), &length) != 1) {
    return Failure{"the digest can't be finished"};
  }
  return hex(std::span(bytes.data(), length));
}

std::string sha256Hex(std::span<const uint8_t> data) {
  std::array<uint8_t, EVP_MAX_MD_SIZE> bytes{};
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), bytes.data(), &length, EVP_sha256(), nullptr) != 1) {
    return {};
  }
  return hex(std::span(bytes.data(), length));
}

int openNamelessFile(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) {
    return fd;
  }
  // A file system without unnamed files: a private name, removed at once.
  std::string name = folder + "/.download-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) {
    ::unlink(name.c_str());
  }
  return named;
}

}  // namespace vesk::FeedUpdateSteps
