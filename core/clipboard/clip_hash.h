#pragma once
// The content hash that identifies a copy: two copies with the same hash are one clip.

#include <array>
#include <cstdint>

#include "core/clipboard/clip_reading.h"

namespace vesk {

// SHA-256 over the kind, each item's representations and the image, each field preceded by
// its length as 8 little-endian bytes.
std::array<uint8_t, 32> clipHash(const ClipContent& content);

}  // namespace vesk
