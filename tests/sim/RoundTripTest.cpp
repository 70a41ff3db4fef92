// Frames through the encoder and the console's decoder: the picture must come out pixel for
// pixel, whole frames and incremental updates, with resynchronisation marks and key changes in
// between, and the decoder must never latch or meet a mark it was not sent.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "Frames.h"
#include "sim/ScreenContent.h"
#include "sim/StreamEncoder.h"
#include "support/TraceCapture.h"
#include "video/DecoderRig.h"

namespace remcons::sim {
namespace {

using remcons::testing::DecoderRig;
using testing::Mismatch;
using testing::ZeroHeavy;

// One byte of the keystream of key generation gen at position pos: a stand-in for the
// connection's cipher, enough to show which key deciphered which byte.
uint8_t Keystream(uint32_t gen, uint64_t pos) {
  uint64_t z = (static_cast<uint64_t>(gen) << 40) ^ pos ^ 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint8_t>(z ^ (z >> 31));
}

// The server's sends, each read by the console in a read of its own and deciphered with the key
// the console holds at that moment. Before a send is handed out, the previous one has been
// decoded completely, so a check can look at the picture it produced.
class Link : public ByteSource {
 public:
  struct Send {
    std::vector<uint8_t> bytes;  // enciphered
    std::function<void()> checkBefore;
  };
  int Read(uint8_t* buffer, int size) override {
    while (next_ < sends_.size() && offset_ == sends_[next_].bytes.size()) {
      ++next_;
      offset_ = 0;
      if (next_ < sends_.size() && sends_[next_].checkBefore) sends_[next_].checkBefore();
    }
    if (next_ >= sends_.size()) return 0;
    const auto& bytes = sends_[next_].bytes;
    const size_t n = std::min(bytes.size() - offset_, static_cast<size_t>(size));
    for (size_t i = 0; i < n; ++i) {
      buffer[i] = static_cast<uint8_t>(bytes[offset_ + i] ^ Keystream(clientGen_, clientPos_++));
    }
    offset_ += n;
    return static_cast<int>(n);
  }
  // The console's key change.
  void ClientChangesKeys() {
    ++clientGen_;
    clientPos_ = 0;
  }
  // The server side: enciphers a send with its current key.
  void ServerSends(std::vector<uint8_t> plain, std::function<void()> checkBefore = {}) {
    for (auto& b : plain) b ^= Keystream(serverGen_, serverPos_++);
    sends_.push_back({std::move(plain), std::move(checkBefore)});
  }
  void ServerChangesKeys() {
    ++serverGen_;
    serverPos_ = 0;
  }

 private:
  std::vector<Send> sends_;
  size_t next_ = 0, offset_ = 0;
  uint32_t serverGen_ = 0, clientGen_ = 0;
  uint64_t serverPos_ = 0, clientPos_ = 0;
};

class Session {
 public:
  Session() {
    rig.decoder.reader().SetSource(&link);
    rig.events.onChangeKeys = [this] { link.ClientChangesKeys(); };
  }
  // Sends what the encoder wrote; before the next send the picture must equal expect.
  void Send(const ColorFrame* expect) {
    encoder.Flush();
    link.ServerSends(encoder.TakeBytes(), pendingCheck_);
    if (expect) {
      pendingCheck_ = [this, frame = *expect] {
        ++checks;
        EXPECT_EQ(Mismatch(rig.frameBuffer.frame(), frame), "") << "update " << checks;
      };
    } else {
      pendingCheck_ = {};
    }
  }
  void KeyChange() {
    encoder.KeyChange();
    link.ServerSends(encoder.TakeBytes(), pendingCheck_);
    pendingCheck_ = {};
    link.ServerChangesKeys();
  }
  // A full frame, then count updates, each encoded against the frame before; then Run.
  void Updates(ColorFrame shown, int count,
               const std::function<ColorFrame(const ColorFrame&, int)>& update) {
    ASSERT_TRUE(encoder.EncodeFullFrame(shown));
    Send(&shown);
    for (int i = 0; i < count; ++i) {
      ColorFrame next = update(shown, i);
      ASSERT_TRUE(encoder.EncodeFrame(next, shown));
      Send(&next);
      shown = next;
    }
    Run();
  }
  // Ends the stream and decodes all of it.
  void Run() {
    encoder.Exit();
    Send(nullptr);
    link.ServerSends({}, pendingCheck_);  // the last check runs when the console asks for more
    rig.decoder.Start({});
    EXPECT_EQ(rig.decoder.Decode(), DecodeEnd::kExit);
    for (const char* fault :
         {"could not find color", "Too many pixels", "non-std repeat misused", "Latched"}) {
      EXPECT_FALSE(trace.Contains(fault)) << fault;
    }
    const auto texts = trace.Texts();
    // The zero bits in front of a mark are read as codes: at most one pixel and a hit that
    // latches for the few steps until the mark is seen. Nowhere else.
    const auto hits = std::count_if(texts.begin(), texts.end(), [](const std::string& t) {
      return t.find("generated a hit") != std::string::npos ||
             t.find("Possible reset underway") != std::string::npos;
    });
    EXPECT_LE(static_cast<uint64_t>(hits), encoder.stats().resyncs);
    EXPECT_EQ(static_cast<uint64_t>(
                  std::count(texts.begin(), texts.end(), "Status=4, causes reset state.\n")),
              encoder.stats().resyncs);
  }

  remcons::testing::TraceCapture trace;
  DecoderRig rig;
  Link link;
  StreamEncoder encoder;
  int checks = 0;

 private:
  std::function<void()> pendingCheck_;
};

struct Size {
  int width, height;
};
const Size kSizes[] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 1024}};

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

TEST(RoundTrip, WholeFramesOfEveryKindAtEverySize) {
  for (const Size& size : kSizes) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    std::mt19937 rng(size.width);
    Session s;
    const std::vector<ColorFrame> frames = {
        BootConsoleScreen(size.width, size.height, 3),
        DesktopScreen(size.width, size.height, 4),
        GradientScreen(size.width, size.height),
        NoiseScreen(size.width, size.height, 5),
        ZeroHeavy(size.width, size.height, rng),
        RandomRectangles(ColorFrame(size.width, size.height, 0x248), rng, 300),
    };
    for (const ColorFrame& f : frames) {
      ASSERT_TRUE(s.encoder.EncodeFullFrame(f));
      s.Send(&f);
    }
    s.Run();
    EXPECT_EQ(s.checks, static_cast<int>(frames.size()));
    EXPECT_EQ(s.encoder.stats().resyncs, 0u);
  }
}

TEST(RoundTrip, IncrementalUpdates) {
  for (const Size& size : kSizes) {
    SCOPED_TRACE(size.width);
    // Lines typed near the bottom of a console, then lines that scroll the whole screen.
    Session typing;
    TextConsole console(size.width / 8, size.height / 16);
    for (int line = 0; line < console.rows() - 6; ++line) console.Write("boot message\n");
    std::mt19937 rng(7);
    typing.Updates(console.Render(), 14, [&](const ColorFrame&, int update) {
      console.SetColors(static_cast<int>(rng() % 16), update % 7 == 0 ? 1 : 0);
      console.Write("root@server:~# echo line " + std::to_string(update) + "\n");
      return console.Render();
    });
    EXPECT_GT(typing.encoder.stats().skippedBlocks, 0u);
    // A desktop with rectangles, a moving window and a patch of noise.
    Session desktop;
    desktop.Updates(DesktopScreen(size.width, size.height, 9), 6,
                    [&](const ColorFrame& shown, int update) {
                      ColorFrame next = RandomRectangles(shown, rng, 5);
                      const int x = 40 + update * 37, y = 60 + update * 11;
                      next.Fill(x, y, x + 300, y + 200, 0xDDD);
                      DrawSmoothText(next, x + 10, y + 10, "Moving window", 0x000, 0xDDD);
                      const ColorFrame noise = NoiseScreen(64, 48, static_cast<uint32_t>(update));
                      for (int ny = 0; ny < 48; ++ny) {
                        for (int nx = 0; nx < 64; ++nx) {
                          next.Set(size.width - 100 + nx, 20 + ny, noise.At(nx, ny));
                        }
                      }
                      return next;
                    });
  }
}

TEST(RoundTrip, ResyncMarksAndKeyChangesMidStream) {
  for (const Size& size : kSizes) {
    SCOPED_TRACE(size.width);
    Session s;
    std::mt19937 rng(size.width * 3);
    ColorFrame shown = BootConsoleScreen(size.width, size.height, 11);
    ASSERT_TRUE(s.encoder.EncodeFullFrame(shown));
    s.Send(&shown);
    for (int update = 0; update < 8; ++update) {
      ColorFrame next = RandomRectangles(shown, rng, 8);
      // Half of the update, then a mark or a key change, then the rest.
      ColorFrame half = shown;
      for (int y = 0; y < size.height / 2; ++y) {
        std::copy_n(next.Row(y), size.width, half.Row(y));
      }
      ASSERT_TRUE(s.encoder.EncodeFrame(half, shown));
      if (update % 2 == 0) {
        s.encoder.Resync();
      } else {
        s.KeyChange();
      }
      ASSERT_TRUE(s.encoder.EncodeFrame(next, half));
      s.Send(&next);
      shown = next;
    }
    s.Run();
    EXPECT_EQ(s.encoder.stats().resyncs, 4u);
    const auto log = s.rig.events.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "change-keys"), 4);
  }
}

TEST(RoundTrip, ModeChangesAndTextBetweenFrames) {
  Session s;
  ColorFrame previous;
  for (const Size& size : {kSizes[1], kSizes[0], kSizes[3], kSizes[2], kSizes[2]}) {
    ColorFrame f = DesktopScreen(size.width, size.height, static_cast<uint32_t>(size.height));
    s.encoder.Text(2, "mode " + std::to_string(size.width));
    if (previous.width() == f.width()) {
      ASSERT_TRUE(s.encoder.EncodeFrame(f, previous));
    } else {
      ASSERT_TRUE(s.encoder.EncodeFullFrame(f));
    }
    s.Send(&f);
    previous = f;
  }
  s.encoder.ModePowerOff();
  s.Send(nullptr);
  s.Run();
  EXPECT_EQ(s.rig.modes.remote_width(), 800u);
  EXPECT_EQ(s.rig.modes.remote_height(), 608u);
  EXPECT_EQ(s.rig.decoder.server_power(), 0);
  EXPECT_EQ(s.rig.events.statusText, "mode 1024");
}

TEST(RoundTrip, AColourTheCacheCannotAddressIsSentAfterAMark) {
  // The model holds a state no stream from the start produces: 0x0F0 shadowed by a colour of the
  // same rank at a lower index. The encoder starts the block afresh after a mark.
  std::array<CacheEntry, 17> entries{};
  entries[0] = {0xF00, 2, 1};
  entries[1] = {0x0F0, 2, 1};
  ColorCache gapped;
  gapped.Load(2, entries);
  Session s;
  ASSERT_TRUE(s.encoder.SetMode(640, 480));
  s.encoder.LoadCacheModel(gapped);
  ColorFrame f(640, 480, 0x0F0);
  ASSERT_TRUE(s.encoder.EncodeFullFrame(f));
  s.Send(&f);
  s.Run();
  EXPECT_EQ(s.encoder.stats().resyncs, 1u);
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
