#include "platform/linux/qt_image_codec.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>

namespace vesk {
namespace {

// A read-only device over the caller's bytes, without copying them.
class ByteSource {
 public:
  explicit ByteSource(std::span<const uint8_t> bytes)
      : data_(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                      static_cast<qsizetype>(bytes.size()))),
        buffer_(&data_) {
    buffer_.open(QIODevice::ReadOnly);
    reader_.setDevice(&buffer_);
    reader_.setAllocationLimit(QtImageCodec::allocationLimitMB);
  }
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  QImageReader& reader() { return reader_; }

 private:
  QByteArray data_;
  QBuffer buffer_;
  QImageReader reader_;
};

bool tooLarge(QSize size) {
  return static_cast<int64_t>(size.width()) * size.height() > ImageCodec::maxPixels;
}

// The first image, unless its header (or, when the header doesn't tell, its decoded self)
// is larger than the codec decodes.
QImage boundedRead(QImageReader& reader) {
  if (const QSize declared = reader.size(); declared.isValid() && tooLarge(declared)) {
    return {};
  }
  QImage image = reader.read();
  return tooLarge(image.size()) ? QImage() : image;
}

std::string typeOf(const QByteArray& format) {
  if (format == "png") {
    return "public.png";
  }
  if (format == "jpeg" || format == "jpg") {
    return "public.jpeg";
  }
  if (format == "tiff" || format == "tif") {
    return "public.tiff";
  }
  if (format == "heic" || format == "heif") {
    return "public.heic";
  }
  return "public." + format.toStdString();
}

// EXIF orientation of a Qt transformation.
int orientationOf(QImageIOHandler::Transformations transformation) {
  switch (static_cast<int>(transformation)) {
    case QImageIOHandler::TransformationMirror:
      return 2;
    case QImageIOHandler::TransformationRotate180:
      return 3;
    case QImageIOHandler::TransformationFlip:
      return 4;
    case QImageIOHandler::TransformationFlipAndRotate90:
      return 5;
    case QImageIOHandler::TransformationRotate90:
      return 6;
    case QImageIOHandler::TransformationMirrorAndRotate90:
      return 7;
    case QImageIOHandler::TransformationRotate270:
      return 8;
    default:
      return 1;
  }
}

std::optional<std::vector<uint8_t>> encodePNG(const QImage& image) {
  if (image.isNull()) {
    return std::nullopt;
  }
  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  if (!writer.write(image)) {
    return std::nullopt;
  }
  return std::vector<uint8_t>(encoded.begin(), encoded.end());
}

// The first image, orientation applied, its longer side scaled to `maxPixelSize` at most.
QImage scaledImage(std::span<const uint8_t> bytes, int maxPixelSize) {
  ByteSource source(bytes);
  QImageReader& reader = source.reader();
  reader.setAutoTransform(true);
  const QSize size = reader.size();
  if (size.isValid() && tooLarge(size)) {
    return {};
  }
  if (size.isValid() && maxPixelSize > 0) {
    const int longer = std::max(size.width(), size.height());
    if (longer > maxPixelSize) {
      const double scale = static_cast<double>(maxPixelSize) / longer;
      // Scaling happens before the orientation is applied, on the stored size.
      reader.setScaledSize(
          QSize(std::max(1, static_cast<int>(std::lround(size.width() * scale))),
                std::max(1, static_cast<int>(std::lround(size.height() * scale)))));
    }
  }
  QImage image = boundedRead(reader);
  if (image.isNull()) {
    return {};
  }
  const int longer = std::max(image.width(), image.height());
  if (longer > maxPixelSize && maxPixelSize > 0) {
    // The size wasn't known before decoding.
    image = image.scaled(QSize(maxPixelSize, maxPixelSize), Qt::KeepAspectRatio,
                         Qt::SmoothTransformation);
  }
  return image;
}

}  // namespace

std::optional<ImageCodec::Properties> QtImageCodec::properties(
    std::span<const uint8_t> bytes) const {
  if (bytes.empty()) {
    return std::nullopt;
  }
  ByteSource source(bytes);
  QImageReader& reader = source.reader();
  if (!reader.canRead()) {
    return std::nullopt;
  }
  Properties properties;
  properties.type = typeOf(reader.format());
  properties.imageCount = std::max(1, reader.imageCount());
  properties.orientation = orientationOf(reader.transformation());
  QSize size = reader.size();
  if (!size.isValid()) {
    // Some formats only tell their size once decoded.
    const QImage image = boundedRead(reader);
    if (image.isNull()) {
      return std::nullopt;
    }
    size = image.size();
  }
  properties.width = size.width();
  properties.height = size.height();
  return properties;
}

std::optional<std::vector<uint8_t>> QtImageCodec::firstImageAsPNG(
    std::span<const uint8_t> bytes) const {
  if (bytes.empty()) {
    return std::nullopt;
  }
  ByteSource source(bytes);
  source.reader().setAutoTransform(false);
  return encodePNG(boundedRead(source.reader()));
}

std::optional<std::vector<uint8_t>> QtImageCodec::thumbnail(std::span<const uint8_t> bytes,
                                                            int maxPixelSize) const {
  if (bytes.empty() || maxPixelSize <= 0) {
    return std::nullopt;
  }
  return encodePNG(scaledImage(bytes, maxPixelSize));
}

std::optional<std::vector<uint8_t>> QtImageCodec::filledSquare(std::span<const uint8_t> bytes,
                                                               int maxPixelSize, int side) const {
  if (bytes.empty() || maxPixelSize <= 0 || side <= 0) {
    return std::nullopt;
  }
  const QImage image = scaledImage(bytes, maxPixelSize);
  if (image.isNull()) {
    return std::nullopt;
  }
  QImage canvas(side, side, QImage::Format_RGBA8888_Premultiplied);
  if (canvas.isNull()) {
    return std::nullopt;
  }
  canvas.fill(Qt::transparent);
  const double scale = std::max(static_cast<double>(side) / image.width(),
                                static_cast<double>(side) / image.height());
  const double width = image.width() * scale;
  const double height = image.height() * scale;
  {
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF((side - width) / 2, (side - height) / 2, width, height), image);
  }
  return encodePNG(canvas);
}

}  // namespace vesk
