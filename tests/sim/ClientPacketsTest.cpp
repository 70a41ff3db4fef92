// The console's byte stream cut into packets: every command by its first bytes, in any split,
// and bytes cut short, stray or oversize. Noise is sent by the console service's tests.
#include "sim/ClientPackets.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace remcons::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// Bytes written as hexadecimal pairs separated by spaces.
Bytes Hex(std::string_view text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); i += 3)
    out.push_back(uint8_t(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  return out;
}

std::vector<ClientPacket> Parse(const Bytes& bytes, const std::vector<size_t>& cuts = {}) {
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

// Each packet as its kind and bytes: "hid FF D6 ..., char 61".
std::string Describe(const std::vector<ClientPacket>& packets) {
  std::string out;
  for (const auto& p : packets) {
    out += (out.empty() ? "" : ", ") + std::string(PacketKindName(p.kind));
    for (uint8_t b : p.bytes) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", b);
      out += hex;
    }
  }
  return out;
}

// Every command the console sends, written down from the byte tables: its bytes, its kind, and
// its fields (the key name for terminal keys).
const struct Command {
  const char* hex;
  const char* kind;
  const char* fields;
} kCommands[] = {
    {"FF D6 02 00 04 05 00 00 00 00", "hid", "\"modifiers\":2,\"keys\":[4,5]"},
    {"FF D0 0A 0A 01 42 01 5F", "mouse-move", "\"dx\":10,\"dy\":10,\"x\":322,\"y\":351"},
    {"FF D0 81 FF 0B B8 00 00", "mouse-move", "\"dx\":-127,\"dy\":-1,\"x\":3000,\"y\":0"},
    {"FF D1 04", "mouse-press", "\"button\":4"},
    {"FF D2 01", "mouse-release", "\"button\":1"},
    {"FF D3 04 01", "mouse-click", "\"button\":4,\"clicks\":2"},
    {"FF BA", "power-button", "\"button\":0,\"name\":\"momentary-press\""},
    {"FF BB", "power-button", "\"button\":1,\"name\":\"press-and-hold\""},
    {"FF BC", "power-button", "\"button\":2,\"name\":\"cold-boot\""},
    {"FF BD", "power-button", "\"button\":3,\"name\":\"reset-system\""},
    {"FF C6 54 24", "leader-port", "\"port\":9300"},
    {"FF CA 31 62 6F 62 0D 78 0D 00", "join-request", "\"slot\":\"1\",\"text\":\"bob\\rx\\r\""},
    {"FF CB", "request-control", ""},
    {"FF CC", "relinquish-control", ""},
    {"FF CF 68 69 00", "session-notice", "\"text\":\"hi\""},
    {"1B 5B 7E", "refresh", ""},
    {"1B 5B 28", "keepalive-activity", ""},
    {"1B 5B 26", "keepalive-idle", ""},
    {"1B 5B 32 1B 5B 7F", "ctrl-alt-del", ""},
    {"1B 5B 41", "key", "Up"},
    {"1B 5B 42", "key", "Down"},
    {"1B 5B 46", "key", "End"},
    {"1B 5B 4D", "key", "F1"},
    {"1B 5B 58", "key", "F12"},
    {"1B 5B 77", "key", "Alt+F1"},
    {"1B 5B 27", "key", "Alt+F12"},
    {"1B 5B 76", "key", "Ctrl+F12"},
    {"1B 5B 59", "key", "Shift+F1"},
    {"1B 5B 6A", "key", "Shift+F12"},
    {"1B 5B 24", "key", "Windows"},
    {"1B 5B 33 7E", "key", "Delete"},
    {"1B 5B 31 B1", "key", "Alt+Delete"},
    {"1B 5B 32 09", "key", "Ctrl+Tab"},
    {"1B 5B 31 51", "key", "Alt+vk 51"},
    {"1B 5B 31 1B 5B 41", "key", "Alt+Up"},
    {"1B 5B 33 1B 5B 48", "key", "Shift+Home"},
    {"1B 20", "key", "Shift+Space"},
    {"61", "char", "\"code\":97,\"char\":\"a\""},
    {"0D", "char", "\"code\":13"},
    {"14", "hotkey", "\"number\":1"},
    {"19", "hotkey", "\"number\":6"},
    {"FF 42", "unknown", ""},
};

// Each command alone with its fields; then all of them whole, byte by byte, cut once anywhere
// and cut at random give the same packets.
TEST(ClientPacketsTest, EveryCommandInAnySplit) {
  Bytes all;
  std::string expected;
  for (const Command& c : kCommands) {
    const auto packets = Parse(Hex(c.hex));
    ASSERT_EQ(packets.size(), 1u) << c.hex;
    EXPECT_EQ(Describe(packets), std::string(c.kind) + " " + c.hex);
    EXPECT_EQ(std::string(c.kind) == "key" ? packets[0].KeyName() : packets[0].FieldsJson(),
              c.fields);
    const Bytes bytes = Hex(c.hex);
    all.insert(all.end(), bytes.begin(), bytes.end());
    expected += (expected.empty() ? "" : ", ") + std::string(c.kind) + " " + c.hex;
  }
  std::vector<std::vector<size_t>> splits(2);
  std::mt19937 random(7);
  for (size_t i = 1; i < all.size(); ++i) {
    splits[1].push_back(i);
    splits.push_back({i});
    splits.emplace_back();
    for (size_t j = 1; j < all.size(); ++j) {
      if (random() % 5 == 0) splits.back().push_back(j);
    }
  }
  for (const auto& cuts : splits) ASSERT_EQ(Describe(Parse(all, cuts)), expected);
}

// Packets cut short wait, and are dropped when the rest never comes; stray command bytes and
// oversize texts do not swallow what follows; plausibility tells commands from noise.
TEST(ClientPacketsTest, IncompleteStrayAndOversizeBytes) {
  const struct {
    std::string hex;
    bool waits;  // nothing comes out until the parser is flushed
    std::string packets;
  } cases[] = {
      {"FF D0 01 02", true, "truncated FF D0 01 02"},
      {"1B", true, "char 1B"},  // a lone ESC that nothing follows is the Escape key
      // ESC and neither '[' nor a space: the key, then the rest on its own.
      {"1B 78 1B 5B 26", false, "char 1B, char 78, keepalive-idle 1B 5B 26"},
      // FF FF: the first FF is dropped, the second starts the real command.
      {"FF FF BA", false, "unknown FF, power-button FF BA"},
      // ESC [ m ESC and not '[': the prefix is dropped and the ESC parsed again.
      {"1B 5B 32 1B 71", false, "truncated 1B 5B 32, char 1B, char 71"},
  };
  for (const auto& c : cases) {
    ClientStreamParser parser;
    std::vector<ClientPacket> out;
    const Bytes bytes = Hex(c.hex);
    parser.Feed(bytes.data(), bytes.size(), &out);
    EXPECT_EQ(out.empty() && !parser.AtBoundary(), c.waits);
    parser.FlushPending(&out);
    EXPECT_TRUE(parser.AtBoundary());
    for (const auto& p : out) EXPECT_TRUE(p.kind != PacketKind::kChar || p.key == p.bytes.back());
    EXPECT_EQ(Describe(out), c.packets);
  }
  // A text beyond the limit is cut; the rest comes as plain bytes and the refresh survives.
  Bytes oversize = {0xFF, 0xCF};
  oversize.insert(oversize.end(), ClientStreamParser::kMaxText + 10, 'z');
  oversize.insert(oversize.end(), {0, 0x1B, '[', '~'});
  const auto out = Parse(oversize);
  ASSERT_EQ(out.size(), 1u + 10 + 1 + 1);
  EXPECT_EQ(
      std::tuple(out[0].kind, out[0].bytes.size(), out.back().kind),
      std::tuple(PacketKind::kOversize, ClientStreamParser::kMaxText + 2, PacketKind::kRefresh));
  for (auto [hex, sign] : {std::pair{"FF D6 00 00 04 00 00 00 00 00", 1},
                           {"FF D6 00 09 04 00 00 00 00 00", -1},
                           {"FF D0 00 00 30 00 00 00", -1},
                           {"1B 5B 26", 1},
                           {"71", 0},
                           {"9C", -1},
                           {"FF 42", -1}}) {
    const int plausibility = PacketPlausibility(Parse(Hex(hex)).at(0));
    EXPECT_EQ((plausibility > 0) - (plausibility < 0), sign) << hex;
  }
}

}  // namespace
}  // namespace remcons::sim
