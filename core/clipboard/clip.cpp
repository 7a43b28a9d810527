#include "core/clipboard/clip.h"

#include <algorithm>

namespace vesk {

std::string_view Clip::rawValue(Kind kind) {
  switch (kind) {
    case Kind::text:
      return "text";
    case Kind::richText:
      return "rich-text";
    case Kind::link:
      return "link";
    case Kind::image:
      return "image";
    case Kind::files:
      return "files";
  }
  return "text";
}

std::optional<Clip::Kind> Clip::kindFromRawValue(std::string_view rawValue) {
  for (const Kind kind : kinds) {
    if (Clip::rawValue(kind) == rawValue) {
      return kind;
    }
  }
  return std::nullopt;
}

int64_t Clip::lineCount(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  const auto feeds = static_cast<int64_t>(std::count(text.begin(), text.end(), '\n'));
  return text.back() == '\n' ? feeds : feeds + 1;
}

}  // namespace vesk
