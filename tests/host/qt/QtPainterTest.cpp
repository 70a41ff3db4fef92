// Text of the menu bar and the status lines as the Qt painter draws it: glyphs inside their cell
// without colour fringes, and Japanese glyphs.
#include "host/qt/QtPainter.h"

#include <gtest/gtest.h>

#include <set>

namespace remcons {
namespace {

const Pixel kGreen = Rgb(0, 207, 0);  // the status line colour
const Pixel kBlack = Rgb(0, 0, 0);
const Pixel kFill = Rgb(40, 60, 200);
const FontSpec kStatusFont{"Arial", 24, false};
const FontSpec kGothicFont{"MS UI Gothic", 24, false};

// Pixels of s inside r whose colour is (or, with differ, is not) p.
int Count(const Surface& s, const Rect& r, Pixel p, bool differ = true) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) n += SameColor(s.At(x, y), p) != differ;
  }
  return n;
}

// In its box on opaque black, green glyphs with only shades between the two: no colour fringes.
TEST(QtPainter, StatusTextLandsInItsBox) {
  QtPainter painter;
  Surface s(300, 80, kFill);
  const int width = painter.TextWidth("Connecting Ag", kStatusFont);
  painter.DrawText(s, 12, 20, "Connecting Ag", kStatusFont, kGreen, kBlack);
  const Rect box{12, 20, 12 + width, 20 + 24};
  EXPECT_EQ(Count(s, s.bounds(), kFill), box.Width() * box.Height());
  for (int i = 0; i < box.Width() * box.Height(); ++i) {
    const Pixel p = s.At(box.left + i % box.Width(), box.top + i / box.Width());
    ASSERT_TRUE(RedOf(p) == 0 && BlueOf(p) == 0 && GreenOf(p) <= 207) << i;
  }
  EXPECT_GT(Count(s, box, kGreen, false), 150) << "solid glyph stems in the text colour";
}

TEST(QtPainter, JapaneseTextDrawsGothicGlyphs) {
  QtPainter painter;
  const int width = painter.TextWidth("仮想メディア", kGothicFont);  // six full-width characters
  EXPECT_TRUE(width >= 6 * 22 && width <= 6 * 26) << width;
  // Each character has a shape of its own (a missing glyph would draw the same box each time).
  std::set<std::vector<Pixel>> shapes;
  for (const char* one : {"仮", "想", "メ", "デ", "ィ", "ア"}) {
    Surface c(30, 30, kBlack);
    painter.DrawText(c, 0, 0, one, kGothicFont, Rgb(255, 255, 255), kBlack);
    EXPECT_GT(Count(c, c.bounds(), kBlack), 20) << one;
    shapes.insert(std::vector<Pixel>(c.data(), c.data() + 30 * 30));
  }
  EXPECT_EQ(shapes.size(), 6u);
}

}  // namespace
}  // namespace remcons
