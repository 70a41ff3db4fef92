// CScsiCdrom on a fake pass-through backend: the table, retries, split reads, the guard near the
// end of the disc and the synthesized media change.
#include "vmedia/ScsiCdrom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <thread>

#include "VmHarness.h"
#include "platform/Socket.h"
#include "sim/VmInitiator.h"
#include "support/FakeHost.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using sim::VmReply;

struct Call {
  std::array<uint8_t, 12> cdb;
  int direction;
  uint32_t length;
  const uint8_t* data;
};

class FakePassThrough : public ScsiPassThrough {
 public:
  using Respond =
      std::function<int(const Call&, uint8_t* data, uint8_t* sense, uint32_t* senseLength)>;
  FakePassThrough(std::vector<Call>* calls, Respond respond, uint32_t* changeCount)
      : calls_(calls), respond_(std::move(respond)), changeCount_(changeCount) {}
  int Execute(const uint8_t* cdb, int, int direction, uint8_t* data, uint32_t length,
              uint8_t* sense, uint32_t, uint32_t* senseLength) override {
    Call c{};
    std::memcpy(c.cdb.data(), cdb, 12);
    c.direction = direction;
    c.length = length;
    c.data = data;
    calls_->push_back(c);
    *senseLength = 0;
    return respond_(c, data, sense, senseLength);
  }
  bool MediaChangeCount(uint32_t* count) override {
    *count = *changeCount_;
    return true;
  }

 private:
  std::vector<Call>* calls_;
  Respond respond_;
  uint32_t* changeCount_;
};

// Fixed-format sense data with this key and ASC.
int Sense(uint8_t* sense, uint32_t* senseLength, uint8_t key, uint8_t asc) {
  std::memset(sense, 0, 18);
  sense[0] = 0x70;
  sense[2] = key;
  sense[7] = 10;
  sense[12] = asc;
  *senseLength = 18;
  return 0;
}

uint8_t Pattern(uint32_t lba, size_t i) {
  return uint8_t(lba * 13 + i);
}

// Fills a read's data with the pattern of its blocks.
int ServeRead(const Call& c, uint8_t* data) {
  const uint32_t lba = LoadBe32(c.cdb.data() + 2);
  for (uint32_t b = 0; b < c.length / 2048; ++b) {
    for (size_t i = 0; i < 2048; ++i) data[b * 2048 + i] = Pattern(lba + b, i);
  }
  return int(c.length);
}

int Capacity(uint8_t* data, uint32_t last) {
  const uint8_t answer[8] = {
      uint8_t(last >> 24), uint8_t(last >> 16), uint8_t(last >> 8), uint8_t(last), 0, 0, 8, 0};
  std::memcpy(data, answer, 8);
  return 8;
}

// A CScsiCdrom on a fake sr0, its socket's far end held by an initiator.
class CdromHarness {
 public:
  explicit CdromHarness(FakePassThrough::Respond respond) {
    sysfs_.Add("sr0", "1", "5");
    auto listener = TcpSocket::Listen("127.0.0.1", 0);
    client_ = TcpSocket::Create();
    EXPECT_TRUE(client_->Connect("127.0.0.1", listener->LocalPort()));
    initiator_ = std::make_unique<sim::VmInitiator>(listener->Accept(), 2, nullptr);
    ScsiContext context;
    context.host = &host;
    context.roots = sysfs_.roots();
    device_ = std::make_unique<CScsiCdrom>(
        client_.get(), "sr0", context,
        std::make_unique<FakePassThrough>(&calls, std::move(respond), &changeCount));
  }
  // Sends a request and lets the device answer it.
  bool Request(const std::vector<uint8_t>& bytes, VmReply* reply) {
    std::array<uint8_t, 12> cdb{};
    std::copy(bytes.begin(), bytes.end(), cdb.begin());
    std::thread device([this] { device_->process(); });
    const bool ok = initiator_->Command(cdb.data(), reply, nullptr, 0, 10000);
    device.join();
    return ok;
  }
  CScsiCdrom& device() { return *device_; }

  std::vector<Call> calls;
  uint32_t changeCount = 0;
  testing::FakeHost host;

 private:
  vmtest::FakeSysfs sysfs_;
  std::unique_ptr<TcpSocket> client_;
  std::unique_ptr<sim::VmInitiator> initiator_;
  std::unique_ptr<CScsiCdrom> device_;
};

// A reply's sense key, ASC and data length.
std::array<uint32_t, 3> KeyAscLength(const VmReply& r) {
  return {r.key, r.asc, r.length};
}

TEST(CScsiCdrom, FailedReadIsRetriedAsASplitRead) {
  int bigReads = 0;
  CdromHarness h([&](const Call& c, uint8_t* data, uint8_t*, uint32_t*) {
    if (c.cdb[0] == 0x25) return Capacity(data, 300000);
    if (c.cdb[0] == 0x28 && c.length > 65536) {
      ++bigReads;
      return -1;  // the adapter cannot move that much at once
    }
    return ServeRead(c, data);
  });
  VmReply r;
  ASSERT_TRUE(h.Request({0x28, 0, 0, 0, 0x03, 0xE8, 0, 0, 40}, &r));  // 40 blocks at 1,000
  ASSERT_EQ(KeyAscLength(r), (std::array<uint32_t, 3>{0, 0, 40 * 2048}));
  for (uint32_t b = 0; b < 40; ++b) {
    for (size_t i = 0; i < 2048; i += 509) ASSERT_EQ(r.data[b * 2048 + i], Pattern(1000 + b, i));
  }
  // The whole read, the capacity, then two halves into the one buffer.
  std::vector<std::array<uint32_t, 4>> calls;
  for (const Call& c : h.calls)
    calls.push_back({c.cdb[0], c.length, LoadBe32(c.cdb.data() + 2), LoadBe16(c.cdb.data() + 7)});
  EXPECT_EQ(calls, (std::vector<std::array<uint32_t, 4>>{{0x28, 40 * 2048, 1000, 40},
                                                         {0x25, 8, 0, 0},
                                                         {0x28, 32 * 2048, 1000, 32},
                                                         {0x28, 8 * 2048, 1032, 8}}));
  ASSERT_EQ(h.calls.size(), 4u);
  EXPECT_EQ(h.calls[3].data - h.calls[2].data, 65536);
  EXPECT_TRUE(h.device().splitReads());
  // Split reads stay on: the next large read goes straight to the halves.
  h.calls.clear();
  ASSERT_TRUE(h.Request({0x28, 0, 0, 0, 0, 0, 0, 0, 64}, &r));
  ASSERT_EQ(r.length, 64u * 2048);
  ASSERT_EQ(h.calls.size(), 2u);
  EXPECT_EQ(bigReads, 1);
}

TEST(CScsiCdrom, FailedReadNearTheEndIsOutOfRange) {
  CdromHarness h([&](const Call& c, uint8_t* data, uint8_t*, uint32_t*) {
    return c.cdb[0] == 0x25 ? Capacity(data, 1000) : -1;
  });
  VmReply r;
  // Limit 925: a start at 950 lies within 75 blocks of the end, and 900 + 30 reaches past it.
  for (auto request : {std::vector<uint8_t>{0x28, 0, 0, 0, 0x03, 0xB6, 0, 0, 10},
                       {0x28, 0, 0, 0, 0x03, 0x84, 0, 0, 30}}) {
    ASSERT_TRUE(h.Request(request, &r));
    EXPECT_EQ(KeyAscLength(r), (std::array<uint32_t, 3>{5, 0x21, 0}));
  }
  EXPECT_FALSE(h.device().splitReads());
}

// Medium errors are retried eleven times under one box, then refused; a power-on reset is
// retried; any other check condition is passed on.
TEST(CScsiCdrom, ErrorsAreRetriedOrPassedOn) {
  int reads = 0;
  CdromHarness medium([&](const Call& c, uint8_t*, uint8_t* sense, uint32_t* senseLength) {
    reads += c.cdb[0] == 0x28;
    return Sense(sense, senseLength, 3, 0x11);
  });
  testing::TraceCapture trace;
  VmReply r;
  ASSERT_TRUE(medium.Request({0x28, 0, 0, 0, 0, 1, 0, 0, 1}, &r));
  EXPECT_EQ(KeyAscLength(r), (std::array<uint32_t, 3>{5, 0x20, 0}));
  EXPECT_EQ(reads, 11);
  // The box waits for the window thread, not the server's request; the retries under it are
  // counted. Once it is closed, the next error has its own.
  EXPECT_TRUE(medium.host.Boxes().empty());
  EXPECT_EQ(medium.host.RunPosted(), 1);
  EXPECT_TRUE(trace.Contains("10 more not shown")) << ::testing::PrintToString(trace.Texts());
  ASSERT_TRUE(medium.Request({0x28, 0, 0, 0, 0, 1, 0, 0, 1}, &r));
  EXPECT_EQ(medium.host.RunPosted(), 1);
  const auto boxes = medium.host.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (auto& b : boxes)
    EXPECT_EQ(b.text + b.caption, "The CDROM drive reports a media error:\nError");
  reads = 0;
  CdromHarness reset([&](const Call& c, uint8_t* data, uint8_t* sense, uint32_t* senseLength) {
    if (c.cdb[0] == 0x28 && ++reads == 1) return Sense(sense, senseLength, 6, 0x29);
    return ServeRead(c, data);
  });
  ASSERT_TRUE(reset.Request({0x28, 0, 0, 0, 0, 7, 0, 0, 2}, &r));
  EXPECT_EQ(KeyAscLength(r), (std::array<uint32_t, 3>{0, 0, 4096}));
  EXPECT_EQ(reads, 2);
  CdromHarness other([&](const Call&, uint8_t*, uint8_t* sense, uint32_t* senseLength) {
    return Sense(sense, senseLength, 2, 0x3A);
  });
  ASSERT_TRUE(other.Request({0x00}, &r));
  EXPECT_EQ(KeyAscLength(r), (std::array<uint32_t, 3>{2, 0x3A, 0}));
}

TEST(CScsiCdrom, MediaChangeIsSynthesizedOnce) {
  CdromHarness h([&](const Call& c, uint8_t* data, uint8_t*, uint32_t*) {
    return c.cdb[0] == 0x25 ? Capacity(data, 5000) : 0;
  });
  h.changeCount = 3;
  VmReply r;
  const std::pair<std::vector<uint8_t>, std::array<uint32_t, 3>> steps[] = {
      {{0x25}, {6, 0x28, 0}}, {{0x25}, {0, 0, 8}}, {{0x00}, {6, 0x28, 0}}, {{0x00}, {0, 0, 0}}};
  for (const auto& [request, expected] : steps) {
    if (request[0] == 0x00) h.changeCount = 4;
    ASSERT_TRUE(h.Request(request, &r));
    EXPECT_EQ(KeyAscLength(r), expected);
  }
}

TEST(CScsiCdrom, CommandsOutsideTheTableOrTheBufferNeverReachTheDrive) {
  CdromHarness h([&](const Call&, uint8_t*, uint8_t*, uint32_t*) { return 0; });
  VmReply r;
  for (auto request : {std::vector<uint8_t>{0x2A, 0, 0, 0, 0, 0, 0, 0, 1},   // WRITE(10)
                       std::vector<uint8_t>{0x28, 0, 0, 0, 0, 0, 0, 0, 65},  // 65 blocks
                       std::vector<uint8_t>{0xA8, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
                       std::vector<uint8_t>{0xBE, 0, 0, 0, 0, 0, 0, 1, 0}}) {  // READ CD, 256
    ASSERT_TRUE(h.Request(request, &r));
    EXPECT_EQ(KeyAscLength(r), (std::array<uint32_t, 3>{5, 0x20, 0})) << int(request[0]);
  }
  EXPECT_TRUE(h.calls.empty());
}

TEST(CScsiCdrom, ModeSenseTakesTheMediumByteOnlyFromWhatTheDriveReturned) {
  int count = 8;  // what the drive says it transferred
  CdromHarness h([&](const Call& c, uint8_t* data, uint8_t*, uint32_t*) {
    if (c.cdb[0] == 0x28) return ServeRead(c, data);
    // A drive writes no more than it returns.
    const uint8_t header[8] = {0, 6, 0, 0x70};
    std::memcpy(data, header, size_t(std::clamp(count, 0, 8)));
    return count;
  });
  struct Case {
    int count;
    uint8_t medium;
    uint32_t length;
  };
  // After a read has left its bytes in the buffer: a short answer keeps the last medium byte, a
  // count beyond the allocation length sends no more than was asked.
  for (const Case& c : {Case{8, 0x70, 8}, Case{2, 0x70, 2}, Case{3, 0x70, 3}, Case{100000, 0x70, 8},
                        Case{0x7FFFFFFF, 0x70, 8}}) {
    VmReply r;
    ASSERT_TRUE(h.Request({0x28, 0, 0, 0, 0, 5, 0, 0, 1}, &r));  // byte 3 is Pattern(5, 3)
    count = c.count;
    ASSERT_TRUE(h.Request({0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 8}, &r));
    EXPECT_EQ(r.medium, c.medium) << c.count;
    EXPECT_EQ(r.length, c.length) << c.count;
    count = 8;
  }
  // START STOP UNIT counts as done without data whatever the drive said.
  VmReply r;
  ASSERT_TRUE(h.Request({0x1B, 0, 0, 0, 2}, &r));
  EXPECT_EQ(KeyAscLength(r), (std::array<uint32_t, 3>{0, 0, 0}));
}

TEST(CScsiCdrom, TransferLengthsFromTheTable) {
  const uint8_t readCd[12] = {0xBE, 0, 0, 0, 0, 0, 0x00, 0x00, 0x03};
  const uint8_t mechanism[12] = {0xBD, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02};
  const uint8_t toc[12] = {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24};
  const uint8_t header[12] = {0x44};
  EXPECT_EQ(CScsiCdrom::TransferLength(*CScsiCdrom::Find(0xBE), readCd), 3u * 2048);
  EXPECT_EQ(CScsiCdrom::TransferLength(*CScsiCdrom::Find(0xBD), mechanism), 0x102u);
  EXPECT_EQ(CScsiCdrom::TransferLength(*CScsiCdrom::Find(0x43), toc), 0x324u);
  EXPECT_EQ(CScsiCdrom::TransferLength(*CScsiCdrom::Find(0x44), header), 8u);
  EXPECT_EQ(CScsiCdrom::Direction(*CScsiCdrom::Find(0x00)), ScsiPassThrough::kNoData);
  EXPECT_EQ(CScsiCdrom::Direction(*CScsiCdrom::Find(0x28)), ScsiPassThrough::kDataIn);
  EXPECT_EQ(CScsiCdrom::Find(0x2A), nullptr);
}

}  // namespace
}  // namespace remcons
