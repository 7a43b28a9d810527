#include "core/clipboard/clip_reading.h"

#include <algorithm>
#include <utility>

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include "core/base/utf8.h"
#include "core/clipboard/image_codec.h"
#include "core/clipboard/image_thumbnails.h"
#include "core/clipboard/pasteboard.h"
#include "core/clipboard/url.h"

namespace vesk::ClipReading {
namespace {

constexpr UChar32 kObjectReplacement = 0xFFFC;

constexpr std::string_view kLinkTypes[] = {fileURL, "public.url", "public.url-name"};

template <size_t N>
bool contains(const std::string_view (&list)[N], std::string_view type) {
  return std::find(std::begin(list), std::end(list), type) != std::end(list);
}

bool isBlank(UChar32 c) {
  return c == kObjectReplacement || u_isUWhiteSpace(c) != 0;
}

// UTF-16 by its byte-order mark, big-endian without one; empty when it doesn't decode.
std::string decodedUTF16(const Bytes& data) {
  if (data.size() % 2 != 0) {
    return {};
  }
  bool bigEndian = true;
  size_t start = 0;
  if (data.size() >= 2) {
    if (data[0] == 0xFF && data[1] == 0xFE) {
      bigEndian = false;
      start = 2;
    } else if (data[0] == 0xFE && data[1] == 0xFF) {
      start = 2;
    }
  }
  std::u16string units;
  units.reserve((data.size() - start) / 2);
  for (size_t i = start; i < data.size(); i += 2) {
    const auto high = static_cast<char16_t>(bigEndian ? data[i] : data[i + 1]);
    const auto low = static_cast<char16_t>(bigEndian ? data[i + 1] : data[i]);
    units.push_back(static_cast<char16_t>((high << 8) | low));
  }
  std::string out;
  out.reserve(units.size());
  const auto count = static_cast<int32_t>(units.size());
  int32_t i = 0;
  while (i < count) {
    UChar32 c = 0;
    U16_NEXT(units.data(), i, count, c);
    if (U_IS_SURROGATE(c)) {
      return {};
    }
    UTF8::append(out, static_cast<char32_t>(c));
  }
  return out;
}

const Representation* firstOfType(const ClipItems& items, std::string_view type) {
  for (const auto& item : items) {
    for (const auto& representation : item) {
      if (representation.type == type) {
        return &representation;
      }
    }
  }
  return nullptr;
}

bool hasTextType(const ClipItems& items) {
  return std::any_of(items.begin(), items.end(), [](const auto& item) {
    return std::any_of(item.begin(), item.end(),
                       [](const Representation& r) { return contains(textTypes, r.type); });
  });
}

bool hasRichType(const ClipItems& items) {
  return std::any_of(items.begin(), items.end(), [](const auto& item) {
    return std::any_of(item.begin(), item.end(),
                       [](const Representation& r) { return isRichType(r.type); });
  });
}

}  // namespace

bool isKeptType(std::string_view type) {
  return contains(textTypes, type) || contains(richTypes, type) || contains(imageOrder, type) ||
         contains(kLinkTypes, type);
}
bool isImageType(std::string_view type) {
  return contains(imageOrder, type);
}
bool isRichType(std::string_view type) {
  return contains(richTypes, type);
}
bool isSkipMarker(std::string_view type) {
  return contains(skipMarkers, type);
}

std::string_view trimmed(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t begin = 0;
  while (begin < length) {
    int32_t next = begin;
    UChar32 c = 0;
    U8_NEXT(bytes, next, length, c);
    if (c < 0 || !isBlank(c)) {
      break;
    }
    begin = next;
  }
  int32_t end = length;
  while (end > begin) {
    int32_t previous = end;
    UChar32 c = 0;
    U8_PREV(bytes, begin, previous, c);
    if (c < 0 || !isBlank(c)) {
      break;
    }
    end = previous;
  }
  return text.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
}

std::string text(const ClipItems& items) {
  const Representation* utf16 = nullptr;
  for (const auto& item : items) {
    for (const auto& representation : item) {
      if (representation.type == utf8Text) {
        return UTF8::repaired(std::string_view(
            reinterpret_cast<const char*>(representation.data.data()), representation.data.size()));
      }
      if (utf16 == nullptr && representation.type == utf16Text) {
        utf16 = &representation;
      }
    }
  }
  return utf16 != nullptr ? decodedUTF16(utf16->data) : std::string();
}

bool needsImage(const ClipItems& items) {
  return firstOfType(items, fileURL) == nullptr && trimmed(text(items)).empty();
}

bool isLink(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c >= 0 && u_isUWhiteSpace(c)) {
      return false;
    }
  }
  const auto url = URL::parse(text);
  if (!url || !contains(linkSchemes, url->scheme)) {
    return false;
  }
  return url->scheme == "mailto" || !url->host.empty();
}

bool isPNG(std::span<const uint8_t> bytes, const ImageCodec& codec) {
  const auto properties = codec.properties(bytes);
  return properties && properties->type == png && properties->imageCount >= 1;
}

std::optional<ClipContent> content(const ClipItems& items, const ImageCodec& codec) {
  ClipItems kept;
  for (const auto& item : items) {
    std::vector<Representation> keep;
    std::copy_if(item.begin(), item.end(), std::back_inserter(keep),
                 [](const Representation& r) { return isKeptType(r.type); });
    if (!keep.empty()) {
      kept.push_back(std::move(keep));
    }
  }
  ClipItems stored;
  for (const auto& item : kept) {
    std::vector<Representation> keep;
    std::copy_if(item.begin(), item.end(), std::back_inserter(keep),
                 [](const Representation& r) { return !isImageType(r.type); });
    if (!keep.empty()) {
      stored.push_back(std::move(keep));
    }
  }

  std::string paths;
  for (const auto& item : kept) {
    const auto url = std::find_if(item.begin(), item.end(),
                                  [](const Representation& r) { return r.type == fileURL; });
    if (url == item.end()) {
      continue;
    }
    const std::string_view urlText(reinterpret_cast<const char*>(url->data.data()),
                                   url->data.size());
    if (auto path = URL::filePath(urlText)) {
      if (!paths.empty()) {
        paths += '\n';
      }
      paths += *path;
    }
  }
  if (!paths.empty()) {
    return ClipContent{Clip::Kind::files, std::move(paths), std::move(stored), std::nullopt};
  }

  std::string full = text(kept);
  const std::string_view trim = trimmed(full);
  if (trim.empty()) {
    for (const std::string_view type : imageOrder) {
      const Representation* image = firstOfType(kept, type);
      if (image == nullptr) {
        continue;
      }
      if (isPNG(image->data, codec)) {
        return ClipContent{Clip::Kind::image, "", std::move(stored), image->data};
      }
      auto converted = ImageThumbnails::png(image->data, codec);
      if (!converted) {
        return std::nullopt;
      }
      return ClipContent{Clip::Kind::image, "", std::move(stored), std::move(converted)};
    }
    if (full.empty()) {
      return std::nullopt;
    }
  }
  if (!trim.empty() && isLink(trim)) {
    return ClipContent{Clip::Kind::link, std::string(trim), std::move(stored), std::nullopt};
  }
  const auto kind = hasRichType(kept) ? Clip::Kind::richText : Clip::Kind::text;
  return ClipContent{kind, std::move(full), std::move(stored), std::nullopt};
}

std::optional<ClipSnapshot> snapshot(Pasteboard& pasteboard, int64_t changeCount,
                                     const std::optional<std::string>& frontmostApp,
                                     const ImageCodec& codec, double now) {
  const auto types = pasteboard.itemTypes();
  if (!types || types->empty()) {
    return std::nullopt;
  }
  for (size_t i = 0; i < types->size(); ++i) {
    const auto& item = (*types)[i];
    if (std::any_of(item.begin(), item.end(), [](const auto& t) { return isSkipMarker(t); })) {
      return std::nullopt;
    }
    if (std::find(item.begin(), item.end(), passwordManagerHint) != item.end()) {
      // Only "secret" conceals; a hint that can't be read is taken for one, to be safe.
      const auto hint = pasteboard.string(i, std::string(passwordManagerHint));
      if (!hint || trimmed(*hint) == "secret") {
        return std::nullopt;
      }
    }
  }

  std::optional<std::string> source;
  for (size_t i = 0; i < types->size() && !source; ++i) {
    const auto& item = (*types)[i];
    if (std::find(item.begin(), item.end(), sourceMarker) != item.end()) {
      source = pasteboard.string(i, std::string(sourceMarker));
    }
  }
  if (!source) {
    source = frontmostApp;
  }

  ClipItems items(types->size());
  for (size_t i = 0; i < types->size(); ++i) {
    for (const auto& type : (*types)[i]) {
      if (!isKeptType(type) || isImageType(type)) {
        continue;
      }
      if (auto data = pasteboard.data(i, type)) {
        items[i].push_back({type, std::move(*data)});
      }
    }
  }

  if (!hasTextType(items) && hasRichType(items)) {
    if (auto plain = pasteboard.plainString()) {
      items[0].push_back({std::string(utf8Text), Bytes(plain->begin(), plain->end())});
    }
  }

  if (needsImage(items)) {
    bool found = false;
    for (const std::string_view type : imageOrder) {
      for (size_t i = 0; i < types->size() && !found; ++i) {
        const auto& offered = (*types)[i];
        if (std::find(offered.begin(), offered.end(), type) == offered.end()) {
          continue;
        }
        found = true;
        if (auto data = pasteboard.data(i, std::string(type))) {
          items[i].push_back({std::string(type), std::move(*data)});
        }
      }
      if (found) {
        break;
      }
    }
  }
  // Attachments inside RTFD documents only exist on another platform; nothing to add here.

  if (pasteboard.changeCount() != changeCount || pasteboard.gaveUp(changeCount)) {
    return std::nullopt;
  }
  auto decided = content(items, codec);
  if (!decided) {
    return std::nullopt;
  }
  return ClipSnapshot{std::move(*decided), std::move(source), now};
}

}  // namespace vesk::ClipReading
