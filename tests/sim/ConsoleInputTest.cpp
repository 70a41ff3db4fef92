// The receive side across key changes: the console switches its send keystream between two of
// its writes at a moment the server cannot see; the held bytes must be read with the right key
// on each side of the switch, whatever mix of commands and characters they hold.
#include <gtest/gtest.h>

#include <random>

#include "ConsolePeer.h"
#include "sim/ConsoleInput.h"

namespace remcons::sim {
namespace {

using testing::Bytes;

const Bytes kHidA = {0xFF, 0xD6, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kHidUp = {0xFF, 0xD6, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kMove = {0xFF, 0xD0, 0x01, 0xFF, 0x02, 0x00, 0x03, 0x00};
const Bytes kIdle = {0x1B, '[', '&'};

class ConsoleInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(remcons::testing::LoadLegacyProvider());
    const ConsoleKeys keys = testing::TestKeys(4);
    send_ = std::make_unique<testing::OracleStream>(keys.decryptKey);
    input_ = std::make_unique<ConsoleInput>(std::make_unique<RC4Stream>(keys.decryptKey.data()),
                                            keys.decryptKey.data(), ConsoleInput::Options{});
    out_.clear();
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
  // One key change: the writes around the console's switch (the first switchAt of them with the
  // old key), the server's read confirmed once confirmAt of them have arrived, the wire delivered
  // in pieces of 1 to maxPiece bytes (0: whole).
  void Window(const std::vector<Bytes>& writes, size_t switchAt, size_t confirmAt,
              int maxPiece = 0) {
    input_->BeginKeyChange(++now_);
    Bytes wire;
    size_t confirmOffset = 0;
    for (size_t i = 0; i <= writes.size(); ++i) {
      if (i == switchAt) send_->Rekey();
      if (i == confirmAt) confirmOffset = wire.size();
      if (i == writes.size()) break;
      const Bytes w = Write(writes[i]);
      wire.insert(wire.end(), w.begin(), w.end());
    }
    const auto deliver = [&](size_t from, size_t to) {
      for (size_t n; from < to; from += n) {
        n = std::min<size_t>(to - from, maxPiece ? 1 + random_() % maxPiece : to - from);
        Feed(Bytes(wire.begin() + static_cast<std::ptrdiff_t>(from),
                   wire.begin() + static_cast<std::ptrdiff_t>(from + n)),
             now_);
      }
    };
    deliver(0, confirmOffset);
    input_->ConfirmKeyChange(++now_);
    deliver(confirmOffset, wire.size());
    EXPECT_TRUE(input_->KeyChangePending());
    now_ += 50;
    input_->Tick(now_, &out_);
    EXPECT_FALSE(input_->KeyChangePending());
  }

  std::unique_ptr<testing::OracleStream> send_;
  std::unique_ptr<ConsoleInput> input_;
  std::vector<ClientPacket> out_;
  uint32_t now_ = 0;
  std::mt19937 random_{99};
};

TEST_F(ConsoleInputTest, HeldBytesAreSplitWhereTheConsoleSwitched) {
  const struct {
    std::string name;
    std::vector<Bytes> writes;
    size_t switchAt;
    size_t confirmedAfter;  // writes that had arrived when the read was confirmed
  } scenarios[] = {
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
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.name);
    SetUp();
    Feed(Write(kIdle), 0);  // traffic before the change goes straight through
    Window(s.writes, s.switchAt, s.confirmedAfter);
    EXPECT_EQ(input_->generation(), 1);
    Feed(Write(kHidUp), 100);  // and afterwards the new key holds
    std::vector<Bytes> expected = {kIdle};
    expected.insert(expected.end(), s.writes.begin(), s.writes.end());
    expected.push_back(kHidUp);
    EXPECT_EQ(Received(), expected);
  }
}

TEST_F(ConsoleInputTest, ManyKeyChangesWithRandomTraffic) {
  const std::vector<Bytes> menu = {kHidA, kHidUp, kMove, kIdle, {0x1B, '[', '('}, {0xFF, 0xBD}};
  std::vector<Bytes> expected;
  for (int change = 0; change < 200; ++change) {
    // Some traffic before, the switch somewhere in the window, the confirmation anywhere.
    for (int i = static_cast<int>(random_() % 3); i > 0; --i) {
      expected.push_back(menu[random_() % menu.size()]);
      Feed(Write(expected.back()), ++now_);
    }
    std::vector<Bytes> window(random_() % 5);
    for (auto& w : window) w = menu[random_() % menu.size()];
    expected.insert(expected.end(), window.begin(), window.end());
    const size_t switchAt = random_() % (window.size() + 1);
    Window(window, switchAt, random_() % (window.size() + 1), 7);
  }
  EXPECT_EQ(input_->generation(), 200);
  EXPECT_EQ(Received(), expected);
}

TEST_F(ConsoleInputTest, ClearSessionsCountGenerationsAndHoldNothing) {
  ConsoleInput clear(nullptr, nullptr, ConsoleInput::Options{});
  clear.BeginKeyChange(0);
  EXPECT_FALSE(clear.KeyChangePending());
  EXPECT_EQ(clear.generation(), 1);
  clear.Feed(kIdle.data(), kIdle.size(), 1, &out_);
  ASSERT_EQ(out_.size(), 1u);
  EXPECT_EQ(out_[0].kind, PacketKind::kKeepAliveIdle);
}

TEST_F(ConsoleInputTest, IncompletePacketIsDroppedAfterTheTimeOut) {
  Feed(Write({0xFF, 0xD0, 0x01}), 1000);
  input_->Tick(1000 + 999, &out_);
  EXPECT_TRUE(out_.empty());
  input_->Tick(1000 + 1000, &out_);
  Feed(Write(kIdle), 3000);  // the stream goes on in step
  ASSERT_EQ(out_.size(), 2u);
  EXPECT_EQ(out_[0].kind, PacketKind::kTruncated);
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
