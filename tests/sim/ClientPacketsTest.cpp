// The console's byte stream cut into packets: every command by its first bytes, in any split,
// and a way back to the commands after noise.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sim/ClientPackets.h"

namespace remcons::sim {
namespace {

using Bytes = std::vector<uint8_t>;

struct Case {
  Bytes bytes;
  PacketKind kind;
  std::string fields;  // FieldsJson, or the key name for terminal keys
};

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// Every command the console sends, written down from the byte tables.
std::vector<Case> Commands() {
  return {
      {B({0xFF, 0xD6, 0x02, 0x00, 0x04, 0x05, 0, 0, 0, 0}), PacketKind::kHidReport,
       "\"modifiers\":2,\"keys\":[4,5]"},
      {B({0xFF, 0xD0, 0x0A, 0x0A, 0x01, 0x42, 0x01, 0x5F}), PacketKind::kMouseMove,
       "\"dx\":10,\"dy\":10,\"x\":322,\"y\":351"},
      {B({0xFF, 0xD0, 0x81, 0xFF, 0x0B, 0xB8, 0x00, 0x00}), PacketKind::kMouseMove,
       "\"dx\":-127,\"dy\":-1,\"x\":3000,\"y\":0"},
      {B({0xFF, 0xD1, 0x04}), PacketKind::kMousePress, "\"button\":4"},
      {B({0xFF, 0xD2, 0x01}), PacketKind::kMouseRelease, "\"button\":1"},
      {B({0xFF, 0xD3, 0x04, 0x01}), PacketKind::kMouseClick, "\"button\":4,\"clicks\":2"},
      {B({0xFF, 0xBA}), PacketKind::kPowerButton, "\"button\":0,\"name\":\"momentary-press\""},
      {B({0xFF, 0xBB}), PacketKind::kPowerButton, "\"button\":1,\"name\":\"press-and-hold\""},
      {B({0xFF, 0xBC}), PacketKind::kPowerButton, "\"button\":2,\"name\":\"cold-boot\""},
      {B({0xFF, 0xBD}), PacketKind::kPowerButton, "\"button\":3,\"name\":\"reset-system\""},
      {B({0xFF, 0xC6, 0x54, 0x24}), PacketKind::kLeaderPort, "\"port\":9300"},
      {B({0xFF, 0xCA, '1', 'b', 'o', 'b', '\r', 'x', '\r', 0}), PacketKind::kJoinRequest,
       "\"slot\":\"1\",\"text\":\"bob\\rx\\r\""},
      {B({0xFF, 0xCB}), PacketKind::kRequestControl, ""},
      {B({0xFF, 0xCC}), PacketKind::kRelinquishControl, ""},
      {B({0xFF, 0xCF, 'h', 'i', 0}), PacketKind::kSessionNotice, "\"text\":\"hi\""},
      {B({0x1B, '[', '~'}), PacketKind::kRefresh, ""},
      {B({0x1B, '[', '('}), PacketKind::kKeepAliveActivity, ""},
      {B({0x1B, '[', '&'}), PacketKind::kKeepAliveIdle, ""},
      {B({0x1B, '[', '2', 0x1B, '[', 0x7F}), PacketKind::kCtrlAltDel, ""},
      {B({0x1B, '[', 'A'}), PacketKind::kTerminalKey, "Up"},
      {B({0x1B, '[', 'B'}), PacketKind::kTerminalKey, "Down"},
      {B({0x1B, '[', 'F'}), PacketKind::kTerminalKey, "End"},
      {B({0x1B, '[', 'M'}), PacketKind::kTerminalKey, "F1"},
      {B({0x1B, '[', 'X'}), PacketKind::kTerminalKey, "F12"},
      {B({0x1B, '[', 'w'}), PacketKind::kTerminalKey, "Alt+F1"},
      {B({0x1B, '[', '\''}), PacketKind::kTerminalKey, "Alt+F12"},
      {B({0x1B, '[', 'v'}), PacketKind::kTerminalKey, "Ctrl+F12"},
      {B({0x1B, '[', 'Y'}), PacketKind::kTerminalKey, "Shift+F1"},
      {B({0x1B, '[', 'j'}), PacketKind::kTerminalKey, "Shift+F12"},
      {B({0x1B, '[', '$'}), PacketKind::kTerminalKey, "Windows"},
      {B({0x1B, '[', '3', 0x7E}), PacketKind::kTerminalKey, "Delete"},
      {B({0x1B, '[', '1', 0xB1}), PacketKind::kTerminalKey, "Alt+Delete"},
      {B({0x1B, '[', '2', 0x09}), PacketKind::kTerminalKey, "Ctrl+Tab"},
      {B({0x1B, '[', '1', 'Q'}), PacketKind::kTerminalKey, "Alt+vk 51"},
      {B({0x1B, '[', '1', 0x1B, '[', 'A'}), PacketKind::kTerminalKey, "Alt+Up"},
      {B({0x1B, '[', '3', 0x1B, '[', 'H'}), PacketKind::kTerminalKey, "Shift+Home"},
      {B({0x1B, ' '}), PacketKind::kTerminalKey, "Shift+Space"},
      {B({'a'}), PacketKind::kChar, "\"code\":97,\"char\":\"a\""},
      {B({0x0D}), PacketKind::kChar, "\"code\":13"},
      {B({0x14}), PacketKind::kHotKey, "\"number\":1"},
      {B({0x19}), PacketKind::kHotKey, "\"number\":6"},
      {B({0xFF, 0x42}), PacketKind::kUnknown, ""},
  };
}

std::vector<ClientPacket> ParseAll(const Bytes& bytes, const std::vector<size_t>& cuts = {}) {
  ClientStreamParser parser;
  std::vector<ClientPacket> out;
  size_t at = 0;
  for (size_t cut : cuts) {
    parser.Feed(bytes.data() + at, cut - at, &out);
    at = cut;
  }
  parser.Feed(bytes.data() + at, bytes.size() - at, &out);
  return out;
}

using Described = std::vector<std::pair<PacketKind, Bytes>>;

Described Describe(const std::vector<ClientPacket>& packets) {
  Described out;
  for (const auto& p : packets) out.emplace_back(p.kind, p.bytes);
  return out;
}

TEST(ClientPacketsTest, EveryCommandIsRecognisedWithItsFields) {
  for (const Case& c : Commands()) {
    SCOPED_TRACE(PacketKindName(c.kind) + (" " + c.fields));
    const auto packets = ParseAll(c.bytes);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].kind, c.kind);
    EXPECT_EQ(packets[0].bytes, c.bytes);
    EXPECT_EQ(c.kind == PacketKind::kTerminalKey ? packets[0].KeyName() : packets[0].FieldsJson(),
              c.fields);
  }
}

TEST(ClientPacketsTest, AnySplitAndAnyCoalescingGiveTheSamePackets) {
  Bytes all;
  Described expected;
  for (const Case& c : Commands()) {
    all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    expected.emplace_back(c.kind, c.bytes);
  }
  // Whole, byte by byte, cut once anywhere, and cut at random.
  std::vector<std::vector<size_t>> splits(2);
  for (size_t i = 1; i < all.size(); ++i) {
    splits[1].push_back(i);
    splits.push_back({i});
  }
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    splits.emplace_back();
    for (size_t i = 1; i < all.size(); ++i) {
      if (random() % 5 == 0) splits.back().push_back(i);
    }
  }
  for (const auto& cuts : splits) {
    ASSERT_EQ(Describe(ParseAll(all, cuts)), expected) << ::testing::PrintToString(cuts);
  }
}

// Packets cut short wait, and are dropped when the rest never comes; stray command bytes do not
// swallow what follows.
TEST(ClientPacketsTest, IncompleteAndStrayBytes) {
  using K = PacketKind;
  struct Case {
    Bytes bytes;
    bool waits;  // nothing comes out until the parser is flushed
    Described packets;
  };
  const Case cases[] = {
      {B({0xFF, 0xD0, 0x01, 0x02}), true, {{K::kTruncated, B({0xFF, 0xD0, 0x01, 0x02})}}},
      // A lone ESC that nothing follows is the Escape key.
      {B({0x1B}), true, {{K::kChar, B({0x1B})}}},
      // ESC and neither '[' nor a space: the key, then the rest on its own.
      {B({0x1B, 'x', 0x1B, '[', '&'}),
       false,
       {{K::kChar, B({0x1B})}, {K::kChar, B({'x'})}, {K::kKeepAliveIdle, B({0x1B, '[', '&'})}}},
      // FF FF: the first FF is dropped, the second starts the real command.
      {B({0xFF, 0xFF, 0xBA}),
       false,
       {{K::kUnknown, B({0xFF})}, {K::kPowerButton, B({0xFF, 0xBA})}}},
      // ESC [ m ESC and not '[': the prefix is dropped and the ESC parsed again.
      {B({0x1B, '[', '2', 0x1B, 'q'}),
       false,
       {{K::kTruncated, B({0x1B, '[', '2'})}, {K::kChar, B({0x1B})}, {K::kChar, B({'q'})}}},
  };
  for (const Case& c : cases) {
    ClientStreamParser parser;
    std::vector<ClientPacket> out;
    parser.Feed(c.bytes.data(), c.bytes.size(), &out);
    if (c.waits) {
      EXPECT_TRUE(out.empty());
      EXPECT_FALSE(parser.AtBoundary());
    }
    parser.FlushPending(&out);
    EXPECT_TRUE(parser.AtBoundary());
    for (const auto& p : out) {
      if (p.kind == K::kChar) {
        EXPECT_EQ(p.key, p.bytes.back());
      }
    }
    EXPECT_EQ(Describe(out), c.packets);
  }
}

TEST(ClientPacketsTest, OversizeTextIsCutAndTheRestParsedOnItsOwn) {
  Bytes bytes = {0xFF, 0xCF};
  bytes.insert(bytes.end(), ClientStreamParser::kMaxText + 10, 'z');
  bytes.push_back(0);
  bytes.insert(bytes.end(), {0x1B, '[', '~'});
  const auto out = ParseAll(bytes);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out[0].kind, PacketKind::kOversize);
  EXPECT_EQ(out[0].bytes.size(), ClientStreamParser::kMaxText + 2);
  // The ten z beyond the limit and the zero come as plain bytes; the refresh request survives.
  EXPECT_EQ(out.size(), 1u + 10 + 1 + 1);
  EXPECT_EQ(out.back().kind, PacketKind::kRefresh);
}

TEST(ClientPacketsTest, NoiseNeverCrashesAndTheStreamIsFoundAgain) {
  std::mt19937 random(12345);
  const Bytes report = {0xFF, 0xD6, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
  for (int round = 0; round < 300; ++round) {
    Bytes noise(random() % 3000);
    for (auto& b : noise) {
      // Lean on the bytes that start commands.
      const uint32_t r = random();
      b = r % 4 == 0 ? 0xFF : r % 4 == 1 ? 0x1B : static_cast<uint8_t>(r >> 8);
    }
    ClientStreamParser parser;
    std::vector<ClientPacket> out;
    size_t at = 0;
    while (at < noise.size()) {
      const size_t n = std::min<size_t>(noise.size() - at, 1 + random() % 64);
      parser.Feed(noise.data() + at, n, &out);
      at += n;
    }
    size_t consumed = parser.PendingBytes();
    for (const auto& p : out) consumed += p.bytes.size();
    ASSERT_EQ(consumed, noise.size()) << "every byte is accounted for";
    // Right after noise the first packets may be eaten by what the noise began; the longest
    // command is a text of kMaxText + 3 bytes, so after that much the stream is found again.
    out.clear();
    Bytes valid;
    const size_t copies = (ClientStreamParser::kMaxText + 3) / report.size() + 20;
    for (size_t i = 0; i < copies; ++i) valid.insert(valid.end(), report.begin(), report.end());
    parser.Feed(valid.data(), valid.size(), &out);
    ASSERT_GE(out.size(), 10u);
    for (size_t i = out.size() - 10; i < out.size(); ++i) {
      ASSERT_EQ(out[i].kind, PacketKind::kHidReport) << "round " << round;
      ASSERT_EQ(out[i].bytes, report);
    }
  }
}

TEST(ClientPacketsTest, PlausibilityTellsCommandsFromNoise) {
  const auto parse1 = [](const Bytes& b) { return ParseAll(b).at(0); };
  EXPECT_GT(PacketPlausibility(parse1(B({0xFF, 0xD6, 0, 0, 4, 0, 0, 0, 0, 0}))), 0);
  EXPECT_LT(PacketPlausibility(parse1(B({0xFF, 0xD6, 0, 9, 4, 0, 0, 0, 0, 0}))), 0);
  EXPECT_LT(PacketPlausibility(parse1(B({0xFF, 0xD0, 0, 0, 0x30, 0, 0, 0}))), 0);
  EXPECT_GT(PacketPlausibility(parse1(B({0x1B, '[', '&'}))), 0);
  EXPECT_EQ(PacketPlausibility(parse1(B({'q'}))), 0);
  EXPECT_LT(PacketPlausibility(parse1(B({0x9C}))), 0);
  EXPECT_LT(PacketPlausibility(parse1(B({0xFF, 0x42}))), 0);
}

}  // namespace
}  // namespace remcons::sim
