#pragma once
// The content hash that identifies a copy: two copies with the same hash are one clip.

#include <array>
#include <cstdint>

#include "core/base/result.h"
#include "core/clipboard/clip_reading.h"

namespace vesk {

// SHA-256 over the kind, each item's representations and the image, each field preceded by
// its length as 8 little-endian bytes. Fails when libcrypto does: a digest of zeros would make
// every later copy a repeat of one clip.
Result<std::array<uint8_t, 32>> clipHash(const ClipContent& content);

}  // namespace vesk
