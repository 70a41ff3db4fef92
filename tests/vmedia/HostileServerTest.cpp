// A misbehaving server: oversized transfers, huge block addresses, short requests, long parameter
// lists, unknown operation codes and disconnects in the middle of write data. The client answers
// or closes cleanly, nothing overruns (the sanitizer build runs these too) and refused writes leave
// the image untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "VmHarness.h"
#include "VmTestUtil.h"

namespace remcons {
namespace {

using sim::VmInitiator;
using sim::VmReply;
using vmtest::Loopback;
using vmtest::TempDir;

using vmtest::Cdb;
using vmtest::ExpectSense;
using vmtest::Rw10;
using vmtest::Rw12;

// Makes the unit ready.
void Ready(VmInitiator& in) {
  VmReply r;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
  ExpectSense(r, 0, 0, 0);
}

// Serves an image (or folder) to a hostile handler; returns how serving ended.
std::string Serve(VmKind kind, const std::string& path, sim::VmSimServer::SessionHandler handler) {
  Loopback lb;
  return vmtest::ServeOnce(lb, kind, path, std::move(handler));
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = vmtest::RandomBytes(size_t(4) << 20, 21);  // 8,192 blocks
    vmtest::WriteFile(image(), original_);
  }
  std::string image() const { return dir_ / "disk.img"; }
  TempDir dir_;
  std::vector<uint8_t> original_;
};

// Reads through and past the buffer and the medium's end, oversized and huge addresses, unknown
// operation codes: each answered, and the connection still in step.
TEST_F(Hostile, ReadsAtAndBeyondEveryLimit) {
  Serve(VmKind::ImageFile, image(), [&](VmInitiator& in) {
    Ready(in);
    VmReply r;
    // 1,000 blocks: four times the device buffer, one header.
    ASSERT_TRUE(in.Command(Rw10(0x28, 100, 1000).data(), &r));
    ExpectSense(r, 0, 0, 0);
    ASSERT_EQ(r.data.size(), 512000u);
    EXPECT_EQ(0, std::memcmp(r.data.data(), original_.data() + 51200, 512000));
    // The same through READ(12).
    ASSERT_TRUE(in.Command(Rw12(0xA8, 8000, 192).data(), &r));
    ASSERT_EQ(r.data.size(), 192u * 512);
    EXPECT_EQ(0, std::memcmp(r.data.data(), original_.data() + 8000 * 512, 192 * 512));
    // Fill the device buffer with medium bytes first, then read across the end.
    ASSERT_TRUE(in.Command(Rw10(0x28, 0, 256).data(), &r));
    ASSERT_TRUE(in.Command(Rw10(0x28, 8190, 300).data(), &r));
    ExpectSense(r, 0, 0, 0);
    ASSERT_EQ(r.data.size(), 300u * 512);
    EXPECT_EQ(0, std::memcmp(r.data.data(), original_.data() + 8190 * 512, 1024));
    EXPECT_TRUE(std::all_of(r.data.begin() + 1024, r.data.end(), [](uint8_t b) { return b == 0; }));
    ASSERT_TRUE(in.Command(Rw12(0xA8, 0, 0x10000).data(), &r));
    ExpectSense(r, 5, 0x24, 0);
    ASSERT_TRUE(in.Command(Rw12(0xA8, 0, 0xFFFFFFFF).data(), &r));
    ExpectSense(r, 5, 0x24, 0);
    ASSERT_TRUE(in.Command(Rw10(0x28, 0xFFFFFFFF, 1).data(), &r));
    ExpectSense(r, 5, 0x21, 0);
    ASSERT_TRUE(in.Command(Rw10(0x28, 0x80000000, 8).data(), &r));  // negative if signed
    ExpectSense(r, 5, 0x21, 0);
    ASSERT_TRUE(in.Command(Rw10(0x28, 8192, 1).data(), &r));
    ExpectSense(r, 5, 0x21, 0);
    for (uint8_t op : {0x01, 0x12, 0x5A, 0x9E, 0xFF}) {
      ASSERT_TRUE(in.Command(Cdb({op}).data(), &r)) << int(op);
      ExpectSense(r, 5, 0x20, 0);
    }
    ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
    ExpectSense(r, 0, 0, 0);
  });
}

// Writes outside the medium and format parameter lists of any length are refused, their data
// consumed, and the image left untouched.
TEST_F(Hostile, RefusedWritesAndFormatsLeaveTheMediumUntouched) {
  Serve(VmKind::ImageFile, image(), [&](VmInitiator& in) {
    Ready(in);
    VmReply r;
    std::vector<uint8_t> data(300 * 512, 0xEE);
    // Starting inside, ending outside: refused as a whole, data consumed.
    ASSERT_TRUE(in.Command(Rw10(0x2A, 8191, 2).data(), &r, data.data(), 1024));
    ExpectSense(r, 5, 0x21, 0);
    ASSERT_TRUE(in.Command(Rw10(0x2A, 0xFFFFFFF0, 1).data(), &r, data.data(), 512));
    ExpectSense(r, 5, 0x21, 0);
    ASSERT_TRUE(in.Command(Rw10(0x2E, 9000, 300).data(), &r, data.data(), data.size()));
    ExpectSense(r, 5, 0x21, 0);
    // 65,535 bytes of parameter list, far beyond the 100 a format needs.
    std::vector<uint8_t> list(65535, 0xAB);
    ASSERT_TRUE(in.Command(Cdb({0x04, 0x17, 0, 0, 0, 0, 0, 0xFF, 0xFF}).data(), &r, list.data(),
                           list.size()));
    ExpectSense(r, 5, 0x26, 0);
    // Too short to hold a format descriptor.
    ASSERT_TRUE(in.Command(Cdb({0x04, 0x17, 0, 0, 0, 0, 0, 0, 4}).data(), &r, list.data(), 4));
    ExpectSense(r, 5, 0x26, 0);
    ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
    ExpectSense(r, 0, 0, 0);
  });
  EXPECT_EQ(vmtest::ReadFile(image()), original_);
}

TEST_F(Hostile, LongWritesLandInPieces) {
  std::vector<uint8_t> data = vmtest::RandomBytes(600 * 512, 22);
  Serve(VmKind::ImageFile, image(), [&](VmInitiator& in) {
    Ready(in);
    VmReply r;
    ASSERT_TRUE(in.Command(Rw12(0xAA, 1000, 600).data(), &r, data.data(), data.size()));
    ExpectSense(r, 0, 0, 0);
  });
  auto expected = original_;
  std::memcpy(expected.data() + 1000 * 512, data.data(), data.size());
  EXPECT_EQ(vmtest::ReadFile(image()), expected);
}

TEST_F(Hostile, HugeWriteIsRefusedAndTheConnectionClosed) {
  const std::string reason = Serve(VmKind::ImageFile, image(), [&](VmInitiator& in) {
    Ready(in);
    VmReply r;
    ASSERT_TRUE(in.Command(Rw12(0xAA, 0, 0x01000000).data(), &r));
    ExpectSense(r, 5, 0x24, 0);
    EXPECT_TRUE(in.WaitClosed(10000));
  });
  EXPECT_EQ(reason, "Connection closed.");
  EXPECT_EQ(vmtest::ReadFile(image()), original_);
}

TEST_F(Hostile, DisconnectInTheMiddleOfWriteDataWritesNothing) {
  const std::string reason = Serve(VmKind::ImageFile, image(), [&](VmInitiator& in) {
    Ready(in);
    const auto write = Rw10(0x2A, 10, 8);
    ASSERT_TRUE(in.SendRaw(write.data(), 12));
    std::vector<uint8_t> part(3000, 0x77);
    ASSERT_TRUE(in.SendRaw(part.data(), part.size()));
    // The handler returns: the connection is closed with 1,096 bytes missing.
  });
  EXPECT_EQ(reason, "Connection closed.");
  EXPECT_EQ(vmtest::ReadFile(image()), original_);
}

TEST_F(Hostile, ShortRequestsAreGatheredOrEndCleanly) {
  Serve(VmKind::ImageFile, image(), [&](VmInitiator& in) {
    Ready(in);
    VmReply r;
    // A request in three pieces is one request.
    const auto read = Rw10(0x28, 3, 1);
    ASSERT_TRUE(in.SendRaw(read.data(), 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(in.SendRaw(read.data() + 5, 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(in.SendRaw(read.data() + 9, 3));
    ASSERT_TRUE(in.ReadReply(&r, 5000));
    ExpectSense(r, 0, 0, 0);
    ASSERT_EQ(r.data.size(), 512u);
    EXPECT_EQ(0, std::memcmp(r.data.data(), original_.data() + 3 * 512, 512));
  });
  const std::string reason = Serve(VmKind::ImageFile, image(), [&](VmInitiator& in) {
    const uint8_t piece[5] = {0x28, 0, 0, 0, 0};
    ASSERT_TRUE(in.SendRaw(piece, sizeof piece));  // then the server goes away
  });
  EXPECT_EQ(reason, "Connection closed.");
}

TEST(HostileFolder, WritesAndFormatsAreRefusedAndTheConnectionStaysUsable) {
  TempDir dir;
  vmtest::WriteFile(dir / "src/a.bin", vmtest::RandomBytes(5000, 23));
  Serve(VmKind::Folder, dir / "src", [&](VmInitiator& in) {
    Ready(in);
    VmReply r;
    std::vector<uint8_t> data(4096, 1);
    ASSERT_TRUE(in.Command(Rw10(0x2A, 0, 8).data(), &r, data.data(), data.size()));
    ExpectSense(r, 7, 0x27, 0);
    EXPECT_TRUE(r.writeProtected());
    std::vector<uint8_t> list = {0, 0xB0, 0, 8, 0, 0, 0x0B, 0x40, 0, 0, 2, 0};
    ASSERT_TRUE(
        in.Command(Cdb({0x04, 0x17, 0, 0, 0, 0, 0, 0, 12}).data(), &r, list.data(), list.size()));
    ExpectSense(r, 7, 0x27, 0);
    ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
    ExpectSense(r, 0, 0, 0);
  });
  EXPECT_EQ(vmtest::ReadFile(dir / "src/a.bin"), vmtest::RandomBytes(5000, 23));
}

TEST(HostileCdImage, OversizedReadsAndUnknownCodes) {
  TempDir dir;
  const auto bytes = vmtest::RandomBytes(2048 * 200, 24);
  vmtest::WriteFile(dir / "disc.iso", bytes);
  Serve(VmKind::CdImage, dir / "disc.iso", [&](VmInitiator& in) {
    VmReply r;
    ASSERT_TRUE(in.Command(Rw10(0x28, 10, 150).data(), &r));  // 300 KiB
    ExpectSense(r, 0, 0, 0);
    ASSERT_EQ(r.data.size(), 150u * 2048);
    EXPECT_EQ(0, std::memcmp(r.data.data(), bytes.data() + 10 * 2048, r.data.size()));
    ASSERT_TRUE(in.Command(Rw12(0xA8, 0, 0x00100000).data(), &r));
    ExpectSense(r, 5, 0x24, 0);
    ASSERT_TRUE(in.Command(Rw10(0x28, 200, 1).data(), &r));
    ExpectSense(r, 5, 0x21, 0);
    ASSERT_TRUE(in.Command(Cdb({0x2A}).data(), &r));  // no writes on a CD image
    ExpectSense(r, 5, 0x24, 0);
    // A table of contents asked with the largest allocation.
    ASSERT_TRUE(in.Command(Cdb({0x43, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}).data(), &r));
    EXPECT_EQ(r.data.size(), 412u);
  });
}

// FORMAT UNIT of track 79, side 1: on a 720K image its nine blocks become F6; on an image too small
// for the track it is a medium error and nothing changes.
TEST(FloppyFormat, ATrackIsFilledOrTheFormatFailsCleanly) {
  struct Case {
    size_t size;
    std::vector<uint8_t> list;  // the format's parameter list
    uint8_t key, asc;
  };
  const Case cases[] = {
      {737280, {0, 0xB1, 0, 8, 0, 0, 0x05, 0xA0, 0, 0, 2, 0}, 0, 0},  // 1,440 blocks
      {100 * 1024, {0, 0xB0, 0, 8, 0, 0, 0x0B, 0x40, 0, 0, 2, 0}, 3, 0x10},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const auto original = vmtest::RandomBytes(c.size, uint32_t(c.size));
    vmtest::WriteFile(dir / "f.img", original);
    Serve(VmKind::ImageFile, dir / "f.img", [&](VmInitiator& in) {
      Ready(in);
      VmReply r;
      ASSERT_TRUE(in.Command(Cdb({0x04, 0x17, 79, 0, 0, 0, 0, 0, 12}).data(), &r, c.list.data(),
                             c.list.size()));
      ExpectSense(r, c.key, c.asc, 0);
      ASSERT_TRUE(in.Command(Cdb({0x00}).data(), &r));
      ExpectSense(r, 0, 0, 0);
    });
    auto expected = original;
    if (c.key == 0) {
      const size_t track = (79 * 2 + 1) * 9 * 512;
      std::fill(expected.begin() + track, expected.begin() + track + 9 * 512, 0xF6);
    }
    EXPECT_EQ(vmtest::ReadFile(dir / "f.img"), expected);
  }
}

}  // namespace
}  // namespace remcons
