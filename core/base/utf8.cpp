#include "core/base/utf8.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include <unicode/utf8.h>

namespace vesk::UTF8 {

namespace {

// One multi-byte character at `i`: its scalar value, negative when ill-formed, and the bytes it
// takes (at least one). ICU's macros take 32-bit lengths, so only the next four bytes are shown.
struct Next {
  UChar32 scalar = 0;
  size_t length = 0;
};

Next next(std::string_view bytes, size_t i) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + i;
  const auto length = static_cast<int32_t>(std::min<size_t>(bytes.size() - i, 4));
  int32_t at = 0;
  UChar32 c = 0;
  U8_NEXT(data, at, length, c);
  return {c, static_cast<size_t>(at)};
}

bool isASCII(char byte) {
  return static_cast<unsigned char>(byte) < 0x80;
}

// The offset of the first ill-formed sequence, or npos.
size_t firstInvalid(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (isASCII(bytes[i])) {
      ++i;
      continue;
    }
    const Next character = next(bytes, i);
    if (character.scalar < 0) {
      return i;
    }
    i += character.length;
  }
  return std::string_view::npos;
}

}  // namespace

bool isValid(std::string_view bytes) {
  return firstInvalid(bytes) == std::string_view::npos;
}

std::string repaired(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    if (isASCII(bytes[i])) {
      out.push_back(bytes[i]);
      ++i;
      continue;
    }
    const Next character = next(bytes, i);
    if (character.scalar < 0) {
      out += kReplacement;
    } else {
      out.append(bytes.substr(i, character.length));
    }
    i += character.length;
  }
  return out;
}

std::string valid(std::string bytes) {
  return isValid(bytes) ? std::move(bytes) : repaired(bytes);
}

std::optional<std::u32string> decode(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    if (isASCII(bytes[i])) {
      out.push_back(static_cast<unsigned char>(bytes[i]));
      ++i;
      continue;
    }
    const Next character = next(bytes, i);
    if (character.scalar < 0) {
      return std::nullopt;
    }
    out.push_back(static_cast<char32_t>(character.scalar));
    i += character.length;
  }
  return out;
}

void append(std::string& into, char32_t scalar) {
  const bool isScalar = scalar <= 0x10FFFF && !(scalar >= 0xD800 && scalar <= 0xDFFF);
  if (!isScalar) {
    into += kReplacement;
    return;
  }
  std::array<uint8_t, U8_MAX_LENGTH> buffer{};
  int32_t length = 0;
  uint8_t* const out = buffer.data();
  U8_APPEND_UNSAFE(out, length, static_cast<UChar32>(scalar));
  into.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(length));
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
