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

class ArtworkTest : public ::testing::Test {
 protected:
  void TearDown() override { SetUiLanguage(Language::kEnglish); }
  static const Surface& At(const std::map<std::string, Surface>& images, std::string_view id) {
    return images.at(std::string(id));
  }
};

TEST_F(ArtworkTest, EveryImageAtItsSizeInBothLanguagesAndScales) {
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
    }
  }
}

}  // namespace
}  // namespace remcons
