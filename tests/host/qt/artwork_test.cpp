// The menu bar's artwork: every image at its size in both languages and at both scales, masks
// that are masks, buttons that sit seamlessly on the bar, and the bar itself drawn by CMenuBar
// over a picture with each of its panels open, written to PNG files for a look.
#include "host/qt/Artwork.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

#include "host/qt/QtPainter.h"
#include "host/qt/qt_image.h"
#include "platform/strings.h"
#include "support/fake_host.h"
#include "ui/MenuBar.h"
#include "ui/MenuBarImages.h"
#include "ui/ui_fakes.h"

namespace remcons {
namespace {

namespace mb = menubar;
namespace img = menubar::img;

class ArtworkTest : public ::testing::Test {
 protected:
  void TearDown() override { SetUiLanguage(Language::kEnglish); }
};

// Where the pictures go: $REMCONS_ARTWORK_OUT, else the test's temporary folder.
std::string OutDir() {
  const char* env = std::getenv("REMCONS_ARTWORK_OUT");
  std::string dir = env && *env ? env : ::testing::TempDir() + "remcons-artwork";
  std::filesystem::create_directories(dir);
  return dir;
}

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

// ---- The bar as CMenuBar draws it ----

class ArtworkBarTest : public ArtworkTest {
 protected:
  static constexpr int kWidth = 1024;
  static constexpr int kHeight = 360;

  void Make(uint32_t muMode, bool capture) {
    painter = std::make_unique<QtPainter>();
    RegisterMenuBarArtwork(*painter);
    MenuBarConfig c;
    c.target = "127.0.0.1";
    c.serverName = "db-primary.example.net";
    c.width = kWidth;
    c.uniqueFeatures = 4 | 8;
    c.muMode = muMode;
    c.screenCapture = c.clientCapture = capture;
    // A floppy drive, a USB key and a CD-ROM drive for the drive menu.
    const std::string sys = OutDir() + "/sys";
    for (auto [name, sectors, type] :
         {std::tuple{"sdb", "2880", "0"}, std::tuple{"sdc", "16000000", "0"},
          std::tuple{"sr0", "0", "5"}}) {
      const std::string base = sys + "/class/block/" + name;
      std::filesystem::create_directories(base + "/device");
      std::ofstream(base + "/removable") << "1\n";
      std::ofstream(base + "/size") << sectors << "\n";
      std::ofstream(base + "/device/type") << type << "\n";
    }
    MenuBarServices services;
    services.roots = MediaRoots{sys, OutDir() + "/dev"};
    bar = std::make_unique<CMenuBar>(host, *painter, owner, c, services);
    bar->Show();
  }

  // A stand-in for the server's screen: a desktop-like gradient with some structure, so that the
  // bar's edges and corners show.
  static Surface Picture() {
    Surface s(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const bool grid = (x % 64 == 0) || (y % 64 == 0);
        s.Set(x, y, grid ? Rgb(40, 80, 110) : Rgb(20 + x / 16, 90 + y / 8, 140 + x / 12));
      }
    }
    return s;
  }

  void Click(Rect r, int dx = -1, int dy = -1) {
    const int x = dx < 0 ? (r.left + r.right) / 2 : r.left + dx;
    const int y = dy < 0 ? (r.top + r.bottom) / 2 : r.top + dy;
    ASSERT_TRUE(bar->OnMouseButton(MenuBarMouse::kLeftDown, x, y));
    ASSERT_TRUE(bar->OnMouseButton(MenuBarMouse::kLeftUp, x, y));
  }
  void Hover(BarButton b) {
    const Rect r = layout::Button(b, kWidth);
    bar->OnMouseMove((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }

  // Composes the bar over the picture as painting does, writes it, and returns it.
  Surface Shot(const std::string& name) {
    Surface s = Picture();
    bar->Paint(s, kWidth);
    std::string error;
    EXPECT_TRUE(SavePng(s, OutDir() + "/" + name + ".png", &error)) << error;
    return s;
  }

  testing::FakeHost host;
  testing::FakeOwner owner;
  std::unique_ptr<QtPainter> painter;
  std::unique_ptr<CMenuBar> bar;
};

// Pixels of a and b that differ inside r.
int Differing(const Surface& a, const Surface& b, const Rect& r) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) n += !SameColor(a.At(x, y), b.At(x, y));
  }
  return n;
}

TEST_F(ArtworkBarTest, RendersWithEachPanelOpen) {
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    SetUiLanguage(language);
    const std::string tag = language == Language::kJapanese ? "-ja" : "";
    Make(1, true);
    const Surface picture = Picture();
    Hover(BarButton::kPower);
    const Surface plain = Shot("bar" + tag);
    const Rect barRect = layout::Bar(kWidth);
    EXPECT_GT(Differing(plain, picture, barRect), 640 * 20);
    // The rounded corners leave the picture showing.
    EXPECT_TRUE(SameColor(plain.At(barRect.left, 21), picture.At(barRect.left, 21)));
    // The tooltip strip.
    EXPECT_GT(Differing(plain, picture, layout::TooltipStrip(kWidth)), 67 * 9 / 2);

    Click(layout::Button(BarButton::kKeys, kWidth));
    const Surface keys = Shot("keys" + tag);
    const Rect keysPanel = layout::KeysPanel(kWidth);
    EXPECT_GT(Differing(keys, picture, keysPanel), keysPanel.Width() * keysPanel.Height() * 9 / 10);

    Click(layout::Button(BarButton::kPower, kWidth));
    Shot("power" + tag);
    bar->SetPowerOff();
    Shot("power-off" + tag);
    bar->SetPowerOn();
    Click(layout::PowerCompact(kWidth), 40, 82);  // Extended Menu
    ASSERT_EQ(bar->OpenPanel(), CMenuBar::Panel::kPowerExtended);
    Shot("power-extended" + tag);
    Click(layout::Button(BarButton::kPower, kWidth));

    Click(layout::Button(BarButton::kMedia, kWidth));
    ASSERT_EQ(bar->OpenPanel(), CMenuBar::Panel::kDrives);
    Shot("drives" + tag);

    bar->StartReplay("BOOT Buffer");
    Hover(BarButton::kFastPlay);
    Shot("replay" + tag);
    bar.reset();
  }
  // A joining console and a single console without capture.
  Make(2, false);
  Hover(BarButton::kControl);
  Shot("joining");
  Make(0, false);
  bar->Pin();
  Shot("single-pinned");
}

TEST_F(ArtworkBarTest, ContactSheets) {
  // Every image at 1x and 2x on one sheet each, for a look.
  for (int scale : {1, 2}) {
    const auto images = DrawMenuBarArtwork(scale);
    const int width = 700 * scale;
    int x = 4, y = 4, rowHeight = 0;
    std::vector<std::pair<QPoint, const Surface*>> places;
    for (const auto& [id, s] : images) {
      if (x + s.width() + 4 > width) {
        x = 4;
        y += rowHeight + 6;
        rowHeight = 0;
      }
      places.push_back({QPoint(x, y), &s});
      x += s.width() + 6;
      rowHeight = std::max(rowHeight, s.height());
    }
    Surface sheet(width, y + rowHeight + 4, Rgb(128, 128, 128));
    for (const auto& [at, s] : places) sheet.CopyFrom(*s, s->bounds(), at.x(), at.y());
    std::string error;
    EXPECT_TRUE(SavePng(sheet, OutDir() + "/sheet-" + std::to_string(scale) + "x.png", &error))
        << error;
  }
}

}  // namespace
}  // namespace remcons
