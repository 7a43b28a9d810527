// Feeds arbitrary clipboard contents to ClipReading::snapshot: items of (type, bytes), types
// offered whose read fails, a plain string, a copy that lands while the snapshot is read. It
// must never crash, hang or leak, and what it yields must be storable: a copy carrying a skip
// marker or changed meanwhile yields nothing; an image clip has PNG bytes and no text, other
// clips text and no image; the kept items hold no image type and no empty item.
//
// Input: one byte of settings (bit 0: the type list can't be had; bit 1: a frontmost
// application is known; bits 2-7: the read at which another copy lands, 0 for none), then
// records: op % 4 == 0 starts an item, 1 adds a flavour, 2 adds a flavour whose read fails,
// 3 sets the plain string. A flavour is a type byte (below the known list's size: that type;
// otherwise a custom type of (byte - size) % 32 bytes) and data of a two-byte length.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/utf8.h"
#include "core/clipboard/clip_reading.h"
#include "core/clipboard/image_codec.h"
#include "core/clipboard/pasteboard.h"

namespace {

using vesk::ClipReading::isImageType;

// Names the broken invariant, then crashes for libFuzzer.
#define CHECK(condition)                                                          \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "%s:%d: %s failed\n", __FILE__, __LINE__, #condition); \
      __builtin_trap();                                                           \
    }                                                                             \
  } while (false)

constexpr std::string_view kKnownTypes[] = {
    vesk::ClipReading::utf8Text,
    vesk::ClipReading::utf16Text,
    vesk::ClipReading::fileURL,
    vesk::ClipReading::png,
    "public.tiff",
    "public.jpeg",
    "public.heic",
    "public.rtf",
    vesk::ClipReading::flatRTFD,
    "public.html",
    vesk::ClipReading::skipMarkers[0],
    vesk::ClipReading::skipMarkers[1],
    vesk::ClipReading::skipMarkers[2],
    vesk::ClipReading::sourceMarker,
    vesk::ClipReading::passwordManagerHint,
};
constexpr std::string_view kPNGSignature = "\x89PNG\r\n\x1a\n";

class Input {
 public:
  explicit Input(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool atEnd() const { return at_ >= bytes_.size(); }
  uint8_t byte() { return atEnd() ? 0 : bytes_[at_++]; }
  std::vector<uint8_t> bytes(size_t count) {
    const size_t n = std::min(count, bytes_.size() - std::min(at_, bytes_.size()));
    std::vector<uint8_t> out(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                             bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + n));
    at_ += n;
    return out;
  }
  std::string type() {
    const uint8_t pick = byte();
    if (pick < std::size(kKnownTypes)) {
      return std::string(kKnownTypes[pick]);
    }
    const auto data = bytes((pick - std::size(kKnownTypes)) % 32);
    return {data.begin(), data.end()};
  }
  std::vector<uint8_t> data() {
    const size_t low = byte();
    const size_t high = byte();
    return bytes(low | high << 8);
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

// A PNG is anything that starts with its signature and has a byte after it; "converting" any
// other image keeps its bytes behind a PNG signature, unless it is empty.
class SignatureCodec final : public vesk::ImageCodec {
 public:
  std::optional<Properties> properties(std::span<const uint8_t> bytes) const override {
    if (bytes.size() <= kPNGSignature.size() ||
        !std::equal(kPNGSignature.begin(), kPNGSignature.end(), bytes.begin(),
                    [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; })) {
      return std::nullopt;
    }
    return Properties{std::string(vesk::ClipReading::png), 1, 1, 1, 1};
  }
  std::optional<std::vector<uint8_t>> firstImageAsPNG(
      std::span<const uint8_t> bytes) const override {
    if (bytes.empty()) {
      return std::nullopt;
    }
    std::vector<uint8_t> out(kPNGSignature.begin(), kPNGSignature.end());
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
  }
  std::optional<std::vector<uint8_t>> thumbnail(std::span<const uint8_t> bytes,
                                                int /*maxPixelSize*/) const override {
    return firstImageAsPNG(bytes);
  }
  std::optional<std::vector<uint8_t>> filledSquare(std::span<const uint8_t> bytes,
                                                   int /*maxPixelSize*/,
                                                   int /*side*/) const override {
    return firstImageAsPNG(bytes);
  }
};

class FuzzPasteboard final : public vesk::Pasteboard {
 public:
  struct Flavour {
    std::string type;
    std::optional<std::vector<uint8_t>> data;
  };
  std::vector<std::vector<Flavour>> items;
  std::optional<std::string> plain;
  bool available = true;
  int changesAtRead = 0;  // 0: never
  bool changed = false;

  int64_t changeCount() override { return changed ? 2 : 1; }

  std::optional<std::vector<std::vector<std::string>>> itemTypes() override {
    if (!available) {
      return std::nullopt;
    }
    std::vector<std::vector<std::string>> types;
    for (const auto& item : items) {
      auto& list = types.emplace_back();
      for (const auto& flavour : item) {
        list.push_back(flavour.type);
      }
    }
    return types;
  }

  std::optional<std::vector<uint8_t>> data(size_t item, const std::string& type) override {
    if (++reads_ == changesAtRead) {
      changed = true;
    }
    CHECK(item < items.size());
    for (const auto& flavour : items[item]) {
      if (flavour.type == type) {
        return flavour.data;
      }
    }
    return std::nullopt;
  }

  std::optional<std::string> string(size_t item, const std::string& type) override {
    auto read = data(item, type);
    if (!read) {
      return std::nullopt;
    }
    return std::string(read->begin(), read->end());
  }

  std::optional<std::string> plainString() override { return plain; }

 private:
  int reads_ = 0;
};

bool hasSkipMarker(const FuzzPasteboard& board) {
  for (const auto& item : board.items) {
    for (const auto& flavour : item) {
      if (vesk::ClipReading::isSkipMarker(flavour.type)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input({data, size});
  FuzzPasteboard board;
  const uint8_t settings = input.byte();
  board.available = (settings & 1) == 0;
  const std::optional<std::string> frontmost =
      (settings & 2) != 0 ? std::optional<std::string>("org.example.Editor") : std::nullopt;
  board.changesAtRead = settings >> 2;
  while (!input.atEnd()) {
    const uint8_t op = input.byte() % 4;
    if (op == 0 || board.items.empty()) {
      board.items.emplace_back();
    }
    if (op == 1) {
      std::string type = input.type();
      board.items.back().push_back({std::move(type), input.data()});
    } else if (op == 2) {
      board.items.back().push_back({input.type(), std::nullopt});
    } else if (op == 3) {
      const auto plain = input.data();
      board.plain = std::string(plain.begin(), plain.end());
    }
  }

  static const SignatureCodec codec;
  const auto snapshot = vesk::ClipReading::snapshot(board, 1, frontmost, codec, 1000.0);
  if (!snapshot) {
    return 0;
  }
  CHECK(board.available && !board.changed && !hasSkipMarker(board));
  const vesk::ClipContent& content = snapshot->content;
  if (content.kind == vesk::Clip::Kind::image) {
    CHECK(content.image && codec.properties(*content.image) && content.text.empty());
  } else {
    CHECK(!content.image);
  }
  if (content.kind == vesk::Clip::Kind::text || content.kind == vesk::Clip::Kind::richText ||
      content.kind == vesk::Clip::Kind::link) {
    CHECK(vesk::UTF8::isValid(content.text));
  }
  for (const auto& item : content.items) {
    CHECK(!item.empty());
    for (const auto& representation : item) {
      CHECK(!isImageType(representation.type));
    }
  }
  return 0;
}
