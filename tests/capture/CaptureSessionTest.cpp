// Capture and replay in the console session: the record button with its dialog, the BOOT and
// FAULT buffers from a buffer server of the test's, and the round trip against the simulator: a
// capture of the live enciphered session, through a key change, replayed from the Replay Menu
// shows the live picture, and the live session goes on under its own keys afterwards. The offline
// player through key updates is remcons-tool replay's test.
#include <gtest/gtest.h>

#include "capture/CaptureRig.h"
#include "platform/Hex.h"
#include "session/SessionRig.h"
#include "sim/ConsoleServer.h"
#include "ui/MenuBarLayout.h"
#include "vmedia/VmHarness.h"

namespace remcons {
namespace {

using testing::AlignedBits;
using testing::Bytes;
using testing::CaptureBuilder;
using testing::ConsolePeer;
using testing::SessionRig;
using testing::WaitUntil;
using Strings = std::vector<std::string>;

void Click(CMenuBar& bar, BarButton button) {
  const Rect r = layout::Button(button, bar.width());
  bar.Show();
  bar.OnMouseButton(MenuBarMouse::kLeftDown, r.left + 3, r.top + 3);
  bar.OnMouseButton(MenuBarMouse::kLeftUp, r.left + 3, r.top + 3);
}

// A cancelled capture dialog or a file that cannot be written records nothing (no whole screen
// is asked for) and says why; a capture that starts is the round trip's.
TEST(RecordButton, RecordsNothingWhenCancelledOrTheFileFails) {
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, ""},
      {"/nonexistent/c.kro", "File Save Error: No such file or directory"},
      {"/dev/full", "File Write Error: Cannot write capture file header"},
  };
  for (const auto& [file, box] : cases) {
    ConsolePeer peer;
    SessionRig rig;
    rig.control->put_clientCapture(1);
    rig.Connect(peer);
    rig.host.chosenFile = file;
    Click(*rig.control->menuBar(), BarButton::kRecord);
    EXPECT_EQ(rig.host.fileDialogs.at(0).title, "Capture File");
    std::string boxes;
    for (const auto& b : rig.host.Boxes()) boxes += b.caption + ": " + b.text;
    EXPECT_EQ(boxes, box);
    EXPECT_FALSE(rig.control->menuBar()->IsRecording() || rig.control->Capturing());
    // No refresh request comes before a later command.
    rig.control->DoCommand(8);
    ASSERT_TRUE(peer.WaitReceived(2));
    EXPECT_EQ(peer.Received(), (Bytes{0xFF, 0xBA}));
  }
}

// The BOOT and FAULT buffers from a buffer server of the test's: fetched from the port asked for,
// deciphered, stored (a FAULT buffer cut at its limit) and replayed, or refused with a box when
// nobody answers or the reply is no buffer.
TEST(Buffers, AreFetchedDecipheredStoredAndReplayed) {
  const std::string kNoBoot = "Retrieve BOOT data: BOOT Data not available",
                    kNoFault = "Retrieve Fault data: Fault Data not available";
  const struct {
    BufferType type;
    bool enciphered;
    size_t cutAt;      // bytes of the reply sent; SIZE_MAX: all
    bool refused;      // nobody listens
    uint16_t scrPort;  // 0: the default port
    std::string box;   // the "not available" box, or none
    bool big = false;  // 3 MiB of records
    Bytes reply = {};  // instead of the buffer
  } cases[] = {
      {BufferType::kBoot, false, SIZE_MAX, false, 0, ""},
      {BufferType::kFault, true, SIZE_MAX, false, 4321, ""},
      {BufferType::kFault, false, SIZE_MAX, false, 0, "", true},
      {BufferType::kBoot, false, SIZE_MAX, true, 0, kNoBoot},
      {BufferType::kFault, false, 200, false, 0, kNoFault},
      {BufferType::kFault, false, 344 + 32 + 10, false, 0, kNoFault},  // cut in its records
      {BufferType::kBoot, false, SIZE_MAX, false, 0, kNoBoot, false, CaptureBuilder().Build(300)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    vmtest::TempDir dir;
    CaptureBuilder reply;
    reply.Add(1000, testing::PictureStream(64, 48, 0x321));
    // Records past 2 MiB, which a FAULT buffer may not hold.
    for (int i = 0; c.big && i < 765; ++i) reply.Add(1500, Bytes(4096, static_cast<uint8_t>(i)));
    if (c.enciphered) reply.Key(vmtest::RandomBytes(16, 5));
    CaptureBuilder plain = reply;
    plain.encipher = false;
    testing::BufferPeer server(c.reply.empty() ? reply.Build() : c.reply, c.cutAt);
    ConsolePeer peer;
    SessionRig rig;
    rig.control->put_scrPort(c.scrPort);
    rig.control->put_screenCapture(1);
    rig.control->put_port(peer.port());
    std::vector<uint16_t> ports;
    const uint16_t closed = TcpSocket::Listen("127.0.0.1", 0)->LocalPort();
    // Through the seam: the port asked for is recorded, the test's server answers.
    ASSERT_EQ(rig.Create({},
                         [&](SessionEnvironment& env) {
                           env.tempFolder = dir.path();
                           env.bufferConnector = [&](const std::string& address, uint16_t port) {
                             ports.push_back(port);
                             EXPECT_EQ(address, "127.0.0.1");
                             return ConnectBufferLink(address, c.refused ? closed : server.port());
                           };
                         }),
              0);
    ASSERT_TRUE(rig.WaitConnected());
    EXPECT_EQ(rig.control->ReplayBuffer(c.type), c.box.empty());
    EXPECT_EQ(ports, std::vector<uint16_t>{c.scrPort ? c.scrPort : uint16_t{17990}});
    std::string boxes;
    for (const auto& b : rig.host.Boxes()) boxes += b.caption + ": " + b.text;
    EXPECT_EQ(boxes, c.box);
    EXPECT_EQ(rig.control->Replaying(), c.box.empty());
    if (!c.box.empty()) continue;
    // Stored in the temporary folder under the buffer's prefix, deciphered.
    const std::string& stored = rig.control->bufferFile();
    EXPECT_EQ(stored.rfind(dir / (c.type == BufferType::kBoot ? "bot" : "flt"), 0), 0u) << stored;
    Bytes expected = plain.Build();
    if (c.big) expected.resize(kFaultBufferLimit);
    EXPECT_TRUE(vmtest::ReadFile(stored) == expected);
  }
}

// The remote screen's part of the frame.
Surface Picture(CRemCons& control) {
  const auto [width, height] = control.RemoteScreenSize();
  return control.frameBuffer()->Snapshot().Crop(width, height);
}

TEST(RoundTrip, ACaptureOfTheSimulatorReplaysToTheLivePicture) {
  sim::ConsoleServerOptions options = testing::QuickSimOptions();
  for (int i = 0; i < 16; ++i) {
    options.keys.decryptKey[static_cast<size_t>(i)] = static_cast<uint8_t>(3 * i + 1);
    options.keys.encryptKey[static_cast<size_t>(i)] = static_cast<uint8_t>(200 - i);
  }
  sim::ConsoleServer server(options);
  ASSERT_TRUE(server.Start());
  vmtest::TempDir dir;
  SessionRig rig;
  rig.control->put_port(server.Port());
  rig.control->put_clientCapture(1);
  rig.control->put_screenCapture(1);
  rig.control->put_encryption(1);
  rig.control->put_decryptKey(HexBytes(options.keys.decryptKey.data(), 16));
  rig.control->put_encryptKey(HexBytes(options.keys.encryptKey.data(), 16));
  ASSERT_EQ(rig.Create(), 0);
  ASSERT_TRUE(rig.WaitConnected() && server.WaitForSession(5000));
  ASSERT_TRUE(WaitUntil([&] { return server.ScreenText().find("boot: ") != std::string::npos; }));
  // Everything sent has been shown, and recorded: no record for a while (the picture may be
  // complete before the last bytes of an update that repeats it have come).
  auto settled = [&] {
    if (!testing::ShowsScreen(*rig.control, server)) return false;
    for (int i = 0; i < 30; ++i) {
      const uint64_t before = rig.control->CapturedRecords();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (rig.control->CapturedRecords() == before) return true;
    }
    return false;
  };
  ASSERT_TRUE(settled());
  const std::string path = dir / "live.kro";
  rig.clock.Advance(100000);  // a stamp of 0 means none
  CMenuBar& bar = *rig.control->menuBar();
  rig.host.chosenFile = path;
  Click(bar, BarButton::kRecord);
  ASSERT_TRUE(bar.IsRecording());
  ASSERT_TRUE(server.WaitForPackets("refresh", 1, 5000));
  ASSERT_TRUE(settled());
  // A key change and a command 0.7 s later, another after 20 s, by the session's clock.
  for (uint32_t gap : {700u, 20000u}) {
    rig.clock.Advance(gap);
    if (gap == 700) server.ChangeKeys();
    server.Type(gap == 700 ? "dir\n" : "ver\n");
    ASSERT_TRUE(settled());
  }
  Click(bar, BarButton::kRecord);
  EXPECT_FALSE(rig.control->Capturing());
  const Surface live = Picture(*rig.control);

  CaptureReader reader;
  int error = 0;
  std::string why;
  ASSERT_TRUE(reader.Open(path, &error, &why)) << why;
  EXPECT_EQ(reader.header().totalSize, reader.size());  // written when recording stopped

  // Replayed in the control at every speed, the first from the Replay Menu; the replay shows its
  // time and leaves the live keys alone.
  for (int speed = 0; speed < 4; ++speed) {
    if (speed == 0) {
      Click(bar, BarButton::kReplay);
      rig.host.chosenFile = path;
      rig.host.replayMenu(242);
      EXPECT_EQ(rig.host.fileDialogs.back().title, "Replay File");
      EXPECT_TRUE(bar.ReplayMenuClosed() && bar.IsReplaying());
    } else {
      ASSERT_EQ(rig.control->ReplayFile(path), 0);
    }
    for (int i = 0; i < speed; ++i) bar.NextSpeed();
    const uint32_t start = rig.clock.NowMs();
    bar.SetPlaying(true);
    ASSERT_TRUE(WaitUntil([&] { return !bar.IsPlaying(); }, 10000)) << "speed " << speed;
    EXPECT_EQ(rig.clock.NowMs() - start, (700u >> speed) + (5000u >> speed)) << speed;
    EXPECT_TRUE(Picture(*rig.control).SameColors(live)) << "speed " << speed;
    rig.control->LeaveReplay();
    EXPECT_FALSE(rig.control->Replaying() || rig.control->replay()->IsOpen());
  }
  EXPECT_TRUE(rig.events.Has("OnStatus 1024x768 | Elapse Time: 5.70 sec"));
  // Back to the live screen, and typing reaches the simulator deciphered.
  ASSERT_TRUE(testing::ShowsScreen(*rig.control, server));
  rig.control->OnSetFocus();
  rig.control->OnChar('k', 0);
  ASSERT_TRUE(server.WaitForPackets("char", 1, 5000));
  EXPECT_EQ(server.Counters().badPackets, 0u);
}

}  // namespace
}  // namespace remcons
