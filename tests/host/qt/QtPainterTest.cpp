// Text and images of the menu bar and the status lines as the Qt painter draws them: the fonts the
// names resolve to, glyphs inside their cell, no colour fringes, clipping, and drawing from the
// console thread.
#include "host/qt/QtPainter.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QRawFont>
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
                                                    {{"Arial", 12, false}, "Liberation Sans"}};
  for (const auto& [wanted, family] : fonts) {
    SCOPED_TRACE(wanted.face + " " + std::to_string(wanted.pixelHeight));
    EXPECT_EQ(QFontInfo(painter.FontFor(wanted)).family(), family);
    const int height = QFontMetrics(painter.FontFor(wanted)).height();
    EXPECT_LE(height, wanted.pixelHeight);
    EXPECT_GE(height, wanted.pixelHeight - 2);
  }
  EXPECT_TRUE(QFontInfo(painter.FontFor({"Arial", 12, true})).bold());
}

TEST(QtPainter, StatusTextLandsInItsBoxOnOpaqueBlack) {
  QtPainter painter;
  Surface s(300, 80, kFill);
  const int x = 12, y = 20;
  const int width = painter.TextWidth("Connecting Ag", kStatusFont);
  // Liberation Sans is metric-compatible with Arial: about 0.6 em per character here.
  EXPECT_GT(width, 100);
  EXPECT_LT(width, 200);
  painter.DrawText(s, x, y, "Connecting Ag", kStatusFont, kGreen, kBlack);
  const Rect box{x, y, x + width, y + 24};
  // Nothing outside the box changed.
  EXPECT_EQ(Pixels(s, s.bounds(), kFill).count, box.Width() * box.Height());
  EXPECT_EQ(Pixels(s, box, kFill, false).count, 0);
  // Inside: black background, green glyphs, and only shades between the two (no colour fringes).
  for (int py = box.top; py < box.bottom; ++py) {
    for (int px = box.left; px < box.right; ++px) {
      const Pixel p = s.At(px, py);
      ASSERT_TRUE(RedOf(p) == 0 && BlueOf(p) == 0 && GreenOf(p) <= 207) << px << "," << py;
    }
  }
  EXPECT_GT(Pixels(s, box, kGreen, false).count, 150) << "solid glyph stems in the text colour";
  EXPECT_GT(Pixels(s, box, kBlack, false).count, box.Width() * box.Height() / 2);
  // The corners of the cell are background.
  for (const auto& [cx, cy] : {std::pair{box.left, box.top}, std::pair{box.right - 1, box.top},
                               std::pair{box.right - 1, box.bottom - 1}}) {
    EXPECT_TRUE(SameColor(s.At(cx, cy), kBlack)) << cx << "," << cy;
  }
  // The glyphs sit in the cell: capitals from near its top, the descender of g near its bottom.
  const Extent glyphs = Pixels(s, box, kBlack);
  EXPECT_LE(glyphs.left, x + 3);
  EXPECT_GE(glyphs.right, x + width - 14);
  EXPECT_LE(glyphs.top, y + 6);
  EXPECT_GE(glyphs.top, y + 1);
  EXPECT_GE(glyphs.bottom, y + 19);
}

TEST(QtPainter, TransparentSmallClippedAndEmptyText) {
  QtPainter painter;
  Surface s(200, 40, kFill);
  painter.DrawText(s, 5, 5, "Kro", kStatusFont, kGreen, std::nullopt);
  EXPECT_GT(Pixels(s, s.bounds(), kFill).count, 50);
  EXPECT_LT(Pixels(s, s.bounds(), kFill).count, 24 * painter.TextWidth("Kro", kStatusFont));
  EXPECT_TRUE(SameColor(s.At(5, 5), kFill)) << "no background box";
  // Small text is not antialiased.
  Surface small(160, 20, kBlack);
  painter.DrawText(small, 2, 2, "Virtual Media", {"Arial", 12, false}, Rgb(255, 255, 0), kBlack);
  std::set<Pixel> colours;
  for (int i = 0; i < 160 * 20; ++i) colours.insert(small.data()[i] | 0xFF000000u);
  EXPECT_EQ(colours, (std::set<Pixel>{kBlack, Rgb(255, 255, 0)}));
  // Clipped at the edges: the first cell covers rows 0 to 15, the second the bottom right.
  Surface clip(60, 40, kFill);
  painter.DrawText(clip, -10, -8, "Clipped text", kStatusFont, kGreen, kBlack);
  painter.DrawText(clip, 30, 30, "Clipped text", kStatusFont, kGreen, kBlack);
  for (int py = 0; py < clip.height(); ++py) {
    for (int px = 0; px < clip.width(); ++px) {
      const Pixel p = clip.At(px, py);
      ASSERT_TRUE(py < 16 || (py >= 30 && px >= 30) ? RedOf(p) == 0 && BlueOf(p) == 0
                                                    : SameColor(p, kFill))
          << px << "," << py;
    }
  }
  Surface untouched(10, 10, kFill), empty;
  painter.DrawText(untouched, 0, 0, "", kStatusFont, kGreen, kBlack);
  painter.DrawText(empty, 0, 0, "text", kStatusFont, kGreen, kBlack);
  EXPECT_EQ(Pixels(untouched, untouched.bounds(), kFill).count, 0);
  EXPECT_EQ(painter.TextWidth("", kStatusFont), 0);
}

TEST(QtPainter, JapaneseTextDrawsGothicGlyphs) {
  QtPainter painter;
  const std::string text = "仮想メディア";  // six full-width characters
  QRawFont raw = QRawFont::fromFont(painter.FontFor(kGothicFont));
  for (char32_t ch : {U'仮', U'想', U'メ', U'デ', U'ィ', U'ア'})
    EXPECT_TRUE(raw.supportsCharacter(ch)) << uint32_t{ch};
  const int width = painter.TextWidth(text, kGothicFont);
  EXPECT_GE(width, 6 * 22);
  EXPECT_LE(width, 6 * 26);
  Surface s(220, 40, kFill);
  painter.DrawText(s, 4, 8, text, kGothicFont, Rgb(255, 255, 255), kBlack);
  const Extent glyphs = Pixels(s, Rect{4, 8, 4 + width, 32}, kBlack);
  EXPECT_GT(glyphs.count, 200);
  EXPECT_LE(glyphs.left, 4 + 4);
  EXPECT_GE(glyphs.right, 4 + width - 5);
  // Each character has a shape of its own (a missing glyph would draw the same box each time).
  auto drawn = [&](const char* one) {
    Surface c(30, 30, kBlack);
    painter.DrawText(c, 0, 0, one, kGothicFont, Rgb(255, 255, 255), kBlack);
    return std::vector<Pixel>(c.data(), c.data() + 30 * 30);
  };
  EXPECT_NE(drawn("仮"), drawn("想"));
  EXPECT_NE(drawn("メ"), drawn("ア"));
}

TEST(QtPainter, DrawsFromAnotherThreadAndKeepsImagesByIdentifier) {
  // The console thread writes status lines while the window thread paints.
  QtPainter painter;
  Surface a(200, 30, kBlack), b(200, 30, kBlack);
  std::thread console(
      [&] { painter.DrawText(a, 0, 0, "Attempting", kStatusFont, kGreen, kBlack); });
  painter.DrawText(b, 0, 0, "Attempting", kStatusFont, kGreen, kBlack);
  console.join();
  EXPECT_GT(Pixels(a, a.bounds(), kBlack).count, 50);
  EXPECT_EQ(std::vector<Pixel>(a.data(), a.data() + 200 * 30),
            std::vector<Pixel>(b.data(), b.data() + 200 * 30));

  EXPECT_EQ(painter.Image("287"), nullptr);
  painter.RegisterImage("287", Surface(640, 22, Rgb(1, 2, 3)));
  const Surface* bar = painter.Image("287");
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->width() == 640 && SameColor(bar->At(639, 21), Rgb(1, 2, 3)));
  // Registered again: the same surface, new pixels.
  painter.RegisterImage("287", Surface(640, 22, Rgb(9, 9, 9)));
  EXPECT_EQ(painter.Image("287"), bar);
  EXPECT_TRUE(SameColor(bar->At(0, 0), Rgb(9, 9, 9)));
}

}  // namespace
}  // namespace remcons
