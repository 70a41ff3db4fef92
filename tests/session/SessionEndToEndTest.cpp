// The console session end to end over loopback against the simulator's console service, clear and
// enciphered: the picture in the frame surface against the simulator's own screen through mode
// changes and key changes in the middle of the stream. Keys, mouse and power commands are checked
// byte by byte in the session's own tests and against the simulator in the desktop tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

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

// Bytes as hexadecimal digits (keys for the properties, packets for comparison).
template <typename Range>
std::string Hex(const Range& bytes) {
  std::string out;
  char two[3];
  for (uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

// The simulator and a console connected to it.
class EndToEnd : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    sim::ConsoleServerOptions options;
    options.keys = Keys();
    options.keyIndex = 0x5A5A0001;
    options.screen.bootMs = 100;
    options.frameIntervalMs = 10;
    options.loginQuietMs = 50;
    server_ = std::make_unique<sim::ConsoleServer>(options);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }
  void TearDown() override {
    rig_.control.reset();
    server_->Stop();
  }

  bool enciphered() const { return GetParam(); }

  void Connect(uint16_t kbdMode = 0) {
    CRemCons& c = *rig_.control;
    c.put_port(server_->Port());
    c.put_kbdMode(kbdMode);
    c.put_login("dXNlcjpwYXNz");  // user:pass
    if (enciphered()) {
      c.put_encryption(1);
      c.put_keyIndex(0x5A5A0001);
      c.put_decryptKey(Hex(Keys().decryptKey));
      c.put_encryptKey(Hex(Keys().encryptKey));
    }
    ASSERT_EQ(rig_.Create(), 0);
    ASSERT_TRUE(rig_.WaitConnected());
    ASSERT_TRUE(server_->WaitForSession(5000));
    rig_.control->OnSetFocus();
  }

  // Pixels of the frame that differ from the simulator's screen; -1 when the sizes differ.
  long Differences() {
    int width = 0, height = 0;
    const std::vector<uint32_t> screen = server_->ScreenPixels(&width, &height);
    if (rig_.control->RemoteScreenSize() != std::pair{width, height}) return -1;
    const Surface frame = rig_.control->frameBuffer()->Snapshot();
    if (frame.width() < width || frame.height() < height) return -1;
    long differences = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        differences += !SameColor(frame.At(x, y), screen[static_cast<size_t>(y) * width + x]);
      }
    }
    return differences;
  }
  // Waits for the simulator to have sent its screen and the console to show it.
  void ExpectPictureExact() {
    ASSERT_TRUE(server_->WaitUntilSent(10000));
    const bool same = WaitUntil([&] { return Differences() == 0; }, 10000);
    EXPECT_TRUE(same) << "differing pixels: " << Differences();
  }

  // The bytes of every packet of these kinds that the simulator received, in order.
  Bytes Logged(std::initializer_list<const char*> kinds) {
    Bytes bytes;
    for (const sim::PacketRecord& r : server_->Packets()) {
      for (const char* kind : kinds) {
        if (r.kind == kind) bytes.insert(bytes.end(), r.bytes.begin(), r.bytes.end());
      }
    }
    return bytes;
  }
  bool WaitLogged(std::initializer_list<const char*> kinds, size_t n) {
    return WaitUntil([&] { return Logged(kinds).size() >= n; }, 10000);
  }

  SessionRig rig_;
  std::unique_ptr<sim::ConsoleServer> server_;
};

TEST_P(EndToEnd, ThePictureIsTheSimulatorsScreenPixelForPixel) {
  Connect();
  // The session is what it was asked to be, and the login arrived whole.
  bool started = false;
  for (const sim::PacketRecord& r : server_->Packets()) {
    if (r.kind != "start") continue;
    started = true;
    EXPECT_NE(r.fields.find(enciphered() ? "\"enciphered\":true" : "\"enciphered\":false"),
              std::string::npos)
        << r.fields;
    EXPECT_NE(r.fields.find("\"name\":\"user\""), std::string::npos) << r.fields;
    EXPECT_NE(r.fields.find("\"passwordLength\":4"), std::string::npos) << r.fields;
  }
  EXPECT_TRUE(started);
  // Wait for the boot prompt: a screen worth comparing, with text in several colours.
  ASSERT_TRUE(
      WaitUntil([&] { return server_->ScreenText().find("boot: ") != std::string::npos; }, 10000));
  ExpectPictureExact();
  int width = 0, height = 0;
  const std::vector<uint32_t> screen = server_->ScreenPixels(&width, &height);
  std::set<uint32_t> colours(screen.begin(), screen.end());
  EXPECT_GE(colours.size(), 4u);
  EXPECT_TRUE(rig_.events.Has("OnResize 1024x768"));
  const sim::ConsoleCounters counters = server_->Counters();
  EXPECT_EQ(counters.sessions, 1u);
  // A decoder that never lost its place never asked for the screen again.
  EXPECT_EQ(counters.refreshRequests, 0u);

  // Mode changes resize the window, and the picture follows.
  server_->SetMode(800, 600);
  ASSERT_TRUE(WaitUntil([&] { return rig_.events.Has("OnResize 800x600"); }, 10000));
  ExpectPictureExact();
  server_->SetMode(1280, 1024);
  ASSERT_TRUE(WaitUntil([&] { return rig_.events.Has("OnResize 1280x1024"); }, 10000));
  ExpectPictureExact();
  EXPECT_EQ(rig_.events.Count("OnResize 1024x768"), 1);
}

TEST_P(EndToEnd, KeyChangesMidStreamKeepThePictureExact) {
  Connect(0);
  ExpectPictureExact();
  for (int n = 0; n < 3; ++n) {
    server_->ChangeKeys();
    server_->Print("after key change " + std::to_string(n + 1));
    ExpectPictureExact();
    // The console's own bytes still reach the server deciphered right.
    rig_.control->OnChar('0' + n, 0);
  }
  ASSERT_TRUE(WaitLogged({"char"}, 3));
  EXPECT_EQ(Hex(Logged({"char"})), "303132");
  EXPECT_NE(server_->ScreenText().find("after key change 3"), std::string::npos);
  const sim::ConsoleCounters counters = server_->Counters();
  if (enciphered()) {
    EXPECT_EQ(counters.keyChanges, 3u);
  }
  EXPECT_EQ(counters.refreshRequests, 0u);
  EXPECT_EQ(counters.badPackets, 0u);
}

INSTANTIATE_TEST_SUITE_P(Session, EndToEnd, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Enciphered" : "Clear"; });

}  // namespace
}  // namespace remcons
