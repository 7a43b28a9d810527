#include "core/clipboard/url.h"

#include <memory>

#include <curl/curl.h>

namespace vesk {
namespace {

struct CurlURLFree {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlStringFree {
  void operator()(char* text) const { curl_free(text); }
};
using CurlString = std::unique_ptr<char, CurlStringFree>;

bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHex(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Unreserved and reserved characters of the generic URL syntax, and "%" escapes.
bool isURLText(std::string_view text) {
  static constexpr std::string_view kAllowed = "-._~:/?#[]@!$&'()*+,;=";
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) {
        return false;
      }
      if (!isHex(text[i + 1]) || !isHex(text[i + 2])) {
        return false;
      }
      i += 2;
      continue;
    }
    if (!isAlpha(c) && !isDigit(c) && kAllowed.find(c) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

// The scheme: a letter, then letters, digits, "+", "-" or ".", ended by ":".
std::optional<std::string> schemeOf(std::string_view text) {
  if (text.empty() || !isAlpha(text[0])) {
    return std::nullopt;
  }
  for (size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') {
      std::string scheme(text.substr(0, i));
      for (char& s : scheme) {
        if (s >= 'A' && s <= 'Z') {
          s = static_cast<char>(s - 'A' + 'a');
        }
      }
      return scheme;
    }
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<std::string> part(CURLU* url, CURLUPart which, unsigned flags) {
  char* raw = nullptr;
  if (curl_url_get(url, which, &raw, flags) != CURLUE_OK || raw == nullptr) {
    return std::nullopt;
  }
  const CurlString owned(raw);
  return std::string(owned.get());
}

}  // namespace

std::optional<URL> URL::parse(std::string_view text) {
  auto scheme = schemeOf(text);
  if (!scheme) {
    return std::nullopt;
  }
  const std::string_view rest = text.substr(scheme->size() + 1);
  if (!rest.starts_with("//")) {
    // Opaque ("mailto:someone@example.com") or rooted without authority ("file:/tmp").
    if (!isURLText(rest)) {
      return std::nullopt;
    }
    if (!rest.starts_with("/")) {
      return URL{std::move(*scheme), "", std::nullopt};
    }
  } else if (rest.substr(2).starts_with("/") && *scheme != "file") {
    // An empty authority ("https:///path"): curl would take the path for the host.
    if (!isURLText(rest)) {
      return std::nullopt;
    }
    return URL{std::move(*scheme), "", std::nullopt};
  }
  std::unique_ptr<CURLU, CurlURLFree> url(curl_url());
  if (!url) {
    return std::nullopt;
  }
  const std::string copy(text);
  if (curl_url_set(url.get(), CURLUPART_URL, copy.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  URL parsed{std::move(*scheme), part(url.get(), CURLUPART_HOST, 0).value_or(""),
             part(url.get(), CURLUPART_PATH, CURLU_URLDECODE)};
  if (parsed.scheme == "file" && parsed.host == "localhost") {
    parsed.host.clear();
  }
  return parsed;
}

std::optional<std::string> URL::filePath(std::string_view text) {
  auto url = parse(text);
  if (!url || url->scheme != "file" || !url->host.empty() || !url->path ||
      !url->path->starts_with("/")) {
    return std::nullopt;
  }
  std::string path = std::move(*url->path);
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

}  // namespace vesk
