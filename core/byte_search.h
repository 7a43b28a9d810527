#pragma once
// Substring search over bytes for the clip search's hot loop: whether a folded term occurs in
// a folded key. No allocation; safe from any thread.

#include <cstdint>
#include <span>
#include <string_view>

namespace vesk::ByteSearch {

// True when `needle` occurs in `haystack` (an empty needle occurs everywhere). Keys of a few
// hundred bytes that lack the term cost about one vector compare per 16 or 32 positions.
bool contains(std::string_view haystack, std::span<const uint8_t> needle);

}  // namespace vesk::ByteSearch
