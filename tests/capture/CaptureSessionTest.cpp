// Capture and replay in the console session: the record button with its dialog, a replay from the
// Replay Menu (its status, its key change left to the recorded session, leaving it), the BOOT and
// FAULT buffers from a buffer server of the test's, and the round trip against the simulator: a
// capture of the live session replayed in the control and offline shows the live picture.
#include <gtest/gtest.h>

#include "capture/CaptureRig.h"
#include "capture/OfflinePlayer.h"
#include "platform/Hex.h"
#include "session/SessionRig.h"
#include "sim/ConsoleServer.h"
#include "ui/MenuBarLayout.h"
#include "vmedia/VmTestUtil.h"

namespace remcons {
namespace {

using testing::AlignedBits;
using testing::Bytes;
using testing::CaptureBuilder;
using testing::ConsolePeer;
using testing::FakeHost;
using testing::SessionRig;
using testing::WaitUntil;

const Bytes kRefresh = {0x1B, 0x5B, 0x7E};

int Refreshes(ConsolePeer& peer) {
  const Bytes got = peer.Received();
  int n = 0;
  for (size_t i = 0; i + 3 <= got.size(); ++i)
    n += std::equal(kRefresh.begin(), kRefresh.end(), &got[i]);
  return n;
}

void Click(CMenuBar& bar, BarButton button) {
  const Rect r = layout::Button(button, bar.width());
  bar.Show();
  bar.OnMouseButton(MenuBarMouse::kLeftDown, r.left + 3, r.top + 3);
  bar.OnMouseButton(MenuBarMouse::kLeftUp, r.left + 3, r.top + 3);
}

// Each refill recorded until the button is pressed again; a cancelled dialog or a file that
// cannot be written records nothing and says why.
TEST(RecordButton, RecordsEachRefillUntilPressedAgain) {
  vmtest::TempDir dir;
  const struct {
    std::optional<std::string> file;
    const char* caption;  // the box shown, or none
    const char* text;
  } cases[] = {
      {dir / "c.kro", nullptr, nullptr},
      {std::nullopt, nullptr, nullptr},
      {"/nonexistent/c.kro", "File Save Error", "No such file or directory"},
      {"/dev/full", "File Write Error", "Cannot write capture file header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.value_or("cancelled"));
    ConsolePeer peer;
    SessionRig rig;
    rig.control->put_clientCapture(1);
    rig.Connect(peer);
    CMenuBar& bar = *rig.control->menuBar();
    rig.host.chosenFile = c.file;
    Click(bar, BarButton::kRecord);
    ASSERT_EQ(rig.host.fileDialogs.size(), 1u);
    EXPECT_EQ(rig.host.fileDialogs[0].title, "Capture File");
    EXPECT_TRUE(rig.host.fileDialogs[0].save);
    const std::vector<FakeHost::Box> boxes = rig.host.Boxes();
    ASSERT_EQ(boxes.size(), c.caption ? 1u : 0u);
    if (c.caption) {
      EXPECT_EQ(boxes[0].caption, c.caption);
      EXPECT_EQ(boxes[0].text, c.text);
    }
    const bool recording = c.file && !c.caption;
    EXPECT_EQ(bar.IsRecording(), recording);
    // A capture starts with a whole screen; a cancelled or failed one sends nothing.
    ASSERT_EQ(WaitUntil([&] { return Refreshes(peer) == 1; }, recording ? 5000 : 100), recording);
    if (!recording) continue;
    for (int chunk = 1; chunk <= 3; ++chunk) {
      rig.clock.Advance(250);
      peer.Send(AlignedBits(std::string(static_cast<size_t>(chunk), '0')));
      ASSERT_TRUE(WaitUntil([&] { return rig.control->CapturedRecords() == uint64_t(chunk); }));
    }
    Click(bar, BarButton::kRecord);
    EXPECT_FALSE(rig.control->Capturing());
    CaptureReader reader;
    int error = 0;
    std::string why;
    ASSERT_TRUE(reader.Open(*c.file, &error, &why)) << why;
    // The empty serverName: an empty description. The total is written when recording stops.
    EXPECT_EQ(reader.header().description, "");
    EXPECT_EQ(reader.header().totalSize, reader.size());
    uint8_t data[kMaxRecordData];
    RecordHeader record;
    uint32_t lastStamp = 0;
    for (int chunk = 1; chunk <= 3; ++chunk) {
      ASSERT_EQ(reader.Read(&record, data, &why), CaptureReader::Next::kRecord);
      EXPECT_EQ(Bytes(data, data + record.length), AlignedBits(std::string(chunk, '0')));
      EXPECT_GT(record.stamp, lastStamp);
      lastStamp = record.stamp;
    }
    EXPECT_EQ(reader.Read(&record, data, &why), CaptureReader::Next::kEnd);
  }
}

TEST(ReplayMenu, AReplayedFileShowsItsTimeAndLeavesTheLiveKeysAlone) {
  // A key change, then 20 s later a text: the replay must not re-key the live connection.
  vmtest::TempDir dir;
  CaptureBuilder file;
  file.Add(1000, AlignedBits(testing::FirmwareBits(9))).Add(21000, AlignedBits("0"));
  vmtest::WriteFile(dir / "r.kro", file.Build());
  ConsolePeer::Options options;
  options.enciphered = true;
  options.startBytes = 15;
  for (int i = 0; i < 16; ++i) {
    options.consoleSendKey[i] = static_cast<uint8_t>(3 * i + 1);
    options.consoleReceiveKey[i] = static_cast<uint8_t>(200 - i);
  }
  ConsolePeer peer(options);
  SessionRig rig;
  rig.control->put_screenCapture(1);
  rig.control->put_encryption(1);
  rig.control->put_decryptKey(HexBytes(options.consoleSendKey, 16));
  rig.control->put_encryptKey(HexBytes(options.consoleReceiveKey, 16));
  rig.Connect(peer);
  CMenuBar& bar = *rig.control->menuBar();

  Click(bar, BarButton::kReplay);
  ASSERT_TRUE(rig.host.replayMenu);
  EXPECT_FALSE(bar.ReplayMenuClosed());
  rig.host.chosenFile = dir / "r.kro";
  rig.host.replayMenu(242);
  EXPECT_TRUE(bar.ReplayMenuClosed());
  EXPECT_EQ(rig.host.fileDialogs.at(0).title, "Replay File");
  ASSERT_TRUE(bar.IsReplaying());
  bar.SetPlaying(true);
  // The console thread comes round to the replay with the next bytes from the server.
  peer.Send(AlignedBits(""));
  ASSERT_TRUE(
      WaitUntil([&] { return rig.events.Has("OnStatus 1280x1024 | Elapse Time: 5.00 sec"); }));
  ASSERT_TRUE(WaitUntil([&] { return !bar.IsPlaying(); }));  // the end rewinds

  const int refreshes = Refreshes(peer);
  rig.control->LeaveReplay();
  EXPECT_FALSE(rig.control->Replaying());
  EXPECT_FALSE(rig.control->replay()->IsOpen());
  EXPECT_TRUE(WaitUntil([&] { return Refreshes(peer) == refreshes + 1; }));
  // Keys still go out under the session's first keys.
  const uint8_t key = 'k';
  rig.control->OnSetFocus();
  ASSERT_EQ(rig.control->WriteInput(&key, 1), 1);
  ASSERT_TRUE(WaitUntil([&] { return !peer.Received().empty() && peer.Received().back() == 'k'; }));
}

// The BOOT and FAULT buffers from a buffer server of the test's: fetched from the port asked for,
// deciphered, stored (a FAULT buffer cut at its limit) and replayed, or refused with a box.
TEST(Buffers, AreFetchedDecipheredStoredAndReplayed) {
  const struct {
    const char* name;
    BufferType type;
    bool enciphered;
    size_t cutAt;         // bytes of the reply sent; SIZE_MAX: all
    bool refused;         // nobody listens
    uint16_t scrPort;     // 0: the default port
    const char* caption;  // the "not available" box, or none
    const char* text;
    bool big = false;  // 3 MiB of records
  } cases[] = {
      {"BootInClear", BufferType::kBoot, false, SIZE_MAX, false, 0, nullptr, nullptr},
      {"FaultEnciphered", BufferType::kFault, true, SIZE_MAX, false, 4321, nullptr, nullptr},
      {"FaultCutAt2MiB", BufferType::kFault, false, SIZE_MAX, false, 0, nullptr, nullptr, true},
      {"BootRefused", BufferType::kBoot, false, SIZE_MAX, true, 0, "Retrieve BOOT data",
       "BOOT Data not available"},
      {"FaultCutInItsHeader", BufferType::kFault, false, 200, false, 0, "Retrieve Fault data",
       "Fault Data not available"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vmtest::TempDir dir;
    CaptureBuilder reply;
    reply.Add(1000, testing::PictureStream(64, 48, 0x321));
    // Records past 2 MiB, which a FAULT buffer may not hold.
    for (int i = 0; c.big && i < 765; ++i) reply.Add(1500, Bytes(4096, static_cast<uint8_t>(i)));
    if (c.enciphered) reply.Key(vmtest::RandomBytes(16, 5));
    CaptureBuilder plain = reply;
    plain.encipher = false;
    testing::BufferPeer server(reply.Build(), c.cutAt);
    ConsolePeer peer;
    SessionRig rig;
    rig.control->put_scrPort(c.scrPort);
    std::vector<uint16_t> ports;
    // A port that was just let go: nobody listens there.
    const uint16_t closed = TcpSocket::Listen("127.0.0.1", 0)->LocalPort();
    rig.control->put_screenCapture(1);
    rig.control->put_port(peer.port());
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

    const bool replayed = rig.control->ReplayBuffer(c.type);
    EXPECT_EQ(ports, std::vector<uint16_t>{c.scrPort ? c.scrPort : uint16_t{17990}});
    EXPECT_EQ(replayed, c.caption == nullptr);
    const std::vector<FakeHost::Box> boxes = rig.host.Boxes();
    ASSERT_EQ(boxes.size(), c.caption ? 1u : 0u);
    if (!replayed) {
      EXPECT_EQ(boxes[0].caption, c.caption);
      EXPECT_EQ(boxes[0].text, c.text);
      EXPECT_FALSE(rig.control->Replaying());
      continue;
    }
    // Stored in the temporary folder under the buffer's prefix, deciphered.
    const std::string& stored = rig.control->bufferFile();
    EXPECT_EQ(stored.rfind(dir / (c.type == BufferType::kBoot ? "bot" : "flt"), 0), 0u) << stored;
    Bytes expected = plain.Build();
    if (c.big) expected.resize(kFaultBufferLimit);
    EXPECT_TRUE(vmtest::ReadFile(stored) == expected);
    EXPECT_TRUE(rig.control->Replaying());
  }
}

// The remote screen's part of the frame.
Surface Picture(CRemCons& control) {
  const auto [width, height] = control.RemoteScreenSize();
  return control.frameBuffer()->Snapshot().Crop(width, height);
}

TEST(RoundTrip, ACaptureOfTheSimulatorReplaysToTheLivePictureInTheControlAndOffline) {
  sim::ConsoleServerOptions options;
  options.screen.bootMs = 100;
  options.frameIntervalMs = 10;
  options.loginQuietMs = 50;
  options.encryption = false;
  sim::ConsoleServer server(options);
  ASSERT_TRUE(server.Start());
  vmtest::TempDir dir;
  SessionRig rig;
  rig.control->put_port(server.Port());
  rig.control->put_clientCapture(1);
  ASSERT_EQ(rig.Create(), 0);
  ASSERT_TRUE(rig.WaitConnected() && server.WaitForSession(5000));
  ASSERT_TRUE(WaitUntil([&] { return server.ScreenText().find("boot: ") != std::string::npos; }));
  // Shown when the console's picture is the simulator's screen.
  auto caughtUp = [&] {
    int width = 0, height = 0;
    const std::vector<uint32_t> screen = server.ScreenPixels(&width, &height);
    const Surface picture = Picture(*rig.control);
    if (picture.width() != width || picture.height() != height) return false;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (!SameColor(picture.At(x, y), screen[static_cast<size_t>(y) * width + x])) return false;
      }
    }
    return true;
  };
  ASSERT_TRUE(server.WaitUntilSent(10000) && WaitUntil(caughtUp, 10000));

  // Everything sent has been shown, and recorded: no record for a while (the picture may be
  // complete before the last bytes of an update that repeats it have come).
  auto settled = [&] {
    if (!server.WaitUntilSent(10000) || !WaitUntil(caughtUp, 10000)) return false;
    for (int i = 0; i < 30; ++i) {
      const uint64_t before = rig.control->CapturedRecords();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (rig.control->CapturedRecords() == before) return true;
    }
    return false;
  };
  const std::string path = dir / "live.kro";
  rig.clock.Advance(100000);  // a stamp of 0 means none
  ASSERT_EQ(rig.control->CaptureToFile(path), 0);
  ASSERT_TRUE(server.WaitForPackets("refresh", 1, 5000));
  ASSERT_TRUE(settled());
  // A command 0.7 s later and another after 20 s, by the session's clock.
  for (uint32_t gap : {700u, 20000u}) {
    rig.clock.Advance(gap);
    server.Type(gap == 700 ? "dir\n" : "ver\n");
    ASSERT_TRUE(settled());
  }
  rig.control->StopCapture();
  const Surface live = Picture(*rig.control);

  CaptureReader reader;
  int error = 0;
  std::string why;
  ASSERT_TRUE(reader.Open(path, &error, &why)) << why;
  OfflinePlayer player(reader);
  ASSERT_TRUE(player.Play());
  EXPECT_TRUE(player.picture().SameColors(live));
  EXPECT_EQ(player.summary().replayMs, 5700u);

  CMenuBar& bar = *rig.control->menuBar();
  for (int speed = 0; speed < 4; ++speed) {
    ASSERT_EQ(rig.control->ReplayFile(path), 0);
    for (int i = 0; i < speed; ++i) bar.NextSpeed();
    const uint32_t start = rig.clock.NowMs();
    bar.SetPlaying(true);
    ASSERT_TRUE(WaitUntil([&] { return !bar.IsPlaying(); }, 10000)) << "speed " << speed;
    EXPECT_EQ(rig.clock.NowMs() - start, (700u >> speed) + (5000u >> speed)) << speed;
    EXPECT_TRUE(Picture(*rig.control).SameColors(live)) << "speed " << speed;
    rig.control->LeaveReplay();
  }
  // Back to the live screen.
  ASSERT_TRUE(server.WaitUntilSent(10000) && WaitUntil(caughtUp, 10000));
}

}  // namespace
}  // namespace remcons
