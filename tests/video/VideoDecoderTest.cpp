#include "video/VideoDecoder.h"

#include <gtest/gtest.h>

#include "support/TraceCapture.h"
#include "video/DecoderRig.h"

namespace remcons {
namespace {

using testing::Bits;
using testing::DecoderRig;
using testing::Field;
using testing::TraceCapture;
using namespace vstate;

// A whole block of one new colour: START 0, PIXELS 0, PIXFAN 0, PIXSPEC 1, r g b, PIXRPT 1,
// PIXRPT1 1, PIXRPTSTD1 7, PIXRPTNSTD 255.
std::string FillBlock(uint16_t color) {
  return "0 0 0 1 " + Field(color, 12) + " 1 1 111 " + Field(255, 8) + " ";
}
// The firmware command: START 1, CMD 0, CMD0 1, EXTCMD 1, EXTCMD1 1, then each byte followed by
// CORP 1 (another follows) or 0 (execute).
std::string Firmware(std::vector<uint8_t> bytes) {
  std::string s = "1 0 1 1 1 ";
  for (size_t i = 0; i < bytes.size(); ++i) {
    s += Field(bytes[i], 8) + (i + 1 < bytes.size() ? " 1 " : " 0 ");
  }
  return s;
}
std::string TextRecord(uint8_t channel, const std::string& text) {
  std::string s = Firmware({2}) + Field(channel, 8) + " ";
  for (char c : text) s += Field(static_cast<uint8_t>(c), 8) + " ";
  return s + Field(0, 8) + " ";
}
std::string Mode(int w, int h, int extra) {
  return "1 0 1 1 0 0 " + Field(w, 7) + " " + Field(h, 7) + " " + Field(extra, 4) + " ";
}
std::string MoveTo(int x, int y) {
  return "1 1 " + Field(x, 7) + " " + Field(y, 7) + " ";
}

// What the session sees when a test's stream simply ends.
const std::vector<std::string> kLostTail = {"status:Connection to Kro lost",
                                            "message:Network Error:Connection to Kro lost"};

TEST(VideoDecoder, SmallGoldenStreams) {
  const std::pair<std::string, uint16_t> cases[] = {
      // A grey pixel, then PIXELS 1 > PIXLRU1 (rank 0 with one colour) > PIXRPT1 1 > STD1 7 >
      // 254.
      {"0 0 0 0 0011 0 1 1 1 111 " + Field(254, 8), 0x333},
      // RGB 800 > PIXRPT 1 > PIXRPT1 1 > STD1 6 > STD2 7: 1 + 15; PIXELS 1 > PIXLRU1 1 >
      // PIXRPT1 1 > STD1 7 > NSTD 239: 1 + 239.
      {"0 0 0 1 1000 0000 0000 1 1 110 111 1 1 1 111 " + Field(239, 8), 0x800},
  };
  for (const auto& [bits, color] : cases) {
    DecoderRig rig;
    EXPECT_EQ(rig.Run(Bits(bits, true)), DecodeEnd::kConnectionLost);
    EXPECT_EQ(
        std::tuple(rig.Block(0, 0), rig.frameBuffer.blocks_finished(), rig.decoder.pixel_count()),
        std::tuple(DecoderRig::Solid(color), 1u, 0u))
        << bits;
  }
}

// Three blocks and a block repeat written by hand; each line notes the path through the states.
TEST(VideoDecoder, GoldenStreamOfPixelFormsAndBlockCommands) {
  std::string s;
  // Block (0,0).
  // START 0 > PIXELS 0 > PIXFAN 0 > PIXSPEC 1 > RGB F00 > PIXRPT 1 > PIXRPT1 1 > STD1 5: 8 red.
  s += "0 0 0 1 1111 0000 0000 1 1 101 ";
  // PIXELS 0 > PIXFAN 0 > PIXSPEC 0 > PIXGREY 8 > PIXRPT 1 > PIXRPT1 0 > PIXDUP: 2 of 888.
  s += "0 0 0 1000 1 0 ";
  // PIXELS 0 > PIXFAN 0 > PIXSPEC 1 > RGB 0F0 > PIXRPT 0: 1 green. Three colours: red has rank 2.
  s += "0 0 1 0000 1111 0000 0 ";
  // PIXELS 0 > PIXFAN 1 > PIXCODE1 1 (rank 2: red) > PIXRPT 1 > PIXRPT1 1 > STD1 0: 3 red.
  s += "0 1 1 1 1 000 ";
  // PIXELS 1 > PIXLRU1 0 (rank 1: green): 1 green.
  s += "1 0 ";
  // PIXELS 0 > PIXFAN 1 > PIXCODE1 0 (rank 0: green) > PIXRPT 1 > PIXRPT1 1 > STD1 7 >
  // PIXRPTNSTD 240: 241 green; 256 pixels, the block is put and the cache pruned.
  s += "0 1 0 1 1 111 11110000 ";
  // Block (1,0): START 0 > PIXELS 1 > PIXLRU1 1 (rank 1: red) > PIXRPT1 1 > STD1 7 > NSTD 255.
  s += "0 1 1 1 111 11111111 ";
  // START 1 > CMD 0 > CMD0 1 > EXTCMD 0 > BLKRPT 0 > BLKDUP: block (2,0) is (1,0) again.
  s += "1 0 1 0 0 ";
  // START 1 > CMD 1 > MOVEXY0 0 > MOVEXY1 1: to block (0,1).
  s += "1 1 0000000 0000001 ";
  // Block (0,1): START 0 > PIXELS 0 > PIXFAN 0 > PIXSPEC 0 > PIXGREY F > PIXRPT 1 > PIXRPT1 1 >
  // STD1 7 > NSTD 127: 128 white; PIXELS 1 > PIXLRU1 1 (rank 1: red) > PIXRPT1 1 > STD1 7 >
  // NSTD 127: 128 red.
  s += "0 0 0 0 1111 1 1 111 01111111 1 1 1 111 01111111 ";
  // START 1 > CMD 0 > CMD0 1 > EXTCMD 1 > EXTCMD1 1 > FIRMWARE 1 > CORP 0: exit.
  s += "1 0 1 1 1 00000001 0";

  DecoderRig rig;
  EXPECT_EQ(rig.Run(Bits(s, true)), DecodeEnd::kExit);

  EXPECT_EQ(rig.Block(0, 0),
            DecoderRig::Colors({{8, 0xF00}, {2, 0x888}, {1, 0x0F0}, {3, 0xF00}, {242, 0x0F0}}));
  EXPECT_EQ(rig.Block(1, 0), DecoderRig::Solid(0xF00));
  EXPECT_EQ(rig.Block(2, 0), DecoderRig::Solid(0xF00));
  EXPECT_EQ(rig.Block(0, 1), DecoderRig::Colors({{128, 0xFFF}, {128, 0xF00}}));
  EXPECT_EQ(rig.Block(3, 0), DecoderRig::Solid(0x000));
  EXPECT_EQ(rig.Block(1, 1), DecoderRig::Solid(0x000));
  EXPECT_EQ(rig.decoder.state(), EXIT);
}

TEST(VideoDecoder, GoldenStreamOfModeTextAlignmentRepeatsAndMoves) {
  // 8D 49 1A: START 1 > CMD 0 > CMD0 1 > EXTCMD 1 > EXTCMD1 0 > EXTCMD2 0 > MODE0 50 > MODE1 37 >
  // MODE2 8: 800 x 600.
  std::vector<uint8_t> bytes = {0x8D, 0x49, 0x1A};
  std::string s;
  // Firmware 2, then PRINT0 channel 2, PRINT1 'H' 'i' 0: status text "Hi".
  s += TextRecord(2, "Hi");
  // START 1 > CMD 0 > CMD0 1 > EXTCMD 1 > EXTCMD1 0 > EXTCMD2 1 > TIMEOUT: the rest of the byte
  // (padded with ones, which would otherwise start a move) is dropped.
  s += "1 0 1 1 0 1";
  auto text = Bits(s, true);
  bytes.insert(bytes.end(), text.begin(), text.end());
  s = FillBlock(0x0AF);
  // START 1 > CMD 0 > CMD0 1 > EXTCMD 0 > BLKRPT 1 > BLKRPT1 0 > BLKRPTSTD 3: 5 more.
  s += "1 0 1 0 1 0 011 ";
  // BLKRPT1 1 > BLKRPTNSTD 0: none.
  s += "1 0 1 0 1 1 0000000 ";
  // START 1 > CMD 0 > CMD0 0 > CMDX 1 > MOVELONGX 20: to block 20; CMDX 0 > MOVESHORTX 2: skip 3.
  s += "1 0 0 1 0010100 1 0 0 0 010 ";
  s += Firmware({1});
  auto rest = Bits(s, true);
  bytes.insert(bytes.end(), rest.begin(), rest.end());

  DecoderRig rig;
  EXPECT_EQ(rig.Run(bytes), DecodeEnd::kExit);
  const BlockPosition& p = rig.decoder.position();
  EXPECT_EQ(
      std::tuple(rig.modes.remote_width(), rig.modes.remote_height(), rig.decoder.extra_lines(),
                 rig.events.statusText, p.block_x, p.width_blocks, p.height_blocks),
      std::tuple(800u, 600u, 8, "Hi", 23, 50, 37));
  EXPECT_TRUE(rig.events.Saw("notify-status"));
  for (int x = 0; x < 6; ++x) EXPECT_EQ(rig.Block(x, 0), DecoderRig::Solid(0x0AF)) << x;
  EXPECT_EQ(rig.Block(6, 0), DecoderRig::Solid(0x000));
}

TEST(VideoDecoder, ExplicitColourAlreadyCachedLatchesAndDrawsNothing) {
  TraceCapture trace;
  // A grey pixel, then the same colour again in RGB form.
  std::string s = "0 0 0 0 0111 0 0 0 1 0111 0111 0111 0 ";
  DecoderRig rig;
  rig.Run(Bits(s + "1111111111111111"));
  EXPECT_TRUE(trace.Has("color 777 generated a hit\n"));
  EXPECT_EQ(std::pair(rig.decoder.state(), rig.frameBuffer.blocks_finished()),
            std::pair(int32_t{LATCHED}, 0u));
  EXPECT_EQ(rig.Block(0, 0), DecoderRig::Solid(0x000));
}

// Modes with a zero side and the power commands both reach the menu bar on a change only.
TEST(VideoDecoder, PowerOffByAZeroModeOrACommandIsToldOnce) {
  for (const std::string& off : {Mode(0, 48, 0) + Mode(0, 0, 0), Firmware({5}) + Firmware({5})}) {
    DecoderRig rig;
    rig.Run(Bits(Mode(64, 48, 0) + Firmware({4}) + FillBlock(0xFFF) + off, true));
    const auto log = rig.events.Log();
    EXPECT_EQ(
        std::tuple(std::count(log.begin(), log.end(), "power-on"),
                   std::count(log.begin(), log.end(), "power-off"), rig.decoder.server_power()),
        std::tuple(1, 1, 0));
    // The screen was cleared at the old size (64 x 48 blocks), the white block included.
    const Surface& f = rig.frameBuffer.frame();
    EXPECT_EQ(f.At(0, 0) & 0xFFFFFF, Rgb(60, 60, 60) & 0xFFFFFF);
    EXPECT_EQ(f.At(1023, 767) & 0xFFFFFF, Rgb(60, 60, 60) & 0xFFFFFF);
    EXPECT_EQ(f.At(1024, 767) & 0xFFFFFF, 0u);
  }
  // A zero mode also sets the power-off size.
  DecoderRig rig;
  rig.Run(Bits(Mode(64, 48, 0) + Mode(0, 48, 0), true));
  EXPECT_EQ(std::tuple(rig.decoder.position().width_blocks, rig.decoder.position().height_blocks,
                       rig.modes.remote_width(), rig.modes.remote_height()),
            std::tuple(50, 38, 800u, 608u));
}

TEST(VideoDecoder, FirmwareOperandsBeyondTheArrayAreDropped) {
  TraceCapture trace;
  std::vector<uint8_t> command;
  for (int i = 1; i <= 300; ++i) command.push_back(static_cast<uint8_t>(i % 200 + 1));
  command.push_back(3);
  DecoderRig rig;
  rig.Run(Bits(Firmware(command) + FillBlock(0x0F0), true));
  EXPECT_TRUE(trace.Has("Framerate: 2\n"));
  EXPECT_EQ(rig.decoder.fw_arg(256), static_cast<uint32_t>(256 % 200 + 1));
  // The machine carried on after the long command.
  EXPECT_EQ(rig.Block(0, 0), DecoderRig::Solid(0x0F0));
}

// Video suspended is told and drawn as a status line. A key change drops the rest of its byte:
// four ones here, which would otherwise start a move. Seize and kill end the session with their
// texts, nothing after them decoded; only the seize is drawn.
TEST(VideoDecoder, VideoSuspendedKeyChangeSeizeAndKill) {
  DecoderRig rig;
  auto bytes = Bits(Firmware({6}) + Firmware({9}) + "1111");
  ASSERT_EQ(bytes.size(), 4u);
  auto block = Bits(FillBlock(0xC0C), true);
  bytes.insert(bytes.end(), block.begin(), block.end());
  rig.Run(bytes);
  std::vector<std::string> expected = {"status:Video suspended", "notify-status", "change-keys"};
  expected.insert(expected.end(), kLostTail.begin(), kLostTail.end());
  EXPECT_EQ(rig.events.Log(), expected);
  EXPECT_EQ(rig.painter.calls.size(), 1u);
  EXPECT_EQ(rig.Block(0, 0), DecoderRig::Solid(0xC0C));
  for (auto [command, text] : {std::pair<uint8_t, std::string>{10, "Acquired by another user."},
                               {11, "terminated by firmware update."}}) {
    DecoderRig ended;
    EXPECT_EQ(ended.Run(Bits(Firmware({command}) + FillBlock(0x00F), true)), DecodeEnd::kExit);
    EXPECT_EQ(ended.events.Log(), (std::vector<std::string>{"status:Session " + text,
                                                            "notify-dialog", "notify-closed"}));
    EXPECT_EQ(std::pair(ended.painter.calls.size(), ended.frameBuffer.blocks_finished()),
              std::pair(command == 10 ? size_t{1} : size_t{0}, 0u));
  }
}

TEST(VideoDecoder, LatchedAsksForARefreshAtItsFortyFirstStep) {
  // START 0 > PIXELS 1 > PIXLRU1 0: rank 1 of an empty cache latches. Then ones in LATCHED.
  struct Case {
    int latchedSteps;
    bool replaying;
    int requests;
  };
  for (const Case& c : {Case{37, false, 0}, Case{45, false, 1}, Case{45, true, 0}}) {
    SCOPED_TRACE(c.latchedSteps);
    ASSERT_EQ((3 + c.latchedSteps) % 8, 0);
    DecoderRig rig;
    rig.events.replaying = c.replaying;
    std::vector<uint32_t> countsAtWrite;
    rig.events.onWrite = [&] { countsAtWrite.push_back(rig.decoder.latch_count()); };
    rig.Run(Bits("0 1 0 " + std::string(static_cast<size_t>(c.latchedSteps), '1')));
    EXPECT_EQ(rig.decoder.latch_count(), static_cast<uint32_t>(c.latchedSteps));
    EXPECT_EQ(rig.events.writes, c.requests);
    if (c.requests) {
      EXPECT_EQ(rig.events.written, (std::vector<uint8_t>{0x1B, 0x5B, 0x7E}));
      // Forty steps were counted before: this is the 41st.
      EXPECT_EQ(countsAtWrite, (std::vector<uint32_t>{40}));
    }
  }
}

TEST(VideoDecoder, TextChannelsReachTheirReceivers) {
  DecoderRig rig;
  rig.Run(Bits(TextRecord(1, "one") + TextRecord(3, "three") + TextRecord(4, "four") +
                   TextRecord(5, "five") + TextRecord(0x80, "2 yes") + TextRecord(0x81, "1") +
                   TextRecord(0x42, "other"),
               true));
  std::vector<std::string> expected = {"status:four", "notify-dialog", "status2:five"};
  expected.insert(expected.end(), kLostTail.begin(), kLostTail.end());
  EXPECT_EQ(rig.events.Log(), expected);
  // Texts longer than 255 characters are cut there, and the machine goes on.
  DecoderRig cut;
  EXPECT_EQ(
      cut.Run(Bits(TextRecord(2, std::string(300, 'x')) + FillBlock(0x0F0) + Firmware({1}), true)),
      DecodeEnd::kExit);
  EXPECT_EQ(cut.events.statusText, std::string(255, 'x'));
  EXPECT_EQ(cut.Block(0, 0), DecoderRig::Solid(0x0F0));
}

TEST(VideoDecoder, BlocksAddressedOutsideTheFrameAreClipped) {
  DecoderRig rig(800, 600);
  std::string s = MoveTo(49, 37) + FillBlock(0xF0F);          // 8 of its 16 rows fit
  s += MoveTo(127, 127) + FillBlock(0x0FF);                   // nothing fits
  s += MoveTo(0, 38) + "1 0 1 0 1 1 " + Field(127, 7) + " ";  // 127 repeats below the frame
  s += MoveTo(60, 0) + "1 0 1 0 0 ";                          // one beyond the right edge
  rig.Run(Bits(s, true));
  const Surface& f = rig.frameBuffer.frame();
  EXPECT_EQ(f.At(784, 592) & 0xFFFFFF, ExpandColor(0xF0F) & 0xFFFFFF);
  EXPECT_EQ(f.At(799, 599) & 0xFFFFFF, ExpandColor(0xF0F) & 0xFFFFFF);
  int painted = 0;
  for (int y = 0; y < f.height(); ++y) {
    for (int x = 0; x < f.width(); ++x) painted += (f.At(x, y) & 0xFFFFFF) != 0;
  }
  EXPECT_EQ(painted, 16 * 8);
  EXPECT_EQ(rig.frameBuffer.blocks_finished(), 4u);
}

TEST(VideoDecoder, ALostConnectionIsShownUnlessStopping) {
  {
    DecoderRig rig;
    EXPECT_EQ(rig.Run({}), DecodeEnd::kConnectionLost);
    EXPECT_EQ(rig.events.Log(), kLostTail);
    EXPECT_EQ(rig.events.messageStyle, static_cast<uint32_t>(kMbOk | kMbIconWarning));
  }
  {
    DecoderRig rig;
    rig.Run({0x01}, {.multiUserClient = true});
    EXPECT_TRUE(rig.events.Saw("message:Network Error:Connection to session leader lost"));
  }
  {
    // A session stop closes the connection: the read fails, and nothing is shown.
    DecoderRig rig;
    struct StoppingSource : ByteSource {
      VideoDecoder* decoder;
      int Read(uint8_t*, int) override {
        decoder->RequestStop();
        return 0;
      }
    } source;
    source.decoder = &rig.decoder;
    rig.decoder.reader().SetSource(&source);
    rig.decoder.Start({});
    EXPECT_EQ(rig.decoder.Decode(), DecodeEnd::kConnectionLost);
    EXPECT_TRUE(rig.events.Log().empty());
  }
}

}  // namespace
}  // namespace remcons
