// The console session against a fake window and a console peer on loopback: the session timer
// driven tick by tick, the stop and the command dispatcher. A session's creation, its ends and
// HID keys following the focus are the headless and desktop runs'.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Strings.h"
#include "session/SessionRig.h"
#include "support/TraceCapture.h"
#include "vmedia/VmDrives.h"

namespace remcons {
namespace {

using testing::AlignedBits;
using testing::ConsolePeer;
using testing::SessionRig;
using testing::WaitUntil;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;
using End = CRemCons::SessionEnd;

const Bytes kMarker = {0x1B, 0x5B, 0x7E};  // the refresh request, command 18

uint16_t UnusedPort() {
  return TcpSocket::Listen("127.0.0.1", 0)->LocalPort();
}

// A console that never gets through shows the failure once, on its tick: 42 for a console, 112
// for a joining console.
TEST(Session, ConnectionCheckShowsTheFailureOnceOnItsTick) {
  enum Peer { kSilent, kClosesInHandshake, kRefused };
  const struct {
    uint32_t muMode;
    Peer kind;
    int tick;
  } cases[] = {{0, kSilent, 42},
               {0, kClosesInHandshake, 42},
               {0, kRefused, 42},
               {2, kSilent, 112},
               {2, kRefused, 112}};
  for (const auto& [muMode, kind, tick] : cases) {
    SCOPED_TRACE(kind + 10 * muMode);
    ConsolePeer peer({.answer = false, .closeInHandshake = kind == kClosesInHandshake});
    SessionRig rig;
    const uint16_t port = kind == kRefused ? UnusedPort() : peer.port();
    rig.control->put_muMode(muMode);
    rig.control->put_muServer("127.0.0.1");
    rig.control->put_muPort(port);
    rig.control->put_port(muMode == 2 ? UnusedPort() : port);
    ASSERT_EQ(rig.Create(), 0);
    ASSERT_TRUE(WaitUntil([&] { return rig.host.TimerRunning(kSessionTimer); }));
    ASSERT_TRUE(kind == kRefused || peer.WaitStartSequence());
    EXPECT_EQ(rig.control->StatusText(), LoadString(muMode == 2 ? 131 : 130));
    rig.Tick(tick - 1);
    EXPECT_TRUE(rig.host.Boxes().empty());
    rig.Tick(200);
    EXPECT_EQ(rig.host.Boxes(), (std::vector<testing::FakeHost::Box>{
                                    {"Failed to connect to server.\nCheck for available telnet "
                                     "connection.\n",
                                     "Network Status", kMbOk | kMbIconWarning | kMbSystemModal}}));
    EXPECT_EQ(rig.events.Events(), Strings{"OnShutdown"});
    EXPECT_FALSE(rig.host.TimerRunning(kSessionTimer));
  }
}

// Keep-alives on the second tick of phase 2 and then every 31, the activity form when input was
// seen since the last one.
TEST(Session, KeepAlives) {
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  rig.EnterPhase2();
  // Each tick is followed by a marker, so the stream shows which tick sent what.
  for (int tick = 1; tick <= 100; ++tick) {
    if (tick == 40) rig.control->OnMouseMove(100, 100, false);
    rig.Tick();
    rig.control->DoCommand(18);
  }
  // 100 px right and down over 1280 x 1024: dx 100, dy -100, X 234, Y 292.
  Bytes expected;
  for (int tick = 1; tick <= 100; ++tick) {
    if (tick == 2 || tick == 33 || tick == 95) expected.insert(expected.end(), {0x1B, 0x5B, 0x26});
    if (tick == 40)
      expected.insert(expected.end(), {0xFF, 0xD0, 0x64, 0x9C, 0x00, 0xEA, 0x01, 0x24});
    if (tick == 64) expected.insert(expected.end(), {0x1B, 0x5B, 0x28});
    expected.insert(expected.end(), kMarker.begin(), kMarker.end());
  }
  ASSERT_TRUE(peer.WaitReceived(expected.size()));
  EXPECT_EQ(peer.Received(), expected);
}

// Each kind of input restarts the full countdown; without input the session ends after timeout
// minutes, and its end clears the time-out.
TEST(Session, IdleTimeOutAfterTimeoutMinutesAndInputRestartsIt) {
  const std::function<void(CRemCons&)> inputs[] = {
      [](CRemCons& c) { c.OnMouseMove(5, 5, false); },
      // Keys sent by the hook count too: in HID mode no characters follow them.
      [](CRemCons& c) {
        c.OnKeyEvent({0x26, 0x48, true, false, false, 0});
        c.OnKeyEvent({0x26, 0x48, true, false, true, 0});
      },
      [](CRemCons& c) { c.OnVmActivity(); }, [](CRemCons& c) { c.DoCommand(100); }};
  ConsolePeer peer;
  SessionRig rig;
  rig.control->put_timeout(1);
  rig.Connect(peer);
  rig.control->OnSetFocus();
  rig.EnterPhase2();
  for (size_t i = 0; i < std::size(inputs); ++i) {
    rig.Tick(45);
    inputs[i](*rig.control);
    EXPECT_EQ(rig.control->IdleCountdown(), 60u) << "input " << i;
  }
  rig.control->OnKillFocus();
  rig.Tick(60);
  EXPECT_FALSE(rig.control->StopRequested());
  rig.Tick();
  EXPECT_TRUE(rig.control->StopRequested());
  ASSERT_TRUE(rig.WaitThreadEnded());
  EXPECT_EQ(rig.control->EndReason(), End::kStopped);
  EXPECT_EQ(rig.control->Properties().timeout, 0u);
}

TEST(Session, StopEndsAReplayWaitingBetweenChunksAndLaterMessagesDoNothing) {
  // A replay source that waits a minute between chunks, through the clock with the stop flag.
  struct SlowReplay : ByteSource {
    explicit SlowReplay(CRemCons& control) : control(control) {}
    int Read(uint8_t*, int) override {
      waiting = true;
      woken = !SystemClock().SleepMs(60000, &control.StopFlag());
      return 0;
    }
    CRemCons& control;
    std::atomic<bool> waiting{false}, woken{false};
  };
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  SlowReplay replay(*rig.control);
  rig.control->SetReplaySource(&replay);
  rig.control->SetReplaying(true);
  // The console thread takes the replay's bytes from its next refill on.
  peer.Send(AlignedBits(""));
  ASSERT_TRUE(WaitUntil([&] { return replay.waiting.load(); }));
  for (int attempts = 0; !rig.control->StopSession() && attempts < 30;) ++attempts;
  EXPECT_TRUE(rig.control->SessionStopped() && replay.woken.load());
  EXPECT_FALSE(rig.control->ConsoleThreadRunning());
  rig.control->SetReplaySource(nullptr);
  // Messages posted to a control that is gone do nothing.
  rig.control.reset();
  EXPECT_GE(rig.host.RunPosted(), 1);
  EXPECT_TRUE(rig.events.Events().empty());
}

TEST(Session, CommandsAndUnmountRequestsFromADrive) {
  testing::TraceCapture trace;
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  for (int command : {7, 8, 9, 10, 11, 18, 19, 100, 0, 2, 12, 99, 108})
    rig.control->DoCommand(command);
  for (int command = 101; command <= 107; ++command) rig.control->DoCommand(command);
  // The keys panel's hot keys, as the menu bar writes them; without the control right the keys
  // stay local, the power buttons do not.
  const uint8_t hotKey = 0x16;
  rig.control->WriteInput(&hotKey, 1);
  rig.control->SetInputEnabled(false);
  rig.control->DoCommand(7);
  rig.control->WriteInput(&hotKey, 1);
  rig.control->DoCommand(8);
  rig.control->SetInputEnabled(true);
  rig.control->DoCommand(7);
  const Bytes expected = {0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x7F,              // 7
                          0xFF, 0xBA, 0xFF, 0xBB, 0xFF, 0xBC, 0xFF, 0xBD,  // 8-11
                          0x1B, 0x5B, 0x7E,                                // 18
                          0x16,                                            // a hot key
                          0xFF, 0xBA,                                      // 8, input off
                          0x1B, 0x5B, 0x32, 0x1B, 0x5B, 0x7F};             // 7, input on
  ASSERT_TRUE(peer.WaitReceived(expected.size()));
  EXPECT_EQ(peer.Received(), expected);
  for (int kind = 1; kind <= 7; ++kind)
    EXPECT_TRUE(trace.Has("Unmount command sent " + std::to_string(kind) + " device\n")) << kind;
  // Unmount requests from a drive's thread run on the window thread.
  trace.Clear();
  std::thread([&] { rig.control->OnVmUnmountRequest(VmKind::Folder); }).join();
  EXPECT_FALSE(trace.Has("Unmount command sent 7 device\n"));
  rig.Pump();
  EXPECT_TRUE(trace.Has("Unmount command sent 7 device\n"));
}

}  // namespace
}  // namespace remcons
