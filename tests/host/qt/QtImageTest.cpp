#include "host/qt/QtImage.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <QPainter>
#include <QTemporaryDir>
#include <random>
#include <string>
#include <vector>

namespace remcons {
namespace {

// A surface of random colours with random x bytes, which must not matter.
Surface Random(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  Surface s(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) s.Set(x, y, rng());
  }
  return s;
}

void ExpectSameColours(const Surface& expected, const Surface& actual) {
  ASSERT_EQ(actual.width(), expected.width());
  ASSERT_EQ(actual.height(), expected.height());
  for (int y = 0; y < expected.height(); ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      ASSERT_TRUE(SameColor(actual.At(x, y), expected.At(x, y)))
          << x << "," << y << ": " << std::hex << actual.At(x, y) << " vs " << expected.At(x, y);
      ASSERT_EQ(actual.At(x, y) >> 24, 0xFFu) << "the x byte is written as 0xFF";
    }
  }
}

class QtImage : public ::testing::Test {
 protected:
  std::string Path(const char* name) { return dir.filePath(name).toStdString(); }
  QTemporaryDir dir;
};

TEST_F(QtImage, MemoryRoundTripIsPixelExact) {
  const Surface original = Random(1280, 16, 2);
  std::vector<uint8_t> png = EncodePng(original);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
            (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
  auto decoded = DecodePng(png.data(), png.size());
  ASSERT_TRUE(decoded);
  ExpectSameColours(original, *decoded);
}

// libpng reads what we write: the colours are in red, green, blue order.
TEST_F(QtImage, SavedFileReadsBackWithLibpng) {
  const Surface original = Random(19, 7, 3);
  ASSERT_TRUE(SavePng(original, Path("oracle.png")));
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, Path("oracle.png").c_str())) << image.message;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
  ASSERT_EQ(image.width, 19u);
  ASSERT_EQ(image.height, 7u);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 19; ++x) {
      const uint8_t* p = &rgb[(y * 19 + x) * 3];
      ASSERT_EQ(Rgb(p[0], p[1], p[2]), original.At(x, y) | 0xFF000000u) << x << "," << y;
    }
  }
}

// We read what libpng writes.
TEST_F(QtImage, LoadsFilesWrittenByLibpng) {
  const int width = 5, height = 3;
  std::vector<uint8_t> rgb(width * height * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 17 + 3);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGB;
  ASSERT_TRUE(
      png_image_write_to_file(&image, Path("libpng.png").c_str(), 0, rgb.data(), 0, nullptr))
      << image.message;
  auto loaded = LoadPng(Path("libpng.png"));
  ASSERT_TRUE(loaded);
  ASSERT_EQ(loaded->width(), width);
  ASSERT_EQ(loaded->height(), height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &rgb[(y * width + x) * 3];
      EXPECT_EQ(loaded->At(x, y), Rgb(p[0], p[1], p[2])) << x << "," << y;
    }
  }
}

TEST_F(QtImage, LoadsGreyscale) {
  const uint8_t grey[4] = {0, 85, 170, 255};
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 2;
  image.height = 2;
  image.format = PNG_FORMAT_GRAY;
  ASSERT_TRUE(png_image_write_to_file(&image, Path("grey.png").c_str(), 0, grey, 0, nullptr));
  auto loaded = LoadPng(Path("grey.png"));
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->At(0, 0), Rgb(0, 0, 0));
  EXPECT_EQ(loaded->At(1, 0), Rgb(85, 85, 85));
  EXPECT_EQ(loaded->At(0, 1), Rgb(170, 170, 170));
  EXPECT_EQ(loaded->At(1, 1), Rgb(255, 255, 255));
}

TEST_F(QtImage, MissingFileSaysWhich) {
  std::string error;
  EXPECT_FALSE(LoadPng(Path("absent.png"), &error));
  EXPECT_NE(error.find("absent.png"), std::string::npos) << error;
}

TEST_F(QtImage, RejectsWhatIsNotAPng) {
  const char text[] = "not an image at all";
  std::string error;
  EXPECT_FALSE(DecodePng(reinterpret_cast<const uint8_t*>(text), sizeof text, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(DecodePng(nullptr, 0));
}

std::vector<uint8_t> Chunk(const char* type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  auto be32 = [&](uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
  };
  be32(static_cast<uint32_t>(data.size()));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  be32(static_cast<uint32_t>(crc));
  return out;
}

// A valid header that claims 100000 × 100000 pixels must not make us allocate 40 GB.
TEST_F(QtImage, RejectsHugeDimensions) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const std::vector<uint8_t> ihdr = {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0, 8, 2, 0, 0, 0};
  const std::vector<uint8_t> idat = {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  for (auto part : {Chunk("IHDR", ihdr), Chunk("IDAT", idat), Chunk("IEND", {})}) {
    png.insert(png.end(), part.begin(), part.end());
  }
  std::string error;
  EXPECT_FALSE(DecodePng(png.data(), png.size(), &error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
}

TEST_F(QtImage, EmptySurfaceIsNotSaved) {
  std::string error;
  EXPECT_FALSE(SavePng(Surface(), Path("empty.png"), &error));
  EXPECT_NE(error.find("empty"), std::string::npos);
  EXPECT_TRUE(EncodePng(Surface()).empty());
}

TEST(QtImageWrap, PaintingTheImagePaintsTheSurface) {
  Surface s(8, 4, Rgb(0, 0, 0));
  QImage image = ImageOf(s);
  EXPECT_EQ(reinterpret_cast<const void*>(image.constBits()), static_cast<const void*>(s.data()));
  {
    QPainter painter(&image);
    painter.fillRect(QRect(2, 1, 3, 2), QColor(10, 20, 30));
  }
  EXPECT_EQ(s.At(2, 1), Rgb(10, 20, 30));
  EXPECT_EQ(s.At(4, 2), Rgb(10, 20, 30));
  EXPECT_EQ(s.At(5, 2), Rgb(0, 0, 0));
  EXPECT_EQ(ConstImageOf(s).pixel(3, 1), QColor(10, 20, 30).rgb());
  EXPECT_TRUE(ImageOf(*std::make_unique<Surface>()).isNull());
}

}  // namespace
}  // namespace remcons
