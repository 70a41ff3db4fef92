// The console session end to end over loopback against the simulator's console service.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Hex.h"
#include "session/SessionRig.h"
#include "sim/ConsoleServer.h"

namespace remcons {
namespace {

using testing::SessionRig;
using testing::WaitUntil;
using Bytes = std::vector<uint8_t>;

sim::ConsoleKeys Keys() {
  sim::ConsoleKeys keys;
  for (int i = 0; i < 16; ++i) {
    keys.decryptKey[static_cast<size_t>(i)] = static_cast<uint8_t>(0x11 * i + 3);
    keys.encryptKey[static_cast<size_t>(i)] = static_cast<uint8_t>(0xF0 - 7 * i);
  }
  return keys;
}

// The whole console, enciphered, against the simulator: the start it was asked for and the login
// whole; the picture pixel for pixel at the boot prompt and after each of three key changes in the
// middle of the stream, the console's own bytes deciphered right in between, and no refresh ever
// asked for (a decoder that never lost its place). Clear sessions and mode changes against the
// simulator are the headless console's tests.
TEST(EndToEnd, KeyChangesMidStreamKeepThePictureExact) {
  sim::ConsoleServerOptions options = testing::QuickSimOptions();
  options.keys = Keys();
  options.keyIndex = 0x5A5A0001;
  sim::ConsoleServer server(options);
  ASSERT_TRUE(server.Start());
  SessionRig rig;
  CRemCons& c = *rig.control;
  c.put_port(server.Port());
  c.put_login("dXNlcjpwYXNz");  // user:pass
  c.put_encryption(1);
  c.put_keyIndex(0x5A5A0001);
  c.put_decryptKey(HexBytes(Keys().decryptKey.data(), 16));
  c.put_encryptKey(HexBytes(Keys().encryptKey.data(), 16));
  ASSERT_EQ(rig.Create(), 0);
  ASSERT_TRUE(rig.WaitConnected());
  ASSERT_TRUE(server.WaitForSession(5000));
  c.OnSetFocus();
  std::string start;
  for (const sim::PacketRecord& r : server.Packets()) start += r.kind == "start" ? r.fields : "";
  for (const char* field : {"\"enciphered\":true", "\"name\":\"user\"", "\"passwordLength\":4"}) {
    EXPECT_NE(start.find(field), std::string::npos) << start;
  }
  // The frame against the simulator's screen once it was sent.
  const auto pictureExact = [&] {
    EXPECT_TRUE(server.WaitUntilSent(10000));
    const auto differences = [&] {
      int width = 0, height = 0;
      const std::vector<uint32_t> screen = server.ScreenPixels(&width, &height);
      const Surface frame = c.frameBuffer()->Snapshot();
      if (c.RemoteScreenSize() != std::pair{width, height} || frame.width() < width) return -1L;
      long n = 0;
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
          n += !SameColor(frame.At(x, y), screen[size_t(y) * width + x]);
      }
      return n;
    };
    EXPECT_TRUE(WaitUntil([&] { return differences() == 0; }, 10000))
        << differences() << " pixels differ";
  };
  ASSERT_TRUE(
      WaitUntil([&] { return server.ScreenText().find("boot: ") != std::string::npos; }, 10000));
  pictureExact();
  for (int n = 0; n < 3; ++n) {
    server.ChangeKeys();
    server.Print("after key change " + std::to_string(n + 1));
    pictureExact();
    c.OnChar('0' + n, 0);
  }
  ASSERT_TRUE(server.WaitForPackets("char", 3, 10000));
  Bytes typed;
  for (const sim::PacketRecord& r : server.Packets()) {
    if (r.kind == "char") typed.insert(typed.end(), r.bytes.begin(), r.bytes.end());
  }
  EXPECT_EQ(typed, (Bytes{'0', '1', '2'}));
  EXPECT_NE(server.ScreenText().find("after key change 3"), std::string::npos);
  const sim::ConsoleCounters counters = server.Counters();
  EXPECT_EQ(counters.sessions, 1u);
  EXPECT_EQ(counters.keyChanges, 3u);
  EXPECT_EQ(counters.refreshRequests, 0u);
  EXPECT_EQ(counters.badPackets, 0u);
  rig.control.reset();
  server.Stop();
}

}  // namespace
}  // namespace remcons
