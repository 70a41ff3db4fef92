// Virtual drives served to the simulator's initiator over loopback (whole media read back and
// checked with the real tools are the program's tests): command sequences and sense values,
// keepalives, pings, the keyed hello and its refusals, and servers that misbehave or fail, with
// image files that fail as a failing disk would: each answered or left cleanly, nothing overrun,
// refused writes leaving the image untouched, no thread or descriptor left.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <optional>
#include <thread>

#include "FileFaults.h"
#include "VmHarness.h"
#include "platform/Hex.h"
#include "platform/Socket.h"
#include "support/Wait.h"

namespace remcons {
namespace {

using sim::VmInitiator;
using sim::VmReply;
using namespace vmtest;
using Boxes = std::vector<testing::FakeHost::Box>;

// A file of random bytes in dir.
std::string RandomImage(const TempDir& dir, size_t size, uint32_t seed) {
  WriteFile(dir / "f.img", RandomBytes(size, seed));
  return dir / "f.img";
}

// A sparse ISO of this many bytes.
std::string CdImage(const TempDir& dir, uint64_t bytes) {
  SparseFile(dir / "big.iso", bytes);
  return dir / "big.iso";
}

const Bytes kEvent = {0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8};

// Sequences and sense values of a floppy image and a CD image, worked out by hand.
TEST(VmLoopback, SequencesAndSenseValues) {
  TempDir dir;
  Loopback lb;
  ServeOnce(lb, VmKind::ImageFile, RandomImage(dir, 1474560, 7), [](VmInitiator& in) {
    RunSteps(
        in,
        Ready({{.cdb = {0x25}, .length = 8, .data = {0, 0, 0x0B, 0x3F, 0, 0, 2, 0}, .medium = 0x24},
               {{0x23, 0, 0, 0, 0, 0, 0, 0, 0xFC}, 0, 0, 20, {0,    0,    0, 0x10, 0, 0, 0x0B,
                                                              0x40, 2,    0, 2,    0, 0, 0,
                                                              0x0B, 0x40, 0, 0,    2, 0}},
               // Locking the medium or ejecting it is refused.
               {{0x1E, 0, 0, 0, 1}, 5, 0x24, 0},
               {{0x1E, 0, 0, 0, 0}, 0, 0, 0},
               {{0x1B, 0, 0, 0, 2}, 5, 0x24, 0}}));
    // SEND DIAGNOSTIC has no reply and raises a fresh unit attention.
    ASSERT_TRUE(in.SendOnly(Cdb({0x1D}).data()));
    RunSteps(in, {{{0x00}, 6, 0x28, 0}, {{0x00}, 0, 0, 0}});
  });
  EXPECT_EQ(lb.control.activity.load(), 6);  // TEST UNIT READY alone does not count as use
  // On a fresh mount READ CAPACITY reports the change first.
  ServeSteps(VmKind::ImageFile, RandomImage(dir, 1474560, 0),
             {{{0x25}, 6, 0x28, 0}, {{0x25}, 0, 0, 8}});
  ServeSteps(VmKind::CdImage, CdImage(dir, 2048 * 100),
             {{kEvent, 0, 0, -1, {0, 6, 4, 0x10, 4, 2, 0, 0}},  // the first event: a new medium
              {kEvent, 0, 0, -1, {0, 6, 4, 0x10, 0, 2, 0, 0}}});
  ServeSteps(VmKind::CdImage, CdImage(dir, 650000000),
             {{.cdb = {0x00}, .key = 6, .asc = 0x28, .length = 0, .medium = 1},
              {{0x00}, 0, 0, 0},
              {{0x25}, 0, 0, 8, {0x00, 0x04, 0xD7, 0xC5, 0, 0, 0x08, 0}},  // 317,381
              {kEvent, 0, 0, -1, {0, 6, 4, 0x10, 0, 2, 0, 0}},
              // Asynchronous notification is not supported; without the media class, no event.
              {{0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8}, 5, 0x24, 0},
              {{0x4A, 1, 0, 0, 0x02, 0, 0, 0, 8}, 0, 0, -1, {0, 2, 0x80, 0x10}},
              {{0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 0xFF}, 0, 0, -1, {0, 8, 1, 0, 0, 0, 0, 0}},
              // Eject: the image comes back as a new medium at once.
              {{0x1B, 0, 0, 0, 2}, 0, 0, 0},
              {kEvent, 0, 0, -1, {0, 6, 4, 0x10, 4, 2, 0, 0}},
              {{0x1B, 0, 0, 0, 2}},
              {{0x00}, 6, 0x28, 0},
              {{0x00}, 0, 0, 0},
              {{0x55}, 5, 0x24, 0}});  // unknown operation codes are refused with a reply
  Bytes large(412, 0);
  const Bytes head = {0, 0x12, 1, 1,    0,    0x14, 1, 0,    0,    0,
                      0, 0,    0, 0x14, 0xAA, 0,    0, 0x05, 0x14, 0xC8};
  std::copy(head.begin(), head.end(), large.begin());
  ServeSteps(
      VmKind::CdImage, CdImage(dir, uint64_t(333000) * 2048),
      {{{0x43, 2, 0, 0, 0, 0, 0, 0, 20, 0}, 0, 0, -1, {0, 0x12, 1, 1,    0,    0x14, 1, 0,  0, 0,
                                                       2, 0,    0, 0x14, 0xAA, 0,    0, 74, 2, 0}},
       {{0x43, 0, 0, 0, 0, 0, 0, 0, 20, 0}, 0, 0, -1, head},
       {{0x43, 0, 0, 0, 0, 0, 0, 0x03, 0xE8, 0}, 0, 0, -1, large}});
}

// Two seconds of silence on the clock bring a keepalive (the last reply's header with the flag),
// also while write data is awaited; a ping is no use (its echo is checked by the simulator's own
// session, which the program's and the loop-device tests run).
TEST(VmLoopback, KeepalivesAndPings) {
  TempDir dir;
  ManualClock clock;
  Loopback lb;
  ServeOnce(
      lb, VmKind::ImageFile, RandomImage(dir, 1474560, 8),
      [&clock](VmInitiator& in) {
        const uint8_t echo[8] = {};
        uint8_t answer[16];
        ASSERT_TRUE(in.Ping(echo, answer));
        RunSteps(in, Ready({{.cdb = {0x25}, .length = 8, .medium = 0x24, .flags = 0}}));
        VmReply r, k;
        EXPECT_FALSE(in.ReadReply(&k, 300));  // real time passes, but the clock does not
        clock.Advance(2000);
        ASSERT_TRUE(in.ReadReply(&k, 5000));
        EXPECT_EQ(Sense(k), (std::array<int, 6>{0, 0, 0, 8, 0x24, 2}));
        EXPECT_TRUE(k.data.empty());
        ASSERT_TRUE(in.SendRaw(Cdb(Rw(0x2A, 10, 1)).data(), 12));
        Bytes block(512, 0x42);
        ASSERT_TRUE(in.SendRaw(block.data(), 100));
        EXPECT_FALSE(in.ReadReply(&k, 200));
        clock.Advance(2000);
        ASSERT_TRUE(in.ReadReply(&k, 5000));
        EXPECT_TRUE(k.keepalive());
        ASSERT_TRUE(in.SendRaw(block.data() + 100, 412));
        ASSERT_TRUE(in.ReadReply(&r, 5000));
        EXPECT_EQ(Sense(r), (std::array<int, 6>{0, 0, 0, 0, 0x24, 0}));
      },
      &clock);
  EXPECT_EQ(lb.control.activity.load(), 2);  // the three TEST UNIT READYs and the ping are none
}

// The hello: the server accepts a console's first digest and the next step of its chain (the
// simulator's own test checks the chain against OpenSSL); refusals show their messages; the
// medium chooses the hello's class or is refused.
TEST(VmLoopback, TheHello) {
  TempDir dir;
  Loopback lb;
  lb.server.SetSessionHandler([](VmInitiator&) {});
  ASSERT_TRUE(lb.server.Start());
  auto c = lb.Connection(VmKind::ImageFile, RandomImage(dir, 4096, 13));
  for (int n = 1; n <= 2; ++n) {
    ASSERT_EQ(c->Connect("x"), 0);
    ASSERT_TRUE(lb.server.WaitSessions(n, 10000));
    c->Disconnect();
  }
  std::vector<std::string> digests;
  for (auto& line : lb.server.LogLines()) {
    if (auto at = line.find("\"digest\":\""); at != std::string::npos)
      digests.push_back(line.substr(at + 10, 32));
  }
  ASSERT_EQ(digests.size(), 2u);
  EXPECT_NE(digests[0], digests[1]);  // a step on, not the chain started over
  EXPECT_EQ(digests[1], HexBytes(VMConnection::HandshakeChain().data(), 16));
  EXPECT_EQ(lb.server.BadDigests(), 0);
  const std::pair<int, const char*> refusals[] = {
      {0x21, "This drive type is already in use."}, {0x22, "Invalid session key."},
      {0x23, "Unable to connect to drive."},        {0x24, "Session key has expired."},
      {0x25, "Drive has not been configured."},     {0x26, "Virtual media permission is required."},
  };
  for (auto [code, text] : refusals) {
    auto options = SimOptions();
    options.refuse = code;
    Loopback refusing(options);
    ASSERT_TRUE(refusing.server.Start());
    EXPECT_EQ(refusing.Connection(VmKind::ImageFile, dir / "f.img")->Connect("x"), -5 - code);
    EXPECT_EQ(refusing.host.Boxes(), (Boxes{{text, "Error", kMbOk}}));
  }
  SparseFile(dir / "small.img", 1478656);
  SparseFile(dir / "large.img", 1478657);
  for (const char* name : {"b.ISO", "c.img"}) SparseFile(dir / name, 2048 * 16);
  SparseFile(dir / "big/a", 1100u << 20);
  const struct {
    VmKind kind;
    std::string path;
    int helloClass;       // or -1: refused with this message
    std::string message;  // of a refusal
  } media[] = {
      {VmKind::ImageFile, dir / "small.img", 1, ""},
      {VmKind::ImageFile, dir / "large.img", 3, ""},
      {VmKind::CdImage, dir / "b.ISO", 2, ""},  // (an ISO as an image file: the chooser's test)
      {VmKind::CdImage, dir / "c.img", -1, "Invalid image type"},
      {VmKind::Folder, "", -1, "Unable to mount folder; verify path.(1)"},
      {VmKind::Folder, dir / "missing", -1, "Unable to open folder " + (dir / "missing") + "."},
      {VmKind::Folder, dir / "big", -1,
       "Selected folder exceeds maximum allowed folder size of 1024 MB."},
  };
  for (const auto& m : media) {
    SCOPED_TRACE(m.path);
    Loopback one;
    one.server.SetSessionHandler([](VmInitiator&) {});
    ASSERT_TRUE(one.server.Start());
    auto connection = one.Connection(m.kind, m.path);
    const int result = connection->Connect("x");
    EXPECT_EQ(connection->LastMessage(), m.message);
    EXPECT_EQ(result, m.helloClass < 0 ? -1 : 0);
    if (result != 0) continue;
    one.server.WaitSessions(1, 10000);
    connection->Disconnect();
    EXPECT_TRUE(one.SawHelloClass(m.helloClass));
  }
}

// ---- A misbehaving server ----

// Reads through and past the buffer and the medium's end, oversized and huge addresses, unknown
// operation codes; writes outside the medium and format parameter lists of any length refused,
// their data consumed; a long write: each answered, the connection in step.
TEST(Hostile, ReadsAndWritesAtAndBeyondEveryLimit) {
  TempDir dir;
  const Bytes o = RandomBytes(size_t(4) << 20, 21);  // 8,192 blocks
  WriteFile(dir / "disk.img", o);
  const Bytes data = RandomBytes(600 * 512, 22);
  ServeSteps(VmKind::ImageFile, dir / "disk.img",
             Ready({{Rw(0x28, 100, 1000), 0, 0, -1, Slice(o, 51200, 512000)},  // 4 device buffers
                    {Rw(0xA8, 8000, 192), 0, 0, -1, Slice(o, 8000 * 512, 192 * 512)},
                    // Fill the device buffer with medium bytes first, then read across the end.
                    {Rw(0x28, 0, 256)},
                    {Rw(0x28, 8190, 300), 0, 0, -1, Slice(o, 8190 * 512, 1024, 300 * 512)},
                    {Rw(0xA8, 0, 0x10000), 5, 0x24},
                    {Rw(0x28, 0xFFFFFFFF, 1), 5, 0x21},  // negative if signed
                    {Rw(0x28, 8192, 1), 5, 0x21},
                    {{0x01}, 5, 0x20},
                    {Rw(0x2A, 8191, 2), 5, 0x21, -1, {}, Bytes(1024, 0xEE)},  // ends outside
                    {Rw(0x2A, 0xFFFFFFF0, 1), 5, 0x21, -1, {}, Bytes(512, 0xEE)},
                    {Rw(0x2E, 9000, 300), 5, 0x21, -1, {}, Bytes(300 * 512, 0xEE)},
                    // 65,535 bytes of parameter list, far beyond the 100 a format needs.
                    {{0x04, 0x17, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 5, 0x26, -1, {}, Bytes(65535, 0xAB)},
                    // Too short to hold a format descriptor.
                    {{0x04, 0x17, 0, 0, 0, 0, 0, 0, 4}, 5, 0x26, -1, {}, Bytes(4, 0xAB)},
                    {{0x00}},
                    {Rw(0xAA, 1000, 600), 0, 0, -1, {}, data}}));
  auto expected = o;
  std::copy(data.begin(), data.end(), expected.begin() + 1000 * 512);
  EXPECT_EQ(ReadFile(dir / "disk.img"), expected);
}

// A folder refuses writes and formats; a CD image refuses oversized reads and writes; FORMAT UNIT
// of track 79, side 1 fills a 720K image's nine blocks with F6, and on an image too small for the
// track is a medium error that changes nothing.
TEST(Hostile, FoldersCdImagesAndFormats) {
  TempDir dir;
  WriteFile(dir / "src/a.bin", RandomBytes(5000, 23));
  ServeSteps(
      VmKind::Folder, dir / "src",
      Ready({{.cdb = Rw(0x2A, 0, 8), .key = 7, .asc = 0x27, .send = Bytes(4096, 1), .flags = 1},
             {{0x04, 0x17, 0, 0, 0, 0, 0, 0, 12},
              7,
              0x27,
              -1,
              {},
              {0, 0xB0, 0, 8, 0, 0, 0x0B, 0x40, 0, 0, 2, 0}},
             {{0x00}}}));
  EXPECT_EQ(ReadFile(dir / "src/a.bin"), RandomBytes(5000, 23));
  const auto bytes = RandomBytes(2048 * 200, 24);
  WriteFile(dir / "disc.iso", bytes);
  ServeSteps(VmKind::CdImage, dir / "disc.iso",
             {{Rw(0x28, 10, 150), 0, 0, -1, Slice(bytes, 10 * 2048, 150 * 2048)},  // 300 KiB
              {Rw(0xA8, 0, 0x00100000), 5, 0x24},
              {Rw(0x28, 200, 1), 5, 0x21},
              {{0x2A}, 5, 0x24},
              {{0x43, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 0, 0, 412}});
  for (const auto& [size, list, key, asc] :
       {std::tuple{size_t(737280), Bytes{0, 0xB1, 0, 8, 0, 0, 0x05, 0xA0, 0, 0, 2, 0}, 0, 0},
        std::tuple{size_t(100 * 1024), Bytes{0, 0xB0, 0, 8, 0, 0, 0x0B, 0x40, 0, 0, 2, 0}, 3,
                   0x10}}) {
    auto expected = RandomBytes(size, uint32_t(size));
    WriteFile(dir / "f.img", expected);
    ServeSteps(VmKind::ImageFile, dir / "f.img",
               Ready({{{0x04, 0x17, 79, 0, 0, 0, 0, 0, 12}, key, asc, -1, {}, list}, {{0x00}}}));
    if (key == 0) std::fill_n(expected.begin() + (79 * 2 + 1) * 9 * 512, 9 * 512, 0xF6);
    EXPECT_EQ(ReadFile(dir / "f.img"), expected);
  }
}

// ---- Failures at every phase ----

using Script = std::function<void(std::unique_ptr<TcpSocket>)>;

// A virtual-media server that runs a script on the one connection it accepts.
class FaultPeer {
 public:
  explicit FaultPeer(Script script) : listener_(TcpSocket::Listen("127.0.0.1", 0)) {
    thread_ = std::thread([this, script = std::move(script)] {
      if (auto s = listener_->Accept()) script(std::move(s));
    });
  }
  ~FaultPeer() {
    listener_->Close();
    thread_.join();
  }
  uint16_t port() const { return listener_->LocalPort(); }

 private:
  std::unique_ptr<TcpSocket> listener_;
  std::thread thread_;
};

bool ReadN(TcpSocket& s, size_t n) {
  std::vector<uint8_t> buffer(n);
  return s.ReceiveAll(buffer.data(), n);
}

// Waits (bounded) for the client to close, reading nothing.
void WaitHangUp(TcpSocket& s) {
  pollfd p{s.Descriptor(), POLLRDHUP, 0};
  ::poll(&p, 1, 20000);
}

// Reads the hello and answers it (a byte at a time when slowly), then plays the server's side.
Script Accepting(std::function<void(VmInitiator&)> play, bool slowly = false) {
  return [play, slowly](std::unique_ptr<TcpSocket> s) {
    const uint8_t accept[4] = {0x20, 0, 0, 0};
    if (!ReadN(*s, 18)) return;
    for (int i = 0; i < 4; i += slowly ? 1 : 4) {
      if (slowly) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      s->SendAll(accept + i, slowly ? 1 : 4);
    }
    VmInitiator in(std::move(s), 3, nullptr);
    RunSteps(in, Ready({}));
    play(in);
  };
}

// The image read or written, and the reply that must come.
void Expect(VmInitiator& in, const Bytes& cdb, const Bytes& send, std::array<int, 6> sense) {
  VmReply r;
  ASSERT_TRUE(Command(in, cdb, &r, send));
  EXPECT_EQ(Sense(r),
            (std::array<int, 6>{sense[0], sense[1], 0, sense[3], r.medium, int(r.flags)}));
}

struct Fault {
  int ops, error;
  uint64_t after;
};

// Each time: serving ends by itself (or by the user's unmount), no thread or descriptor stays
// behind, and a write cut short or failed changes nothing. The hello's answers in pieces, cut
// short or refused are the hello fuzz target's, which checks each result; requests cut short the
// requests fuzz target's; a write that lands and huge requests the hostile server's above.
TEST(FaultInjection, EveryPhaseEndsCleanly) {
  TempDir dir;
  const std::string image = dir / "disk.img";
  const auto original = RandomBytes(size_t(4) << 20, 31);  // 8,192 blocks
  const auto written = RandomBytes(600 * 512, 32);
  std::atomic<bool> stalled{false};
  const struct {
    const char* name;
    Script peer;
    const char* reason = "Connection closed.";  // why serving ended
    std::optional<Fault> fault = std::nullopt;
  } phases[] = {
      {"answers a byte at a time",  // in step with the server: none of it taken for a request
       Accepting(
           [&](VmInitiator& in) {
             Expect(in, Rw(0x28, 3, 1), {}, {0, 0, 0, 512});
           },
           true)},
      {"drops in the middle of write data beyond one buffer", Accepting([&](VmInitiator& in) {
         in.SendRaw(Cdb(Rw(0x2A, 10, 600)).data(), 12);
         in.SendRaw(written.data(), 200 * 1024);
       })},
      {"stalls without reading its replies", Accepting([&](VmInitiator& in) {
         for (int i = 0; i < 40; ++i) in.SendRaw(Cdb(Rw(0x28, 0, 1000)).data(), 12);  // 20 MB
         stalled = true;
         WaitHangUp(in.socket());
       }),
       "Unmounted."},
      {"EIO from the image: the read is a medium error and the next request is served",
       Accepting([](VmInitiator& in) {
         Expect(in, Rw(0x28, 0, 8), {}, {3, 0x10, 0, 0});
         Expect(in, {0x00}, {}, {0, 0, 0, 0});
       }),
       "Connection closed.", Fault{FileFault::kRead, EIO, 0}},
      {"EIO after the header promised good data: the connection ends",
       Accepting([](VmInitiator& in) {
         VmReply r;
         EXPECT_FALSE(Command(in, Rw(0x28, 0, 1000), &r));
       }),
       "Connection closed.", Fault{FileFault::kRead, EIO, 200 * 1024}},
      {"the disk fills up in the middle of a write", Accepting([&](VmInitiator& in) {
         Expect(in, Rw(0x2A, 10, 64), Slice(written, 0, 32768), {3, 0x10, 0, 0});
       }),
       "Connection closed.", Fault{FileFault::kWrite | FileFault::kReserve, ENOSPC, 4096}},
  };
  for (const auto& p : phases) {
    SCOPED_TRACE(p.name);
    WriteFile(image, original);
    stalled = false;
    const std::pair before{DescriptorCount(), ThreadCount()};
    {
      std::optional<FileFault> fault;
      if (p.fault) fault.emplace(image, p.fault->ops, p.fault->error, p.fault->after);
      FaultPeer peer(p.peer);
      SteppingClock clock;
      testing::FakeHost host;
      FixedTargetChooser chooser(image);
      VMConnection c(VmKind::ImageFile, {.server = "127.0.0.1",
                                         .port = peer.port(),
                                         .host = &host,
                                         .chooser = &chooser,
                                         .clock = &clock});
      std::mutex m;
      std::string reason;
      c.SetServeEndedCallback([&](const std::string& r) {
        std::lock_guard lock(m);
        reason = r;
      });
      ASSERT_EQ(c.Connect("x"), 0) << c.LastMessage();
      if (std::string(p.reason) == "Unmounted.") {
        ASSERT_TRUE(testing::WaitUntil([&] { return stalled.load(); }, 20000));
        c.Disconnect();
      }
      EXPECT_TRUE(c.WaitServeEnded(20000));
      std::lock_guard lock(m);
      EXPECT_EQ(reason, p.reason);
    }
    EXPECT_TRUE(ReadFile(image) == original) << "the image is not as it should be";
    EXPECT_TRUE(testing::WaitUntil([&] {
      return std::pair{DescriptorCount(), ThreadCount()} == before;
    })) << "descriptors or threads left";
  }
}

}  // namespace
}  // namespace remcons
