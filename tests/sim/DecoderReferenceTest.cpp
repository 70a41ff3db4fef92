// The console's decoder against a plain one written from the grammar (tests/video/
// ReferenceDecoder.h), over streams of every kind: encoder output of text, desktops, noise and
// few-colour pictures, with marks, key changes, modes and damage, and random bytes. Both read the
// same bytes in the same chunks; the picture, the block being assembled, the machine's state and
// colour cache, the reads from the source, the decoder's trace and the stream's commands must all
// agree, and a clean encoder stream must draw the last frame it was sent. The fast paths of the
// console's decoder (several codes per step, the bit window read ahead) are held to one step per
// code this way, at buffer ends and marks included.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <thread>

#include "Frames.h"
#include "sim/ScreenContent.h"
#include "sim/StreamEncoder.h"
#include "support/TraceCapture.h"
#include "video/DecoderRig.h"
#include "video/OfflineVideo.h"
#include "video/ReferenceDecoder.h"

namespace remcons::sim {
namespace {

using remcons::testing::Bits;
using remcons::testing::Field;
using remcons::testing::MemorySource;
using remcons::testing::ReferenceDecoder;
using testing::Mismatch;
using testing::Runs;

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
  const ColorFrame* sent = nullptr;  // a clean stream's last frame
  uint64_t resyncs = 0;              // and the marks it holds
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
    remcons::testing::TraceCapture capture;
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
  const VideoDecoder& d = console.decoder;
  const BlockPosition& p = d.position();
  EXPECT_EQ(
      std::tuple(consoleSource.reads, consoleSource.offset(), d.state(), d.step_count(),
                 d.latch_count(), d.pixel_count(), d.last_color(), p.block_x, p.block_y,
                 p.width_blocks, p.height_blocks, d.server_power(), d.extra_lines()),
      std::tuple(referenceSource.reads, referenceSource.offset(), reference.state,
                 reference.step_count, reference.latch_count, reference.pixel_count,
                 reference.last_color, reference.block_x, reference.block_y, reference.width_blocks,
                 reference.height_blocks, reference.server_power, reference.extra_lines));
  EXPECT_EQ(std::tuple(console.frameBuffer.blocks_finished(), console.refreshRequests,
                       d.cache().next_state(), d.table()[vstate::PIXFAN].next1),
            std::tuple(reference.blocks_finished, reference.refreshRequests,
                       reference.cacheNextState, reference.pixfan_next1()));
  ASSERT_EQ(d.cache().active(), reference.active);
  for (int i = 0; i < reference.active; ++i) {
    const CacheEntry e = d.cache().entry(i);
    const auto& r = reference.entries[static_cast<size_t>(i)];
    EXPECT_EQ(std::tuple(e.color, e.rank, e.used), std::tuple(r.color, r.rank, r.used)) << i;
  }
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
  if (!feed.sent) return;
  // A clean stream: the frame sent, no latch and no fault, and a resync at each mark only.
  EXPECT_EQ(Mismatch(frame, *feed.sent), "");
  EXPECT_EQ(std::count(console.events.begin(), console.events.end(), "resync"),
            static_cast<std::ptrdiff_t>(feed.resyncs));
  EXPECT_EQ(console.refreshRequests, 0u);
  // The zero bits in front of a mark are read as codes: at most a hit that latches for the few
  // steps until the mark is seen. Nowhere else.
  uint64_t hits = 0;
  for (const std::string& t : consoleTrace) {
    const bool hit = t.rfind("color ", 0) == 0 || t.rfind("Possible reset", 0) == 0;
    hits += hit;
    EXPECT_TRUE(hit || t.rfind("StateMachine: ", 0) == 0 || t.rfind("Status=4", 0) == 0) << t;
  }
  EXPECT_LE(hits, feed.resyncs);
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
    const auto where = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    switch (rng() % 3) {
      case 0:
        bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        bytes.erase(where);
        break;
      default:
        bytes.insert(where, static_cast<uint8_t>(rng()));
    }
  }
}

ColorFrame RandomRectangles(const ColorFrame& base, std::mt19937& rng, int count) {
  ColorFrame f = base;
  for (int i = 0; i < count; ++i) {
    const int x = static_cast<int>(rng() % static_cast<unsigned>(f.width()));
    const int y = static_cast<int>(rng() % static_cast<unsigned>(f.height()));
    f.Fill(x, y, x + 1 + static_cast<int>(rng() % 200), y + 1 + static_cast<int>(rng() % 120),
           static_cast<uint16_t>(rng() % 4096));
  }
  return f;
}

// Frames of one kind, each update encoded against the one before in two halves with a mark, a
// key change, a text, a mode or an alignment between them. Returns the last frame.
ColorFrame EncoderStream(int kind, int width, int height, std::mt19937& rng, Feed* feed) {
  StreamEncoder encoder;
  std::vector<ColorFrame> frames;
  switch (kind) {
    case 0:
      frames = {BootConsoleScreen(width, height, rng()), DesktopScreen(width, height, rng()),
                GradientScreen(width, height)};
      break;
    case 1:
      frames = {NoiseScreen(width, height, rng()), testing::ZeroHeavy(width, height, rng)};
      break;
    case 2:
      // Every cache width and repeat form.
      for (size_t colours : {2, 3, 5, 9, 17, 40}) {
        std::vector<uint16_t> palette(colours);
        for (auto& c : palette) c = static_cast<uint16_t>(rng() & 0xFFF);
        frames.push_back(Runs(width, height, rng, palette, 1 + static_cast<int>(rng() % 300)));
      }
      break;
    default:
      // Small changes: unchanged blocks skipped and moved over.
      frames = {DesktopScreen(width, height, rng())};
      for (int i = 0; i < 5; ++i) frames.push_back(RandomRectangles(frames.back(), rng, 4));
      break;
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
  encoder.Exit();
  encoder.Flush();
  feed->bytes = encoder.TakeBytes();
  feed->resyncs = encoder.stats().resyncs;
  return frames.back();
}

// Every kind of encoder stream in every read pattern, clean (the first sixteen), then damaged.
TEST(DecoderAgainstReference, EncoderStreamsCleanAndDamaged) {
  std::mt19937 rng(99);
  for (int round = 0; round < 72; ++round) {
    SCOPED_TRACE(round);
    Feed feed;
    feed.width = round < 16 ? 320 : 160;
    feed.height = round < 16 ? 208 : 128;
    const ColorFrame last = EncoderStream(round % 4, feed.width, feed.height, rng, &feed);
    if (round >= 16) Damage(feed.bytes, rng, 1 + round % 8);
    if (round < 16) feed.sent = &last;
    feed.chunks = Chunks(rng, (round / 4) % 4);
    feed.multiUserClient = round % 7 == 3 && round >= 16;
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
  const std::string at254 = "0 " + red + "1 1 111 " + Field(254, 8) + " " + grey7;
  const std::vector<std::vector<uint8_t>> streams = {
      // 250 pixels, then a new colour and a repeat of 15 more: ten surplus pixels latch.
      Bits("0 " + red + "1 1 111 " + Field(249, 8) + " " + grey7 + "1 1 110 111 1111111111"),
      // 255 pixels, then each repeat form for the last one.
      Bits(at254 + "1 0 1 1 1 11111111"),
      Bits(at254 + "1 1 000 11111111"),
      Bits(at254 + "1 1 111 " + Field(0, 8) + " 1 1 1111"),
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
      Compare({.bytes = streams[i], .chunks = Chunks(rng, pattern)});
    }
  }
}

TEST(DecoderAgainstReference, RunsOfEveryLengthWriteTheirPixelsAndNoMore) {
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
      Compare({.bytes = Bits("0 0 0 1 1111 0000 0000 " + repeat(255) + "0 0 0 0 0111 " +
                             repeat(grey) + "1 " + repeat(second)),
               .chunks = {},
               .width = 64,
               .height = 16});
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
  remcons::testing::DecoderRig rig;
  EXPECT_EQ(rig.Run(encoder.TakeBytes()), DecodeEnd::kExit);
  EXPECT_EQ(Mismatch(rig.frameBuffer.frame(), f), "");
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
  remcons::testing::DecoderRig rig;
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
