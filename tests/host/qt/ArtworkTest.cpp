// The menu bar's artwork: every image at its size in both languages and at both scales, masks
// that are masks, buttons that sit seamlessly on the bar. The bar as the widget draws it, panels
// open, is compared with these images (and written to PNG files for a look) in the desktop tests.
#include "host/qt/Artwork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/Strings.h"
#include "ui/MenuBarImages.h"

namespace remcons {
namespace {

namespace mb = menubar;
namespace img = menubar::img;

class ArtworkTest : public ::testing::Test {
 protected:
  void TearDown() override { SetUiLanguage(Language::kEnglish); }
};

int Luma(Pixel p) {
  return (RedOf(p) * 299 + GreenOf(p) * 587 + BlueOf(p) * 114) / 1000;
}

TEST_F(ArtworkTest, EveryImageAtItsSizeInBothLanguagesAndScales) {
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    SetUiLanguage(language);
    for (int scale : {1, 2}) {
      ArtworkNotes notes;
      const auto images = DrawMenuBarArtwork(scale, &notes);
      for (const mb::ImageSpec& image : mb::kImages) {
        auto it = images.find(std::string(image.id));
        ASSERT_NE(it, images.end()) << image.id;
        EXPECT_EQ(it->second.width(), image.width * scale) << image.id;
        EXPECT_EQ(it->second.height(), image.height * scale) << image.id;
      }
      EXPECT_EQ(images.size(), std::size(mb::kImages));
      // Every text found room at a readable size.
      EXPECT_TRUE(notes.overflows.empty())
          << "scale " << scale << ": " << (notes.overflows.empty() ? "" : notes.overflows[0]);
      EXPECT_GE(notes.smallestTextPx, 6) << "scale " << scale;
    }
  }
}

TEST_F(ArtworkTest, MasksAreBlackAndWhite) {
  const auto images = DrawMenuBarArtwork(1);
  for (std::string_view id : {img::kBarMask, img::kIconFloppyMask, img::kIconFolderMask,
                              img::kIconCdromMask, img::kIconUsbMask}) {
    const Surface& mask = images.at(std::string(id));
    int white = 0;
    for (int y = 0; y < mask.height(); ++y) {
      for (int x = 0; x < mask.width(); ++x) {
        const Pixel p = mask.At(x, y) & 0xFFFFFF;
        ASSERT_TRUE(p == 0 || p == 0xFFFFFF) << id << " at " << x << "," << y;
        white += p != 0;
      }
    }
    // Icons cover much of their square, never all of it.
    EXPECT_GT(white, mask.width() * mask.height() / 3) << id;
    EXPECT_LT(white, mask.width() * mask.height()) << id;
  }
  // The bar's lower corners are cut off; its top corners and middle are not.
  const Surface& bar = images.at(std::string(img::kBarMask));
  EXPECT_EQ(bar.At(0, 21) & 0xFFFFFF, 0u);
  EXPECT_EQ(bar.At(639, 21) & 0xFFFFFF, 0u);
  EXPECT_EQ(bar.At(0, 0) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(bar.At(639, 0) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(bar.At(320, 21) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(ArtworkTest, ButtonsSitSeamlesslyOnTheBar) {
  // A button in its plain state shows the bar's own face at its left edge: no seam where the
  // opaque button image meets the bar picture.
  const auto images = DrawMenuBarArtwork(1);
  const Surface& bar = images.at(std::string(img::kBar));
  for (std::string_view id :
       {img::kPinOut, img::kClose, img::kPowerOn, img::kPowerOff, img::kMedia, img::kReplay,
        img::kRecordIdle, img::kControlNone, img::kClientList, img::kLockOpen}) {
    const Surface& button = images.at(std::string(id));
    for (int y = 0; y < button.height(); ++y) {
      EXPECT_EQ(button.At(0, y) & 0xFFFFFF, bar.At(300, 2 + y) & 0xFFFFFF) << id << " row " << y;
    }
  }
  // The keys button reaches one row below the bar, in the bar's edge colour.
  const Surface& keys = images.at(std::string(img::kKeys));
  EXPECT_EQ(keys.At(0, 20) & 0xFFFFFF, bar.At(300, 21) & 0xFFFFFF);
}

TEST_F(ArtworkTest, PowerButtonIsGreenOnlyWhileOn) {
  const auto images = DrawMenuBarArtwork(1);
  auto greenPixels = [&](std::string_view id) {
    const Surface& s = images.at(std::string(id));
    int n = 0;
    for (int y = 0; y < s.height(); ++y) {
      for (int x = 0; x < s.width(); ++x) {
        const Pixel p = s.At(x, y);
        n += GreenOf(p) > 150 && GreenOf(p) > RedOf(p) + 60 && GreenOf(p) > BlueOf(p) + 40;
      }
    }
    return n;
  };
  EXPECT_GT(greenPixels(img::kPowerOn), 20);
  EXPECT_GT(greenPixels(img::kPowerOnPressed), 20);
  EXPECT_EQ(greenPixels(img::kPowerOff), 0);
  EXPECT_EQ(greenPixels(img::kPowerOffPressed), 0);
}

TEST_F(ArtworkTest, TooltipsAreBlackCapitalsOnYellow) {
  const auto images = DrawMenuBarArtwork(1);
  for (const mb::TooltipText& tip : mb::kTooltipTexts) {
    const Surface& s = images.at(std::string(tip.id));
    int yellow = 0, dark = 0;
    int left = s.width(), right = -1;
    for (int y = 0; y < s.height(); ++y) {
      for (int x = 1; x < s.width() - 1; ++x) {
        const Pixel p = s.At(x, y);
        if (RedOf(p) > 230 && GreenOf(p) > 220 && BlueOf(p) < 190) ++yellow;
        if (Luma(p) < 90) {
          ++dark;
          left = std::min(left, x);
          right = std::max(right, x);
        }
      }
    }
    EXPECT_GT(yellow, s.width() * s.height() / 2) << tip.text;
    EXPECT_GT(dark, 3 * static_cast<int>(tip.text.size())) << tip.text;
    // Centred: the text's margins differ by little.
    EXPECT_LE(std::abs(left - (s.width() - 1 - right)), 3) << tip.text;
  }
}

TEST_F(ArtworkTest, PanelTextsFollowTheLanguage) {
  SetUiLanguage(Language::kEnglish);
  const auto english = DrawMenuBarArtwork(1);
  SetUiLanguage(Language::kJapanese);
  const auto japanese = DrawMenuBarArtwork(1);
  for (std::string_view id :
       {img::kKeysPanel, img::kPowerCompact, img::kPowerExtended, img::kMount, img::kUnmount}) {
    const Surface& a = english.at(std::string(id));
    const Surface& b = japanese.at(std::string(id));
    int differ = 0;
    for (int y = 0; y < a.height(); ++y) {
      for (int x = 0; x < a.width(); ++x) differ += !SameColor(a.At(x, y), b.At(x, y));
    }
    EXPECT_GT(differ, 20) << id;
  }
  // Pictures without text are the same in both.
  for (std::string_view id : {img::kBar, img::kPowerOn, img::kIconCdrom, img::kDriveMenu[1]}) {
    const Surface& a = english.at(std::string(id));
    const Surface& b = japanese.at(std::string(id));
    for (int y = 0; y < a.height(); ++y) {
      for (int x = 0; x < a.width(); ++x) ASSERT_TRUE(SameColor(a.At(x, y), b.At(x, y))) << id;
    }
  }
}

TEST_F(ArtworkTest, DoubleScaleIsTheSameDrawing) {
  // Halving the 2x image by averaging 2 x 2 blocks gives close to the 1x image.
  const auto one = DrawMenuBarArtwork(1);
  const auto two = DrawMenuBarArtwork(2);
  for (std::string_view id : {img::kBar, img::kPowerOn, img::kMedia, img::kPinIn, img::kIconUsb,
                              img::kIconFolder, img::kPlay, img::kDriveMenu[7]}) {
    const Surface& a = one.at(std::string(id));
    const Surface& b = two.at(std::string(id));
    double total = 0;
    for (int y = 0; y < a.height(); ++y) {
      for (int x = 0; x < a.width(); ++x) {
        int sum = 0;
        for (int dy = 0; dy < 2; ++dy) {
          for (int dx = 0; dx < 2; ++dx) sum += Luma(b.At(2 * x + dx, 2 * y + dy));
        }
        total += std::abs(sum / 4 - Luma(a.At(x, y)));
      }
    }
    EXPECT_LT(total / (a.width() * a.height()), 12.0) << id;
  }
}

}  // namespace
}  // namespace remcons
