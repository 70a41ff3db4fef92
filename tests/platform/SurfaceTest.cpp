#include "platform/Surface.h"

#include <gtest/gtest.h>

namespace remcons {
namespace {

TEST(Surface, PixelLayoutIsBlueGreenRedX) {
  Pixel p = Rgb(0x12, 0x34, 0x56);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&p);
  EXPECT_EQ(bytes[0], 0x56);
  EXPECT_EQ(bytes[1], 0x34);
  EXPECT_EQ(bytes[2], 0x12);
}

TEST(Surface, FillAndCopyAreClippedAtEveryEdge) {
  Surface dst(40, 30, Rgb(0, 0, 0));
  dst.Fill({-5, -5, 3, 2}, Rgb(1, 1, 1));
  EXPECT_TRUE(SameColor(dst.At(0, 0), Rgb(1, 1, 1)));
  EXPECT_TRUE(SameColor(dst.At(2, 1), Rgb(1, 1, 1)));
  EXPECT_TRUE(SameColor(dst.At(3, 1), Rgb(0, 0, 0)));

  Surface block(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      block.Set(x, y, Rgb(static_cast<uint8_t>(x), static_cast<uint8_t>(y), 9));
  // Partly beyond the right and bottom edges: only the overlapping part lands.
  dst.CopyFrom(block, block.bounds(), 32, 24);
  EXPECT_TRUE(SameColor(dst.At(39, 29), Rgb(7, 5, 9)));
  // Partly beyond the left and top edges.
  dst.CopyFrom(block, block.bounds(), -10, -12);
  EXPECT_TRUE(SameColor(dst.At(0, 0), Rgb(10, 12, 9)));
  EXPECT_TRUE(SameColor(dst.At(5, 3), Rgb(15, 15, 9)));
  EXPECT_TRUE(SameColor(dst.At(6, 3), Rgb(0, 0, 0)));
  // Entirely outside: nothing changes, nothing is written out of bounds.
  Surface before = dst;
  dst.CopyFrom(block, block.bounds(), 2032, 2032);
  dst.CopyFrom(block, block.bounds(), -16, 0);
  EXPECT_EQ(std::vector<Pixel>(dst.data(), dst.data() + 1200),
            std::vector<Pixel>(before.data(), before.data() + 1200));
}

TEST(Surface, MaskedCopyTakesOnlyMaskedPixels) {
  Surface src(4, 1, Rgb(200, 0, 0));
  Surface mask(4, 1, Rgb(0, 0, 0));
  mask.Set(1, 0, Rgb(255, 255, 255));
  Surface dst(4, 1, Rgb(0, 0, 200));
  dst.CopyMasked(src, mask, src.bounds(), 0, 0);
  EXPECT_TRUE(SameColor(dst.At(0, 0), Rgb(0, 0, 200)));
  EXPECT_TRUE(SameColor(dst.At(1, 0), Rgb(200, 0, 0)));
}

}  // namespace
}  // namespace remcons
