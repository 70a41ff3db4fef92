// The encoder's output checked against bit strings worked out by hand from the stream grammar.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "sim/StreamEncoder.h"
#include "video/VideoFakes.h"
#include "video/VideoStates.h"

namespace remcons::sim {
namespace {

using remcons::testing::Bits;
using remcons::testing::Field;

// Everything the encoder wrote, made sendable.
std::vector<uint8_t> Out(StreamEncoder& e) {
  e.Flush();
  return e.TakeBytes();
}

// The alignment command that Flush adds: START 1, CMD 0, CMD0 1, EXTCMD 1, EXTCMD1 0, EXTCMD2 1,
// then ones to the byte's end.
const char* kAlign = "1 0 1 1 0 1";

TEST(StreamEncoderGolden, ModeSolidBlockAndBlockRepeat) {
  StreamEncoder e;
  ColorFrame frame(32, 16, 0xF00);
  ASSERT_TRUE(e.EncodeFullFrame(frame));
  std::string s;
  // Mode: START 1, CMD 0, CMD0 1, EXTCMD 1, EXTCMD1 0, EXTCMD2 0; 2 x 1 blocks, 0 extra lines.
  s += "1 0 1 1 0 0 0000010 0000001 0000 ";
  // START 0; PIXELS 0, PIXFAN 0, PIXSPEC 1, red F00; PIXRPT 1, PIXRPT1 1, STD1 7, NSTD 255.
  s += "0 0 0 1 1111 0000 0000 1 1 111 11111111 ";
  // START 1, CMD 0, CMD0 1, EXTCMD 0, BLKRPT 0: the same block again.
  s += "1 0 1 0 0 ";
  s += kAlign;
  EXPECT_EQ(Out(e), Bits(s, true));
  EXPECT_EQ(e.stats().blocks, 1u);
  EXPECT_EQ(e.stats().repeatedBlocks, 1u);
}

TEST(StreamEncoderGolden, TwoColoursByRankOne) {
  StreamEncoder e;
  ASSERT_TRUE(e.SetMode(16, 16));
  ColorFrame frame(16, 16);
  for (int y = 0; y < 16; ++y) {
    frame.Fill(0, y, 8, y + 1, 0x0A5);
    frame.Fill(8, y, 16, y + 1, 0x5A0);
  }
  ASSERT_TRUE(e.EncodeFullFrame(frame));
  std::string s = "1 0 1 1 0 0 0000001 0000001 0000 ";
  s += "0 ";
  // 0A5 explicitly, then 7 more (PIXRPT 1, PIXRPT1 1, STD1 5); 5A0 the same way.
  s += "0 0 1 0000 1010 0101 1 1 101 ";
  s += "0 0 1 0101 1010 0000 1 1 101 ";
  // Every further run is the colour of rank 1 (PIXELS 1, PIXLRU1) and 7 more.
  for (int i = 0; i < 30; ++i) s += "1 1 1 101 ";
  s += kAlign;
  EXPECT_EQ(Out(e), Bits(s, true));
}

TEST(StreamEncoderGolden, GreyAndAThreeColourIndex) {
  StreamEncoder e;
  ASSERT_TRUE(e.SetMode(16, 16));
  ColorFrame frame(16, 16, 0x555);
  frame.Set(1, 0, 0x123);
  frame.Set(2, 0, 0x321);
  ASSERT_TRUE(e.EncodeFullFrame(frame));
  std::string s = "1 0 1 1 0 0 0000001 0000001 0000 0 ";
  // Grey 5: PIXELS 0, PIXFAN 0, PIXSPEC 0, PIXGREY 5, PIXRPT 0.
  s += "0 0 0 0101 0 ";
  s += "0 0 1 0001 0010 0011 0 ";
  s += "0 0 1 0011 0010 0001 0 ";
  // Three cached: 555 has rank 2, index 1 of PIXCODE1 (PIXELS 0, PIXFAN 1, 1); then 252 more.
  s += "0 1 1 1 1 111 " + Field(252, 8) + " ";
  s += kAlign;
  EXPECT_EQ(Out(e), Bits(s, true));
  EXPECT_EQ(e.cache().active(), 3);
  EXPECT_EQ(e.cache().next_state(), vstate::PIXCODE1);
}

TEST(StreamEncoderGolden, RepeatForms) {
  // Runs of 2 (0FF), 9 (0F0), 17 (0FF), 3 (00F), 1 (F0F) and 224 (00F).
  StreamEncoder e;
  ASSERT_TRUE(e.SetMode(16, 16));
  ColorFrame frame(16, 16, 0x00F);
  int x = 0;
  for (auto [run, colour] : {std::pair{2, 0x0FF}, {9, 0x0F0}, {17, 0x0FF}}) {
    for (int i = 0; i < run; ++i, ++x) frame.Set(x % 16, x / 16, static_cast<uint16_t>(colour));
  }
  frame.Set(31 % 16, 31 / 16, 0xF0F);
  ASSERT_TRUE(e.EncodeFullFrame(frame));
  std::string s = "1 0 1 1 0 0 0000001 0000001 0000 0 ";
  s += "0 0 1 0000 1111 1111 1 0 ";          // 0FF; PIXRPT 1, PIXRPT1 0: PIXDUP
  s += "0 0 1 0000 1111 0000 1 1 110 000 ";  // 0F0; STD1 6, STD2 0: 8 more
  s += "1 1 1 111 " + Field(16, 8) + " ";    // 0FF is rank 1; STD1 7, NSTD 16
  s += "0 0 1 0000 0000 1111 1 1 000 ";      // 00F; STD1 0: 2 more
  s += "0 0 1 1111 0000 1111 0 ";            // F0F, no repeat
  s += "1 1 1 111 " + Field(223, 8) + " ";   // 00F is rank 1 again; 223 more
  s += kAlign;
  EXPECT_EQ(Out(e), Bits(s, true));
  EXPECT_EQ(e.cache().next_state(), vstate::PIXCODE2);
}

TEST(StreamEncoderGolden, MovesSkipUnchangedBlocks) {
  StreamEncoder e;
  ColorFrame before(640, 480, 0x000);
  ASSERT_TRUE(e.EncodeFullFrame(before));
  e.Flush();
  e.TakeBytes();
  ColorFrame after = before;
  after.Fill(5 * 16, 3 * 16, 6 * 16, 4 * 16, 0x00F);    // block (5,3)
  after.Fill(7 * 16, 3 * 16, 8 * 16, 4 * 16, 0x0F0);    // block (7,3)
  after.Fill(20 * 16, 3 * 16, 21 * 16, 4 * 16, 0x0F0);  // block (20,3), same as (7,3)
  after.Fill(2 * 16, 9 * 16, 3 * 16, 10 * 16, 0xF00);   // block (2,9)
  ASSERT_TRUE(e.EncodeFrame(after, before));
  // The cache still holds 000 from the full frame (used in its last block).
  std::string s;
  s += "1 1 0000101 0000011 ";                      // START 1, CMD 1: to (5,3)
  s += "0 0 0 1 0000 0000 1111 1 1 111 11111111 ";  // a block of 00F
  s += "1 0 0 0 000 ";                              // CMDX 0, MOVESHORTX 0: skip 1, to (7,3)
  s += "0 0 0 1 0000 1111 0000 1 1 111 11111111 ";  // a block of 0F0
  s += "1 0 0 1 0010100 ";                          // CMDX 1, MOVELONGX 20
  s += "1 0 1 0 0 ";                                // BLKDUP: the last block again
  s += "1 1 0000010 0001001 ";                      // to (2,9)
  s += "0 0 0 1 1111 0000 0000 1 1 111 11111111 ";
  s += kAlign;
  EXPECT_EQ(Out(e), Bits(s, true));
  EXPECT_EQ(e.stats().skippedBlocks, 40u * 30 - 4);
}

TEST(StreamEncoderGolden, Commands) {
  struct Case {
    const char* name;
    std::function<void(StreamEncoder&)> write;
    std::string bits;
  };
  const std::string fw = "1 0 1 1 1 ";
  const std::vector<Case> cases = {
      {"exit", [](StreamEncoder& e) { e.Exit(); }, fw + "00000001 0 "},
      {"frame rate 30", [](StreamEncoder& e) { e.FrameRate(30); }, fw + "00011110 1 00000011 0 "},
      {"power on", [](StreamEncoder& e) { e.PowerOn(); }, fw + "00000100 0 "},
      {"power off", [](StreamEncoder& e) { e.PowerOff(); }, fw + "00000101 0 "},
      {"video suspended", [](StreamEncoder& e) { e.VideoSuspended(); }, fw + "00000110 0 "},
      {"seize", [](StreamEncoder& e) { e.Seize(); }, fw + "00001010 0 "},
      {"kill", [](StreamEncoder& e) { e.Kill(); }, fw + "00001011 0 "},
      {"text", [](StreamEncoder& e) { e.Text(0x81, std::string("1\0x", 3)); },
       fw + "00000010 0 10000001 00110001 01111000 00000000 "},
      {"power-off mode", [](StreamEncoder& e) { e.ModePowerOff(); },
       "1 0 1 1 0 0 0000000 0000000 0000 "},
      {"800 x 600", [](StreamEncoder& e) { e.SetMode(800, 600); },
       "1 0 1 1 0 0 0110010 0100101 1000 "},
      // A key change ends its byte with ones and says where the new key starts.
      {"key change",
       [](StreamEncoder& e) {
         e.FrameRate(1);
         EXPECT_EQ(e.KeyChange(), 5u);
       },
       fw + "00000001 1 00000011 0 " + fw + "00001001 0 111"},
      // A mark: zeros to the byte's end, four zero bytes and a closing byte.
      {"resync",
       [](StreamEncoder& e) {
         e.PowerOn();
         e.Resync();
       },
       fw + "00000100 0 00 " + std::string(32, '0') + " 11111111"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StreamEncoder e;
    c.write(e);
    const size_t bits = static_cast<size_t>(std::count_if(
        c.bits.begin(), c.bits.end(), [](char ch) { return ch == '0' || ch == '1'; }));
    // Flush adds the alignment command only when a byte is open.
    EXPECT_EQ(Out(e), Bits(bits % 8 ? c.bits + kAlign : c.bits, true));
  }
  // The mode of 800 x 600 is the example bytes 8D 49 1A.
  StreamEncoder e;
  e.SetMode(800, 600);
  EXPECT_EQ(e.TakeBytes(), (std::vector<uint8_t>{0x8D, 0x49, 0x1A}));
}

TEST(StreamEncoderGolden, SizesTheModeCannotCarryAreRefused) {
  StreamEncoder e;
  for (auto [w, h] : {std::pair{0, 480}, {648, 480}, {2048, 480}, {640, 0}, {640, 2048}}) {
    EXPECT_FALSE(e.SetMode(w, h)) << w << "x" << h;
    EXPECT_FALSE(e.EncodeFullFrame(ColorFrame(w, h)));
  }
  EXPECT_EQ(e.offset(), 0u);
  EXPECT_TRUE(e.SetMode(2032, 2047));
}

}  // namespace
}  // namespace remcons::sim
