// The menu bar's artwork: every image at its size in both languages and at both scales. The bar as
// the widget draws it is compared with these images in the desktop tests.
#include "host/qt/Artwork.h"

#include <gtest/gtest.h>

#include <map>

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

// Pixels of two surfaces of one size that differ.
int Differ(const Surface& a, const Surface& b) {
  int n = 0;
  for (int i = 0; i < a.width() * a.height(); ++i)
    n += !SameColor(a.At(i % a.width(), i / a.width()), b.At(i % a.width(), i / a.width()));
  return n;
}

TEST_F(ArtworkTest, EveryImageAtItsSizeInBothLanguagesAndScales) {
  std::map<std::string, Surface> english;
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
      if (language == Language::kEnglish && scale == 1) english = images;
    }
    // Panels with text follow the language; pictures without text are the same in both.
    if (language == Language::kEnglish) continue;
    const auto japanese = DrawMenuBarArtwork(1);
    for (std::string_view id :
         {img::kKeysPanel, img::kPowerCompact, img::kPowerExtended, img::kMount, img::kUnmount}) {
      EXPECT_GT(Differ(At(english, id), At(japanese, id)), 20) << id;
    }
    for (std::string_view id : {img::kBar, img::kPowerOn, img::kIconCdrom, img::kDriveMenu[1]})
      EXPECT_EQ(Differ(At(english, id), At(japanese, id)), 0) << id;
  }
}

}  // namespace
}  // namespace remcons
