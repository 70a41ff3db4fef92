// The server's receive side: the start sequence (header or none, any split, bytes before it, the
// login forms, the failures), and key changes, where the console switches its send keystream
// between two of its writes at a moment the server cannot see; the held bytes must be read with
// the right key on each side of the switch, whatever mix of commands and characters they hold.
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

// Each key change: some writes with the old key, the console's switch somewhere in a window of
// writes, the server's read confirmed after any of them, the wire in pieces of 1 to 7 bytes.
TEST_F(ConsoleInputTest, HeldBytesAreSplitWhereTheConsoleSwitched) {
  const std::vector<Bytes> menu = {kHidA,
                                   kIdle,
                                   {0xFF, 0xD0, 0x01, 0xFF, 0x02, 0x00, 0x03, 0x00},
                                   {0x1B, '[', '('},
                                   {0xFF, 0xBD}};
  // Characters alone are told apart by where they fall around commands.
  const std::tuple<std::vector<Bytes>, size_t, size_t> fixed[] = {
      {{{'a'}, kHidA, {'b'}, kIdle, {'c'}}, 3, 3}, {{{'x'}}, 1, 1}, {{{'x'}}, 0, 0}};
  std::mt19937 random(99);
  std::vector<Bytes> expected;
  uint32_t now = 0;
  for (int change = 0; change < 200; ++change) {
    for (int i = static_cast<int>(random() % 3); i > 0; --i) {
      expected.push_back(menu[random() % menu.size()]);
      Feed(Write(expected.back()), ++now);
    }
    std::vector<Bytes> window(random() % 5);
    for (auto& w : window) w = menu[random() % menu.size()];
    size_t switchAt = random() % (window.size() + 1), confirmAt = random() % (window.size() + 1);
    if (change < 3) std::tie(window, switchAt, confirmAt) = fixed[change];
    expected.insert(expected.end(), window.begin(), window.end());
    input_.BeginKeyChange(++now);
    Bytes wire;
    size_t confirmOffset = 0;
    for (size_t i = 0; i <= window.size(); ++i) {
      if (i == switchAt) send_.Rekey();
      if (i == confirmAt) confirmOffset = wire.size();
      if (i == window.size()) break;
      const Bytes w = Write(window[i]);
      wire.insert(wire.end(), w.begin(), w.end());
    }
    const auto deliver = [&](size_t from, size_t to) {
      for (size_t n; from < to; from += n) {
        n = std::min<size_t>(to - from, 1 + random() % 7);
        Feed(Bytes(wire.begin() + long(from), wire.begin() + long(from + n)), now);
      }
    };
    deliver(0, confirmOffset);
    input_.ConfirmKeyChange(++now);
    deliver(confirmOffset, wire.size());
    EXPECT_TRUE(input_.KeyChangePending());
    now += 50;
    input_.Tick(now, &out_);
    EXPECT_FALSE(input_.KeyChangePending());
  }
  EXPECT_EQ(input_.generation(), 200);
  EXPECT_EQ(Received(), expected);
}

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

struct Parsed {
  Status status = Status::kMore;
  StartSequence result;
  std::string error;
  Bytes rest;  // bytes after the start, deciphered with the parser's stream
};

// Feeds the bytes cut at the given offsets; keys are known for key index 0 only.
Parsed Parse(const Bytes& bytes, std::vector<size_t> cuts, bool quietAtEnd = false) {
  const ConsoleKeys keys = TestKeys();
  StartSequenceParser parser([&](uint32_t index) -> const uint8_t* {
    return index == 0 ? keys.decryptKey.data() : nullptr;
  });
  Parsed p;
  size_t at = 0;
  cuts.push_back(bytes.size());
  for (size_t end : cuts) {
    end = std::min(end, bytes.size());
    if (p.status != Status::kMore) break;
    size_t used = 0;
    p.status = parser.Feed(bytes.data() + at, end - at, &used);
    if (p.status == Status::kDone) p.rest.assign(bytes.begin() + long(at + used), bytes.end());
    at = end;
  }
  if (p.status == Status::kMore && quietAtEnd) p.status = parser.Quiet();
  p.result = parser.result();
  p.error = parser.error();
  if (auto stream = parser.TakeReceiveStream()) stream->Apply(p.rest.data(), p.rest.size());
  return p;
}

TEST(StartSequenceTest, ClearAndEncipheredInEverySplitWithBytesBefore) {
  ASSERT_TRUE(remcons::testing::LoadLegacyProvider());
  const std::vector<Bytes> garbage = {
      {}, {'x', 'y', 'z'}, {0x1B, '[', '7', 0x1B}, {0xFF, 0xFF, 0xC1, 0x1B, 0x1B, '['}};
  const Bytes after = {0x1B, '[', '&', 0xFF, 0xBA};
  for (bool header : {false, true}) {
    for (const auto& before : garbage) {
      OracleStream send(TestKeys().decryptKey);
      Bytes bytes = StartBytes(header, 0, "user\rpass\r", &send, before);
      // Two commands after the start, enciphered as the stream goes on.
      Bytes sent = after;
      if (header) send.Xor(sent.data(), sent.size());
      bytes.insert(bytes.end(), sent.begin(), sent.end());
      std::vector<std::vector<size_t>> splits = {{}, {}};
      for (size_t cut = 1; cut < bytes.size(); ++cut) {
        splits.push_back({cut});
        splits.front().push_back(cut);  // one byte at a time
      }
      for (const auto& cuts : splits) {
        SCOPED_TRACE(::testing::PrintToString(cuts) + " header " + std::to_string(header));
        const Parsed p = Parse(bytes, cuts);
        ASSERT_EQ(p.status, Status::kDone) << p.error;
        EXPECT_EQ(std::tuple(p.result.header, p.result.name, p.result.password, p.result.crCount,
                             p.result.skipped, p.rest),
                  std::tuple(header, "user", "pass", 2, before.size(), after));
      }
    }
  }
}

TEST(StartSequenceTest, LoginFormsEndAtTheSecondCarriageReturnOrWhenTheConsoleGoesQuiet) {
  const struct {
    std::string login;
    bool needsQuiet;
    std::string name, password;
    int crs;
  } cases[] = {
      {"", true, "", "", 0},              // a login shorter than four characters
      {"alice\r", true, "alice", "", 1},  // no ':' in the login
      {"bob\rsecret\r", false, "bob", "secret", 2},
      {"\r\r", false, "", "", 2},  // ":" alone
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.login);
    const Bytes bytes = StartBytes(false, 0, c.login, nullptr);
    EXPECT_EQ(Parse(bytes, {}).status, c.needsQuiet ? Status::kMore : Status::kDone);
    const Parsed p = Parse(bytes, {}, true);
    ASSERT_EQ(p.status, Status::kDone);
    EXPECT_EQ(std::tuple(p.result.name, p.result.password, p.result.crCount),
              std::tuple(c.name, c.password, c.crs));
  }
  // Quiet before the escapes are complete does not end anything.
  EXPECT_EQ(Parse({0x1B, '[', '7', 0x1B}, {}, true).status, Status::kMore);
}

TEST(StartSequenceTest, FailuresSayWhy) {
  ASSERT_TRUE(remcons::testing::LoadLegacyProvider());
  OracleStream send(TestKeys().decryptKey), wrongKeys(TestKeys(9).decryptKey);
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
    const Parsed p = Parse(bytes, {1000, 30000});
    EXPECT_EQ(std::tuple(p.status, p.error), std::tuple(Status::kFailed, error));
  }
}

}  // namespace
}  // namespace remcons::sim
