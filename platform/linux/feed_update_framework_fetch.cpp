// The feed document, version order and the downloads (libcurl) of feed updates.

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include "platform/linux/feed_update_framework_steps.h"

namespace vesk::FeedUpdateSteps {

namespace {

struct EasyFree {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Where the body goes: a string or a file, never more than `limit` bytes.
struct Sink {
  std::string* text = nullptr;
  std::FILE* file = nullptr;
  uint64_t limit = 0;
  uint64_t received = 0;
  bool overflowed = false;
  bool writeFailed = false;
};

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
  } else if (std::fwrite(data, 1, bytes, sink.file) != bytes) {
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
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, options.stallSeconds);
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
  if (code != CURLE_OK) {
    return Failure{error[0] != '\0' ? std::string(error.data()) : curl_easy_strerror(code)};
  }
  return {};
}

}  // namespace

Result<Feed> Feed::parse(std::string_view text) {
  const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
  if (!document.is_object()) {
    return Failure{"it isn't a JSON object"};
  }
  Feed feed;
  for (auto [key, field] : {std::pair{"version", &feed.version}, std::pair{"build", &feed.build},
                            std::pair{"url", &feed.url}, std::pair{"signature", &feed.signature}}) {
    const auto found = document.find(key);
    if (found == document.end() || !found->is_string() || found->get<std::string>().empty()) {
      return Failure{std::string("it has no \"") + key + "\" text"};
    }
    *field = found->get<std::string>();
  }
  const auto size = document.find("size");
  if (size == document.end() || !size->is_number_unsigned() || size->get<uint64_t>() == 0) {
    return Failure{"it has no \"size\" byte count"};
  }
  feed.size = size->get<uint64_t>();
  if (!isVersionName(feed.version)) {
    return Failure{"its version \"" + feed.version + "\" can't name a folder"};
  }
  return feed;
}

std::string Feed::toJson() const {
  const nlohmann::ordered_json document = {{"version", version},
                                           {"build", build},
                                           {"url", url},
                                           {"size", size},
                                           {"signature", signature}};
  return document.dump(2) + "\n";
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

Result<void> fetchFile(const std::string& url, const std::string& file, uint64_t size,
                       const Transfer& options) {
  const auto removeFile = [&file] {
    std::error_code error;
    std::filesystem::remove(file, error);
  };
  Result<void> done;
  {
    const std::unique_ptr<std::FILE, FileClose> out(std::fopen(file.c_str(), "wbe"));
    if (!out) {
      return Failure{"the download folder can't be written"};
    }
    Sink sink;
    sink.file = out.get();
    sink.limit = size;
    done = transfer(url, sink, options);
    if (done && sink.received != size) {
      done = Failure{"the download ended after " + std::to_string(sink.received) + " of " +
                     std::to_string(size) + " bytes"};
    }
    if (done && std::fflush(out.get()) != 0) {
      done = Failure{"the download couldn't be written to disk"};
    }
  }
  if (!done) {
    removeFile();
  }
  return done;
}

}  // namespace vesk::FeedUpdateSteps
