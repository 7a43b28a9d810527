#pragma once
// URL: the parts of an absolute URL that the clipboard needs, from one parser for the whole
// core (curl's URL API for URLs with an authority; the scheme of opaque URLs such as
// "mailto:" is split here by the generic URL syntax).

#include <optional>
#include <string>
#include <string_view>

namespace vesk {

struct URL {
  std::string scheme;  // lower-cased
  std::string host;    // empty when there is none (opaque URLs, "file:///")
  // The path percent-decoded; none when it doesn't decode to text without NUL bytes.
  std::optional<std::string> path;

  bool operator==(const URL&) const = default;

  // None unless `text` is an absolute URL: a scheme, then either "//" and an authority that
  // parses, or an opaque part of URL characters only.
  static std::optional<URL> parse(std::string_view text);

  // The file-system path of a "file" URL, without a trailing "/" (except for "/"); none for
  // other URLs or paths that don't decode.
  static std::optional<std::string> filePath(std::string_view text);
};

}  // namespace vesk
