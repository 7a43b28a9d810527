#pragma once
// UTF8: the one place that checks, repairs, decodes and encodes UTF-8.
//
// Well-formed means what Unicode means: no overlong forms, no surrogates, nothing past
// U+10FFFF. Repair replaces each maximal ill-formed subpart with U+FFFD, the substitution
// Unicode recommends, so "\xE2\x82" (a cut three-byte sequence) becomes one U+FFFD and
// "\xFF\xFF" two. Pure functions, safe from any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::UTF8 {

inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool isValid(std::string_view bytes);

// `bytes` with every ill-formed sequence replaced by U+FFFD.
std::string repaired(std::string_view bytes);

// The same, but valid text is moved through without a copy.
std::string valid(std::string bytes);

// The scalar values of `bytes`; none when they are not well-formed.
std::optional<std::u32string> decode(std::string_view bytes);

// Appends the UTF-8 of a Unicode scalar value; anything else appends U+FFFD.
void append(std::string& into, char32_t scalar);

// The byte length of the first `characters` code points of `text`; all of it when shorter.
size_t prefixBytes(std::string_view text, size_t characters);

// The last character boundary at or before byte `offset`, so that a cut there splits no
// character; `offset` past the end gives the size.
size_t boundaryAtOrBefore(std::string_view text, size_t offset);

}  // namespace vesk::UTF8
