// Text and images of the menu bar and the status lines as the Qt painter draws them: the fonts the
// names resolve to, glyphs inside their cell, no colour fringes, clipping, Japanese glyphs, and
// drawing from the console thread.
#include "host/qt/QtPainter.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <set>
#include <thread>

namespace remcons {
namespace {

const Pixel kGreen = Rgb(0, 207, 0);  // the status line colour
const Pixel kBlack = Rgb(0, 0, 0);
const Pixel kFill = Rgb(40, 60, 200);
const FontSpec kStatusFont{"Arial", 24, false};
const FontSpec kGothicFont{"MS UI Gothic", 24, false};

struct Extent {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;  // inclusive
};

// Pixels of s inside r whose colour is (or, with differ, is not) p.
Extent Pixels(const Surface& s, const Rect& r, Pixel p, bool differ = true) {
  Extent e;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      if (SameColor(s.At(x, y), p) == differ) continue;
      e = {std::min(e.left, x), std::min(e.top, y), std::max(e.right, x), std::max(e.bottom, y),
           e.count + 1};
    }
  }
  return e;
}

TEST(QtPainter, FontNamesResolveToInstalledFontsOfTheCellsHeight) {
  QtPainter painter;
  const std::pair<FontSpec, const char*> fonts[] = {{kStatusFont, "Liberation Sans"},
                                                    {kGothicFont, "IPAGothic"},
                                                    {{"MS UI Gothic", 10, false}, "IPAGothic"},
                                                    {{"Arial", 12, true}, "Liberation Sans"}};
  for (const auto& [wanted, family] : fonts) {
    SCOPED_TRACE(wanted.face + " " + std::to_string(wanted.pixelHeight));
    const QFont font = painter.FontFor(wanted);
    EXPECT_EQ(QFontInfo(font).family(), family);
    EXPECT_EQ(QFontInfo(font).bold(), wanted.bold);
    const int height = QFontMetrics(font).height();
    EXPECT_TRUE(height <= wanted.pixelHeight && height >= wanted.pixelHeight - 2) << height;
  }
}

// In its box on opaque black, green glyphs with only shades between the two; the console thread's
// drawing is the window thread's.
TEST(QtPainter, StatusTextLandsInItsBoxFromAnyThread) {
  QtPainter painter;
  Surface s(300, 80, kFill), other(300, 80, kFill);
  const int x = 12, y = 20;
  const int width = painter.TextWidth("Connecting Ag", kStatusFont);
  // Liberation Sans is metric-compatible with Arial: about 0.6 em per character here.
  EXPECT_TRUE(width > 100 && width < 200) << width;
  std::thread console(
      [&] { painter.DrawText(other, x, y, "Connecting Ag", kStatusFont, kGreen, kBlack); });
  painter.DrawText(s, x, y, "Connecting Ag", kStatusFont, kGreen, kBlack);
  console.join();
  EXPECT_EQ(std::vector<Pixel>(s.data(), s.data() + 300 * 80),
            std::vector<Pixel>(other.data(), other.data() + 300 * 80));
  const Rect box{x, y, x + width, y + 24};
  EXPECT_EQ(Pixels(s, s.bounds(), kFill).count, box.Width() * box.Height());
  EXPECT_EQ(Pixels(s, box, kFill, false).count, 0);
  for (int py = box.top; py < box.bottom; ++py) {
    for (int px = box.left; px < box.right; ++px) {
      const Pixel p = s.At(px, py);
      ASSERT_TRUE(RedOf(p) == 0 && BlueOf(p) == 0 && GreenOf(p) <= 207) << px << "," << py;
    }
  }
  EXPECT_GT(Pixels(s, box, kGreen, false).count, 150) << "solid glyph stems in the text colour";
  // The glyphs sit in the cell: capitals from near its top, the descender of g near its bottom.
  const Extent glyphs = Pixels(s, box, kBlack);
  EXPECT_TRUE(glyphs.left <= x + 3 && glyphs.right >= x + width - 14);
  EXPECT_TRUE(glyphs.top <= y + 6 && glyphs.top >= y + 1 && glyphs.bottom >= y + 19);
}

TEST(QtPainter, SmallClippedAndEmptyText) {
  QtPainter painter;
  // Small text is not antialiased.
  Surface small(160, 20, kBlack);
  painter.DrawText(small, 2, 2, "Virtual Media", {"Arial", 12, false}, Rgb(255, 255, 0), kBlack);
  std::set<Pixel> colours;
  for (int i = 0; i < 160 * 20; ++i) colours.insert(small.data()[i] | 0xFF000000u);
  EXPECT_EQ(colours, (std::set<Pixel>{kBlack, Rgb(255, 255, 0)}));
  // Clipped at the edges: the first cell covers rows 0 to 15, the second the bottom right.
  Surface clip(60, 40, kFill), empty;
  painter.DrawText(clip, -10, -8, "Clipped text", kStatusFont, kGreen, kBlack);
  painter.DrawText(clip, 30, 30, "Clipped text", kStatusFont, kGreen, kBlack);
  painter.DrawText(clip, 0, 20, "", kStatusFont, kGreen, kBlack);
  painter.DrawText(empty, 0, 0, "text", kStatusFont, kGreen, kBlack);
  for (int py = 0; py < clip.height(); ++py) {
    for (int px = 0; px < clip.width(); ++px) {
      const Pixel p = clip.At(px, py);
      ASSERT_TRUE(py < 16 || (py >= 30 && px >= 30) ? RedOf(p) == 0 && BlueOf(p) == 0
                                                    : SameColor(p, kFill))
          << px << "," << py;
    }
  }
  EXPECT_EQ(painter.TextWidth("", kStatusFont), 0);
}

TEST(QtPainter, JapaneseTextDrawsGothicGlyphsAndImagesAreKeptByIdentifier) {
  QtPainter painter;
  const int width = painter.TextWidth("仮想メディア", kGothicFont);  // six full-width characters
  EXPECT_TRUE(width >= 6 * 22 && width <= 6 * 26) << width;
  // Each character has a shape of its own (a missing glyph would draw the same box each time).
  std::set<std::vector<Pixel>> shapes;
  for (const char* one : {"仮", "想", "メ", "デ", "ィ", "ア"}) {
    Surface c(30, 30, kBlack);
    painter.DrawText(c, 0, 0, one, kGothicFont, Rgb(255, 255, 255), kBlack);
    EXPECT_GT(Pixels(c, c.bounds(), kBlack).count, 20) << one;
    shapes.insert(std::vector<Pixel>(c.data(), c.data() + 30 * 30));
  }
  EXPECT_EQ(shapes.size(), 6u);

  EXPECT_EQ(painter.Image("287"), nullptr);
  painter.RegisterImage("287", Surface(640, 22, Rgb(1, 2, 3)));
  const Surface* bar = painter.Image("287");
  ASSERT_NE(bar, nullptr);
  // Registered again: the same surface, new pixels.
  painter.RegisterImage("287", Surface(640, 22, Rgb(9, 9, 9)));
  EXPECT_EQ(painter.Image("287"), bar);
  EXPECT_TRUE(bar->width() == 640 && SameColor(bar->At(639, 21), Rgb(9, 9, 9)));
}

}  // namespace
}  // namespace remcons
