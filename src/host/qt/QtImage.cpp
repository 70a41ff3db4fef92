#include "host/qt/QtImage.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QString>

namespace remcons {
namespace {

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::optional<Surface> Read(QImageReader& reader, std::string* error) {
  const QSize size = reader.size();
  if (!size.isValid()) {
    SetError(error, "not a readable PNG image: " + reader.errorString().toStdString());
    return std::nullopt;
  }
  if (size.width() > kMaxImageSide || size.height() > kMaxImageSide) {
    SetError(error, "image of " + std::to_string(size.width()) + " x " +
                        std::to_string(size.height()) + " pixels is too large");
    return std::nullopt;
  }
  QImage image;
  if (!reader.read(&image)) {
    SetError(error, "cannot decode the PNG image: " + reader.errorString().toStdString());
    return std::nullopt;
  }
  return SurfaceFromImage(image);
}

}  // namespace

QImage ImageOf(Surface& surface) {
  if (surface.width() <= 0 || surface.height() <= 0) return QImage();
  return QImage(reinterpret_cast<uchar*>(surface.data()), surface.width(), surface.height(),
                static_cast<qsizetype>(surface.stride()) * 4, QImage::Format_RGB32);
}

QImage ConstImageOf(const Surface& surface) {
  if (surface.width() <= 0 || surface.height() <= 0) return QImage();
  return QImage(reinterpret_cast<const uchar*>(surface.data()), surface.width(), surface.height(),
                static_cast<qsizetype>(surface.stride()) * 4, QImage::Format_RGB32);
}

Surface SurfaceFromImage(const QImage& image) {
  if (image.isNull()) return Surface();
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  Surface surface(rgb.width(), rgb.height());
  for (int y = 0; y < rgb.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    Pixel* out = surface.Row(y);
    // The x byte of RGB32 is not reliable; ours is always 0xFF.
    for (int x = 0; x < rgb.width(); ++x) out[x] = 0xFF000000u | (row[x] & 0x00FFFFFFu);
  }
  return surface;
}

bool SavePng(const Surface& surface, const std::string& path, std::string* error) {
  if (surface.width() <= 0 || surface.height() <= 0) {
    SetError(error, path + ": empty image");
    return false;
  }
  return WritePng(path, surface, error);
}

std::optional<Surface> LoadPng(const std::string& path, std::string* error) {
  QImageReader reader(QString::fromStdString(path), "png");
  auto surface = Read(reader, error);
  if (!surface && error) *error = path + ": " + *error;
  return surface;
}

std::optional<Surface> DecodePng(const uint8_t* data, size_t size, std::string* error) {
  QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "png");
  return Read(reader, error);
}

}  // namespace remcons
