// Virtual drives served to the simulator's initiator over loopback: whole media read back and
// checked with the real tools, the command sequences and sense values, keepalives, pings, the
// keyed hello and its refusals.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "VmHarness.h"
#include "VmTestUtil.h"
#include "platform/Hex.h"
#include "platform/Socket.h"
#include "support/Wait.h"
#include "vmedia/FATFile.h"
#include "vmedia/ScsiCdImage.h"

namespace remcons {
namespace {

namespace fs = std::filesystem;
using sim::VmInitiator;
using sim::VmReply;
using vmtest::Loopback;
using vmtest::Quote;
using vmtest::TempDir;

using vmtest::Cdb;
using vmtest::ExpectSense;
using vmtest::Rw10;
using vmtest::SawHelloClass;
using vmtest::ServeOnce;

// A file of random bytes in dir.
std::string RandomImage(const TempDir& dir, size_t size, uint32_t seed) {
  vmtest::WriteFile(dir / "f.img", vmtest::RandomBytes(size, seed));
  return dir / "f.img";
}

// ---- Whole media, read back through the protocol ----

TEST(VmLoopback, IsoImageReadsBackByteForByte) {
  if (!vmtest::HaveTool("xorriso") || !vmtest::HaveTool("isoinfo")) GTEST_SKIP();
  TempDir dir;
  vmtest::WriteFile(dir / "tree/README.TXT", vmtest::RandomBytes(5000, 1));
  vmtest::WriteFile(dir / "tree/drivers/NET.BIN", vmtest::RandomBytes(300000, 2));
  const std::string iso = dir / "disc.iso";
  std::string out;
  ASSERT_EQ(0, vmtest::Run(
                   "xorriso -as mkisofs -quiet -o " + Quote(iso) + " " + Quote(dir / "tree"), &out))
      << out;
  auto options = vmtest::SimOptions();
  options.dumpFile = dir / "dump.iso";
  Loopback lb(options);
  const std::string reason = ServeOnce(lb, VmKind::CdImage, iso, nullptr);
  const auto summary = lb.server.LastSummary();
  EXPECT_TRUE(summary.ok) << summary.error;
  EXPECT_EQ(summary.blockLength, 2048u);
  EXPECT_EQ(vmtest::ReadFile(options.dumpFile), vmtest::ReadFile(iso));
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
    const auto original = vmtest::RandomBytes(c.size, c.writeLba);
    const std::string image = dir / "disk.img";
    vmtest::WriteFile(image, original);
    auto options = vmtest::SimOptions();
    options.dumpFile = dir / "dump.img";
    options.write = true;
    options.writeLba = c.writeLba;
    Loopback lb(options);
    ServeOnce(lb, VmKind::ImageFile, image, nullptr);
    const auto summary = lb.server.LastSummary();
    ASSERT_TRUE(summary.ok) << summary.error;
    EXPECT_EQ(summary.blocks, c.size / 512);
    EXPECT_TRUE(summary.writeVerified);
    EXPECT_EQ(vmtest::ReadFile(options.dumpFile), original);
    auto expected = original;
    for (size_t i = 0; i < 512; ++i) {
      expected[size_t(c.writeLba) * 512 + i] = uint8_t(i * 31 + 7 + c.writeLba);
    }
    EXPECT_EQ(vmtest::ReadFile(image), expected);
    EXPECT_TRUE(SawHelloClass(lb.server, c.helloClass));
  }
}

TEST(VmLoopback, FolderReadThroughTheProtocolPassesFsckAndMcopy) {
  if (!vmtest::HaveTool("fsck.fat") || !vmtest::HaveTool("mcopy")) GTEST_SKIP();
  TempDir dir;
  vmtest::WriteFile(dir / "src/setup.exe", vmtest::RandomBytes(200000, 5));
  vmtest::WriteFile(dir / "src/drivers/disk driver.inf", vmtest::RandomBytes(777, 6));
  vmtest::WriteText(dir / "src/readme.txt", "read me\r\n");
  auto options = vmtest::SimOptions();
  options.dumpFile = dir / "dump.img";
  options.write = true;  // refused: the folder is read only
  Loopback lb(options);
  ServeOnce(lb, VmKind::Folder, dir / "src", nullptr);
  const auto summary = lb.server.LastSummary();
  ASSERT_TRUE(summary.ok) << summary.error;
  EXPECT_FALSE(summary.writeVerified);
  EXPECT_EQ(summary.blocks, 32680u);
  std::string out;
  EXPECT_EQ(0, vmtest::Run("fsck.fat -n " + Quote(options.dumpFile), &out)) << out;
  vmtest::MakeDirs(dir / "copy");
  ASSERT_EQ(0, vmtest::Run("MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + Quote(options.dumpFile) +
                               " ::/ " + Quote(dir / "copy"),
                           &out))
      << out;
  EXPECT_EQ(vmtest::ReadFile(dir / "copy/setup.exe"), vmtest::ReadFile(dir / "src/setup.exe"));
  EXPECT_EQ(vmtest::ReadFile(dir / "copy/drivers/disk driver.inf"),
            vmtest::ReadFile(dir / "src/drivers/disk driver.inf"));
  EXPECT_EQ(vmtest::ReadFile(dir / "copy/readme.txt"), vmtest::ReadFile(dir / "src/readme.txt"));
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
  const std::string image = RandomImage(dir, 1474560, 7);
  Loopback lb;
  ServeOnce(lb, VmKind::ImageFile, image, [](VmInitiator& in) {
    VmReply r;
    const auto tur = Cdb({0x00});
    ASSERT_TRUE(in.Command(tur.data(), &r));
    ExpectSense(r, 2, 0x3A, 0, 0);
    EXPECT_EQ(r.flags, 0u);
    ASSERT_TRUE(in.Command(tur.data(), &r));
    ExpectSense(r, 6, 0x28, 0, 0);
    ASSERT_TRUE(in.Command(tur.data(), &r));
    ExpectSense(r, 0, 0, 0, 0);
    const auto capacity = Cdb({0x25});
    ASSERT_TRUE(in.Command(capacity.data(), &r));
    ExpectSense(r, 0, 0, 0, 8);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 0, 0x0B, 0x3F, 0, 0, 2, 0}));
    EXPECT_EQ(r.medium, 0x24);
    const auto formats = Cdb({0x23, 0, 0, 0, 0, 0, 0, 0, 0xFC});
    ASSERT_TRUE(in.Command(formats.data(), &r));
    ExpectSense(r, 0, 0, 0, 20);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 0, 0, 0x10, 0,    0,    0x0B, 0x40, 2, 0,
                                            2, 0, 0, 0,    0x0B, 0x40, 0,    0,    2, 0}));
    // Locking the medium or ejecting it is refused.
    ASSERT_TRUE(in.Command(Cdb({0x1E, 0, 0, 0, 1}).data(), &r));
    ExpectSense(r, 5, 0x24, 0, 0);
    ASSERT_TRUE(in.Command(Cdb({0x1E, 0, 0, 0, 0}).data(), &r));
    ExpectSense(r, 0, 0, 0, 0);
    ASSERT_TRUE(in.Command(Cdb({0x1B, 0, 0, 0, 2}).data(), &r));
    ExpectSense(r, 5, 0x24, 0, 0);
    // SEND DIAGNOSTIC has no reply and raises a fresh unit attention.
    ASSERT_TRUE(in.SendOnly(Cdb({0x1D}).data()));
    ASSERT_TRUE(in.Command(tur.data(), &r));
    ExpectSense(r, 6, 0x28, 0, 0);
    ASSERT_TRUE(in.Command(tur.data(), &r));
    ExpectSense(r, 0, 0, 0, 0);
  });
  // TEST UNIT READY alone does not count as use.
  EXPECT_EQ(lb.control.activity.load(), 6);
}

TEST(VmLoopback, FloppyReadCapacityOnAFreshMountReportsTheChangeFirst) {
  TempDir dir;
  const std::string image = dir / "f.img";
  vmtest::WriteFile(image, std::vector<uint8_t>(1474560, 0));
  Loopback lb;
  ServeOnce(lb, VmKind::ImageFile, image, [](VmInitiator& in) {
    VmReply r;
    ASSERT_TRUE(in.Command(Cdb({0x25}).data(), &r));
    ExpectSense(r, 6, 0x28, 0, 0);
    ASSERT_TRUE(in.Command(Cdb({0x25}).data(), &r));
    ExpectSense(r, 0, 0, 0, 8);
  });
}

// Mounts a sparse ISO of blocks x 2,048 bytes and runs handler on it.
void WithCdImage(uint64_t bytes, sim::VmSimServer::SessionHandler handler) {
  TempDir dir;
  const std::string iso = dir / "big.iso";
  vmtest::SparseFile(iso, bytes);
  Loopback lb;
  ServeOnce(lb, VmKind::CdImage, iso, std::move(handler));
}

TEST(VmLoopback, CdImageUnitAttentionCapacityAndEvents) {
  WithCdImage(650000000, [](VmInitiator& in) {
    VmReply r;
    ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
    ExpectSense(r, 6, 0x28, 0, 0);
    EXPECT_EQ(r.medium, 1);
    ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
    ExpectSense(r, 0, 0, 0, 0);
    ASSERT_TRUE(in.Command(Cdb({0x25}).data(), &r));
    ExpectSense(r, 0, 0, 0, 8);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0x00, 0x04, 0xD7, 0xC5, 0, 0, 0x08, 0}));  // 317,381
    const auto event = Cdb({0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8});
    ASSERT_TRUE(in.Command(event.data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 6, 4, 0x10, 0, 2, 0, 0}));
    // Asynchronous notification is not supported.
    ASSERT_TRUE(in.Command(Cdb({0x4A, 0, 0, 0, 0x10, 0, 0, 0, 8}).data(), &r));
    ExpectSense(r, 5, 0x24, 0, 0);
    // Without the media class: no event available.
    ASSERT_TRUE(in.Command(Cdb({0x4A, 1, 0, 0, 0x02, 0, 0, 0, 8}).data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 2, 0x80, 0x10}));
    ASSERT_TRUE(in.Command(Cdb({0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 0xFF}).data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 8, 1, 0, 0, 0, 0, 0}));
    // Eject: the image comes back as a new medium at once.
    ASSERT_TRUE(in.Command(Cdb({0x1B, 0, 0, 0, 2}).data(), &r));
    ExpectSense(r, 0, 0, 0, 0);
    ASSERT_TRUE(in.Command(event.data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 6, 4, 0x10, 4, 2, 0, 0}));
    ASSERT_TRUE(in.Command(Cdb({0x1B, 0, 0, 0, 2}).data(), &r));
    ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
    ExpectSense(r, 6, 0x28, 0, 0);
    ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
    ExpectSense(r, 0, 0, 0, 0);
    // Unknown operation codes are refused with a reply.
    ASSERT_TRUE(in.Command(Cdb({0x55}).data(), &r));
    ExpectSense(r, 5, 0x24, 0, 0);
  });
}

TEST(VmLoopback, CdImageFirstEventReportsTheNewMedium) {
  WithCdImage(2048 * 100, [](VmInitiator& in) {
    VmReply r;
    const auto event = Cdb({0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8});
    ASSERT_TRUE(in.Command(event.data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 6, 4, 0x10, 4, 2, 0, 0}));
    ASSERT_TRUE(in.Command(event.data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 6, 4, 0x10, 0, 2, 0, 0}));
  });
}

TEST(VmLoopback, CdImageTableOfContents) {
  WithCdImage(uint64_t(333000) * 2048, [](VmInitiator& in) {
    VmReply r;
    ASSERT_TRUE(in.Command(Cdb({0x43, 2, 0, 0, 0, 0, 0, 0, 20, 0}).data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 0x12, 1, 1,    0,    0x14, 1, 0,  0, 0,
                                            2, 0,    0, 0x14, 0xAA, 0,    0, 74, 2, 0}));
    ASSERT_TRUE(in.Command(Cdb({0x43, 0, 0, 0, 0, 0, 0, 0, 20, 0}).data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 0x12, 1, 1,    0,    0x14, 1, 0,    0,    0,
                                            0, 0,    0, 0x14, 0xAA, 0,    0, 0x05, 0x14, 0xC8}));
    ASSERT_TRUE(in.Command(Cdb({0x43, 0, 0, 0, 0, 0, 0, 0, 4, 0}).data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 0x12, 1, 1}));
    ASSERT_TRUE(in.Command(Cdb({0x43, 0, 0, 0, 0, 0, 0, 0x03, 0xE8, 0}).data(), &r));
    ASSERT_EQ(r.data.size(), 412u);
    EXPECT_TRUE(std::all_of(r.data.begin() + 20, r.data.end(), [](uint8_t b) { return b == 0; }));
    // Session information.
    ASSERT_TRUE(in.Command(Cdb({0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0x40}).data(), &r));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 0x0A, 1, 1, 0, 0x14, 1, 0, 0, 0, 0, 0}));
  });
}

// ---- Keepalives and pings ----

TEST(VmLoopback, SilenceOfTwoSecondsOnTheClockBringsAKeepalive) {
  TempDir dir;
  const std::string image = RandomImage(dir, 1474560, 8);
  ManualClock clock;
  Loopback lb;
  ServeOnce(
      lb, VmKind::ImageFile, image,
      [&clock](VmInitiator& in) {
        VmReply r, k;
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
        ASSERT_TRUE(in.Command(Cdb({0x25}).data(), &r));
        ExpectSense(r, 0, 0, 0, 8);
        // Real time passes, but the clock does not: no keepalive.
        EXPECT_FALSE(in.ReadReply(&k, 300));
        clock.Advance(2000);
        ASSERT_TRUE(in.ReadReply(&k, 5000));
        EXPECT_TRUE(k.keepalive());
        EXPECT_EQ(k.flags, r.flags | 2);
        EXPECT_EQ(k.medium, r.medium);
        EXPECT_EQ(k.key, r.key);
        EXPECT_EQ(k.length, r.length);
        EXPECT_TRUE(k.data.empty());
        // Keepalives also flow while write data is awaited.
        const auto write = Rw10(0x2A, 10, 1);
        ASSERT_TRUE(in.SendRaw(write.data(), 12));
        std::vector<uint8_t> block(512, 0x42);
        ASSERT_TRUE(in.SendRaw(block.data(), 100));
        EXPECT_FALSE(in.ReadReply(&k, 200));
        clock.Advance(2000);
        ASSERT_TRUE(in.ReadReply(&k, 5000));
        EXPECT_TRUE(k.keepalive());
        ASSERT_TRUE(in.SendRaw(block.data() + 100, 412));
        ASSERT_TRUE(in.ReadReply(&r, 5000));
        ExpectSense(r, 0, 0, 0, 0);
        EXPECT_FALSE(r.keepalive());
      },
      &clock);
}

TEST(VmLoopback, PingIsAnsweredWithItsEcho) {
  TempDir dir;
  const std::string image = RandomImage(dir, 1474560, 9);
  Loopback lb;
  ServeOnce(lb, VmKind::ImageFile, image, [](VmInitiator& in) {
    const uint8_t echo[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t answer[16];
    ASSERT_TRUE(in.Ping(echo, answer));
    const uint8_t expected[16] = {0xDE, 0xC0, 0xAD, 0x0B, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0, std::memcmp(answer, expected, 16));
    // A ping is not a use of the drive.
  });
  EXPECT_EQ(lb.control.activity.load(), 0);
}

TEST(VmLoopback, DisconnectStopsAServingDrive) {
  TempDir dir;
  const std::string image = RandomImage(dir, 4096, 11);
  Loopback lb;
  lb.server.SetSessionHandler([](VmInitiator& in) { EXPECT_TRUE(in.WaitClosed(20000)); });
  ASSERT_TRUE(lb.Start());
  auto c = lb.Connection(VmKind::ImageFile, image);
  std::string reason;
  c->SetServeEndedCallback([&](const std::string& r) { reason = r; });
  ASSERT_EQ(c->Connect("x"), 0);
  c->Disconnect();
  EXPECT_FALSE(c->IsServing());
  EXPECT_FALSE(c->IsConnected());
  EXPECT_EQ(reason, "Unmounted.");
  EXPECT_TRUE(lb.server.WaitSessions(1, 20000));
  // The same object mounts again.
  ASSERT_EQ(c->Connect("x"), 0);
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
  auto boxes = lb.host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Unable to open media.");
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].style, uint32_t(kMbOk | kMbIconError));
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
    auto options = vmtest::SimOptions();
    options.refuse = code;
    Loopback lb(options);
    ASSERT_TRUE(lb.Start());
    auto c = lb.Connection(VmKind::ImageFile, image);
    EXPECT_EQ(c->Connect("x"), -5 - code);
    EXPECT_FALSE(c->IsConnected());
    auto boxes = lb.host.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].style, uint32_t(kMbOk));
  }
}

TEST(VmLoopback, HelloDigestsFollowTheChain) {
  TempDir dir;
  const std::string image = RandomImage(dir, 4096, 13);
  Loopback lb;
  lb.server.SetSessionHandler([](VmInitiator&) {});
  ASSERT_TRUE(lb.Start());
  VMConnection::ResetHandshakeChain();
  auto c = lb.Connection(VmKind::ImageFile, image);
  ASSERT_EQ(c->Connect("x"), 0);
  ASSERT_TRUE(lb.server.WaitSessions(1, 10000));
  c->Disconnect();
  ASSERT_EQ(c->Connect("x"), 0);
  ASSERT_TRUE(lb.server.WaitSessions(2, 10000));
  c->Disconnect();
  // OpenSSL's MD5 is the oracle: MD5(key, 16 zeros), then MD5(key, first digest).
  uint8_t input[32] = {};
  std::memcpy(input, lb.key.data(), 16);
  uint8_t first[16], second[16];
  auto md5 = [](const uint8_t* data, size_t n, uint8_t* out) {
    unsigned length = 0;
    ASSERT_EQ(1, EVP_Digest(data, n, out, &length, EVP_md5(), nullptr));
  };
  md5(input, 32, first);
  std::memcpy(input + 16, first, 16);
  md5(input, 32, second);
  auto hex = [](const uint8_t* d) { return HexBytes(d, 16); };
  std::vector<std::string> digests;
  for (auto& line : lb.server.LogLines()) {
    auto at = line.find("\"digest\":\"");
    if (at != std::string::npos) digests.push_back(line.substr(at + 10, 32));
  }
  ASSERT_EQ(digests.size(), 2u);
  EXPECT_EQ(digests[0], hex(first));
  EXPECT_EQ(digests[1], hex(second));
  const auto chain = VMConnection::HandshakeChain();
  EXPECT_EQ(0, std::memcmp(chain.data(), second, 16));
}

// A server that answers the hello with fixed bytes (or not at all).
void RawServer(const std::vector<uint8_t>& answer, int expected) {
  TempDir dir;
  const std::string image = RandomImage(dir, 4096, 15);
  auto listener = TcpSocket::Listen("127.0.0.1", 0);
  ASSERT_TRUE(listener);
  std::thread server([&] {
    auto s = listener->Accept();
    if (!s) return;
    uint8_t hello[18];
    s->ReceiveAll(hello, sizeof hello);
    if (!answer.empty()) s->SendAll(answer.data(), answer.size());
    uint8_t sink[16];
    s->SetReceiveTimeout(10000);
    s->Receive(sink, sizeof sink);  // until the client gives up
  });
  vmtest::SteppingClock clock;
  testing::FakeHost host;
  FixedTargetChooser chooser(image);
  const VmConnectionSettings settings{.server = "127.0.0.1",
                                      .port = listener->LocalPort(),
                                      .host = &host,
                                      .chooser = &chooser,
                                      .clock = &clock};
  VMConnection c(VmKind::ImageFile, settings);
  EXPECT_EQ(c.Connect("x"), expected);
  EXPECT_EQ(c.LastMessage(), "Unable to connect to drive.");
  server.join();
}

TEST(VmLoopback, SilentServerOrAnOddAcceptMeansUnableToConnect) {
  RawServer({}, -5 - 0x10);
  RawServer({0x20, 0x01, 0, 0}, -5 - 0x20);  // an accept with a non-zero second byte
}

TEST(VmLoopback, NothingListeningIsAConnectFailure) {
  auto listener = TcpSocket::Listen("127.0.0.1", 0);
  const uint16_t port = listener->LocalPort();
  listener.reset();
  TempDir dir;
  FixedTargetChooser chooser(RandomImage(dir, 4096, 16));
  const VmConnectionSettings settings{.server = "127.0.0.1", .port = port, .chooser = &chooser};
  VMConnection c(VmKind::ImageFile, settings);
  EXPECT_EQ(c.Connect("x"), VMConnection::kConnectFailed);
}

// ---- Abandoning a connect ----

// A clock that stands still: a hello's answer is waited for until the connect is given up.
class StillClock : public Clock {
 public:
  uint32_t NowMs() override { return 0; }
  bool SleepMs(uint32_t, const std::atomic<bool>* stop) override { return !(stop && *stop); }
};

// Disconnect or Close from another thread gives up a Connect that waits for the server, at the
// TCP connect to an address that never answers or at the hello's answer: kCancelled, no message
// box, no socket left. A closed connection connects no more.
TEST(VmLoopback, AConnectWaitingForTheServerIsAbandoned) {
  vmtest::UnansweredPort unanswered;
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
      uint8_t sink[4];
      s->SetReceiveTimeout(20000);
      s->Receive(sink, sizeof sink);  // until the client gives up
    }
  });
  struct Case {
    bool atHello;
    bool close;
  };
  for (const Case c :
       {Case{false, false}, Case{false, true}, Case{true, false}, Case{true, true}}) {
    SCOPED_TRACE(std::string(c.atHello ? "hello" : "connect") + (c.close ? ", Close" : ""));
    StillClock clock;
    testing::FakeHost host;
    FixedTargetChooser chooser(image);
    const VmConnectionSettings settings{
        .server = "127.0.0.1",
        .port = c.atHello ? listener->LocalPort() : unanswered.port(),
        .host = &host,
        .chooser = &chooser,
        .clock = &clock};
    VMConnection connection(VmKind::ImageFile, settings);
    const int hellosBefore = hellos;
    std::future<int> result =
        std::async(std::launch::async, [&] { return connection.Connect("x"); });
    // Given up in any case, so that no assertion below leaves the future waiting for minutes.
    struct GiveUp {
      VMConnection& connection;
      ~GiveUp() { connection.Close(); }
    } giveUp{connection};
    ASSERT_TRUE(testing::WaitUntil(
        [&] { return c.atHello ? hellos > hellosBefore : connection.IsConnected(); }, 10000));
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    if (c.close) {
      connection.Close();
    } else {
      connection.Disconnect();
    }
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), VMConnection::kCancelled);
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_FALSE(connection.IsServing());
    EXPECT_TRUE(host.Boxes().empty());
    EXPECT_EQ(connection.LastMessage(), "");
    if (c.close) {
      EXPECT_EQ(connection.Connect("x"), VMConnection::kCancelled);
    }
  }
  listener->Close();
  server.join();
}

// ---- Choosing the medium ----

// The hello class a mount of this path as kind sends, or -1 with the connect result in *result.
int HelloClass(VmKind kind, const std::string& path, int* result, std::string* message = nullptr) {
  Loopback lb;
  lb.server.SetSessionHandler([](VmInitiator&) {});
  if (!lb.Start()) return -2;
  auto c = lb.Connection(kind, path);
  *result = c->Connect("x");
  if (message) *message = c->LastMessage();
  if (*result != 0) return -1;
  lb.server.WaitSessions(1, 10000);
  c->Disconnect();
  for (auto& line : lb.server.LogLines()) {
    auto at = line.find("\"class\":");
    if (at != std::string::npos) return line[at + 8] - '0';
  }
  return -3;
}

TEST(VmLoopback, TheMediumChoosesTheHelloClassOrIsRefused) {
  TempDir dir;
  vmtest::SparseFile(dir / "small.img", 1478656);
  vmtest::SparseFile(dir / "large.img", 1478657);
  for (const char* name : {"a.iso", "b.ISO", "c.img"}) vmtest::SparseFile(dir / name, 2048 * 16);
  vmtest::SparseFile(dir / "big/a", 1100u << 20);
  vmtest::WriteText(dir / "small/a.txt", "a");
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
    int result = 0;
    std::string message;
    EXPECT_EQ(HelloClass(c.kind, c.path, &result, &message), c.helloClass);
    if (c.helloClass < 0) {
      EXPECT_EQ(message, c.message);
      EXPECT_EQ(result, -1);
    }
  }
}

}  // namespace
}  // namespace remcons
