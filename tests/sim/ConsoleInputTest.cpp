// The receive side across key changes: the console switches its send keystream between two of
// its writes at a moment the server cannot see; the held bytes must be read with the right key
// on each side of the switch, whatever mix of commands and characters they hold.
#include <gtest/gtest.h>

#include <random>

#include "ConsolePeer.h"
#include "sim/ConsoleInput.h"

namespace remcons::sim {
namespace {

using testing::OracleStream;
using testing::TestKeys;
using Bytes = std::vector<uint8_t>;

const Bytes kHidA = {0xFF, 0xD6, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kHidUp = {0xFF, 0xD6, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kMove = {0xFF, 0xD0, 0x01, 0xFF, 0x02, 0x00, 0x03, 0x00};
const Bytes kIdle = {0x1B, '[', '&'};

class ConsoleInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(remcons::testing::LoadLegacyProvider());
    keys_ = TestKeys(4);
    send_ = std::make_unique<OracleStream>(keys_.decryptKey);
    input_ = std::make_unique<ConsoleInput>(std::make_unique<RC4Stream>(keys_.decryptKey.data()),
                                            keys_.decryptKey.data(), ConsoleInput::Options{});
  }
  // One write of the console, enciphered with its send stream.
  Bytes Write(Bytes plain) {
    send_->Xor(plain.data(), plain.size());
    return plain;
  }
  void Feed(const Bytes& wire, uint32_t now) { input_->Feed(wire.data(), wire.size(), now, &out_); }
  std::vector<Bytes> Received() {
    std::vector<Bytes> r;
    for (const auto& p : out_) r.push_back(p.bytes);
    return r;
  }

  ConsoleKeys keys_;
  std::unique_ptr<OracleStream> send_;
  std::unique_ptr<ConsoleInput> input_;
  std::vector<ClientPacket> out_;
};

// The console's writes around its switch, in the order it made them; switchAt: how many of them
// went out with the old key.
struct Scenario {
  std::string name;
  std::vector<Bytes> writes;
  size_t switchAt;
  size_t confirmedAfter;  // writes that had arrived when the read was confirmed
};

TEST_F(ConsoleInputTest, HeldBytesAreSplitWhereTheConsoleSwitched) {
  const std::vector<Scenario> scenarios = {
      {"nothing in the window", {}, 0, 0},
      {"all before the switch", {kHidA, kHidUp, kMove}, 3, 3},
      {"all after the switch", {kHidA, kHidUp, kMove}, 0, 0},
      {"switch in the middle", {kHidA, kHidUp, kIdle, kMove}, 2, 2},
      {"switch in the middle, confirmed late", {kHidA, kHidUp, kIdle, kMove}, 2, 4},
      {"switch in the middle, confirmed early", {kHidA, kHidUp, kIdle, kMove}, 2, 0},
      {"characters around commands", {{'a'}, kHidA, {'b'}, kIdle, {'c'}}, 3, 3},
      {"one character before", {{'x'}}, 1, 1},
      {"one character after", {{'x'}}, 0, 0},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    SetUp();
    out_.clear();
    // Traffic before the change goes straight through.
    Feed(Write(kIdle), 0);
    input_->BeginKeyChange(10);
    Bytes wire;
    size_t confirmOffset = 0;
    for (size_t i = 0; i < s.writes.size(); ++i) {
      if (i == s.switchAt) send_->Rekey();
      if (i == s.confirmedAfter) confirmOffset = wire.size();
      const Bytes w = Write(s.writes[i]);
      wire.insert(wire.end(), w.begin(), w.end());
    }
    if (s.switchAt >= s.writes.size()) send_->Rekey();
    if (s.confirmedAfter >= s.writes.size()) confirmOffset = wire.size();
    Feed(Bytes(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(confirmOffset)), 11);
    input_->ConfirmKeyChange(12);
    Feed(Bytes(wire.begin() + static_cast<std::ptrdiff_t>(confirmOffset), wire.end()), 13);
    EXPECT_TRUE(input_->KeyChangePending());
    input_->Tick(12 + 50, &out_);
    EXPECT_FALSE(input_->KeyChangePending());
    EXPECT_EQ(input_->generation(), 1);
    // And afterwards the new key holds.
    Feed(Write(kHidUp), 100);
    std::vector<Bytes> expected = {kIdle};
    expected.insert(expected.end(), s.writes.begin(), s.writes.end());
    expected.push_back(kHidUp);
    EXPECT_EQ(Received(), expected);
  }
}

TEST_F(ConsoleInputTest, ManyKeyChangesWithRandomTraffic) {
  std::mt19937 random(99);
  const std::vector<Bytes> menu = {kHidA, kHidUp, kMove, kIdle, {0x1B, '[', '('}, {0xFF, 0xBD}};
  std::vector<Bytes> expected;
  uint32_t now = 0;
  for (int change = 0; change < 200; ++change) {
    // Some traffic before, the switch somewhere in the window, some after.
    for (int i = 0; i < static_cast<int>(random() % 3); ++i) {
      const Bytes& w = menu[random() % menu.size()];
      expected.push_back(w);
      Feed(Write(w), ++now);
    }
    input_->BeginKeyChange(++now);
    const int window = static_cast<int>(random() % 5);
    const int switchAt = static_cast<int>(random() % (window + 1));
    Bytes wire;
    size_t confirmOffset = 0;
    const int confirmAt = static_cast<int>(random() % (window + 1));  // before the switch too
    for (int i = 0; i < window; ++i) {
      if (i == switchAt) send_->Rekey();
      if (i == confirmAt) confirmOffset = wire.size();
      const Bytes& w = menu[random() % menu.size()];
      expected.push_back(w);
      const Bytes e = Write(w);
      wire.insert(wire.end(), e.begin(), e.end());
    }
    if (switchAt == window) send_->Rekey();
    if (confirmAt == window) confirmOffset = wire.size();
    // Delivered in arbitrary pieces.
    size_t at = 0;
    bool confirmed = false;
    while (at < wire.size() || !confirmed) {
      if (!confirmed && at >= confirmOffset) {
        input_->ConfirmKeyChange(++now);
        confirmed = true;
        continue;
      }
      const size_t limit = confirmed ? wire.size() : confirmOffset;
      const size_t n = std::min<size_t>(limit - at, 1 + random() % 7);
      Feed(Bytes(wire.begin() + static_cast<std::ptrdiff_t>(at),
                 wire.begin() + static_cast<std::ptrdiff_t>(at + n)),
           now);
      at += n;
    }
    now += 60;
    input_->Tick(now, &out_);
    ASSERT_FALSE(input_->KeyChangePending());
  }
  EXPECT_EQ(input_->generation(), 200);
  ASSERT_EQ(Received().size(), expected.size());
  EXPECT_EQ(Received(), expected);
}

TEST_F(ConsoleInputTest, ClearSessionsCountGenerationsAndHoldNothing) {
  ConsoleInput clear(nullptr, nullptr, ConsoleInput::Options{});
  clear.BeginKeyChange(0);
  EXPECT_FALSE(clear.KeyChangePending());
  EXPECT_EQ(clear.generation(), 1);
  std::vector<ClientPacket> out;
  clear.Feed(kIdle.data(), kIdle.size(), 1, &out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].kind, PacketKind::kKeepAliveIdle);
}

TEST_F(ConsoleInputTest, IncompletePacketIsDroppedAfterTheTimeOut) {
  const Bytes wire = Write({0xFF, 0xD0, 0x01});
  Feed(wire, 1000);
  input_->Tick(1000 + 999, &out_);
  EXPECT_TRUE(out_.empty());
  input_->Tick(1000 + 1000, &out_);
  ASSERT_EQ(out_.size(), 1u);
  EXPECT_EQ(out_[0].kind, PacketKind::kTruncated);
  // The stream goes on in step.
  Feed(Write(kIdle), 3000);
  ASSERT_EQ(out_.size(), 2u);
  EXPECT_EQ(out_[1].kind, PacketKind::kKeepAliveIdle);
}

TEST_F(ConsoleInputTest, AFloodWhileWaitingIsResolvedWithoutBound) {
  input_->BeginKeyChange(0);
  send_->Rekey();
  Bytes flood;
  while (flood.size() <= ConsoleInput::kMaxHeld)
    flood.insert(flood.end(), kHidA.begin(), kHidA.end());
  Feed(Write(flood), 1);
  EXPECT_FALSE(input_->KeyChangePending());
  EXPECT_EQ(out_.size(), flood.size() / kHidA.size());
  for (const auto& p : out_) ASSERT_EQ(p.bytes, kHidA);
}

}  // namespace
}  // namespace remcons::sim
