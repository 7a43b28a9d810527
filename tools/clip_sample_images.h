#pragma once
// Sample images for `vesk-tool clips --fill`: with the Qt codec when the platform library is
// built, none without it (then the fill adds no image clips).

#include <cstdint>
#include <memory>
#include <optional>

#include "core/clipboard/clip.h"
#include "core/clipboard/image_codec.h"

namespace vesk::samples {

// The image codec, or none.
std::shared_ptr<const ImageCodec> imageCodec();

// A PNG of that size in one colour with a stripe, or none without a codec.
std::optional<Bytes> samplePNG(int width, int height, uint32_t rgb);

}  // namespace vesk::samples
