#include "video/FrameBuffer.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/Strings.h"
#include "support/FakeHost.h"
#include "video/VideoFakes.h"

namespace remcons {
namespace {

using testing::FakeHost;
using testing::FakePainter;

Pixel Color(const Surface& s, int x, int y) {
  return s.At(x, y) & 0xFFFFFF;
}
constexpr Pixel C(uint8_t r, uint8_t g, uint8_t b) {
  return Rgb(r, g, b) & 0xFFFFFF;
}

struct Frame {
  explicit Frame(uint32_t w = 320, uint32_t h = 240) : width(w), height(h) {
    created = buffer.CreateSurfaces(&width, &height);
  }
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

TEST(FrameBuffer, ColoursSizesAndFailedAllocations) {
  for (auto [in, out] : {std::pair{0xFFF, 0xF0F0F0u}, {0x800, 0x800000u}, {0x07A, 0x0070A0u}}) {
    EXPECT_EQ(ExpandColor(static_cast<uint16_t>(in)) & 0xFFFFFF, out);
  }
  // Oversized surfaces are clamped to 1280 x 1024 together.
  for (auto [w, h, ew, eh] :
       {std::tuple{1600u, 900u, 1280u, 1024u}, {1280u, 1200u, 1280u, 1024u}}) {
    Frame f(w, h);
    ASSERT_TRUE(f.created);
    EXPECT_EQ(std::tuple(f.width, f.height, f.buffer.frame().width(), f.buffer.frame().height()),
              std::tuple(ew, eh, int(ew), int(eh)));
  }
  for (auto [failAt, text] :  // 0 frame, 1 block, 2 back plane
       {std::pair{0,
                  "Out of Memory - Error 0x00000008 creating hScreenBitmap. Size is 1280 x 1024"},
        {1, "Error 0x00000008 attempting to create hBlockBitmap."},
        {2, "Error 00000008 from try to create hMenuBitmap."}}) {
    FakeHost host;
    FakePainter painter;
    int made = 0;
    FrameBuffer buffer(host, painter, [&, fail = failAt](int w, int h) -> std::unique_ptr<Surface> {
      if (made++ == fail) throw std::bad_alloc();
      return std::make_unique<Surface>(w, h);
    });
    uint32_t w = 1600, h = 1200;
    EXPECT_FALSE(buffer.CreateSurfaces(&w, &h));
    EXPECT_EQ(buffer.failureText(), text);
    EXPECT_FALSE(buffer.created());
  }
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
    f.buffer.PutBlock(pos, 0);  // draws nothing but counts a block
    EXPECT_TRUE(f.host.Invalidations().empty());
  }
  EXPECT_FALSE(LockedElsewhere(f.buffer));
  EXPECT_EQ(f.buffer.blocks_finished(), 4u);
  // Repeats wrap at the row's end; the blocks of one row are asked for as one rectangle, without
  // erasing.
  EXPECT_EQ(std::tuple(pos.block_x, pos.block_y), std::tuple(3, 1));
  const Surface& s = f.buffer.frame();
  EXPECT_EQ(std::tuple(Color(s, 8 * 16, 0), Color(s, 9 * 16 + 15, 15), Color(s, 2 * 16 + 15, 31),
                       Color(s, 3 * 16, 16), Color(s, 7 * 16, 0)),
            std::tuple(C(4, 4, 4), C(4, 4, 4), C(4, 4, 4), 0u, 0u));
  auto inv = f.host.Invalidations();
  ASSERT_EQ(inv.size(), 2u);
  EXPECT_EQ(std::pair(inv[0].rect, inv[1].rect),
            std::pair(Rect{128, 0, 160, 16}, Rect{0, 16, 48, 32}));
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
  EXPECT_EQ(std::tuple(inv[0].rect, inv[6].rect, inv[7].rect),
            std::tuple(Rect{16, 0, 32, 16}, Rect{0, 96, 32, 112}, Rect{0, 112, 32, 160}));
}

TEST(FrameBuffer, ClearScreenAndStatusLines) {
  Frame f(320, 240);
  f.buffer.ClearScreen({0, 0, 10, 5});
  const Surface& s = f.buffer.frame();
  EXPECT_EQ(std::tuple(Color(s, 0, 0), Color(s, 159, 79), Color(s, 160, 79), Color(s, 159, 80)),
            std::tuple(C(60, 60, 60), C(60, 60, 60), 0u, 0u));
  // Lines stack downwards; no empty last line; an empty line is 20 pixels.
  f.buffer.WriteStatusLine("A\rB");
  EXPECT_EQ(f.buffer.statusLineY(), 60u);
  f.buffer.WriteStatusLine("C\r");
  EXPECT_EQ(f.buffer.statusLineY(), 80u);
  f.buffer.WriteStatusLine("D\r\rE");
  EXPECT_EQ(f.buffer.statusLineY(), 160u);
  std::string drawn;
  for (const auto& call : f.painter.calls) {
    drawn += call.text + "@" + std::to_string(call.y) + " ";
    EXPECT_EQ(std::tuple(call.x, call.color & 0xFFFFFF, *call.background & 0xFFFFFF, call.font.face,
                         call.font.pixelHeight),
              std::tuple(0, C(0, 207, 0), 0u, JapaneseForms() ? "MS UI Gothic" : "Arial", 24));
  }
  EXPECT_EQ(drawn, "A@0 B@20 C@60 D@80 E@120 ");
  // Drawn into the frame: the fake painter's box for "B" at (0, 20).
  EXPECT_EQ(Color(f.buffer.frame(), 5, 25), C(0, 207, 0));
  auto inv = f.host.Invalidations();
  ASSERT_EQ(inv.size(), 4u);
  for (const auto& i : inv) EXPECT_TRUE(i.whole && i.erase);
}

}  // namespace
}  // namespace remcons
