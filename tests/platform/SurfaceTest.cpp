#include "platform/Surface.h"

#include <gtest/gtest.h>

namespace remcons {
namespace {

TEST(Surface, PixelLayoutIsBlueGreenRedX) {
  Pixel p = Rgb(0x12, 0x34, 0x56);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&p);
  EXPECT_EQ((std::vector<uint8_t>(bytes, bytes + 3)), (std::vector<uint8_t>{0x56, 0x34, 0x12}));
}

TEST(Surface, FillAndCopyAreClippedAtEveryEdgeAndMasked) {
  Surface dst(40, 30, Rgb(0, 0, 0));
  dst.Fill({-5, -5, 3, 2}, Rgb(1, 1, 1));
  EXPECT_TRUE(SameColor(dst.At(0, 0), Rgb(1, 1, 1)));
  EXPECT_TRUE(SameColor(dst.At(2, 1), Rgb(1, 1, 1)));
  EXPECT_TRUE(SameColor(dst.At(3, 1), Rgb(0, 0, 0)));
  Surface block(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) block.Set(x, y, Rgb(uint8_t(x), uint8_t(y), 9));
  // Partly beyond the right and bottom edges, then the left and top: only the overlap lands.
  dst.CopyFrom(block, block.bounds(), 32, 24);
  EXPECT_TRUE(SameColor(dst.At(39, 29), Rgb(7, 5, 9)));
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
  Surface src(2, 1, Rgb(200, 0, 0)), mask(2, 1, Rgb(0, 0, 0));
  mask.Set(1, 0, Rgb(255, 255, 255));
  dst.CopyMasked(src, mask, src.bounds(), 0, 0);
  EXPECT_TRUE(SameColor(dst.At(0, 0), Rgb(10, 12, 9)));
  EXPECT_TRUE(SameColor(dst.At(1, 0), Rgb(200, 0, 0)));
}

}  // namespace
}  // namespace remcons
