#include "core/base/utf8.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include <unicode/utf8.h>

namespace vesk::UTF8 {

namespace {

// The offset of the first ill-formed sequence, or npos. ICU's macros take 32-bit lengths, so
// longer text is walked in pieces that end on a character boundary.
size_t firstInvalid(std::string_view bytes) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t i = 0;
  while (i < bytes.size()) {
    if (data[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t start = i;
    const auto length = static_cast<int32_t>(std::min<size_t>(bytes.size() - start, 4));
    int32_t at = 0;
    UChar32 c = 0;
    U8_NEXT(data + start, at, length, c);
    if (c < 0) {
      return start;
    }
    i = start + static_cast<size_t>(at);
  }
  return std::string_view::npos;
}

}  // namespace

bool isValid(std::string_view bytes) {
  return firstInvalid(bytes) == std::string_view::npos;
}

std::string repaired(std::string_view bytes) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    if (data[i] < 0x80) {
      out.push_back(static_cast<char>(data[i]));
      ++i;
      continue;
    }
    const auto length = static_cast<int32_t>(std::min<size_t>(bytes.size() - i, 4));
    int32_t at = 0;
    UChar32 c = 0;
    U8_NEXT(data + i, at, length, c);
    if (c < 0) {
      out += kReplacement;
    } else {
      out.append(bytes.substr(i, static_cast<size_t>(at)));
    }
    i += static_cast<size_t>(at);
  }
  return out;
}

std::string valid(std::string bytes) {
  return isValid(bytes) ? std::move(bytes) : repaired(bytes);
}

std::optional<std::u32string> decode(std::string_view bytes) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  std::u32string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    if (data[i] < 0x80) {
      out.push_back(data[i]);
      ++i;
      continue;
    }
    const auto length = static_cast<int32_t>(std::min<size_t>(bytes.size() - i, 4));
    int32_t at = 0;
    UChar32 c = 0;
    U8_NEXT(data + i, at, length, c);
    if (c < 0) {
      return std::nullopt;
    }
    out.push_back(static_cast<char32_t>(c));
    i += static_cast<size_t>(at);
  }
  return out;
}

void append(std::string& into, char32_t scalar) {
  const bool isScalar = scalar <= 0x10FFFF && !(scalar >= 0xD800 && scalar <= 0xDFFF);
  if (!isScalar) {
    into += kReplacement;
    return;
  }
  uint8_t buffer[U8_MAX_LENGTH];
  int32_t length = 0;
  U8_APPEND_UNSAFE(buffer, length, static_cast<UChar32>(scalar));
  into.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
}

namespace {

bool continues(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

size_t prefixBytes(std::string_view text, size_t characters) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!continues(text[i])) {
      if (count == characters) {
        return i;
      }
      ++count;
    }
  }
  return text.size();
}

size_t boundaryAtOrBefore(std::string_view text, size_t offset) {
  if (offset >= text.size()) {
    return text.size();
  }
  while (offset > 0 && continues(text[offset])) {
    --offset;
  }
  return offset;
}

}  // namespace vesk::UTF8
