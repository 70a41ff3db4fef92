// The console's decoder fed by the simulator's encoder: the picture drawn must be the frame the
// encoder was given, whatever the pictures, the commands between frames, the read sizes and any
// damage before a refresh. Streams written by hand pin the corners the encoder never writes.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "ConsoleRig.h"
#include "sim/ScreenContent.h"
#include "sim/StreamEncoder.h"
#include "video/DecoderRig.h"

namespace remcons::sim {
namespace {

using remcons::testing::Bits;
using remcons::testing::DecoderRig;
using remcons::testing::Field;
using testing::Mismatch;
using namespace vstate;

// Rows of runs 1 to maxRun long, each of a colour drawn from palette.
ColorFrame RunsOf(int width, int height, std::mt19937& rng, const std::vector<uint16_t>& palette,
                  int maxRun) {
  ColorFrame f(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width;) {
      const int run = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxRun));
      f.Fill(x, y, x + run, y + 1, palette[rng() % palette.size()]);
      x += run;
    }
  }
  return f;
}

// Read sizes: whole buffers, single bytes, or runs of random small or large reads.
std::deque<int> Chunks(std::mt19937& rng, int pattern) {
  std::deque<int> chunks;
  const int counts[] = {0, 200000, 20000, 2000}, sizes[] = {1, 1, 64, 4096};
  for (int i = 0; i < counts[pattern]; ++i) {
    chunks.push_back(pattern == 1 ? 1 : 1 + static_cast<int>(rng() % sizes[pattern]));
  }
  return chunks;
}

// Frames of one kind, each update encoded against the one before in two halves with a mark, a
// key change, a text, a mode or an alignment between them. Returns the last frame.
ColorFrame EncodeFrames(StreamEncoder& encoder, int kind, int width, int height,
                        std::mt19937& rng) {
  std::vector<ColorFrame> frames;
  if (kind == 0) {
    frames = {BootConsoleScreen(width, height, rng()), DesktopScreen(width, height, rng()),
              GradientScreen(width, height)};
  } else if (kind == 1) {
    // Few colours with many zero bits in short runs: codes that look like the zeros of a mark.
    frames = {NoiseScreen(width, height, rng()),
              RunsOf(width, height, rng, {0x000, 0x800, 0x111, 0x080, 0x008, 0x100, 0x001}, 20)};
  } else if (kind == 2) {
    // Every cache width and repeat form.
    for (size_t colours : {2, 3, 5, 9, 17, 40}) {
      std::vector<uint16_t> palette(colours);
      for (auto& c : palette) c = static_cast<uint16_t>(rng() & 0xFFF);
      frames.push_back(RunsOf(width, height, rng, palette, 1 + static_cast<int>(rng() % 300)));
    }
  } else {
    // Small changes: unchanged blocks skipped and moved over.
    frames = {DesktopScreen(width, height, rng())};
    for (int i = 0; i < 5; ++i) {
      frames.push_back(frames.back());
      for (int r = 0; r < 4; ++r) {
        const int x = static_cast<int>(rng() % static_cast<unsigned>(width));
        const int y = static_cast<int>(rng() % static_cast<unsigned>(height));
        frames.back().Fill(x, y, x + 1 + static_cast<int>(rng() % 200),
                           y + 1 + static_cast<int>(rng() % 120),
                           static_cast<uint16_t>(rng() % 4096));
      }
    }
  }
  EXPECT_TRUE(encoder.EncodeFullFrame(frames[0]));
  for (size_t i = 1; i < frames.size(); ++i) {
    ColorFrame half = frames[i - 1];
    for (int y = 0; y < height / 2; ++y) std::copy_n(frames[i].Row(y), width, half.Row(y));
    EXPECT_TRUE(encoder.EncodeFrame(half, frames[i - 1]));
    switch (rng() % 5) {
      case 0:
        encoder.Resync();
        break;
      case 1:
        encoder.KeyChange();
        break;
      case 2:
        encoder.Text(static_cast<uint8_t>(1 + rng() % 5), "between frames");
        break;
      case 3:
        encoder.SetMode(width, height);
        half = ColorFrame(width, height, 0xFFFF);  // nothing is known to be shown
        break;
      default:
        encoder.Align();
    }
    EXPECT_TRUE(encoder.EncodeFrame(frames[i], half));
  }
  return frames.back();
}

// Clean streams end with an exit and show their last frame without ever latching. Damaged ones
// (bit flips, lost and stray bytes) end with a mark, the mode and the whole frame, as a refresh
// is answered: the picture is whole again unless the damage itself made an exit or a stop.
TEST(RoundTrip, EncoderStreamsCleanAndDamagedInEveryReadPattern) {
  std::mt19937 rng(99);
  int recovered = 0;
  for (int round = 0; round < 64; ++round) {
    SCOPED_TRACE(round);
    const bool damaged = round >= 16;
    const int width = damaged ? 160 : 320, height = damaged ? 128 : 208;
    StreamEncoder encoder;
    const ColorFrame last = EncodeFrames(encoder, round % 4, width, height, rng);
    if (!damaged) encoder.Exit();
    encoder.Flush();
    std::vector<uint8_t> bytes = encoder.TakeBytes();
    for (int d = 0; damaged && d < 1 + round % 8; ++d) {
      const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(rng() % bytes.size());
      const uint32_t how = rng() % 3;
      if (how == 0) *at ^= static_cast<uint8_t>(1u << (rng() % 8));
      if (how == 1) bytes.erase(at);
      if (how == 2) bytes.insert(at, static_cast<uint8_t>(rng()));
    }
    if (damaged) {
      encoder.Resync();
      encoder.SetMode(width, height);
      EXPECT_TRUE(encoder.EncodeFullFrame(last));
      encoder.Flush();
      const std::vector<uint8_t> refresh = encoder.TakeBytes();
      bytes.insert(bytes.end(), refresh.begin(), refresh.end());
    }
    DecoderRig rig(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    const DecodeEnd end = rig.Run(bytes, {.multiUserClient = damaged && round % 7 == 3},
                                  Chunks(rng, (round / 4) % 4));
    if (!damaged) {
      EXPECT_EQ(end, DecodeEnd::kExit);
      EXPECT_EQ(rig.events.writes, 0) << "no refresh request";
    }
    if (end == DecodeEnd::kConnectionLost || !damaged) {
      EXPECT_EQ(Mismatch(rig.frameBuffer.frame(), last), "");
      recovered += damaged;
    }
  }
  EXPECT_GE(recovered, 36) << "most damage is overcome by the refresh";
}

// Streams written by hand: a repeat past the 256th pixel, each repeat form at the block's end, a
// rank missing after a prune, and runs cut by a mark; each read whole, byte by byte and in random
// pieces.
TEST(RoundTrip, RunsAtTheEdgesOfBlocksMarksAndTheSource) {
  const std::string red = "0 0 1 1111 0000 0000 ";  // a new colour, from PIXELS
  const std::string grey7 = "0 0 0 0111 ";          // another
  const std::string exit = "1 0 1 1 1 00000001 0 ";
  // Zero bits to the end of the byte, four zero bytes and the closing byte.
  auto marked = [](const std::string& before, const std::string& after) {
    std::vector<uint8_t> bytes = Bits(before);
    bytes.insert(bytes.end(), {0, 0, 0, 0, 0x01});
    const std::vector<uint8_t> rest = Bits(after, true);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
  };
  const std::string at254 = "0 " + red + "1 1 111 " + Field(254, 8) + " " + grey7;
  const auto lost = DecodeEnd::kConnectionLost;
  const struct {
    std::vector<uint8_t> bytes;
    DecodeEnd end;
    int32_t state;
    uint32_t blocks;
    DecoderRig::Runs assembled, block0, block1;
  } cases[] = {
      // 250 red, a new grey and a repeat of 15 more: the block is full after 6 greys and the
      // surplus latches.
      {Bits("0 " + red + "1 1 111 " + Field(249, 8) + " " + grey7 + "1 1 110 111 1111111111"),
       lost,
       LATCHED,
       0,
       {{250, 0xF00}, {6, 0x777}},
       {},
       {}},
      // 256 pixels, then each repeat form for one more: PIXDUP, a standard repeat of 2, and a
      // non-standard repeat of 0 (which adds none: the block is put, then a move is cut short).
      {Bits(at254 + "1 0 1 1 1 11111111"), lost, LATCHED, 0, {{255, 0xF00}, {1, 0x777}}, {}, {}},
      {Bits(at254 + "1 1 000 11111111"), lost, LATCHED, 0, {{255, 0xF00}, {1, 0x777}}, {}, {}},
      {Bits(at254 + "1 1 111 " + Field(0, 8) + " 1 1 1111"),
       lost,
       MOVEXY0,
       1,
       {},
       {{255, 0xF00}, {1, 0x777}},
       {}},
      // Two colours in a block, one of them in the next: the prune leaves one colour, which
      // rank 1 then draws, and a cached-colour code has no width to read (it latches).
      {Bits("0 " + red + "1 1 111 " + Field(100, 8) + " " + grey7 + "1 1 111 " + Field(154, 8) +
            " 0 1 1 1 111 11111111 0 1 0 0 1 1 1 1 1 1 1 1"),
       lost,
       LATCHED,
       2,
       {{1, 0xF00}},
       {{101, 0xF00}, {155, 0x777}},
       {{256, 0xF00}}},
      // Four colours: index 3 is rank 4, which is not cached.
      {Bits("0 " + red + "0 " + grey7 +
            "0 0 0 1 0000 1111 0000 0 0 0 1 0000 0000 1111 0 0 1 11 1 1 1"),
       lost,
       LATCHED,
       0,
       {{1, 0xF00}, {1, 0x777}, {1, 0x0F0}, {1, 0x00F}},
       {},
       {}},
      // A run that ends one bit before a mark (the zero bits are read as codes first), and a
      // mark in the middle of a repeat's count: a whole block from a fresh cache follows.
      {marked("0 " + red + "1 1 010 1 0", "0 " + red + "1 1 111 " + Field(255, 8) + " " + exit),
       DecodeEnd::kExit,
       EXIT,
       1,
       {},
       {{256, 0xF00}},
       {}},
      {marked("0 " + red + "1 1 111 0000", "0 " + red + "1 1 111 " + Field(255, 8) + " " + exit),
       DecodeEnd::kExit,
       EXIT,
       1,
       {},
       {{256, 0xF00}},
       {}},
  };
  std::mt19937 rng(5);
  for (size_t i = 0; i < std::size(cases); ++i) {
    for (int pattern = 0; pattern < 3; ++pattern) {
      SCOPED_TRACE("stream " + std::to_string(i) + " reads " + std::to_string(pattern));
      const auto& c = cases[i];
      DecoderRig rig(64, 16);
      EXPECT_EQ(rig.Run(c.bytes, {}, Chunks(rng, pattern)), c.end);
      uint32_t count = 0;
      for (auto [n, color] : c.assembled) count += static_cast<uint32_t>(n);
      EXPECT_EQ(std::tuple(rig.decoder.state(), rig.frameBuffer.blocks_finished(),
                           rig.decoder.pixel_count()),
                std::tuple(c.state, c.blocks, count));
      EXPECT_EQ(rig.Assembled(count), DecoderRig::Colors(c.assembled));
      EXPECT_EQ(rig.Block(0, 0),
                c.block0.empty() ? DecoderRig::Solid(0) : DecoderRig::Colors(c.block0));
      EXPECT_EQ(rig.Block(1, 0),
                c.block1.empty() ? DecoderRig::Solid(0) : DecoderRig::Colors(c.block1));
    }
  }
}

TEST(RoundTrip, RunsOfEveryLengthWriteTheirPixelsAndNoMore) {
  // A block of red, then in the next block a run of grey and a run of red (rank 1) of many
  // lengths, and the stream ends there: the pixels after the runs must still be the red of the
  // first block, whichever way the runs were filled.
  auto repeat = [](uint32_t more) {
    if (more == 0) return std::string("0 ");
    if (more == 1) return std::string("1 0 ");
    if (more <= 7) return "1 1 " + Field(more - 2, 3) + " ";
    if (more <= 15) return "1 1 110 " + Field(more - 8, 3) + " ";
    return "1 1 111 " + Field(more, 8) + " ";
  };
  std::vector<uint32_t> lengths = {23, 31, 64, 100};
  for (uint32_t n = 0; n <= 17; ++n) lengths.push_back(n);
  for (uint32_t grey : lengths) {
    for (uint32_t second : lengths) {
      SCOPED_TRACE(std::to_string(grey) + " and " + std::to_string(second));
      const std::string bits = "0 0 0 1 1111 0000 0000 " + repeat(255) + "0 0 0 0 0111 " +
                               repeat(grey) + "1 " + repeat(second);
      // Seven zero bits of padding are one more pixel, a new grey 000; fewer are none.
      const auto used = std::count_if(bits.begin(), bits.end(), [](char c) { return c != ' '; });
      const int black = (8 - used % 8) % 8 == 7;
      DecoderRig rig(64, 16);
      rig.Run(Bits(bits));
      EXPECT_EQ(rig.Block(0, 0), DecoderRig::Solid(0xF00));
      EXPECT_EQ(rig.decoder.pixel_count(), grey + second + 2 + black);
      EXPECT_EQ(rig.Assembled(256),
                DecoderRig::Colors({{int(grey) + 1, 0x777},
                                    {int(second) + 1, 0xF00},
                                    {black, 0x000},
                                    {254 - int(grey + second) - black, 0xF00}}));
    }
  }
}

TEST(RoundTrip, AColourTheCacheCannotAddressIsSentAfterAMark) {
  // The model holds a state no stream from the start produces: 0x0F0 shadowed by a colour of the
  // same rank at a lower index. The encoder starts the block afresh after a mark.
  std::array<CacheEntry, 17> entries{};
  entries[0] = {0xF00, 2, 1};
  entries[1] = {0x0F0, 2, 1};
  ColorCache gapped;
  gapped.Load(2, entries);
  StreamEncoder encoder;
  ASSERT_TRUE(encoder.SetMode(640, 480));
  encoder.LoadCacheModel(gapped);
  const ColorFrame f(640, 480, 0x0F0);
  ASSERT_TRUE(encoder.EncodeFullFrame(f));
  encoder.Exit();
  encoder.Flush();
  EXPECT_EQ(encoder.stats().resyncs, 1u);
  DecoderRig rig;
  EXPECT_EQ(rig.Run(encoder.TakeBytes()), DecodeEnd::kExit);
  EXPECT_EQ(Mismatch(rig.frameBuffer.frame(), f), "");
}

TEST(StreamEncoder, SizesTheModeCannotCarryAreRefused) {
  StreamEncoder e;
  for (auto [w, h] : {std::pair{0, 480}, {648, 480}, {2048, 480}, {640, 0}, {640, 2048}}) {
    EXPECT_FALSE(e.SetMode(w, h)) << w << "x" << h;
    EXPECT_FALSE(e.EncodeFullFrame(ColorFrame(w, h)));
  }
  EXPECT_EQ(e.offset(), 0u);
  EXPECT_TRUE(e.SetMode(2032, 2047));
}

// Blocks decoded from bytes already received are put under one hold of the video lock; the lock
// must be free again whenever the decoder waits for the source or carries out a command, so the
// window never waits on the network.
class LockWatch : public ByteSource, public StreamObserver {
 public:
  LockWatch(std::vector<uint8_t> bytes, NamedMutex& lock) : bytes_(std::move(bytes)), lock_(lock) {}
  int Read(uint8_t* buffer, int size) override {
    Check("read");
    const size_t n = std::min({bytes_.size() - offset_, size_t{997}, static_cast<size_t>(size)});
    std::copy_n(bytes_.data() + offset_, n, buffer);
    offset_ += n;
    return static_cast<int>(n);
  }
  void OnMode(int, int) override { Check("mode"); }
  void OnText(uint8_t, std::string_view) override { Check("text"); }
  void OnFirmware(uint32_t, const uint32_t*, uint32_t) override { Check("firmware"); }
  void OnResync() override { Check("mark"); }
  int checks = 0;

 private:
  // Another thread tries the lock, as the window's painting does.
  void Check(const char* where) {
    ++checks;
    bool free = false;
    std::thread painter([&] {
      free = lock_.try_lock();
      if (free) lock_.unlock();
    });
    painter.join();
    EXPECT_TRUE(free) << "video lock held at a " << where;
  }
  std::vector<uint8_t> bytes_;
  size_t offset_ = 0;
  NamedMutex& lock_;
};

TEST(RoundTrip, TheVideoLockIsFreeAtEveryReadAndEveryCommand) {
  StreamEncoder encoder;
  const ColorFrame text = BootConsoleScreen(640, 480, 2);
  const ColorFrame desktop = DesktopScreen(640, 480, 3);
  const ColorFrame noise = NoiseScreen(640, 480, 4);
  encoder.Text(2, "booting");
  ASSERT_TRUE(encoder.EncodeFullFrame(text));
  encoder.Resync();
  ASSERT_TRUE(encoder.EncodeFrame(desktop, text));
  ASSERT_TRUE(encoder.EncodeFrame(noise, desktop));
  encoder.Exit();
  encoder.Flush();
  DecoderRig rig;
  LockWatch watch(encoder.TakeBytes(), rig.frameBuffer.videoLock());
  rig.decoder.reader().SetSource(&watch);
  rig.decoder.SetObserver(&watch);
  rig.decoder.Start({});
  EXPECT_EQ(rig.decoder.Decode(), DecodeEnd::kExit);
  EXPECT_EQ(Mismatch(rig.frameBuffer.frame(), noise), "");
  // Reads of every chunk, the mode, the text, the mark and the exit.
  EXPECT_GT(watch.checks, 100);
  EXPECT_TRUE(rig.frameBuffer.videoLock().try_lock());
  rig.frameBuffer.videoLock().unlock();
}

}  // namespace
}  // namespace remcons::sim
