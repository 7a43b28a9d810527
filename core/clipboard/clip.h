#pragma once
// Clip: one entry of the clipboard history, and the typed pieces a copy is made of.
// Plain values, equal when every field is equal.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

using Bytes = std::vector<uint8_t>;

// One typed flavour of one clipboard item: a type identifier ("public.utf8-plain-text") and
// its bytes.
struct Representation {
  std::string type;
  Bytes data;
  bool operator==(const Representation&) const = default;
};

// The items of one copy, in clipboard order, each a list of its representations.
using ClipItems = std::vector<std::vector<Representation>>;

struct Clip {
  // What was copied. The raw values are what the store writes; never change them.
  enum class Kind { text, richText, link, image, files };
  static constexpr Kind kinds[] = {Kind::text, Kind::richText, Kind::link, Kind::image,
                                   Kind::files};
  static std::string_view rawValue(Kind kind);
  // None for a value that names no kind.
  static std::optional<Kind> kindFromRawValue(std::string_view rawValue);

  // Characters of text loaded into memory per clip, and per files clip (a list of paths).
  static constexpr int64_t textLimit = 4096;
  static constexpr int64_t pathsLimit = 262144;

  int64_t id = 0;  // row id in the store, never reused
  Kind kind = Kind::text;
  double copied = 0;                  // last copied, seconds since 1970
  std::optional<std::string> source;  // source marker or frontmost app's id; none if unknown
  bool pinned = false;                // exempt from retention and clearing
  int64_t size = 0;                   // bytes counted toward the size limit
  std::string text;        // as loaded: at most textLimit (pathsLimit for files) characters
  int64_t lines = 0;       // lineCount of the full text
  int64_t textBytes = 0;   // UTF-8 length of the full text; set it with the text
  int64_t pixelWidth = 0;  // 0 unless an image
  int64_t pixelHeight = 0;

  bool operator==(const Clip&) const = default;

  // Line feeds in the text, plus one when it is non-empty and does not end in one. Carriage
  // returns alone end no line.
  static int64_t lineCount(std::string_view text);
};

}  // namespace vesk
