#include "tools/clip_sample_images.h"

namespace vesk::samples {

std::shared_ptr<const ImageCodec> imageCodec() {
  return nullptr;
}

std::optional<Bytes> samplePNG(int, int, uint32_t) {
  return std::nullopt;
}

}  // namespace vesk::samples
