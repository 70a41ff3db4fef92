// The console session against a fake window and a console peer on loopback: window creation, the
// session timer driven tick by tick, the ends of a session, the stop, the command dispatcher and
// the window-side input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Strings.h"
#include "session/SessionRig.h"
#include "support/TraceCapture.h"
#include "vmedia/VmDrives.h"

namespace remcons {
namespace {

using testing::AlignedBits;
using testing::BreakConsoleSends;
using testing::ConsolePeer;
using testing::FirmwareBits;
using testing::ModeBits;
using testing::SessionRig;
using testing::TextBits;
using testing::TraceCapture;
using testing::WaitUntil;
using Bytes = std::vector<uint8_t>;

const Bytes kStartEscapes = {0x1B, 0x5B, 0x37, 0x1B, 0x5B, 0x39, 0x1B, 0x5B, 0x34};
const Bytes kMarker = {0x1B, 0x5B, 0x7E};  // the refresh request, command 18
const char kFailedToConnect[] =
    "Failed to connect to server.\nCheck for available telnet connection.\n";

// The bytes between consecutive markers: segment i holds what was sent before marker i.
std::vector<Bytes> SplitAtMarkers(const Bytes& stream) {
  std::vector<Bytes> segments(1);
  for (size_t i = 0; i < stream.size();) {
    if (i + 3 <= stream.size() && std::equal(kMarker.begin(), kMarker.end(), stream.begin() + i)) {
      segments.emplace_back();
      i += 3;
    } else {
      segments.back().push_back(stream[i++]);
    }
  }
  return segments;
}

uint16_t UnusedPort() {
  auto listener = TcpSocket::Listen("127.0.0.1", 0);
  const uint16_t port = listener->LocalPort();
  listener->Close();
  return port;
}

// --- Window creation ---

TEST(SessionCreate, StartsTheConsoleThreadAfterTheWindowIsReady) {
  ConsolePeer::Options options;
  options.answer = false;
  ConsolePeer peer(options);
  SessionRig rig;
  rig.control->put_port(peer.port());
  ASSERT_EQ(rig.Create(), 0);

  EXPECT_GE(rig.host.focusRequests.load(), 1);
  EXPECT_GE(rig.host.hoverRequests.load(), 1);
  ASSERT_TRUE(peer.WaitStartSequence());
  EXPECT_EQ(peer.StartSequence(), kStartEscapes);
  uint32_t period = 0;
  ASSERT_TRUE(WaitUntil([&] { return rig.host.TimerRunning(kSessionTimer, &period); }));
  EXPECT_EQ(period, 1000u);
  // The connecting text is on the frame before the connection stands.
  auto line = std::find_if(rig.painter.calls.begin(), rig.painter.calls.end(), [](const auto& c) {
    return c.text == "Attempting to connect to Kro remote console.";
  });
  ASSERT_NE(line, rig.painter.calls.end());
  EXPECT_EQ(line->y, 0);
  EXPECT_EQ(line->x, 0);
  // The menu bar exists, hidden until the pointer comes or the timer pins it.
  ASSERT_NE(rig.control->menuBar(), nullptr);
  EXPECT_FALSE(rig.control->menuBar()->IsShown());
  EXPECT_EQ(rig.control->StatusText(), "Attempting to connect to Kro remote console.");
  EXPECT_EQ(rig.control->ConnectionState(), CNet::kHandshaking);

  rig.control->OnDestroy();
  EXPECT_TRUE(rig.host.sendsClosed.load());
  EXPECT_FALSE(rig.control->ConsoleThreadRunning());
  EXPECT_TRUE(rig.control->SessionStopped());
  EXPECT_EQ(rig.control->EndReason(), CRemCons::SessionEnd::kStopped);
  rig.Pump();
  // The handshake never finished: only the stop raises OnShutdown.
  EXPECT_EQ(rig.events.Events(), std::vector<std::string>{"OnShutdown"});
}

TEST(SessionCreate, FrameSurfacesThatCannotBeMadeRefuseTheWindow) {
  SessionRig rig;
  const int result = rig.Create([](int width, int height) -> std::unique_ptr<Surface> {
    if (width > 16) throw std::bad_alloc();
    return std::make_unique<Surface>(width, height);
  });
  EXPECT_EQ(result, -1);
  const auto boxes = rig.host.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption + ": " + boxes[0].text,
            "Video Configuration Fault: Out of Memory - Error 0x00000008 creating hScreenBitmap. "
            "Size is 1280 x 1024");
  EXPECT_EQ(boxes[0].style & kMbIconMask, kMbIconWarning);
  EXPECT_EQ(rig.events.Events(), std::vector<std::string>{"OnShutdown"});
  ASSERT_EQ(rig.host.displayChanges.size(), 1u);
  EXPECT_FALSE(rig.host.displayChanges[0].has_value());
  EXPECT_FALSE(rig.control->ConsoleThreadRunning());
  EXPECT_TRUE(rig.control->StopSession());
}

// --- The connection check of the timer ---

// A console that never gets through shows the failure once, on its tick: 42 for a console, 112
// for a joining console.
TEST(ConnectionCheck, ShowsTheFailureOnceOnItsTick) {
  enum Peer { kSilent, kClosesInHandshake, kRefused };
  const std::tuple<const char*, uint32_t, Peer, int> cases[] = {
      {"silent server", 0, kSilent, 42},
      {"server closes in handshake", 0, kClosesInHandshake, 42},
      {"refused", 0, kRefused, 42},
      {"silent leader", 2, kSilent, 112},
      {"refused by the leader", 2, kRefused, 112}};
  for (const auto& [name, muMode, kind, tick] : cases) {
    SCOPED_TRACE(name);
    ConsolePeer::Options options;
    options.answer = false;
    options.closeInHandshake = kind == kClosesInHandshake;
    ConsolePeer peer(options);
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
    EXPECT_TRUE(rig.events.Events().empty());
    EXPECT_EQ(rig.control->TimerPhase(), 1u);
    rig.Tick();
    EXPECT_EQ(rig.host.Boxes(),
              (std::vector<testing::FakeHost::Box>{
                  {kFailedToConnect, "Network Status", kMbOk | kMbIconWarning | kMbSystemModal}}));
    EXPECT_EQ(rig.events.Events(), std::vector<std::string>{"OnShutdown"});
    EXPECT_FALSE(rig.host.TimerRunning(kSessionTimer));
    // Once only, however the timer goes on.
    rig.Tick(200);
    EXPECT_EQ(rig.host.Boxes().size(), 1u);
    EXPECT_EQ(rig.events.Count("OnShutdown"), 1);
    EXPECT_FALSE(rig.control->EverConnected());
  }
}

// --- Keep-alives and the idle time-out ---

TEST(SessionTimer, KeepAlivesOnTheSecondTickThenEvery31WithActivityMarked) {
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  rig.EnterPhase2();
  ASSERT_EQ(rig.control->TimerPhase(), 2u);
  ASSERT_EQ(rig.control->IdleCountdown(), 15u * 60u);

  // Each tick is followed by a marker, so the stream shows which tick sent what.
  for (int tick = 1; tick <= 100; ++tick) {
    if (tick == 40) rig.control->OnMouseMove(100, 100, false);
    rig.Tick();
    rig.control->DoCommand(18);
  }
  ASSERT_TRUE(peer.WaitReceived(100 * 3 + 4 * 3 + 8));
  const std::vector<Bytes> segments = SplitAtMarkers(peer.Received());
  ASSERT_EQ(segments.size(), 101u);
  const Bytes idle = {0x1B, 0x5B, 0x26};
  const Bytes activity = {0x1B, 0x5B, 0x28};
  // 100 px right and down over 1280 x 1024: dx 100, dy -100, X 234, Y 292.
  const Bytes move = {0xFF, 0xD0, 0x64, 0x9C, 0x00, 0xEA, 0x01, 0x24};
  for (int tick = 1; tick <= 100; ++tick) {
    Bytes expected;
    if (tick == 2 || tick == 33) expected = idle;
    if (tick == 40) expected = move;
    if (tick == 64) expected = activity;  // input was seen since the last one
    if (tick == 95) expected = idle;
    EXPECT_EQ(segments[static_cast<size_t>(tick - 1)], expected) << "tick " << tick;
  }
  EXPECT_EQ(rig.control->KeepAliveFailures(), 0u);
}

// Each kind of input restarts the full countdown; without input the session ends after timeout
// minutes, and its end clears the time-out.
TEST(SessionTimer, IdleTimeOutAfterTimeoutMinutesAndInputRestartsIt) {
  const std::function<void(CRemCons&)> inputs[] = {
      [](CRemCons& c) { c.OnMouseMove(5, 5, false); }, [](CRemCons& c) { c.OnMouseHover(5, 5); },
      [](CRemCons& c) { c.OnMouseButton(MenuBarMouse::kRightUp, 5, 5); },
      [](CRemCons& c) { c.OnChar('a', 0x1E); },
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
  EXPECT_GE(rig.events.Count("OnShutdown"), 1);
  EXPECT_EQ(rig.control->EndReason(), CRemCons::SessionEnd::kStopped);
  uint32_t timeout = 99;
  rig.control->get_timeout(&timeout);
  EXPECT_EQ(timeout, 0u);
}

// The user's language comes from the locale: a Swedish user's keypad "*" goes as "|".
TEST(SessionInput, TheLocaleChoosesTheKeyboardsLanguage) {
  for (const char* locale : {"sv_SE.UTF-8", "en_US.UTF-8"}) {
    setenv("LC_ALL", locale, 1);
    ConsolePeer peer;
    SessionRig rig;
    rig.Connect(peer);
    rig.control->OnChar('*', 0x37);
    ASSERT_TRUE(peer.WaitReceived(1));
    EXPECT_EQ(peer.Received(), Bytes{uint8_t(locale[0] == 's' ? '|' : '*')}) << locale;
  }
  unsetenv("LC_ALL");
}

TEST(SessionTimer, TimeoutZeroEndsOnTheFirstTickOrOnceTheLastDriveIsUnmounted) {
  {
    ConsolePeer peer;
    SessionRig rig;
    rig.control->put_timeout(0);
    rig.Connect(peer);
    rig.Tick(42);
    EXPECT_FALSE(rig.control->StopRequested());
    rig.Tick();
    EXPECT_TRUE(rig.control->StopRequested());
  }
  {
    ConsolePeer peer;
    SessionRig rig;
    rig.control->put_timeout(0);
    rig.Connect(peer);
    VmCountMount(1);
    rig.Tick(42 + 200);
    EXPECT_FALSE(rig.control->StopRequested());
    EXPECT_EQ(rig.control->TimerPhase(), 2u);
    // Once the drive is gone the time-out that was held back comes at the next tick.
    VmCountMount(-1);
    EXPECT_EQ(rig.control->IdleCountdown(), 0u);
    rig.Tick();
    EXPECT_TRUE(rig.control->StopRequested());
  }
}

TEST(SessionTimer, FourFailedKeepAlivesEndTheSession) {
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  rig.EnterPhase2();
  ASSERT_TRUE(BreakConsoleSends(peer.port()));
  const int keepAliveTicks[] = {2, 33, 64, 95};
  int tick = 0;
  for (int n = 0; n < 4; ++n) {
    while (tick < keepAliveTicks[n]) {
      EXPECT_FALSE(rig.control->StopRequested()) << "tick " << tick;
      rig.Tick();
      ++tick;
    }
    EXPECT_EQ(rig.control->KeepAliveFailures(), static_cast<uint32_t>(n + 1));
  }
  EXPECT_TRUE(rig.control->StopRequested());
  ASSERT_TRUE(rig.WaitThreadEnded());
  EXPECT_GE(rig.events.Count("OnShutdown"), 1);
}

// --- The ends of a session ---

TEST(SessionEnds, GiveTheirTextsBoxesAndEvents) {
  using End = CRemCons::SessionEnd;
  const std::string attempting = "Attempting to connect to Kro remote console.";
  struct Case {
    const char* name;
    std::string stream;  // empty: the server drops the connection
    std::string dialog;  // the OnDialog text, if any
    std::string statusText;
    bool statusLineDrawn;
    const char* boxCaption;  // nullptr: no box
    End reason;
  };
  const Case cases[] = {
      {"seize", FirmwareBits(10), "Session Acquired by another user.",
       "Session Acquired by another user.", true, nullptr, End::kServerEnded},
      {"kill", FirmwareBits(11), "Session terminated by firmware update.",
       "Session terminated by firmware update.", false, nullptr, End::kServerEnded},
      {"channel 6", TextBits(6, "Closed by the administrator"), "Closed by the administrator",
       "Closed by the administrator", false, nullptr, End::kServerEnded},
      {"exit command", FirmwareBits(1), "", attempting, true, nullptr, End::kServerEnded},
      {"dropped connection", "", "", "Connection to Kro lost", false, "Network Error",
       End::kConnectionLost}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConsolePeer peer;
    SessionRig rig;
    rig.Connect(peer);
    rig.EnterPhase2();
    if (c.stream.empty()) {
      peer.Close();
    } else {
      peer.Send(AlignedBits(c.stream));
    }
    ASSERT_TRUE(rig.WaitThreadEnded());
    std::vector<std::string> atEnd = {"OnShutdown"};
    if (!c.dialog.empty()) atEnd = {"OnDialog " + c.dialog, "OnShutdown", "OnShutdown"};
    EXPECT_EQ(rig.events.Events(), atEnd);
    EXPECT_EQ(rig.control->StatusText(), c.statusText);
    bool drawn = false;
    for (const auto& call : rig.painter.calls) drawn |= call.text == c.statusText;
    EXPECT_EQ(drawn, c.statusLineDrawn);
    const auto boxes = rig.host.Boxes();
    ASSERT_EQ(boxes.size(), c.boxCaption ? 1u : 0u);
    if (c.boxCaption) {
      EXPECT_EQ(boxes[0].caption, c.boxCaption);
      EXPECT_EQ(boxes[0].text, c.statusText);
      EXPECT_EQ(boxes[0].style & kMbIconMask, kMbIconWarning);
    }
    EXPECT_EQ(rig.control->EndReason(), c.reason);
    // The session's end zeroed the idle countdown: the next tick stops the session, which raises
    // OnShutdown once more and stops the timer.
    rig.Tick();
    EXPECT_TRUE(rig.control->SessionStopped());
    EXPECT_FALSE(rig.host.TimerRunning(kSessionTimer));
    rig.Pump();
    EXPECT_EQ(rig.events.Count("OnShutdown"), int(atEnd.size() == 1 ? 2 : 3));
    // And a stop after that posts yet another.
    EXPECT_TRUE(rig.control->StopSession());
    rig.Pump();
  }
}

TEST(SessionStop, DestroyingTheWindowWhileTheThreadWaitsInAReceive) {
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  rig.control->OnDestroy();
  EXPECT_FALSE(rig.control->ConsoleThreadRunning());
  EXPECT_TRUE(rig.control->SessionStopped());
  EXPECT_EQ(rig.control->EndReason(), CRemCons::SessionEnd::kStopped);
  EXPECT_TRUE(rig.host.Boxes().empty());  // a stop is not a lost connection
  rig.Pump();
  // Once from the end of the thread, once from the stop.
  EXPECT_EQ(rig.events.Events(), (std::vector<std::string>{"OnShutdown", "OnShutdown"}));
  EXPECT_TRUE(WaitUntil([&] { return peer.Ended(); }));
}

TEST(SessionStop, AReplayWaitingBetweenChunksEndsAtTheStopFlag) {
  // A replay source that waits a minute between chunks, through the clock with the stop flag.
  class SlowReplay : public ByteSource {
   public:
    explicit SlowReplay(CRemCons& control) : control_(control) {}
    int Read(uint8_t*, int) override {
      waiting = true;
      woken = !SystemClock().SleepMs(60000, &control_.StopFlag());
      return 0;
    }
    std::atomic<bool> waiting{false};
    std::atomic<bool> woken{false};

   private:
    CRemCons& control_;
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

  int attempts = 0;
  while (!rig.control->StopSession() && attempts < 30) ++attempts;
  EXPECT_TRUE(rig.control->SessionStopped());
  EXPECT_FALSE(rig.control->Replaying());
  EXPECT_TRUE(replay.woken.load());
  EXPECT_FALSE(rig.control->ConsoleThreadRunning());
  EXPECT_TRUE(rig.host.Boxes().empty());
  rig.control->SetReplaySource(nullptr);
}

TEST(SessionStop, MessagesPostedToAControlThatIsGoneDoNothing) {
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  while (!rig.control->StopSession()) {
  }
  rig.control.reset();
  EXPECT_GE(rig.host.RunPosted(), 1);
  EXPECT_TRUE(rig.events.Events().empty());
}

// --- Commands ---

TEST(SessionCommands, DispatchTableAndUnmountRequestsFromADrive) {
  TraceCapture trace;
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  for (int command : {7, 8, 9, 10, 11, 18, 19, 100, 0, 2, 12, 99, 108})
    rig.control->DoCommand(command);
  for (int command = 101; command <= 107; ++command) rig.control->DoCommand(command);
  // The keys panel's hot keys, as the menu bar writes them.
  const uint8_t hotKey = 0x16;
  rig.control->WriteInput(&hotKey, 1);
  // Without the control right the keys stay local, the power buttons do not.
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
  for (int kind = 1; kind <= 7; ++kind) {
    EXPECT_TRUE(trace.Has("Unmount command sent " + std::to_string(kind) + " device\n")) << kind;
  }
  // Unmount requests from a drive's thread run on the window thread.
  trace.Clear();
  std::thread([&] { rig.control->OnVmUnmountRequest(VmKind::Folder); }).join();
  EXPECT_FALSE(trace.Has("Unmount command sent 7 device\n"));
  rig.Pump();
  EXPECT_TRUE(trace.Has("Unmount command sent 7 device\n"));

  // Command 1 is the menu bar's exit.
  int attempts = 0;
  rig.control->DoCommand(1);
  while (!rig.control->SessionStopped() && attempts++ < 30) rig.control->StopSession();
  EXPECT_TRUE(rig.control->SessionStopped());
}

// --- Window-side input ---

TEST(SessionInput, HidKeysFollowTheFocus) {
  ConsolePeer peer;
  SessionRig rig;
  rig.control->put_kbdMode(1);
  rig.Connect(peer);

  rig.control->OnSetFocus();
  EXPECT_TRUE(rig.host.keyboardGrabbed.load());
  EXPECT_TRUE(CKeyboard::HookInstalled());
  EXPECT_EQ(rig.control->OnKeyEvent({0x41, 0x1E, false, false, false, 0}), KeyResult::kSwallow);
  EXPECT_EQ(rig.control->OnKeyEvent({0x41, 0x1E, false, false, true, 0}), KeyResult::kSwallow);
  rig.control->OnKillFocus();
  EXPECT_FALSE(rig.host.keyboardGrabbed.load());
  EXPECT_FALSE(CKeyboard::HookInstalled());
  // Without the focus keys stay local.
  EXPECT_EQ(rig.control->OnKeyEvent({0x42, 0x30, false, false, false, 0}), KeyResult::kPassOn);

  const Bytes expected = {0xFF, 0xD6, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0xFF, 0xD6, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  ASSERT_TRUE(peer.WaitReceived(expected.size()));
  EXPECT_EQ(peer.Received(), expected);
}

TEST(SessionInput, TerminalKeysCharactersAndShiftState) {
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  rig.control->OnSetFocus();
  // Shift held: Tab is the Shift cell.
  EXPECT_EQ(rig.control->OnKeyEvent({0xA0, 0x2A, false, false, false, 0}), KeyResult::kPassOn);
  EXPECT_EQ(rig.control->OnKeyEvent({0x09, 0x0F, false, false, false, 0}), KeyResult::kSwallow);
  rig.control->OnKeyEvent({0x09, 0x0F, false, false, true, 0});
  rig.control->OnKeyEvent({0xA0, 0x2A, false, false, true, 0});
  // Plain Tab, then a letter that the window types as a character.
  rig.control->OnKeyEvent({0x09, 0x0F, false, false, false, 0});
  EXPECT_EQ(rig.control->OnKeyEvent({0x41, 0x1E, false, false, false, 0}), KeyResult::kPassOn);
  rig.control->OnChar('a', 0x1E);
  rig.control->OnChar('\\', 0x56);  // the 102nd key's backslash
  rig.control->OnKillFocus();

  const Bytes expected = {0x1B, 0x5B, 0x33, 0x09, 0x09, 'a', 0xF0};
  ASSERT_TRUE(peer.WaitReceived(expected.size()));
  EXPECT_EQ(peer.Received(), expected);
  EXPECT_TRUE(rig.control->InputSeen());
}

// The window's mouse messages reach the server with the Control flag and the remote size (the
// packets themselves are the input tests').
TEST(SessionInput, MouseMessagesReachTheServer) {
  ConsolePeer peer;
  SessionRig rig;
  rig.control->put_width(1024);
  rig.control->put_height(768);
  rig.Connect(peer);
  rig.control->OnMouseMove(500, 90, true);  // Control held: the local pointer moves alone
  rig.control->OnMouseMove(501, 90, false);
  rig.control->OnMouseButton(MenuBarMouse::kRightDown, 501, 90);
  rig.control->OnMouseButton(MenuBarMouse::kRightUp, 501, 90);
  // One step right from 500: X = 1467.
  const Bytes expected = {0xFF, 0xD0, 0x01, 0x00, 0x05, 0xBB, 0x01,
                          0x5F, 0xFF, 0xD1, 0x01, 0xFF, 0xD2, 0x01};
  ASSERT_TRUE(peer.WaitReceived(expected.size()));
  EXPECT_EQ(peer.Received(), expected);
  EXPECT_GE(rig.host.cursorSets.load(), 1);
}

// --- The menu bar ---

TEST(SessionMenuBar, PinnedOnThe21stTickAndComposedOverThePicture) {
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  CMenuBar& bar = *rig.control->menuBar();
  const Surface& frame = rig.control->frameBuffer()->frame();
  Surface window(frame.width(), frame.height(), Rgb(9, 9, 9));
  // Pixels inside and outside the bar that differ from the frame.
  const auto differing = [&] {
    rig.control->OnPaint(window.bounds(), window);
    std::pair<long, long> inOut{0, 0};
    for (int y = 0; y < window.height(); ++y) {
      for (int x = 0; x < window.width(); ++x) {
        if (!SameColor(window.At(x, y), frame.At(x, y)))
          ++(bar.Area().Contains(x, y) ? inOut.first : inOut.second);
      }
    }
    return inOut;
  };
  rig.Tick(20);
  EXPECT_FALSE(bar.IsPinned());
  EXPECT_EQ(differing(), std::pair(0L, 0L));
  rig.Tick();
  EXPECT_TRUE(bar.IsPinned());
  EXPECT_TRUE(bar.IsShown());
  // The bar is drawn where it lies; the picture everywhere else.
  const Rect area = bar.Area();
  ASSERT_FALSE(area.Empty());
  EXPECT_EQ(area.top, 0);
  const auto [inside, outside] = differing();
  EXPECT_GT(inside, area.Width() * area.Height() / 2);
  EXPECT_EQ(outside, 0);
}

// --- Mode changes and status texts ---

TEST(SessionVideo, AModeChangeResizesWindowedAndReportsTheNewSize) {
  ConsolePeer peer;
  SessionRig rig;
  rig.Connect(peer);
  peer.Send(AlignedBits(ModeBits(50, 37, 8) + TextBits(2, "Ready")));
  ASSERT_TRUE(WaitUntil([&] { return rig.events.Has("OnStatus 800x600 | Ready"); }));
  EXPECT_EQ(rig.events.Events(),
            (std::vector<std::string>{"OnResize 800x600", "OnStatus 800x600 | Ready"}));
  uint16_t width = 0, height = 0;
  rig.control->get_width(&width);
  rig.control->get_height(&height);
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 600);
  // The frame surfaces keep their size.
  EXPECT_EQ(rig.control->frameBuffer()->frame().width(), 1280);
}

// Full screen on a display without a matching mode says so and keeps the window, its size
// following the server's; a host without display modes (headless) is windowed whatever
// fullScreen says: no mode search, no box, no restore.
TEST(SessionVideo, FullScreenWithoutAMatchingModeOrWithoutADisplay) {
  for (const bool display : {true, false}) {
    SCOPED_TRACE(display);
    ConsolePeer peer;
    SessionRig rig;
    if (display) rig.host.displayModes = {DisplayMode{640, 480, 32, 60, 0}};
    rig.control->put_fullScreen(1);
    rig.Connect(peer);
    peer.Send(AlignedBits(ModeBits(64, 48, 0) + TextBits(2, "Ready")));
    ASSERT_TRUE(WaitUntil([&] { return rig.events.Count("OnStatus 1024x768 | Ready") == 1; }));
    EXPECT_TRUE(rig.events.Has("OnResize 1024x768"));
    uint16_t width = 0;
    rig.control->get_width(&width);
    EXPECT_EQ(width, 1024);
    const auto boxes = rig.host.Boxes();
    ASSERT_EQ(boxes.size(), display ? 1u : 0u);
    if (display) {
      EXPECT_EQ(boxes[0].caption, "Warning");
      EXPECT_EQ(boxes[0].text, "Unable to find a match for 800x600.");
    }
    EXPECT_EQ(rig.control->menuBar()->config().windowed, !display);
    // The stop restores the desktop's mode once more after full screen.
    rig.control->OnDestroy();
    EXPECT_EQ(rig.host.displayChanges.size(), display ? 2u : 0u);
  }
}

TEST(SessionVideo, SecondStatusTextInAMultiUserStatusLine) {
  ConsolePeer peer;
  SessionRig rig;
  rig.control->put_muMode(1);
  rig.Connect(peer);
  peer.Send(AlignedBits(TextBits(5, "2 users") + TextBits(2, "Live")));
  ASSERT_TRUE(WaitUntil([&] { return rig.events.Events().size() >= 2; }));
  const auto events = rig.events.Events();
  EXPECT_EQ(events[0],
            "OnStatus 1280x1024 | Attempting to connect to Kro remote console. | 2 users");
  EXPECT_EQ(events[1], "OnStatus 1280x1024 | Live | 2 users");
}

TEST(SessionVideo, EncipheredSessionBothWays) {
  const uint8_t sendKey[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                               0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  const uint8_t receiveKey[16] = {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87,
                                  0x78, 0x69, 0x5A, 0x4B, 0x3C, 0x2D, 0x1E, 0x0F};
  ConsolePeer::Options options;
  options.enciphered = true;
  std::copy_n(sendKey, 16, options.consoleSendKey);
  std::copy_n(receiveKey, 16, options.consoleReceiveKey);
  options.startBytes = 15 + 7;  // "dXNlcjpw" is "user:p": u s e r CR p CR
  ConsolePeer peer(options);
  SessionRig rig;
  rig.control->put_encryption(1);
  rig.control->put_keyIndex(0x01020304);
  rig.control->put_login("dXNlcjpw");  // "user:p"
  rig.control->put_decryptKey("1032547698BADCFE0123456789ABCDEF");
  rig.control->put_encryptKey("F0E1D2C3B4A5968778695A4B3C2D1E0F");
  rig.Connect(peer);

  Bytes start = peer.StartSequence();
  ASSERT_EQ(start.size(), 22u);
  EXPECT_EQ(Bytes(start.begin(), start.begin() + 6), (Bytes{0xFF, 0xC0, 0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(Bytes(start.begin() + 6, start.begin() + 15), kStartEscapes);
  EXPECT_EQ(Bytes(start.begin() + 15, start.end()), (Bytes{'u', 's', 'e', 'r', '\r', 'p', '\r'}));

  peer.Send(AlignedBits(TextBits(2, "secret screen")));
  ASSERT_TRUE(WaitUntil([&] { return rig.events.Has("OnStatus 1280x1024 | secret screen"); }));
  rig.control->DoCommand(18);
  ASSERT_TRUE(peer.WaitReceived(3));
  EXPECT_EQ(peer.Received(), kMarker);
}

}  // namespace
}  // namespace remcons
