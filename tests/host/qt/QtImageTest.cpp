// PNG files libpng wrote, files that are no PNG or claim too much, and the QImage that paints the
// surface itself.
#include "host/qt/QtImage.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <QPainter>
#include <QTemporaryDir>
#include <string>
#include <tuple>
#include <vector>

namespace remcons {
namespace {

using Bytes = std::vector<uint8_t>;

// Ours written read back by libpng is every snapshot test's check; here we read what libpng writes,
// in colour and in grey.
TEST(QtImage, WeReadWhatLibpngWrites) {
  QTemporaryDir dir;
  const std::string theirs = dir.filePath("theirs.png").toStdString();
  for (const int channels : {3, 1}) {
    Bytes pixels(5 * 3 * channels);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 17 + 3);
    png_image w{};
    w.version = PNG_IMAGE_VERSION;
    w.width = 5;
    w.height = 3;
    w.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    ASSERT_TRUE(png_image_write_to_file(&w, theirs.c_str(), 0, pixels.data(), 0, nullptr));
    const std::optional<Surface> loaded = LoadPng(theirs);
    ASSERT_TRUE(loaded && loaded->width() == 5 && loaded->height() == 3);
    for (int i = 0; i < 15; ++i) {
      const uint8_t* p = &pixels[static_cast<size_t>(i * channels)];
      EXPECT_EQ(loaded->At(i % 5, i / 5), Rgb(p[0], p[channels / 2], p[channels - 1])) << i;
    }
  }
}

// A PNG chunk with its CRC.
Bytes Chunk(const char* type, const Bytes& data) {
  Bytes out;
  auto be32 = [&](uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
  };
  be32(static_cast<uint32_t>(data.size()));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  be32(static_cast<uint32_t>(crc32(crc, data.data(), static_cast<uInt>(data.size()))));
  return out;
}

TEST(QtImage, RefusesWhatIsNoPngOrTooLargeAndSaysWhy) {
  QTemporaryDir dir;
  // A valid header that claims 100000 x 100000 pixels must not make us allocate 40 GB.
  Bytes huge = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (auto part :
       {Chunk("IHDR", {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0, 8, 2, 0, 0, 0}),
        Chunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}), Chunk("IEND", {})}) {
    huge.insert(huge.end(), part.begin(), part.end());
  }
  const std::string text = "not an image at all";
  const std::pair<Bytes, const char*> cases[] = {
      {Bytes(text.begin(), text.end()), ""}, {huge, "too large"}, {{}, ""}};
  std::string error;
  for (const auto& [bytes, reason] : cases) {
    error.clear();
    EXPECT_FALSE(DecodePng(bytes.data(), bytes.size(), &error)) << reason;
    EXPECT_TRUE(!error.empty() && error.find(reason) != std::string::npos) << error;
  }
  EXPECT_FALSE(LoadPng(dir.filePath("absent.png").toStdString(), &error));
  EXPECT_NE(error.find("absent.png"), std::string::npos) << error;
  EXPECT_FALSE(SavePng(Surface(), dir.filePath("empty.png").toStdString(), &error));
  EXPECT_NE(error.find("empty"), std::string::npos);
  EXPECT_TRUE(EncodePng(Surface()).empty());

  // The QImage of a surface paints the surface itself.
  Surface s(8, 4, Rgb(0, 0, 0));
  QImage image = ImageOf(s);
  QPainter(&image).fillRect(QRect(2, 1, 3, 2), QColor(10, 20, 30));
  EXPECT_EQ(std::tuple(s.At(2, 1), s.At(4, 2), s.At(5, 2)),
            std::tuple(Rgb(10, 20, 30), Rgb(10, 20, 30), Rgb(0, 0, 0)));
  EXPECT_EQ(ConstImageOf(s).pixel(3, 1), QColor(10, 20, 30).rgb());
  EXPECT_TRUE(ImageOf(*std::make_unique<Surface>()).isNull());
}

}  // namespace
}  // namespace remcons
