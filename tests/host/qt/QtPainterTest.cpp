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
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
  int count = 0;
  void Add(int x, int y) {
    left = std::min(left, x);
    top = std::min(top, y);
    right = std::max(right, x);
    bottom = std::max(bottom, y);
    ++count;
  }
};

// Pixels of s inside r that differ in colour from p.
Extent Differing(const Surface& s, const Rect& r, Pixel p) {
  Extent e;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      if (!SameColor(s.At(x, y), p)) e.Add(x, y);
    }
  }
  return e;
}

TEST(QtPainter, FontNamesResolveToInstalledFonts) {
  QtPainter painter;
  EXPECT_EQ(QFontInfo(painter.FontFor(kStatusFont)).family(), "Liberation Sans");
  EXPECT_EQ(QFontInfo(painter.FontFor(kGothicFont)).family(), "IPAGothic");
  EXPECT_EQ(QFontInfo(painter.FontFor({"MS UI Gothic", 10, false})).family(), "IPAGothic");
  EXPECT_TRUE(QFontInfo(painter.FontFor({"Arial", 12, true})).bold());
}

TEST(QtPainter, HeightIsTheCharacterCell) {
  QtPainter painter;
  for (const FontSpec& wanted : {kStatusFont, kGothicFont, FontSpec{"Arial", 12, false},
                                 FontSpec{"MS UI Gothic", 10, false}}) {
    QFontMetrics metrics(painter.FontFor(wanted));
    EXPECT_LE(metrics.height(), wanted.pixelHeight) << wanted.face << " " << wanted.pixelHeight;
    EXPECT_GE(metrics.height(), wanted.pixelHeight - 2) << wanted.face << " " << wanted.pixelHeight;
  }
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
  Extent outside;
  for (int py = 0; py < s.height(); ++py) {
    for (int px = 0; px < s.width(); ++px) {
      if (!box.Contains(px, py) && !SameColor(s.At(px, py), kFill)) outside.Add(px, py);
    }
  }
  EXPECT_EQ(outside.count, 0) << "first stray pixel at " << outside.left << "," << outside.top;

  // Inside: black background, green glyphs, and only shades between the two (no colour fringes).
  int green = 0, black = 0;
  for (int py = box.top; py < box.bottom; ++py) {
    for (int px = box.left; px < box.right; ++px) {
      Pixel p = s.At(px, py);
      ASSERT_EQ(RedOf(p), 0) << px << "," << py;
      ASSERT_EQ(BlueOf(p), 0) << px << "," << py;
      ASSERT_LE(GreenOf(p), 207) << px << "," << py;
      green += SameColor(p, kGreen);
      black += SameColor(p, kBlack);
    }
  }
  EXPECT_GT(green, 150) << "solid glyph stems in the text colour";
  EXPECT_GT(black, box.Width() * box.Height() / 2) << "an opaque black cell behind the text";
  // The corners of the cell are background.
  EXPECT_TRUE(SameColor(s.At(box.left, box.top), kBlack));
  EXPECT_TRUE(SameColor(s.At(box.right - 1, box.top), kBlack));
  EXPECT_TRUE(SameColor(s.At(box.right - 1, box.bottom - 1), kBlack));

  // The glyphs sit in the cell: capitals from near its top, the descender of g near its bottom.
  Extent glyphs = Differing(s, box, kBlack);
  EXPECT_LE(glyphs.left, x + 3);
  EXPECT_GE(glyphs.right, x + width - 14);
  EXPECT_LE(glyphs.top, y + 6);
  EXPECT_GE(glyphs.top, y + 1);
  EXPECT_GE(glyphs.bottom, y + 19);
}

TEST(QtPainter, TransparentTextLeavesTheBackground) {
  QtPainter painter;
  Surface s(200, 40, kFill);
  painter.DrawText(s, 5, 5, "Kro", kStatusFont, kGreen, std::nullopt);
  int fill = 0, touched = 0;
  for (int py = 0; py < s.height(); ++py) {
    for (int px = 0; px < s.width(); ++px) {
      if (SameColor(s.At(px, py), kFill)) {
        ++fill;
      } else {
        ++touched;
      }
    }
  }
  EXPECT_GT(touched, 50);
  EXPECT_GT(fill, s.width() * s.height() - 24 * painter.TextWidth("Kro", kStatusFont));
  EXPECT_TRUE(SameColor(s.At(5, 5), kFill)) << "no background box";
}

TEST(QtPainter, SmallTextIsNotAntialiased) {
  QtPainter painter;
  Surface s(160, 20, kBlack);
  painter.DrawText(s, 2, 2, "Virtual Media", {"Arial", 12, false}, Rgb(255, 255, 0), kBlack);
  std::set<Pixel> colours;
  for (int py = 0; py < s.height(); ++py) {
    for (int px = 0; px < s.width(); ++px) colours.insert(s.At(px, py) | 0xFF000000u);
  }
  EXPECT_EQ(colours, (std::set<Pixel>{kBlack, Rgb(255, 255, 0)}));
}

TEST(QtPainter, JapaneseTextDrawsGothicGlyphs) {
  QtPainter painter;
  const std::string text = "仮想メディア";  // six full-width characters
  const QFont font = painter.FontFor(kGothicFont);
  QRawFont raw = QRawFont::fromFont(font);
  for (char32_t ch : {U'仮', U'想', U'メ', U'デ', U'ィ', U'ア'}) {
    EXPECT_TRUE(raw.supportsCharacter(ch)) << uint32_t{ch};
  }

  const int width = painter.TextWidth(text, kGothicFont);
  EXPECT_GE(width, 6 * 22);
  EXPECT_LE(width, 6 * 26);
  Surface s(220, 40, kFill);
  painter.DrawText(s, 4, 8, text, kGothicFont, Rgb(255, 255, 255), kBlack);
  Extent glyphs = Differing(s, Rect{4, 8, 4 + width, 32}, kBlack);
  EXPECT_GT(glyphs.count, 200);
  EXPECT_LE(glyphs.left, 4 + 4);
  EXPECT_GE(glyphs.right, 4 + width - 5);

  // Each character has a shape of its own (a missing glyph would draw the same box each time).
  auto drawn = [&](const char* one) {
    Surface c(30, 30, kBlack);
    painter.DrawText(c, 0, 0, one, kGothicFont, Rgb(255, 255, 255), kBlack);
    std::vector<Pixel> pixels(c.data(), c.data() + 30 * 30);
    return pixels;
  };
  EXPECT_NE(drawn("仮"), drawn("想"));
  EXPECT_NE(drawn("メ"), drawn("ア"));
}

TEST(QtPainter, ClippedAtTheSurfaceEdges) {
  QtPainter painter;
  Surface s(60, 40, kFill);
  // The first cell covers rows 0 to 15 across the whole width, the second the bottom right.
  painter.DrawText(s, -10, -8, "Clipped text", kStatusFont, kGreen, kBlack);
  painter.DrawText(s, 30, 30, "Clipped text", kStatusFont, kGreen, kBlack);
  for (int py = 0; py < s.height(); ++py) {
    for (int px = 0; px < s.width(); ++px) {
      const bool covered = py < 16 || (py >= 30 && px >= 30);
      const Pixel p = s.At(px, py);
      if (covered) {
        ASSERT_TRUE(RedOf(p) == 0 && BlueOf(p) == 0) << px << "," << py;
      } else {
        ASSERT_TRUE(SameColor(p, kFill)) << px << "," << py;
      }
    }
  }
}

TEST(QtPainter, EmptyTextOrSurfaceDrawsNothing) {
  QtPainter painter;
  Surface s(10, 10, kFill);
  painter.DrawText(s, 0, 0, "", kStatusFont, kGreen, kBlack);
  EXPECT_EQ(Differing(s, s.bounds(), kFill).count, 0);
  Surface empty;
  painter.DrawText(empty, 0, 0, "text", kStatusFont, kGreen, kBlack);
  EXPECT_EQ(painter.TextWidth("", kStatusFont), 0);
}

TEST(QtPainter, DrawsFromAnotherThread) {
  // The console thread writes status lines while the window thread paints.
  QtPainter painter;
  Surface a(200, 30, kBlack), b(200, 30, kBlack);
  std::thread console(
      [&] { painter.DrawText(a, 0, 0, "Attempting", kStatusFont, kGreen, kBlack); });
  painter.DrawText(b, 0, 0, "Attempting", kStatusFont, kGreen, kBlack);
  console.join();
  EXPECT_GT(Differing(a, a.bounds(), kBlack).count, 50);
  EXPECT_EQ(std::vector<Pixel>(a.data(), a.data() + 200 * 30),
            std::vector<Pixel>(b.data(), b.data() + 200 * 30));
}

TEST(QtPainter, ImagesByIdentifier) {
  QtPainter painter;
  EXPECT_EQ(painter.Image("287"), nullptr);
  painter.RegisterImage("287", Surface(640, 22, Rgb(1, 2, 3)));
  const Surface* bar = painter.Image("287");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->width(), 640);
  EXPECT_TRUE(SameColor(bar->At(639, 21), Rgb(1, 2, 3)));
  painter.RegisterImage("287", Surface(640, 22, Rgb(9, 9, 9)));
  EXPECT_EQ(painter.Image("287"), bar);
  EXPECT_TRUE(SameColor(bar->At(0, 0), Rgb(9, 9, 9)));
  EXPECT_EQ(painter.Image("240"), nullptr);
}

}  // namespace
}  // namespace remcons
