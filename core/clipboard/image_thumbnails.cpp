#include "core/clipboard/image_thumbnails.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/clipboard/image_codec.h"

namespace vesk::ImageThumbnails {
namespace {

// EXIF orientations from 5 on turn the image by a quarter, swapping its sides.
constexpr int kFirstRotatedOrientation = 5;

int pixelSize(double length) {
  return std::max(1, static_cast<int>(std::lround(length)));
}

}  // namespace

std::optional<Rendered> render(std::span<const uint8_t> bytes, int rowPixels, Box preview,
                               const ImageCodec& codec) {
  const auto properties = codec.properties(bytes);
  if (!properties || properties->width <= 0 || properties->height <= 0 || rowPixels <= 0 ||
      preview.width <= 0 || preview.height <= 0) {
    return std::nullopt;
  }
  int64_t width = properties->width;
  int64_t height = properties->height;
  if (properties->orientation >= kFirstRotatedOrientation) {
    std::swap(width, height);
  }
  const auto longer = static_cast<double>(std::max(width, height));
  const auto shorter = static_cast<double>(std::min(width, height));

  const double scale = std::min({1.0, preview.width / static_cast<double>(width),
                                 preview.height / static_cast<double>(height)});
  auto previewPNG = codec.thumbnail(bytes, pixelSize(scale * longer));
  if (!previewPNG) {
    return std::nullopt;
  }
  const double rowLonger = std::min(rowPixels / shorter * longer, longer);
  auto rowPNG = codec.filledSquare(bytes, pixelSize(rowLonger), rowPixels);
  if (!rowPNG) {
    return std::nullopt;
  }
  return Rendered{width, height, std::move(*rowPNG), std::move(*previewPNG)};
}

std::optional<Bytes> png(std::span<const uint8_t> bytes, const ImageCodec& codec) {
  return codec.firstImageAsPNG(bytes);
}

}  // namespace vesk::ImageThumbnails
