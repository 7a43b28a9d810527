#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageWriter>

#include "platform/linux/qt_image_codec.h"
#include "tools/clip_sample_images.h"

namespace vesk::samples {

std::shared_ptr<const ImageCodec> imageCodec() {
  return std::make_shared<QtImageCodec>();
}

std::optional<Bytes> samplePNG(int width, int height, uint32_t rgb) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor::fromRgb(rgb));
  for (int y = 0; y < height; y += 8) {
    for (int x = 0; x < width; ++x) {
      image.setPixel(x, y, ~rgb);
    }
  }
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  if (!QImageWriter(&buffer, "png").write(image)) {
    return std::nullopt;
  }
  return Bytes(data.begin(), data.end());
}

}  // namespace vesk::samples
