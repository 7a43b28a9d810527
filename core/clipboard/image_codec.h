#pragma once
// ImageCodec: the image operations the clipboard needs, over encoded image bytes. Core
// computes the sizes (core/image_thumbnails.h); the codec decodes, scales and encodes. The
// Qt implementation lives in platform/linux/qt_image_codec.h.
//
// Implementations are immutable and callable from any thread at once; every operation gives
// none on any failure (unknown format, corrupt data, an image too large to decode).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vesk {

class ImageCodec {
 public:
  // What the header of an image says, without decoding its pixels.
  struct Properties {
    std::string type;        // detected type as a type identifier: "public.png", "public.jpeg", ...
    int64_t imageCount = 0;  // number of images (frames) held, at least 1 when readable
    int64_t width = 0;       // pixel size of the first image as stored, before orientation
    int64_t height = 0;
    int orientation = 1;  // EXIF orientation 1-8; 5 and above swap width and height
    bool operator==(const Properties&) const = default;
  };

  // No image of more pixels than this is decoded: at four bytes a pixel, 256 MiB. A small file
  // may declare a huge image (a PNG of one-bit pixels compresses a thousandfold), and scaling
  // works on 32-bit pixels whatever the stored depth.
  static constexpr int64_t maxPixelSide = 8192;
  static constexpr int64_t maxPixels = maxPixelSide * maxPixelSide;

  ImageCodec() = default;
  virtual ~ImageCodec() = default;
  ImageCodec(const ImageCodec&) = delete;
  ImageCodec& operator=(const ImageCodec&) = delete;

  virtual std::optional<Properties> properties(std::span<const uint8_t> bytes) const = 0;

  // The first image decoded and encoded as PNG.
  virtual std::optional<std::vector<uint8_t>> firstImageAsPNG(
      std::span<const uint8_t> bytes) const = 0;

  // The first image with its orientation applied, scaled so that its longer side is
  // `maxPixelSize` (never upscaled), as PNG.
  virtual std::optional<std::vector<uint8_t>> thumbnail(std::span<const uint8_t> bytes,
                                                        int maxPixelSize) const = 0;

  // thumbnail(bytes, maxPixelSize) drawn into a `side` × `side` canvas (8-bit RGBA), scaled to
  // fill it and centred, the overflow cropped evenly on both sides; as PNG.
  virtual std::optional<std::vector<uint8_t>> filledSquare(std::span<const uint8_t> bytes,
                                                           int maxPixelSize, int side) const = 0;
};

}  // namespace vesk
