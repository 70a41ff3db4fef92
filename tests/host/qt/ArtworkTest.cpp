// The menu bar's artwork: every image at its size in both languages and at both scales, masks
// that are masks, buttons that sit seamlessly on the bar. The bar as the widget draws it, panels
// open, is compared with these images in the desktop tests.
#include "host/qt/Artwork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "platform/Strings.h"
#include "ui/MenuBarImages.h"

namespace remcons {
namespace {

namespace mb = menubar;
namespace img = menubar::img;

class ArtworkTest : public ::testing::Test {
 protected:
  void TearDown() override { SetUiLanguage(Language::kEnglish); }
  static const Surface& At(const std::map<std::string, Surface>& images, std::string_view id) {
    return images.at(std::string(id));
  }
};

int Luma(Pixel p) {
  return (RedOf(p) * 299 + GreenOf(p) * 587 + BlueOf(p) * 114) / 1000;
}

// Pixels of s (without its first and last columns, with edges) for which pred holds.
int Count(const Surface& s, const std::function<bool(Pixel)>& pred, bool edges = true) {
  int n = 0;
  for (int y = 0; y < s.height(); ++y) {
    for (int x = edges ? 0 : 1; x < s.width() - (edges ? 0 : 1); ++x) n += pred(s.At(x, y));
  }
  return n;
}

// Pixels of two surfaces of one size that differ.
int Differ(const Surface& a, const Surface& b) {
  int n = 0;
  for (int i = 0; i < a.width() * a.height(); ++i)
    n += !SameColor(a.At(i % a.width(), i / a.width()), b.At(i % a.width(), i / a.width()));
  return n;
}

TEST_F(ArtworkTest, EveryImageAtItsSizeInBothLanguagesAndScalesWithTheSameDrawing) {
  std::map<std::string, Surface> english[2];
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    SetUiLanguage(language);
    for (int scale : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << "scale " << scale);
      ArtworkNotes notes;
      const auto images = DrawMenuBarArtwork(scale, &notes);
      for (const mb::ImageSpec& image : mb::kImages) {
        ASSERT_TRUE(images.count(std::string(image.id))) << image.id;
        EXPECT_EQ(std::pair(At(images, image.id).width(), At(images, image.id).height()),
                  std::pair(image.width * scale, image.height * scale))
            << image.id;
      }
      EXPECT_EQ(images.size(), std::size(mb::kImages));
      // Every text found room at a readable size.
      EXPECT_TRUE(notes.overflows.empty()) << (notes.overflows.empty() ? "" : notes.overflows[0]);
      EXPECT_GE(notes.smallestTextPx, 6);
      if (language == Language::kEnglish) english[scale - 1] = images;
    }
    // Panels with text follow the language; pictures without text are the same in both.
    if (language == Language::kEnglish) continue;
    const auto japanese = DrawMenuBarArtwork(1);
    for (std::string_view id :
         {img::kKeysPanel, img::kPowerCompact, img::kPowerExtended, img::kMount, img::kUnmount}) {
      EXPECT_GT(Differ(At(english[0], id), At(japanese, id)), 20) << id;
    }
    for (std::string_view id : {img::kBar, img::kPowerOn, img::kIconCdrom, img::kDriveMenu[1]})
      EXPECT_EQ(Differ(At(english[0], id), At(japanese, id)), 0) << id;
  }
  // Halving the 2x image by averaging 2 x 2 blocks gives close to the 1x image.
  for (std::string_view id : {img::kBar, img::kPowerOn, img::kMedia, img::kPinIn, img::kIconUsb,
                              img::kIconFolder, img::kPlay, img::kDriveMenu[7]}) {
    const Surface& a = At(english[0], id);
    const Surface& b = At(english[1], id);
    double total = 0;
    for (int y = 0; y < a.height(); ++y) {
      for (int x = 0; x < a.width(); ++x) {
        const int sum = Luma(b.At(2 * x, 2 * y)) + Luma(b.At(2 * x + 1, 2 * y)) +
                        Luma(b.At(2 * x, 2 * y + 1)) + Luma(b.At(2 * x + 1, 2 * y + 1));
        total += std::abs(sum / 4 - Luma(a.At(x, y)));
      }
    }
    EXPECT_LT(total / (a.width() * a.height()), 12.0) << id;
  }
}

TEST_F(ArtworkTest, MasksAreMasksAndButtonsSitSeamlesslyOnTheBar) {
  const auto images = DrawMenuBarArtwork(1);
  for (std::string_view id : {img::kBarMask, img::kIconFloppyMask, img::kIconFolderMask,
                              img::kIconCdromMask, img::kIconUsbMask}) {
    const Surface& mask = At(images, id);
    const int size = mask.width() * mask.height();
    EXPECT_EQ(Count(mask, [](Pixel p) { return (p & 0xFFFFFF) % 0xFFFFFF == 0; }), size) << id;
    // Icons cover much of their square, never all of it.
    const int white = Count(mask, [](Pixel p) { return (p & 0xFFFFFF) != 0; });
    EXPECT_TRUE(white > size / 3 && white < size) << id;
  }
  // A button in its plain state shows the bar's own face at its left edge: no seam where the
  // opaque button image meets the bar picture.
  const Surface& bar = At(images, img::kBar);
  for (std::string_view id :
       {img::kPinOut, img::kClose, img::kPowerOn, img::kPowerOff, img::kMedia, img::kReplay,
        img::kRecordIdle, img::kControlNone, img::kClientList, img::kLockOpen}) {
    const Surface& button = At(images, id);
    for (int y = 0; y < button.height(); ++y)
      EXPECT_EQ(button.At(0, y) & 0xFFFFFF, bar.At(300, 2 + y) & 0xFFFFFF) << id << " row " << y;
  }
}

}  // namespace
}  // namespace remcons
