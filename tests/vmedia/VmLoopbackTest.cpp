// Virtual drives served to the simulator's initiator over loopback: whole media read back and
// checked with the real tools, the command sequences and sense values, keepalives, pings, the
// keyed hello and its refusals, and a misbehaving server (oversized transfers, huge addresses,
// short requests, long parameter lists, disconnects inside write data) that the client answers or
// leaves cleanly, nothing overrun (the sanitizer build runs these too) and refused writes leaving
// the image untouched.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

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

// ---- Whole media, read back through the protocol ----

TEST(VmLoopback, IsoImageReadsBackByteForByte) {
  if (!HaveTool("xorriso") || !HaveTool("isoinfo")) GTEST_SKIP();
  TempDir dir;
  WriteFile(dir / "tree/README.TXT", RandomBytes(5000, 1));
  WriteFile(dir / "tree/drivers/NET.BIN", RandomBytes(300000, 2));
  const std::string iso = dir / "disc.iso";
  std::string out;
  ASSERT_EQ(0, vmtest::Run(
                   "xorriso -as mkisofs -quiet -o " + Quote(iso) + " " + Quote(dir / "tree"), &out))
      << out;
  auto options = SimOptions();
  options.dumpFile = dir / "dump.iso";
  Loopback lb(options);
  const std::string reason = ServeOnce(lb, VmKind::CdImage, iso, nullptr);
  EXPECT_TRUE(lb.server.LastSummary().ok) << lb.server.LastSummary().error;
  EXPECT_EQ(lb.server.LastSummary().blockLength, 2048u);
  EXPECT_EQ(ReadFile(options.dumpFile), ReadFile(iso));
  ASSERT_EQ(0, vmtest::Run("isoinfo -l -i " + Quote(options.dumpFile), &out)) << out;
  EXPECT_NE(out.find("README.TXT"), std::string::npos) << out;
  EXPECT_NE(out.find("NET.BIN"), std::string::npos) << out;
  // The server closing ends serving without asking for an unmount.
  EXPECT_EQ(reason, "Connection closed.");
  EXPECT_TRUE(lb.control.Unmounts().empty());
  EXPECT_GT(lb.control.activity.load(), 0);
}

TEST(VmLoopback, ImagesReadBackAndAWriteLandsWhereSent) {
  struct Case {
    size_t size;
    uint32_t writeLba;
    int helloClass;  // floppy image or large disk
  };
  for (const Case& c : {Case{1474560, 2000, 1}, Case{24u << 20, 40000, 3}}) {
    TempDir dir;
    const auto original = RandomBytes(c.size, c.writeLba);
    WriteFile(dir / "disk.img", original);
    auto options = SimOptions();
    options.dumpFile = dir / "dump.img";
    options.write = true;
    options.writeLba = c.writeLba;
    Loopback lb(options);
    ServeOnce(lb, VmKind::ImageFile, dir / "disk.img", nullptr);
    const auto summary = lb.server.LastSummary();
    ASSERT_TRUE(summary.ok) << summary.error;
    EXPECT_EQ(summary.blocks, c.size / 512);
    EXPECT_TRUE(summary.writeVerified);
    EXPECT_EQ(ReadFile(options.dumpFile), original);
    auto expected = original;
    for (size_t i = 0; i < 512; ++i)
      expected[c.writeLba * 512 + i] = uint8_t(i * 31 + 7 + c.writeLba);
    EXPECT_EQ(ReadFile(dir / "disk.img"), expected);
    EXPECT_TRUE(SawHelloClass(lb.server, c.helloClass));
  }
}

TEST(VmLoopback, FolderReadThroughTheProtocolPassesFsckAndMcopy) {
  if (!HaveFatTools()) GTEST_SKIP();
  TempDir dir;
  WriteFile(dir / "src/setup.exe", RandomBytes(200000, 5));
  WriteFile(dir / "src/drivers/disk driver.inf", RandomBytes(777, 6));
  WriteText(dir / "src/readme.txt", "read me\r\n");
  auto options = SimOptions();
  options.dumpFile = dir / "dump.img";
  options.write = true;  // refused: the folder is read only
  Loopback lb(options);
  ServeOnce(lb, VmKind::Folder, dir / "src", nullptr);
  const auto summary = lb.server.LastSummary();
  ASSERT_TRUE(summary.ok) << summary.error;
  EXPECT_FALSE(summary.writeVerified);
  EXPECT_EQ(summary.blocks, 32680u);
  CheckFatImage(dir / "src", options.dumpFile, dir);
  // Every reply of a folder carries the write-protected flag.
  for (auto& line : lb.server.LogLines()) {
    if (line.find("\"event\":\"Reply\"") != std::string::npos) {
      EXPECT_NE(line.find("\"flags\":1,"), std::string::npos) << line;
    }
  }
}

// ---- Sequences and sense values ----

TEST(VmLoopback, FloppyUnitAttentionAndCapacities) {
  TempDir dir;
  Loopback lb;
  ServeOnce(lb, VmKind::ImageFile, RandomImage(dir, 1474560, 7), [](VmInitiator& in) {
    RunSteps(
        in,
        {{.cdb = {0x00}, .key = 2, .asc = 0x3A, .length = 0, .flags = 0},
         {{0x00}, 6, 0x28, 0},
         {{0x00}, 0, 0, 0},
         {.cdb = {0x25}, .length = 8, .data = {0, 0, 0x0B, 0x3F, 0, 0, 2, 0}, .medium = 0x24},
         {{0x23, 0, 0, 0, 0, 0, 0, 0, 0xFC}, 0, 0, 20, {0, 0, 0, 0x10, 0,    0, 0x0B, 0x40, 2, 0, 2,
                                                        0, 0, 0, 0x0B, 0x40, 0, 0,    2,    0}},
         // Locking the medium or ejecting it is refused.
         {{0x1E, 0, 0, 0, 1}, 5, 0x24, 0},
         {{0x1E, 0, 0, 0, 0}, 0, 0, 0},
         {{0x1B, 0, 0, 0, 2}, 5, 0x24, 0}});
    // SEND DIAGNOSTIC has no reply and raises a fresh unit attention.
    ASSERT_TRUE(in.SendOnly(std::array<uint8_t, 12>{0x1D}.data()));
    RunSteps(in, {{{0x00}, 6, 0x28, 0}, {{0x00}, 0, 0, 0}});
  });
  // TEST UNIT READY alone does not count as use.
  EXPECT_EQ(lb.control.activity.load(), 6);
}

TEST(VmLoopback, FloppyReadCapacityOnAFreshMountReportsTheChangeFirst) {
  TempDir dir;
  ServeSteps(VmKind::ImageFile, RandomImage(dir, 1474560, 0),
             {{{0x25}, 6, 0x28, 0}, {{0x25}, 0, 0, 8}});
}

// A sparse ISO of this many bytes.
std::string CdImage(const TempDir& dir, uint64_t bytes) {
  SparseFile(dir / "big.iso", bytes);
  return dir / "big.iso";
}

const Bytes kEvent = {0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8};

TEST(VmLoopback, CdImageUnitAttentionCapacityAndEvents) {
  TempDir dir;
  ServeSteps(VmKind::CdImage, CdImage(dir, 650000000),
             {{.cdb = {0x00}, .key = 6, .asc = 0x28, .length = 0, .medium = 1},
              {{0x00}, 0, 0, 0},
              {{0x25}, 0, 0, 8, {0x00, 0x04, 0xD7, 0xC5, 0, 0, 0x08, 0}},  // 317,381
              {kEvent, 0, 0, -1, {0, 6, 4, 0x10, 0, 2, 0, 0}},
              // Asynchronous notification is not supported.
              {{0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8}, 5, 0x24, 0},
              // Without the media class: no event available.
              {{0x4A, 1, 0, 0, 0x02, 0, 0, 0, 8}, 0, 0, -1, {0, 2, 0x80, 0x10}},
              {{0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 0xFF}, 0, 0, -1, {0, 8, 1, 0, 0, 0, 0, 0}},
              // Eject: the image comes back as a new medium at once.
              {{0x1B, 0, 0, 0, 2}, 0, 0, 0},
              {kEvent, 0, 0, -1, {0, 6, 4, 0x10, 4, 2, 0, 0}},
              {{0x1B, 0, 0, 0, 2}},
              {{0x00}, 6, 0x28, 0},
              {{0x00}, 0, 0, 0},
              {{0x55}, 5, 0x24, 0}});  // unknown operation codes are refused with a reply
}

TEST(VmLoopback, CdImageFirstEventReportsTheNewMedium) {
  TempDir dir;
  ServeSteps(VmKind::CdImage, CdImage(dir, 2048 * 100),
             {{kEvent, 0, 0, -1, {0, 6, 4, 0x10, 4, 2, 0, 0}},
              {kEvent, 0, 0, -1, {0, 6, 4, 0x10, 0, 2, 0, 0}}});
}

TEST(VmLoopback, CdImageTableOfContents) {
  TempDir dir;
  Bytes large(412, 0);
  const Bytes head = {0, 0x12, 1, 1,    0,    0x14, 1, 0,    0,    0,
                      0, 0,    0, 0x14, 0xAA, 0,    0, 0x05, 0x14, 0xC8};
  std::copy(head.begin(), head.end(), large.begin());
  ServeSteps(
      VmKind::CdImage, CdImage(dir, uint64_t(333000) * 2048),
      {{{0x43, 2, 0, 0, 0, 0, 0, 0, 20, 0}, 0, 0, -1, {0, 0x12, 1, 1,    0,    0x14, 1, 0,  0, 0,
                                                       2, 0,    0, 0x14, 0xAA, 0,    0, 74, 2, 0}},
       {{0x43, 0, 0, 0, 0, 0, 0, 0, 20, 0}, 0, 0, -1, head},
       {{0x43, 0, 0, 0, 0, 0, 0, 0, 4, 0}, 0, 0, -1, {0, 0x12, 1, 1}},
       {{0x43, 0, 0, 0, 0, 0, 0, 0x03, 0xE8, 0}, 0, 0, -1, large},
       // Session information.
       {{0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0x40},
        0,
        0,
        -1,
        {0, 0x0A, 1, 1, 0, 0x14, 1, 0, 0, 0, 0, 0}}});
}

// ---- Keepalives and pings ----

TEST(VmLoopback, SilenceOfTwoSecondsOnTheClockBringsAKeepalive) {
  TempDir dir;
  ManualClock clock;
  Loopback lb;
  ServeOnce(
      lb, VmKind::ImageFile, RandomImage(dir, 1474560, 8),
      [&clock](VmInitiator& in) {
        RunSteps(in, Ready({{.cdb = {0x25}, .length = 8, .medium = 0x24, .flags = 0}}));
        VmReply r, k;
        // Real time passes, but the clock does not: no keepalive.
        EXPECT_FALSE(in.ReadReply(&k, 300));
        clock.Advance(2000);
        ASSERT_TRUE(in.ReadReply(&k, 5000));
        // The last reply's fields with the keepalive flag.
        EXPECT_EQ(Sense(k), (std::array<int, 6>{0, 0, 0, 8, 0x24, 2}));
        EXPECT_TRUE(k.data.empty());
        // Keepalives also flow while write data is awaited.
        ASSERT_TRUE(in.SendRaw(Rw(0x2A, 10, 1).data(), 12));
        std::vector<uint8_t> block(512, 0x42);
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
}

TEST(VmLoopback, PingIsAnsweredWithItsEchoAndIsNoUse) {
  TempDir dir;
  Loopback lb;
  ServeOnce(lb, VmKind::ImageFile, RandomImage(dir, 1474560, 9), [](VmInitiator& in) {
    const uint8_t echo[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t answer[16];
    ASSERT_TRUE(in.Ping(echo, answer));
    const uint8_t expected[16] = {0xDE, 0xC0, 0xAD, 0x0B, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0, std::memcmp(answer, expected, 16));
  });
  EXPECT_EQ(lb.control.activity.load(), 0);
}

TEST(VmLoopback, DisconnectStopsAServingDrive) {
  TempDir dir;
  Loopback lb;
  lb.server.SetSessionHandler([](VmInitiator& in) { EXPECT_TRUE(in.WaitClosed(20000)); });
  ASSERT_TRUE(lb.Start());
  auto c = lb.Connection(VmKind::ImageFile, RandomImage(dir, 4096, 11));
  std::string reason;
  c->SetServeEndedCallback([&](const std::string& r) { reason = r; });
  ASSERT_EQ(c->Connect("x"), 0);
  c->Disconnect();
  EXPECT_FALSE(c->IsServing() || c->IsConnected());
  EXPECT_EQ(reason, "Unmounted.");
  EXPECT_TRUE(lb.server.WaitSessions(1, 20000));
  ASSERT_EQ(c->Connect("x"), 0);  // the same object mounts again
  c->Close();
}

TEST(VmLoopback, ADeviceThatCannotOpenAsksToBeUnmounted) {
  TempDir dir;
  Loopback lb;
  lb.server.SetSessionHandler([](VmInitiator& in) { EXPECT_TRUE(in.WaitClosed(20000)); });
  ASSERT_TRUE(lb.Start());
  // No such drive under these roots.
  auto c = lb.Connection(VmKind::CdromDrive, "", nullptr, MediaRoots{dir / "sys", dir / "dev"});
  std::string reason;
  c->SetServeEndedCallback([&](const std::string& r) { reason = r; });
  ASSERT_EQ(c->Connect("sr0"), 0);
  ASSERT_TRUE(c->WaitServeEnded(10000));
  EXPECT_EQ(reason, "Unable to open media.");
  EXPECT_EQ(lb.host.Boxes(), (Boxes{{"Unable to open media.", "Error", kMbOk | kMbIconError}}));
  EXPECT_EQ(lb.control.Unmounts(), std::vector<VmKind>{VmKind::CdromDrive});
  EXPECT_TRUE(lb.server.WaitSessions(1, 10000));
}

// ---- The hello ----

TEST(VmLoopback, RefusalsShowTheirMessages) {
  TempDir dir;
  const std::string image = RandomImage(dir, 4096, 12);
  const std::pair<int, const char*> cases[] = {
      {0x21, "This drive type is already in use."}, {0x22, "Invalid session key."},
      {0x23, "Unable to connect to drive."},        {0x24, "Session key has expired."},
      {0x25, "Drive has not been configured."},     {0x26, "Virtual media permission is required."},
  };
  for (auto [code, text] : cases) {
    auto options = SimOptions();
    options.refuse = code;
    Loopback lb(options);
    ASSERT_TRUE(lb.Start());
    auto c = lb.Connection(VmKind::ImageFile, image);
    EXPECT_EQ(c->Connect("x"), -5 - code);
    EXPECT_FALSE(c->IsConnected());
    EXPECT_EQ(lb.host.Boxes(), (Boxes{{text, "Error", kMbOk}}));
  }
}

TEST(VmLoopback, HelloDigestsFollowTheChain) {
  TempDir dir;
  Loopback lb;
  lb.server.SetSessionHandler([](VmInitiator&) {});
  ASSERT_TRUE(lb.Start());
  auto c = lb.Connection(VmKind::ImageFile, RandomImage(dir, 4096, 13));
  for (int n = 1; n <= 2; ++n) {
    ASSERT_EQ(c->Connect("x"), 0);
    ASSERT_TRUE(lb.server.WaitSessions(n, 10000));
    c->Disconnect();
  }
  // OpenSSL's MD5 is the oracle: MD5(key, 16 zeros), then MD5(key, first digest).
  uint8_t input[32] = {}, digest[16];
  std::memcpy(input, lb.key.data(), 16);
  std::vector<std::string> expected;
  for (int n = 0; n < 2; ++n) {
    unsigned length = 0;
    ASSERT_EQ(1, EVP_Digest(input, 32, digest, &length, EVP_md5(), nullptr));
    expected.push_back(HexBytes(digest, 16));
    std::memcpy(input + 16, digest, 16);
  }
  std::vector<std::string> digests;
  for (auto& line : lb.server.LogLines()) {
    auto at = line.find("\"digest\":\"");
    if (at != std::string::npos) digests.push_back(line.substr(at + 10, 32));
  }
  EXPECT_EQ(digests, expected);
  EXPECT_EQ(0, std::memcmp(VMConnection::HandshakeChain().data(), digest, 16));
}

// A server that answers the hello with fixed bytes (or not at all).
void RawServer(const std::vector<uint8_t>& answer, int expected) {
  TempDir dir;
  auto listener = TcpSocket::Listen("127.0.0.1", 0);
  ASSERT_TRUE(listener);
  std::thread server([&] {
    auto s = listener->Accept();
    if (!s) return;
    uint8_t hello[18];
    s->ReceiveAll(hello, sizeof hello);
    if (!answer.empty()) s->SendAll(answer.data(), answer.size());
    s->SetReceiveTimeout(10000);
    s->Receive(hello, sizeof hello);  // until the client gives up
  });
  vmtest::SteppingClock clock;
  testing::FakeHost host;
  FixedTargetChooser chooser(RandomImage(dir, 4096, 15));
  VMConnection c(VmKind::ImageFile, {.server = "127.0.0.1",
                                     .port = listener->LocalPort(),
                                     .host = &host,
                                     .chooser = &chooser,
                                     .clock = &clock});
  EXPECT_EQ(c.Connect("x"), expected);
  EXPECT_EQ(c.LastMessage(), "Unable to connect to drive.");
  server.join();
}

TEST(VmLoopback, SilentServerOrAnOddAcceptMeansUnableToConnect) {
  RawServer({}, -5 - 0x10);
  RawServer({0x20, 0x01, 0, 0}, -5 - 0x20);  // an accept with a non-zero second byte
}

TEST(VmLoopback, NothingListeningIsAConnectFailure) {
  const uint16_t port = TcpSocket::Listen("127.0.0.1", 0)->LocalPort();  // closed again at once
  TempDir dir;
  FixedTargetChooser chooser(RandomImage(dir, 4096, 16));
  VMConnection c(VmKind::ImageFile, {.server = "127.0.0.1", .port = port, .chooser = &chooser});
  EXPECT_EQ(c.Connect("x"), VMConnection::kConnectFailed);
}

// Disconnect or Close from another thread gives up a Connect that waits for the server, at the
// TCP connect to an address that never answers or at the hello's answer: kCancelled, no message
// box, no socket left. A closed connection connects no more.
TEST(VmLoopback, AConnectWaitingForTheServerIsAbandoned) {
  UnansweredPort unanswered;
  if (!unanswered.Silent()) GTEST_SKIP() << "loopback answered a connect to a full backlog";
  TempDir dir;
  const std::string image = RandomImage(dir, 4096, 17);
  // A server that reads the hello and says nothing.
  auto listener = TcpSocket::Listen("127.0.0.1", 0);
  ASSERT_TRUE(listener);
  std::atomic<int> hellos{0};
  std::thread server([&] {
    while (auto s = listener->Accept()) {
      uint8_t hello[18];
      if (s->ReceiveAll(hello, sizeof hello)) ++hellos;
      s->SetReceiveTimeout(20000);
      s->Receive(hello, sizeof hello);  // until the client gives up
    }
  });
  // A clock that stands still: a hello's answer is waited for until the connect is given up.
  struct StillClock : Clock {
    uint32_t NowMs() override { return 0; }
    bool SleepMs(uint32_t, const std::atomic<bool>* stop) override { return !(stop && *stop); }
  } clock;
  for (const bool atHello : {false, true}) {
    for (const bool close : {false, true}) {
      SCOPED_TRACE(std::string(atHello ? "hello" : "connect") + (close ? ", Close" : ""));
      testing::FakeHost host;
      FixedTargetChooser chooser(image);
      VMConnection connection(VmKind::ImageFile,
                              {.server = "127.0.0.1",
                               .port = atHello ? listener->LocalPort() : unanswered.port(),
                               .host = &host,
                               .chooser = &chooser,
                               .clock = &clock});
      const int hellosBefore = hellos;
      std::future<int> result =
          std::async(std::launch::async, [&] { return connection.Connect("x"); });
      // Given up in any case, so that no assertion below leaves the future waiting for minutes.
      struct GiveUp {
        VMConnection& connection;
        ~GiveUp() { connection.Close(); }
      } giveUp{connection};
      ASSERT_TRUE(testing::WaitUntil(
          [&] { return atHello ? hellos > hellosBefore : connection.IsConnected(); }, 10000));
      EXPECT_EQ(result.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
      close ? connection.Close() : connection.Disconnect();
      ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
      EXPECT_EQ(result.get(), VMConnection::kCancelled);
      EXPECT_FALSE(connection.IsConnected() || connection.IsServing());
      EXPECT_TRUE(host.Boxes().empty());
      EXPECT_EQ(connection.LastMessage(), "");
      // A closed connection connects no more.
      EXPECT_EQ(close ? connection.Connect("x") : VMConnection::kCancelled,
                VMConnection::kCancelled);
    }
  }
  listener->Close();
  server.join();
}

// ---- Choosing the medium ----

TEST(VmLoopback, TheMediumChoosesTheHelloClassOrIsRefused) {
  TempDir dir;
  SparseFile(dir / "small.img", 1478656);
  SparseFile(dir / "large.img", 1478657);
  for (const char* name : {"a.iso", "b.ISO", "c.img"}) SparseFile(dir / name, 2048 * 16);
  SparseFile(dir / "big/a", 1100u << 20);
  WriteText(dir / "small/a.txt", "a");
  struct Case {
    VmKind kind;
    std::string path;
    int helloClass;       // or -1: refused with this message
    std::string message;  // of a refusal
  };
  const Case cases[] = {
      {VmKind::ImageFile, dir / "small.img", 1, ""},
      {VmKind::ImageFile, dir / "large.img", 3, ""},
      // ISO files belong to the CD image entry only.
      {VmKind::ImageFile, dir / "a.iso", -1, "Invalid image type"},
      {VmKind::CdImage, dir / "a.iso", 2, ""},
      {VmKind::CdImage, dir / "b.ISO", 2, ""},
      {VmKind::CdImage, dir / "c.img", -1, "Invalid image type"},
      {VmKind::Folder, "", -1, "Unable to mount folder; verify path.(1)"},
      {VmKind::Folder, dir / "missing", -1, "Unable to open folder " + (dir / "missing") + "."},
      {VmKind::Folder, dir / "big", -1,
       "Selected folder exceeds maximum allowed folder size of 1024 MB."},
      {VmKind::Folder, dir / "small", 3, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Loopback lb;
    lb.server.SetSessionHandler([](VmInitiator&) {});
    ASSERT_TRUE(lb.Start());
    auto connection = lb.Connection(c.kind, c.path);
    const int result = connection->Connect("x");
    if (c.helloClass < 0) {
      EXPECT_EQ(connection->LastMessage(), c.message);
      EXPECT_EQ(result, -1);
      continue;
    }
    ASSERT_EQ(result, 0);
    lb.server.WaitSessions(1, 10000);
    connection->Disconnect();
    EXPECT_TRUE(SawHelloClass(lb.server, c.helloClass));
  }
}

// ---- A misbehaving server ----

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(image(), original_); }
  std::string image() const { return dir_ / "disk.img"; }
  TempDir dir_;
  const Bytes original_ = RandomBytes(size_t(4) << 20, 21);  // 8,192 blocks
};

// Reads through and past the buffer and the medium's end, oversized and huge addresses, unknown
// operation codes: each answered, and the connection still in step.
TEST_F(Hostile, ReadsAtAndBeyondEveryLimit) {
  const Bytes& o = original_;
  ServeSteps(VmKind::ImageFile, image(),
             Ready({{Rw(0x28, 100, 1000), 0, 0, -1, Slice(o, 51200, 512000)},  // 4 device buffers
                    {Rw(0xA8, 8000, 192), 0, 0, -1, Slice(o, 8000 * 512, 192 * 512)},
                    // Fill the device buffer with medium bytes first, then read across the end.
                    {Rw(0x28, 0, 256)},
                    {Rw(0x28, 8190, 300), 0, 0, -1, Slice(o, 8190 * 512, 1024, 300 * 512)},
                    {Rw(0xA8, 0, 0x10000), 5, 0x24},
                    {Rw(0xA8, 0, 0xFFFFFFFF), 5, 0x24},
                    {Rw(0x28, 0xFFFFFFFF, 1), 5, 0x21},
                    {Rw(0x28, 0x80000000, 8), 5, 0x21},  // negative if signed
                    {Rw(0x28, 8192, 1), 5, 0x21},
                    {{0x01}, 5, 0x20},
                    {{0x12}, 5, 0x20},
                    {{0x5A}, 5, 0x20},
                    {{0x9E}, 5, 0x20},
                    {{0xFF}, 5, 0x20},
                    {{0x00}}}));
}

// Writes outside the medium and format parameter lists of any length are refused, their data
// consumed; a long write lands in pieces, and nothing else changes.
TEST_F(Hostile, RefusedWritesLeaveTheMediumAndLongOnesLandInPieces) {
  const Bytes data = RandomBytes(600 * 512, 22);
  ServeSteps(VmKind::ImageFile, image(),
             Ready({{Rw(0x2A, 8191, 2), 5, 0x21, -1, {}, Bytes(1024, 0xEE)},  // ends outside
                    {Rw(0x2A, 0xFFFFFFF0, 1), 5, 0x21, -1, {}, Bytes(512, 0xEE)},
                    {Rw(0x2E, 9000, 300), 5, 0x21, -1, {}, Bytes(300 * 512, 0xEE)},
                    // 65,535 bytes of parameter list, far beyond the 100 a format needs.
                    {{0x04, 0x17, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 5, 0x26, -1, {}, Bytes(65535, 0xAB)},
                    // Too short to hold a format descriptor.
                    {{0x04, 0x17, 0, 0, 0, 0, 0, 0, 4}, 5, 0x26, -1, {}, Bytes(4, 0xAB)},
                    {{0x00}},
                    {Rw(0xAA, 1000, 600), 0, 0, -1, {}, data}}));
  auto expected = original_;
  std::copy(data.begin(), data.end(), expected.begin() + 1000 * 512);
  EXPECT_EQ(ReadFile(image()), expected);
}

// A huge write is refused and the connection closed; a disconnect inside write data writes
// nothing; a request in pieces is one request, and one cut short by the end ends cleanly.
TEST_F(Hostile, HugeWritesCutWritesAndRequestsInPieces) {
  Loopback lb;
  EXPECT_EQ(ServeOnce(lb, VmKind::ImageFile, image(),
                      [&](VmInitiator& in) {
                        RunSteps(in, Ready({{Rw(0xAA, 0, 0x01000000), 5, 0x24}}));
                        EXPECT_TRUE(in.WaitClosed(10000));
                      }),
            "Connection closed.");
  Loopback lb2;
  EXPECT_EQ(ServeOnce(lb2, VmKind::ImageFile, image(),
                      [&](VmInitiator& in) {
                        RunSteps(in, Ready({}));
                        ASSERT_TRUE(in.SendRaw(Rw(0x2A, 10, 8).data(), 12));
                        const Bytes part(3000, 0x77);  // then closed with 1,096 bytes missing
                        ASSERT_TRUE(in.SendRaw(part.data(), part.size()));
                      }),
            "Connection closed.");
  EXPECT_EQ(ReadFile(image()), original_);
  Loopback lb3;
  ServeOnce(lb3, VmKind::ImageFile, image(), [&](VmInitiator& in) {
    RunSteps(in, Ready({}));
    const auto read = Rw(0x28, 3, 1);
    for (auto [at, n] : {std::pair{0, 5}, {5, 4}, {9, 3}}) {
      ASSERT_TRUE(in.SendRaw(read.data() + at, size_t(n)));
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    VmReply r;
    ASSERT_TRUE(in.ReadReply(&r, 5000));
    EXPECT_EQ(Sense(r), (std::array<int, 6>{0, 0, 0, 512, r.medium, int(r.flags)}));
    EXPECT_EQ(r.data, Slice(original_, 3 * 512, 512));
  });
  Loopback lb4;
  EXPECT_EQ(ServeOnce(lb4, VmKind::ImageFile, image(),
                      [&](VmInitiator& in) { ASSERT_TRUE(in.SendRaw(Rw(0x28, 0, 0).data(), 5)); }),
            "Connection closed.");
}

TEST(HostileFolder, WritesAndFormatsAreRefusedAndTheConnectionStaysUsable) {
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
}

TEST(HostileCdImage, OversizedReadsAndUnknownCodes) {
  TempDir dir;
  const auto bytes = RandomBytes(2048 * 200, 24);
  WriteFile(dir / "disc.iso", bytes);
  ServeSteps(VmKind::CdImage, dir / "disc.iso",
             {{Rw(0x28, 10, 150), 0, 0, -1, Slice(bytes, 10 * 2048, 150 * 2048)},  // 300 KiB
              {Rw(0xA8, 0, 0x00100000), 5, 0x24},
              {Rw(0x28, 200, 1), 5, 0x21},
              {{0x2A}, 5, 0x24},  // no writes on a CD image
              // A table of contents asked with the largest allocation.
              {{0x43, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 0, 0, 412}});
}

// FORMAT UNIT of track 79, side 1: on a 720K image its nine blocks become F6; on an image too small
// for the track it is a medium error and nothing changes.
TEST(FloppyFormat, ATrackIsFilledOrTheFormatFailsCleanly) {
  struct Case {
    size_t size;
    Bytes list;  // the format's parameter list
    int key, asc;
  };
  const Case cases[] = {
      {737280, {0, 0xB1, 0, 8, 0, 0, 0x05, 0xA0, 0, 0, 2, 0}, 0, 0},  // 1,440 blocks
      {100 * 1024, {0, 0xB0, 0, 8, 0, 0, 0x0B, 0x40, 0, 0, 2, 0}, 3, 0x10},
  };
  for (const Case& c : cases) {
    TempDir dir;
    auto expected = RandomBytes(c.size, uint32_t(c.size));
    WriteFile(dir / "f.img", expected);
    ServeSteps(
        VmKind::ImageFile, dir / "f.img",
        Ready({{{0x04, 0x17, 79, 0, 0, 0, 0, 0, 12}, c.key, c.asc, -1, {}, c.list}, {{0x00}}}));
    if (c.key == 0) std::fill_n(expected.begin() + (79 * 2 + 1) * 9 * 512, 9 * 512, 0xF6);
    EXPECT_EQ(ReadFile(dir / "f.img"), expected);
  }
}

}  // namespace
}  // namespace remcons
