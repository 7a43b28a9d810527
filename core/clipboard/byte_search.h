#pragma once
// Substring search over bytes for the clip search's hot loop: whether a folded term occurs in
// a folded key. No allocation; safe from any thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vesk::ByteSearch {

// True when `needle` occurs in `haystack` (an empty needle occurs everywhere). Keys of a few
// hundred bytes that lack the term cost about one vector compare per 16 or 32 positions.
bool contains(std::string_view haystack, std::span<const uint8_t> needle);

// How many bytes past the end of its haystack containsPadded may read.
inline constexpr size_t kPadding = 32;

// The same answer as contains(), for a haystack followed by at least kPadding readable bytes
// (their values don't matter): with AVX2 the vector compares run over the last positions too,
// so a key costs no byte-by-byte tail, and a third byte of the term is compared before the
// rest is checked. For keys packed one after another in a padded buffer.
bool containsPadded(std::string_view haystack, std::span<const uint8_t> needle);

}  // namespace vesk::ByteSearch
