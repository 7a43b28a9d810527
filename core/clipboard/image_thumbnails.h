#pragma once
// ImageThumbnails: the row thumbnail and the preview of an image clip, sized here and drawn by
// an ImageCodec; and the conversion of any copied image to PNG.

#include <cstdint>
#include <optional>
#include <span>

#include "core/clipboard/clip.h"

namespace vesk {

class ImageCodec;

namespace ImageThumbnails {

struct Box {
  int width = 0;
  int height = 0;
};

struct Rendered {
  int64_t width = 0;  // pixel size, orientation applied
  int64_t height = 0;
  Bytes row;      // PNG, rowPixels square, the image scaled to fill and centred
  Bytes preview;  // PNG, fitted into the preview box, never upscaled
  bool operator==(const Rendered&) const = default;
};

// None when the bytes are no image the codec can read, or drawing fails.
std::optional<Rendered> render(std::span<const uint8_t> bytes, int rowPixels, Box preview,
                               const ImageCodec& codec);

// The first image of `bytes` as PNG; none on failure.
std::optional<Bytes> png(std::span<const uint8_t> bytes, const ImageCodec& codec);

}  // namespace ImageThumbnails

}  // namespace vesk
