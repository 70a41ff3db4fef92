// The console's decoder against a plain one written from the grammar (tests/video/
// reference_decoder.h), over streams of every kind: encoder output of text, desktops, noise and
// few-colour pictures, with marks, key changes, modes and damage, and random bytes. Both read the
// same bytes in the same chunks; the picture, the block being assembled, the machine's state and
// colour cache, the reads from the source, the decoder's trace and the stream's commands must all
// agree. The fast paths of the console's decoder (several codes per step, the bit window read
// ahead) are held to one step per code this way, at buffer ends and marks included.
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "Frames.h"
#include "sim/ScreenContent.h"
#include "sim/StreamEncoder.h"
#include "support/TraceCapture.h"
#include "video/OfflineVideo.h"
#include "video/ReferenceDecoder.h"
#include "video/VideoDecoder.h"
#include "video/VideoFakes.h"

namespace remcons::sim {
namespace {

using remcons::testing::Bits;
using remcons::testing::Field;
using remcons::testing::MemorySource;
using remcons::testing::ReferenceDecoder;
using remcons::testing::TraceCapture;
using testing::Runs;
using testing::ZeroHeavy;

// The decoder's own trace lines, as the reference writes them.
bool DecoderTrace(const std::string& text) {
  for (const char* prefix : {"StateMachine: ", "could not find color", "Possible reset underway",
                             "color ", "Too many pixels", "qel:non-std", "Latched: byte count",
                             " current block at", "Requesting refresh", "Status=4", "GetBit: "}) {
    if (text.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

// The console's decoder with a session that records the stream's commands as the reference
// does.
class Console : public OfflineEvents, public StreamObserver {
 public:
  Console(int width, int height) {
    uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    frameBuffer.CreateSurfaces(&w, &h);
    decoder.SetObserver(this);
  }
  bool Replaying() override { return false; }
  int Write(const uint8_t*, int length) override {
    ++refreshRequests;
    return length;
  }
  void SetPowerOn() override { events.push_back("power-on"); }
  void SetPowerOff() override { events.push_back("power-off"); }
  void OnMode(int width, int height) override {
    events.push_back("mode " + std::to_string(width) + " " + std::to_string(height));
  }
  void OnText(uint8_t channel, std::string_view text) override {
    events.push_back("text " + std::to_string(channel) + " " + std::string(text));
  }
  void OnFirmware(uint32_t command, const uint32_t* operands, uint32_t count) override {
    std::string text = "fw " + std::to_string(command);
    for (uint32_t i = 0; i < count; ++i) text += " " + std::to_string(operands[i]);
    events.push_back(text);
  }
  void OnResync() override { events.push_back("resync"); }

  OfflineHost host;
  OfflinePainter painter;
  FrameBuffer frameBuffer{host, painter};
  VideoModes modes{host, *this};
  VideoDecoder decoder{frameBuffer, modes, *this};
  std::vector<std::string> events;
  uint32_t refreshRequests = 0;
};

struct Feed {
  std::vector<uint8_t> bytes;
  std::deque<int> chunks;  // read sizes in order, then whole buffers
  int width = 320, height = 240;
  bool multiUserClient = false;
};

// Runs both decoders over the feed and compares everything they expose.
void Compare(const Feed& feed) {
  Console console(feed.width, feed.height);
  MemorySource consoleSource(feed.bytes);
  consoleSource.SetChunks(feed.chunks);
  console.decoder.reader().SetSource(&consoleSource);
  console.decoder.Start({.multiUserClient = feed.multiUserClient});
  std::vector<std::string> consoleTrace;
  DecodeEnd end;
  {
    TraceCapture capture;
    end = console.decoder.Decode();
    for (const std::string& t : capture.Texts()) {
      if (DecoderTrace(t)) consoleTrace.push_back(t);
    }
  }

  ReferenceDecoder reference(feed.width, feed.height);
  MemorySource referenceSource(feed.bytes);
  referenceSource.SetChunks(feed.chunks);
  reference.SetSource(&referenceSource);
  reference.Start(feed.multiUserClient);
  const ReferenceDecoder::End referenceEnd = reference.Decode();

  ASSERT_EQ(static_cast<int>(end), static_cast<int>(referenceEnd));
  EXPECT_EQ(consoleSource.reads, referenceSource.reads);
  EXPECT_EQ(consoleSource.offset(), referenceSource.offset());
  const VideoDecoder& d = console.decoder;
  EXPECT_EQ(d.state(), reference.state);
  EXPECT_EQ(d.step_count(), reference.step_count);
  EXPECT_EQ(d.latch_count(), reference.latch_count);
  EXPECT_EQ(d.pixel_count(), reference.pixel_count);
  EXPECT_EQ(d.last_color(), reference.last_color);
  EXPECT_EQ(d.position().block_x, reference.block_x);
  EXPECT_EQ(d.position().block_y, reference.block_y);
  EXPECT_EQ(d.position().width_blocks, reference.width_blocks);
  EXPECT_EQ(d.position().height_blocks, reference.height_blocks);
  EXPECT_EQ(d.server_power(), reference.server_power);
  EXPECT_EQ(console.frameBuffer.blocks_finished(), reference.blocks_finished);
  EXPECT_EQ(console.refreshRequests, reference.refreshRequests);
  ASSERT_EQ(d.cache().active(), reference.active);
  for (int i = 0; i < reference.active; ++i) {
    const CacheEntry e = d.cache().entry(i);
    const auto& r = reference.entries[static_cast<size_t>(i)];
    EXPECT_EQ(e.color, r.color) << "entry " << i;
    EXPECT_EQ(e.rank, r.rank) << "entry " << i;
    EXPECT_EQ(e.used, r.used) << "entry " << i;
  }
  EXPECT_EQ(d.cache().next_state(), reference.cacheNextState);
  EXPECT_EQ(d.table()[vstate::PIXFAN].next1, reference.pixfan_next1());
  EXPECT_EQ(console.events, reference.events);
  EXPECT_EQ(consoleTrace, reference.trace);

  const Pixel* block = console.frameBuffer.block_pixels();
  for (size_t i = 0; i < 256; ++i) {
    ASSERT_TRUE(SameColor(block[i], reference.block[i])) << "block pixel " << i;
  }
  const Surface& frame = console.frameBuffer.frame();
  for (int y = 0; y < feed.height; ++y) {
    for (int x = 0; x < feed.width; ++x) {
      const Pixel r = reference.frame[static_cast<size_t>(y * feed.width + x)];
      ASSERT_TRUE(SameColor(frame.At(x, y), r))
          << "pixel (" << x << "," << y << "): " << std::hex << frame.At(x, y) << " vs " << r;
    }
  }
}

// Read sizes: whole buffers, single bytes, or a run of random small reads.
std::deque<int> Chunks(std::mt19937& rng, int pattern) {
  std::deque<int> chunks;
  if (pattern == 1) {
    chunks.assign(200000, 1);
  } else if (pattern == 2) {
    for (int i = 0; i < 20000; ++i) chunks.push_back(1 + static_cast<int>(rng() % 64));
  } else if (pattern == 3) {
    for (int i = 0; i < 2000; ++i) chunks.push_back(1 + static_cast<int>(rng() % 4096));
  }
  return chunks;
}

// Bit flips, lost bytes and stray bytes.
void Damage(std::vector<uint8_t>& bytes, std::mt19937& rng, int count) {
  for (int d = 0; d < count && bytes.size() > 1; ++d) {
    const size_t at = rng() % bytes.size();
    switch (rng() % 3) {
      case 0:
        bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
        break;
      default:
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(rng()));
        break;
    }
  }
}

std::vector<uint8_t> EncoderStream(int kind, int width, int height, std::mt19937& rng) {
  StreamEncoder encoder;
  std::vector<ColorFrame> frames;
  switch (kind) {
    case 0:
      frames = {BootConsoleScreen(width, height, rng()), DesktopScreen(width, height, rng())};
      break;
    case 1:
      frames = {NoiseScreen(width, height, rng()), ZeroHeavy(width, height, rng)};
      break;
    default:
      // Every cache width and repeat form.
      for (size_t colours : {2, 3, 5, 9, 17, 40}) {
        std::vector<uint16_t> palette(colours);
        for (auto& c : palette) c = static_cast<uint16_t>(rng() & 0xFFF);
        frames.push_back(Runs(width, height, rng, palette, 1 + static_cast<int>(rng() % 300)));
      }
      break;
  }
  encoder.EncodeFullFrame(frames[0]);
  for (size_t i = 1; i < frames.size(); ++i) {
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
        break;
      default:
        encoder.Align();
        break;
    }
    encoder.EncodeFrame(frames[i], frames[i - 1]);
  }
  encoder.Exit();
  encoder.Flush();
  return encoder.TakeBytes();
}

// Every kind of encoder stream in every read pattern, clean (the first twelve), then damaged.
TEST(DecoderAgainstReference, EncoderStreamsCleanAndDamaged) {
  std::mt19937 rng(99);
  for (int round = 0; round < 72; ++round) {
    SCOPED_TRACE(round);
    Feed feed;
    feed.width = round < 12 ? 320 : 160;
    feed.height = round < 12 ? 208 : 128;
    feed.bytes = EncoderStream(round % 3, feed.width, feed.height, rng);
    if (round >= 12) Damage(feed.bytes, rng, 1 + round % 8);
    feed.chunks = Chunks(rng, (round / 3) % 4);
    feed.multiUserClient = round % 7 == 3;
    Compare(feed);
  }
}

TEST(DecoderAgainstReference, RandomBytes) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 240; ++round) {
    SCOPED_TRACE(round);
    Feed feed;
    feed.bytes.resize(1 + rng() % 4000);
    // Mostly ones, mostly zeros (marks), or even.
    const unsigned bias = round % 3;
    for (auto& b : feed.bytes) {
      b = static_cast<uint8_t>(rng());
      if (bias == 1) b |= static_cast<uint8_t>(rng());
      if (bias == 2) b &= static_cast<uint8_t>(rng() & rng());
    }
    feed.chunks = Chunks(rng, round % 4);
    feed.multiUserClient = round % 5 == 4;
    Compare(feed);
  }
}

// Streams written by hand for the corners of a run: a repeat that passes the 256th pixel, every
// repeat form at the block's end, a rank missing after a prune, and runs that end exactly at a
// mark or at the end of the source.
TEST(DecoderAgainstReference, RunsAtTheEdgesOfBlocksMarksAndTheSource) {
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
  const std::vector<std::vector<uint8_t>> streams = {
      // 250 pixels, then a new colour and a repeat of 15 more: ten surplus pixels latch.
      Bits("0 " + red + "1 1 111 " + Field(249, 8) + " " + grey7 + "1 1 110 111 1111111111"),
      // 255 pixels, then each repeat form for the last one.
      Bits("0 " + red + "1 1 111 " + Field(254, 8) + " " + grey7 + "1 0 1 1 1 11111111"),
      Bits("0 " + red + "1 1 111 " + Field(254, 8) + " " + grey7 + "1 1 000 11111111"),
      Bits("0 " + red + "1 1 111 " + Field(254, 8) + " " + grey7 + "1 1 111 " + Field(0, 8) +
           " 1 1 1111"),
      // Two colours in a block, one of them in the next: the prune leaves one colour, which rank
      // 1 then draws, and a cached-colour code has no width to read (it latches).
      Bits("0 " + red + "1 1 111 " + Field(100, 8) + " " + grey7 + "1 1 111 " + Field(154, 8) +
           " 0 1 1 1 111 11111111 0 1 0 0 1 1 1 1 1 1 1 1"),
      // Four colours: index 3 is rank 4, which is not cached.
      Bits("0 " + red + "0 " + grey7 +
           "0 0 0 1 0000 1111 0000 0 0 0 1 0000 0000 1111 0 0 1 11 1 1 1"),
      // A run that ends one bit before a mark (the zero bits are read as codes first), then a
      // block from a fresh cache.
      marked("0 " + red + "1 1 010 1 0", "0 " + red + "1 1 111 " + Field(255, 8) + " " + exit),
      // A mark in the middle of a repeat's count.
      marked("0 " + red + "1 1 111 0000", "0 " + red + "1 1 111 " + Field(255, 8) + " " + exit),
  };
  std::mt19937 rng(5);
  for (size_t i = 0; i < streams.size(); ++i) {
    for (int pattern = 0; pattern < 3; ++pattern) {
      SCOPED_TRACE("stream " + std::to_string(i) + " reads " + std::to_string(pattern));
      Feed feed;
      feed.bytes = streams[i];
      feed.chunks = Chunks(rng, pattern);
      Compare(feed);
    }
  }
}

TEST(DecoderAgainstReference, RunsOfEveryLengthWriteTheirPixelsAndNoMore) {
  // A block of red, then in the next block a run of grey and a run of red (rank 1) of many
  // lengths, and the stream ends there: the pixels after the runs must still be the red of the
  // first block, whichever way the runs were filled.
  const std::string red = "0 0 1 1111 0000 0000 ";
  const std::string grey7 = "0 0 0 0111 ";
  auto repeat = [](uint32_t more) {
    if (more == 0) return std::string("0 ");
    if (more == 1) return std::string("1 0 ");
    if (more <= 7) return "1 1 " + Field(more - 2, 3) + " ";
    if (more <= 15) return "1 1 110 " + Field(more - 8, 3) + " ";
    return "1 1 111 " + Field(more, 8) + " ";
  };
  std::vector<uint32_t> lengths;
  for (uint32_t n = 0; n <= 17; ++n) lengths.push_back(n);
  for (uint32_t n : {23u, 31u, 64u, 100u}) lengths.push_back(n);
  for (uint32_t grey : lengths) {
    for (uint32_t second : lengths) {
      SCOPED_TRACE(std::to_string(grey) + " and " + std::to_string(second));
      Feed feed;
      feed.width = 64;
      feed.height = 16;
      feed.bytes =
          Bits("0 " + red + repeat(255) + "0 " + grey7 + repeat(grey) + "1 " + repeat(second));
      Compare(feed);
    }
  }
}

}  // namespace
}  // namespace remcons::sim
