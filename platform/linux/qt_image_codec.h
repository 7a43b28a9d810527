#pragma once
// QtImageCodec: the clipboard's image codec over Qt's QImageReader and QImageWriter (PNG,
// JPEG and TIFF; HEIC only where an image-format plugin provides it). It uses QImage and
// QPainter on images only, so it works on any thread and needs no QGuiApplication.

#include "core/clipboard/image_codec.h"

namespace vesk {

class QtImageCodec final : public ImageCodec {
 public:
  // Decoding refuses images whose pixels would take more than this (a copied image is held
  // in memory once while it is converted and thumbnailed): maxPixels at four bytes a pixel.
  static constexpr int allocationLimitMB = static_cast<int>(maxPixels * 4 / (1024 * 1024));

  QtImageCodec() = default;

  std::optional<Properties> properties(std::span<const uint8_t> bytes) const override;
  std::optional<std::vector<uint8_t>> firstImageAsPNG(
      std::span<const uint8_t> bytes) const override;
  std::optional<std::vector<uint8_t>> thumbnail(std::span<const uint8_t> bytes,
                                                int maxPixelSize) const override;
  std::optional<std::vector<uint8_t>> filledSquare(std::span<const uint8_t> bytes, int maxPixelSize,
                                                   int side) const override;
};

}  // namespace vesk
