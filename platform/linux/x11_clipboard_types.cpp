#include "platform/linux/x11_clipboard_types.h"

#include <algorithm>
#include <array>

#include "core/base/utf8.h"

namespace vesk {
namespace {

struct Mapping {
  std::string_view type;
  std::array<std::string_view, 4> targets;  // best first; empty entries unused
};

// The offered targets for each stored type. The first target is also what a write offers
// first; a write offers every listed target except the Latin-1 one.
constexpr std::array<Mapping, 7> kMappings{{
    {"public.utf8-plain-text", {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING"}},
    {"public.rtf", {"text/rtf", "application/rtf", "", ""}},
    {"public.html", {"text/html", "", "", ""}},
    {"public.png", {"image/png", "", "", ""}},
    {"public.tiff", {"image/tiff", "", "", ""}},
    {"public.jpeg", {"image/jpeg", "", "", ""}},
    {"public.heic", {"image/heic", "", "", ""}},
}};

constexpr std::string_view kMarkerPrefix = "org.nspasteboard.";
constexpr std::string_view kCopiedFiles = "x-special/gnome-copied-files";

const Mapping* mappingOfTarget(std::string_view target) {
  for (const Mapping& mapping : kMappings) {
    for (const std::string_view candidate : mapping.targets) {
      if (!candidate.empty() && candidate == target) {
        return &mapping;
      }
    }
  }
  // Owners differ in how they spell the charset parameter.
  if (target == "text/plain;charset=UTF-8" || target == "text/plain;charset=utf8") {
    return kMappings.data();
  }
  return nullptr;
}

// The targets that offer a representation of the copy's first item, with their bytes: the
// mapped targets of its type (never the Latin-1 one), or for another type (a marker) the type
// itself, with KDE's password hint beside the concealed marker.
std::vector<std::pair<std::string_view, Bytes>> targetsOffering(
    const Representation& representation) {
  const std::string_view type = representation.type;
  std::vector<std::pair<std::string_view, Bytes>> targets;
  const auto* const mapping =
      std::find_if(kMappings.begin(), kMappings.end(),
                   [&](const Mapping& candidate) { return candidate.type == type; });
  if (mapping == kMappings.end()) {
    targets.emplace_back(type, representation.data);
    if (type == X11ClipboardTypes::kConcealed) {
      targets.emplace_back(X11ClipboardTypes::kKdePasswordHint,
                           Bytes{'s', 'e', 'c', 'r', 'e', 't'});
    }
    return targets;
  }
  for (const std::string_view target : mapping->targets) {
    if (!target.empty() && !X11ClipboardTypes::isLatin1(target)) {
      targets.emplace_back(target, representation.data);
    }
  }
  return targets;
}

// The URLs of every item as one URI list and, for files, in the file managers' copied-files
// form.
std::vector<std::pair<std::string_view, Bytes>> uriOffer(const std::vector<std::string>& uris,
                                                         bool allFiles) {
  std::string list;
  for (const std::string& uri : uris) {
    list += uri + "\r\n";
  }
  std::vector<std::pair<std::string_view, Bytes>> offer;
  offer.emplace_back(X11ClipboardTypes::kUriList, Bytes(list.begin(), list.end()));
  if (allFiles) {
    std::string copied = "copy";
    for (const std::string& uri : uris) {
      copied += "\n" + uri;
    }
    offer.emplace_back(kCopiedFiles, Bytes(copied.begin(), copied.end()));
  }
  return offer;
}

bool contains(const std::vector<std::string>& list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

std::vector<std::string> X11ClipboardTypes::typesOf(const std::vector<std::string>& targets) {
  std::vector<std::string> types;
  const auto add = [&](std::string_view type) {
    if (std::find(types.begin(), types.end(), type) == types.end()) {
      types.emplace_back(type);
    }
  };
  for (const std::string& target : targets) {
    if (const Mapping* mapping = mappingOfTarget(target)) {
      add(mapping->type);
    } else if (target.starts_with(kMarkerPrefix)) {
      add(target);
    }
  }
  return types;
}

std::vector<std::vector<std::string>> X11ClipboardTypes::itemTypesOf(const Offer& offer) {
  std::vector<std::vector<std::string>> items(std::max<size_t>(1, offer.uris.size()));
  items[0] = typesOf(offer.targets);
  if (offer.concealed && !contains(items[0], kConcealed)) {
    items[0].emplace_back(kConcealed);
  }
  for (size_t i = 0; i < offer.uris.size(); ++i) {
    items[i].emplace_back(isFileUri(offer.uris[i]) ? kFileUrl : kUrl);
  }
  return items;
}

std::optional<X11ClipboardTypes::Read> X11ClipboardTypes::read(const Offer& offer, size_t item,
                                                               const std::string& type,
                                                               const Receive& receive) {
  if (type == kFileUrl || type == kUrl) {
    if (item >= offer.uris.size() || isFileUri(offer.uris[item]) != (type == kFileUrl)) {
      return std::nullopt;
    }
    const std::string& uri = offer.uris[item];
    return Read{Bytes(uri.begin(), uri.end())};
  }
  if (item != 0) {
    return std::nullopt;
  }
  if (type == kConcealed && offer.concealed && !contains(offer.targets, kConcealed)) {
    return Read{Bytes{'s', 'e', 'c', 'r', 'e', 't'}, false};
  }
  for (const std::string& target : targetsFor(type)) {
    if (!contains(offer.targets, target)) {
      continue;
    }
    if (std::optional<Bytes> bytes = receive(target)) {
      if (isLatin1(target)) {
        const std::string text = latin1ToUtf8(*bytes);
        bytes = Bytes(text.begin(), text.end());
      }
      return Read{std::move(*bytes)};
    }
  }
  return std::nullopt;
}

std::vector<std::string> X11ClipboardTypes::targetsFor(std::string_view type) {
  std::vector<std::string> targets;
  for (const Mapping& mapping : kMappings) {
    if (mapping.type != type) {
      continue;
    }
    for (const std::string_view target : mapping.targets) {
      if (!target.empty()) {
        targets.emplace_back(target);
      }
    }
    if (type == kPlainText) {
      targets.insert(targets.begin() + 2, "text/plain;charset=UTF-8");
    }
    return targets;
  }
  return {std::string(type)};
}

std::string X11ClipboardTypes::latin1ToUtf8(const std::vector<uint8_t>& bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const uint8_t byte : bytes) {
    UTF8::append(text, byte);  // Latin-1's bytes are the first 256 code points
  }
  return text;
}

std::vector<std::string> X11ClipboardTypes::parseUriList(std::string_view list) {
  std::vector<std::string> uris;
  while (!list.empty()) {
    const size_t end = list.find('\n');
    std::string_view line = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\0')) {
      line.remove_suffix(1);
    }
    while (!line.empty() && line.front() == ' ') {
      line.remove_prefix(1);
    }
    if (!line.empty() && line.front() != '#') {
      uris.emplace_back(line);
    }
  }
  return uris;
}

bool X11ClipboardTypes::isFileUri(std::string_view uri) {
  if (uri.size() < 5) {
    return false;
  }
  std::string scheme(uri.substr(0, 5));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return scheme == "file:";
}

std::vector<std::pair<std::string, Bytes>> X11ClipboardTypes::offerFor(const ClipItems& items) {
  std::vector<std::pair<std::string, Bytes>> offer;
  const auto has = [&](std::string_view target) {
    return std::any_of(offer.begin(), offer.end(),
                       [&](const auto& entry) { return entry.first == target; });
  };
  const auto add = [&](std::string_view target, const Bytes& data) {
    if (!has(target)) {
      offer.emplace_back(std::string(target), data);
    }
  };

  std::vector<std::string> uris;
  bool allFiles = true;
  for (size_t index = 0; index < items.size(); ++index) {
    for (const Representation& representation : items[index]) {
      const std::string_view type = representation.type;
      if (type == kFileUrl || type == kUrl) {
        // One URL per item: the first of each item, as reading gives one item per URI.
        uris.emplace_back(representation.data.begin(), representation.data.end());
        allFiles = allFiles && isFileUri(uris.back());
        continue;
      }
      if (index != 0) {
        continue;  // the X11 clipboard has one item; the first one speaks for the copy
      }
      for (auto& [target, bytes] : targetsOffering(representation)) {
        add(target, bytes);
      }
    }
  }
  if (!uris.empty()) {
    for (auto& [target, bytes] : uriOffer(uris, allFiles)) {
      add(target, bytes);
    }
  }
  return offer;
}

bool X11ClipboardTypes::hintConceals(const std::optional<Bytes>& value) {
  constexpr size_t kLongestHint = 64;
  if (!value) {
    return true;
  }
  std::string text(value->begin(), value->end());
  while (!text.empty() && text.back() == '\0') {
    text.pop_back();  // some owners end their strings with NUL
  }
  std::string word(ClipReading::trimmed(text));
  const auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  };
  if (word.empty() || word.size() > kLongestHint || !std::all_of(word.begin(), word.end(), plain)) {
    return true;
  }
  std::transform(word.begin(), word.end(), word.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return word == "secret";
}

}  // namespace vesk
