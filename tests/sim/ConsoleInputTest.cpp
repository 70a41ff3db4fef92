// The server's receive side: clear sessions, packets cut short, floods while a key change waits
// for the console, and starts that fail. Key changes against the console's own connection, at
// every pace, are run by the console service's tests.
#include "sim/ConsoleInput.h"

#include <gtest/gtest.h>

#include <random>

#include "ConsoleRig.h"
#include "sim/StartSequence.h"

namespace remcons::sim {
namespace {

using testing::Bytes;
using testing::OracleStream;
using testing::StartBytes;
using testing::TestKeys;

const Bytes kHidA = {0xFF, 0xD6, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kIdle = {0x1B, '[', '&'};

class ConsoleInputTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(loaded_); }
  // One write of the console, enciphered with its send stream.
  Bytes Write(Bytes plain) {
    send_.Xor(plain.data(), plain.size());
    return plain;
  }
  void Feed(const Bytes& wire, uint32_t now) { input_.Feed(wire.data(), wire.size(), now, &out_); }
  std::vector<Bytes> Received() {
    std::vector<Bytes> r;
    for (const auto& p : out_) r.push_back(p.bytes);
    return r;
  }

  const bool loaded_ = remcons::testing::LoadLegacyProvider();  // before the streams
  const ConsoleKeys keys_ = testing::TestKeys(4);
  testing::OracleStream send_{keys_.decryptKey};
  ConsoleInput input_{std::make_unique<RC4Stream>(keys_.decryptKey.data()), keys_.decryptKey.data(),
                      ConsoleInput::Options{}};
  std::vector<ClientPacket> out_;
};

TEST_F(ConsoleInputTest, ClearSessionsIncompletePacketsAndFloods) {
  ConsoleInput clear(nullptr, nullptr, ConsoleInput::Options{});
  clear.BeginKeyChange(0);
  EXPECT_FALSE(clear.KeyChangePending());
  EXPECT_EQ(clear.generation(), 1);
  // An incomplete packet is dropped after the time-out, and the stream goes on in step.
  Feed(Write({0xFF, 0xD0, 0x01}), 1000);
  input_.Tick(1000 + 999, &out_);
  EXPECT_TRUE(out_.empty());
  input_.Tick(1000 + 1000, &out_);
  Feed(Write(kIdle), 3000);
  ASSERT_EQ(out_.size(), 2u);
  EXPECT_EQ(std::pair(out_[0].kind, out_[1].kind),
            std::pair(PacketKind::kTruncated, PacketKind::kKeepAliveIdle));
  // A flood while waiting for the read is resolved without bound.
  out_.clear();
  input_.BeginKeyChange(3001);
  send_.Rekey();
  Bytes flood;
  while (flood.size() <= ConsoleInput::kMaxHeld)
    flood.insert(flood.end(), kHidA.begin(), kHidA.end());
  Feed(Write(flood), 3002);
  EXPECT_FALSE(input_.KeyChangePending());
  EXPECT_EQ(Received(), std::vector<Bytes>(flood.size() / kHidA.size(), kHidA));
}

using Status = StartSequenceParser::Status;

// Starts that cannot succeed say why. The bytes come in three pieces; keys are known for key
// index 0 only.
TEST(StartSequenceTest, FailuresSayWhy) {
  ASSERT_TRUE(remcons::testing::LoadLegacyProvider());
  const ConsoleKeys keys = TestKeys();
  OracleStream send(keys.decryptKey), wrongKeys(TestKeys(9).decryptKey);
  Bytes noise(StartSequenceParser::kMaxSkipped + 100);  // and never a start
  std::mt19937 random(1);
  for (auto& b : noise) b = static_cast<uint8_t>(random() % 0x1B);
  const std::pair<Bytes, std::string> cases[] = {
      {StartBytes(true, 7, "user\rpass\r", &send), "unknown key index 0x00000007"},
      {StartBytes(true, 0, "user\rpass\r", &wrongKeys),
       "the start sequence does not decipher with the keys of key index 0x00000000"},
      {StartBytes(false, 0, std::string(600, 'a'), nullptr), "login longer than 512 bytes"},
      {noise, "no start sequence in the first 64 KiB"},
  };
  for (const auto& [bytes, error] : cases) {
    StartSequenceParser parser([&](uint32_t index) -> const uint8_t* {
      return index == 0 ? keys.decryptKey.data() : nullptr;
    });
    Status status = Status::kMore;
    size_t at = 0, used = 0;
    for (size_t end : {size_t{1000}, size_t{30000}, bytes.size()}) {
      end = std::min(end, bytes.size());
      if (status == Status::kMore) status = parser.Feed(bytes.data() + at, end - at, &used);
      at = end;
    }
    EXPECT_EQ(std::tuple(status, parser.error()), std::tuple(Status::kFailed, error));
  }
}

}  // namespace
}  // namespace remcons::sim
