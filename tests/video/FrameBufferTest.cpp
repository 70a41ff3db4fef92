#include "video/FrameBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Strings.h"
#include "support/FakeHost.h"
#include "video/VideoFakes.h"

namespace remcons {
namespace {

using testing::FakeHost;
using testing::FakePainter;

constexpr Pixel kGrey = Rgb(60, 60, 60) & 0xFFFFFF;

Pixel Color(const Surface& s, int x, int y) {
  return s.At(x, y) & 0xFFFFFF;
}

struct Frame {
  explicit Frame(uint32_t w = 320, uint32_t h = 240) {
    width = w;
    height = h;
    created = buffer.CreateSurfaces(&width, &height);
  }
  // Fills the block surface with one colour.
  void SetBlock(Pixel p) { std::fill_n(buffer.block_pixels(), kBlockPixels, p); }
  // Covers the frame with blocks of one colour, all at once.
  void Cover(Pixel p) {
    SetBlock(p);
    const auto w = static_cast<uint16_t>((width + 15) / 16),
               h = static_cast<uint16_t>((height + 15) / 16);
    BlockPosition pos{0, 0, w, h};
    buffer.PutBlock(pos, w * h);
  }

  FakeHost host;
  FakePainter painter;
  FrameBuffer buffer{host, painter};
  uint32_t width, height;
  bool created;
};

TEST(FrameBuffer, ColourExpansionMultipliesEachComponentBySixteen) {
  for (auto [in, out] : {std::pair{0xFFF, 0xF0F0F0u}, {0x800, 0x800000u}, {0x07A, 0x0070A0u}}) {
    EXPECT_EQ(ExpandColor(static_cast<uint16_t>(in)) & 0xFFFFFF, out);
  }
}

TEST(FrameBuffer, OversizedSurfacesAreClampedTo1280x1024Together) {
  struct Case {
    uint32_t w, h, ew, eh;
  };
  for (const Case& c : {Case{1600, 900, 1280, 1024}, Case{1024, 768, 1024, 768},
                        Case{1280, 1200, 1280, 1024}, Case{640, 480, 640, 480}}) {
    Frame f(c.w, c.h);
    ASSERT_TRUE(f.created);
    EXPECT_EQ(std::tuple(f.width, f.height, f.buffer.frame().width(), f.buffer.frame().height()),
              std::tuple(c.ew, c.eh, int(c.ew), int(c.eh)));
  }
}

TEST(FrameBuffer, AFailedAllocationExplainsItself) {
  struct Case {
    int failAt;  // 0 frame, 1 block, 2 back plane
    const char* text;
  };
  for (const Case& c :
       {Case{0, "Out of Memory - Error 0x00000008 creating hScreenBitmap. Size is 1280 x 1024"},
        Case{1, "Error 0x00000008 attempting to create hBlockBitmap."},
        Case{2, "Error 00000008 from try to create hMenuBitmap."}}) {
    FakeHost host;
    FakePainter painter;
    int made = 0;
    FrameBuffer buffer(host, painter, [&](int w, int h) -> std::unique_ptr<Surface> {
      if (made++ == c.failAt) throw std::bad_alloc();
      return std::make_unique<Surface>(w, h);
    });
    uint32_t w = 1600, h = 1200;
    EXPECT_FALSE(buffer.CreateSurfaces(&w, &h));
    EXPECT_EQ(buffer.failureText(), c.text);
    EXPECT_LE(buffer.failureText().size(), 79u);
    EXPECT_FALSE(buffer.created());
  }
}

TEST(FrameBuffer, PutBlockClipsAtTheRightAndBottomEdges) {
  Frame f(40, 24);  // 2.5 x 1.5 blocks
  f.SetBlock(Rgb(1, 2, 3));
  BlockPosition pos{2, 1, 3, 2};
  f.buffer.PutBlock(pos, 1);
  const Surface& s = f.buffer.frame();
  EXPECT_EQ(std::tuple(Color(s, 32, 16), Color(s, 39, 23), Color(s, 31, 23), Color(s, 39, 15)),
            std::tuple(Rgb(1, 2, 3) & 0xFFFFFF, Rgb(1, 2, 3) & 0xFFFFFF, 0u, 0u));
}

// Whether another thread, as the window's painting, finds the video lock taken.
bool LockedElsewhere(FrameBuffer& buffer) {
  bool taken = false;
  std::thread painter([&] {
    taken = buffer.videoLock().try_lock();
    if (taken) buffer.videoLock().unlock();
  });
  painter.join();
  return !taken;
}

TEST(FrameBuffer, ABlockRunHoldsTheLockFromItsFirstBlockAndAsksForRepaintsAtItsEnd) {
  Frame f(160, 64);  // 10 x 4 blocks
  f.SetBlock(Rgb(4, 4, 4));
  BlockPosition pos{8, 0, 10, 4};
  {
    FrameBuffer::BlockRun run(f.buffer);
    EXPECT_FALSE(LockedElsewhere(f.buffer));  // nothing put yet
    f.buffer.PutBlock(pos, 1);
    EXPECT_TRUE(LockedElsewhere(f.buffer));
    {
      FrameBuffer::BlockRun inner(f.buffer);
      f.buffer.PutBlock(pos, 1);
    }
    EXPECT_TRUE(LockedElsewhere(f.buffer));  // the outer run still holds it
    f.buffer.PutBlock(pos, 3);
    EXPECT_TRUE(f.host.Invalidations().empty());
  }
  EXPECT_FALSE(LockedElsewhere(f.buffer));
  EXPECT_EQ(f.buffer.blocks_finished(), 3u);
  // Repeats wrap at the row's end; the blocks of one row are asked for as one rectangle, without
  // erasing.
  EXPECT_EQ(std::tuple(pos.block_x, pos.block_y), std::tuple(3, 1));
  const Surface& s = f.buffer.frame();
  for (int bx : {8, 9}) EXPECT_EQ(Color(s, bx * 16, 0), Rgb(4, 4, 4) & 0xFFFFFF);
  for (int bx : {0, 1, 2}) EXPECT_EQ(Color(s, bx * 16 + 15, 31), Rgb(4, 4, 4) & 0xFFFFFF);
  EXPECT_EQ(Color(s, 3 * 16, 16), 0u);
  EXPECT_EQ(Color(s, 7 * 16, 0), 0u);
  auto inv = f.host.Invalidations();
  ASSERT_EQ(inv.size(), 2u);
  EXPECT_EQ(inv[0].rect, (Rect{128, 0, 160, 16}));
  EXPECT_EQ(inv[1].rect, (Rect{0, 16, 48, 32}));
  for (const auto& i : inv) EXPECT_FALSE(i.erase || i.whole);
  // The last block wraps to the first; a position past the last row does not wrap until the row
  // count comes round.
  BlockPosition last{9, 3, 10, 4}, below{9, 5, 10, 4};
  f.buffer.PutBlock(last, 1);
  f.buffer.PutBlock(below, 1);
  EXPECT_EQ(std::tuple(last.block_x, last.block_y, below.block_x, below.block_y),
            std::tuple(0, 0, 0, 6));

  // Rows beyond the eighth are asked for together with it.
  Frame tall(32, 320);  // 2 x 20 blocks
  BlockPosition down{1, 0, 2, 20};
  {
    FrameBuffer::BlockRun run(tall.buffer);
    for (int i = 0; i < 19; ++i) tall.buffer.PutBlock(down, 1);
  }
  inv = tall.host.Invalidations();
  ASSERT_EQ(inv.size(), 8u);
  EXPECT_EQ(inv[0].rect, (Rect{16, 0, 32, 16}));
  EXPECT_EQ(inv[6].rect, (Rect{0, 96, 32, 112}));
  EXPECT_EQ(inv[7].rect, (Rect{0, 112, 32, 160}));
  EXPECT_FALSE(LockedElsewhere(tall.buffer));
}

TEST(FrameBuffer, PutBlockOfNoneDrawsNothingButCountsABlock) {
  Frame f(160, 64);
  f.SetBlock(Rgb(5, 5, 5));
  BlockPosition pos{1, 1, 10, 4};
  f.buffer.PutBlock(pos, 0);
  EXPECT_EQ(f.buffer.blocks_finished(), 1u);
  EXPECT_EQ(pos.block_x, 1);
  EXPECT_EQ(Color(f.buffer.frame(), 16, 16), 0u);
  EXPECT_TRUE(f.host.Invalidations().empty());
  f.buffer.PutBlock(pos, 3);
  EXPECT_EQ(f.buffer.blocks_finished(), 2u);
}

TEST(FrameBuffer, ClearScreenFillsTheRemoteAreaDarkGrey) {
  Frame f(320, 240);
  f.buffer.ClearScreen({0, 0, 10, 5});
  const Surface& s = f.buffer.frame();
  EXPECT_EQ(Color(s, 0, 0), kGrey);
  EXPECT_EQ(Color(s, 159, 79), kGrey);
  EXPECT_EQ(Color(s, 160, 79), 0u);
  EXPECT_EQ(Color(s, 159, 80), 0u);
  auto inv = f.host.Invalidations();
  ASSERT_EQ(inv.size(), 1u);
  EXPECT_TRUE(inv[0].whole);
  EXPECT_TRUE(inv[0].erase);
}

TEST(FrameBuffer, StatusLinesStackDownwards) {
  Frame f(320, 240);
  f.buffer.WriteStatusLine("A\rB");
  ASSERT_EQ(f.painter.calls.size(), 2u);
  EXPECT_EQ(f.painter.calls[0].text, "A");
  EXPECT_EQ(f.painter.calls[0].y, 0);
  EXPECT_EQ(f.painter.calls[1].text, "B");
  EXPECT_EQ(f.painter.calls[1].y, 20);
  EXPECT_EQ(f.buffer.statusLineY(), 60u);
  for (const auto& call : f.painter.calls) {
    EXPECT_EQ(call.x, 0);
    EXPECT_EQ(call.color & 0xFFFFFF, Rgb(0, 207, 0) & 0xFFFFFF);
    ASSERT_TRUE(call.background.has_value());
    EXPECT_EQ(*call.background & 0xFFFFFF, 0u);
    EXPECT_EQ(call.font.face, JapaneseForms() ? "MS UI Gothic" : "Arial");
    EXPECT_EQ(call.font.pixelHeight, 24);
  }
  // Drawn into the frame: the fake painter's box for "B" at (0, 20).
  EXPECT_EQ(Color(f.buffer.frame(), 5, 25), Rgb(0, 207, 0) & 0xFFFFFF);

  f.buffer.WriteStatusLine("C\r");  // no empty last line
  EXPECT_EQ(f.painter.calls.size(), 3u);
  EXPECT_EQ(f.painter.calls[2].y, 60);
  EXPECT_EQ(f.buffer.statusLineY(), 80u);

  f.buffer.WriteStatusLine("D\r\rE");  // one empty line of 20 pixels
  ASSERT_EQ(f.painter.calls.size(), 5u);
  EXPECT_EQ(f.painter.calls[3].y, 80);
  EXPECT_EQ(f.painter.calls[4].y, 120);
  EXPECT_EQ(f.buffer.statusLineY(), 160u);
  auto inv = f.host.Invalidations();
  ASSERT_EQ(inv.size(), 3u);
  EXPECT_TRUE(inv[2].whole && inv[2].erase);
}

TEST(FrameBuffer, TheJapaneseFormsUseTheirOwnFont) {
  const Language before = UiLanguage();
  SetUiLanguage(Language::kJapanese);
  EXPECT_EQ(FrameBuffer::StatusFont().face, "MS UI Gothic");
  SetUiLanguage(Language::kEnglish);
  EXPECT_EQ(FrameBuffer::StatusFont().face, "Arial");
  SetUiLanguage(before);
}

TEST(FrameBuffer, PaintCopiesTheUpdateRectangleClippedAtEveryEdge) {
  Frame f(64, 48);
  f.Cover(Rgb(7, 7, 7));
  struct Case {
    Rect update;
    int painted;
  };
  for (const Case& c :
       {Case{{10, 10, 20, 20}, 100}, Case{{-5, -5, 5, 5}, 25}, Case{{60, 40, 80, 60}, 4 * 8},
        Case{{-10, 0, 100, 48}, 64 * 48}, Case{{70, 0, 90, 10}, 0}}) {
    Surface window(64, 48, Rgb(0, 0, 0));
    f.buffer.Paint(c.update, window);
    int painted = 0;
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 64; ++x) painted += Color(window, x, y) != 0;
    }
    EXPECT_EQ(painted, c.painted);
  }
}

TEST(FrameBuffer, PaintComposesTheMenuBarWhenItOverlaps) {
  Frame f(320, 240);
  f.Cover(Rgb(7, 7, 7));
  MenuBarOverlay bar;
  bar.visible = true;
  bar.area = {100, 0, 220, 22};
  int draws = 0;
  bar.draw = [&](Surface& back) {
    ++draws;
    back.Fill(bar.area, Rgb(200, 0, 0));
  };
  const Pixel barColor = Rgb(200, 0, 0) & 0xFFFFFF;
  {
    Surface window(320, 240);
    f.buffer.Paint({0, 100, 50, 150}, window, &bar);  // away from the bar
    EXPECT_EQ(draws, 0);
    EXPECT_EQ(Color(window, 10, 110), Rgb(7, 7, 7) & 0xFFFFFF);
  }
  {
    Surface window(320, 240);
    f.buffer.Paint({90, 10, 110, 30}, window, &bar);  // a corner in the bar
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(Color(window, 105, 15), barColor);
    EXPECT_EQ(Color(window, 95, 15), Rgb(7, 7, 7) & 0xFFFFFF);
    EXPECT_EQ(Color(window, 105, 25), Rgb(7, 7, 7) & 0xFFFFFF);
    EXPECT_EQ(Color(window, 150, 5), 0u);  // outside the update rectangle
  }
  {
    // The whole window: no corner lies in the bar, and the bar is still drawn.
    Surface window(320, 240);
    f.buffer.Paint({0, 0, 320, 240}, window, &bar);
    EXPECT_EQ(draws, 2);
    EXPECT_EQ(Color(window, 150, 5), barColor);
  }
  {
    bar.visible = false;
    Surface window(320, 240);
    f.buffer.Paint({0, 0, 320, 240}, window, &bar);
    EXPECT_EQ(draws, 2);
    EXPECT_EQ(Color(window, 150, 5), Rgb(7, 7, 7) & 0xFFFFFF);
  }
}

TEST(FrameBuffer, PaintingAndBlockWritesInterleaveFromTwoThreads) {
  // The video lock keeps the window thread's copies and the console thread's block writes apart;
  // neither blocks the other for good.
  Frame f(320, 240);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) f.Cover(Rgb(1, 1, 1));
    done = true;
  });
  Surface window(320, 240);
  int paints = 0;
  while (!done && paints < 100000) {
    f.buffer.Paint({0, 0, 320, 240}, window);
    ++paints;
  }
  writer.join();
  f.buffer.Paint({0, 0, 320, 240}, window);
  EXPECT_EQ(Color(window, 319, 239), Rgb(1, 1, 1) & 0xFFFFFF);
}

}  // namespace
}  // namespace remcons
