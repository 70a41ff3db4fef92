// The console service over loopback, driven by the test console of console_peer.h; the picture
// is decoded by the project's decoder only as a cross-check.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "ConsolePeer.h"
#include "sim/ConsoleServer.h"

namespace remcons::sim {
namespace {

using testing::ConsolePeer;
using testing::DecodingConsole;
using testing::StartOptions;
using testing::TestKeys;
using testing::TestOptions;
using Bytes = std::vector<uint8_t>;

Bytes ReadSome(ConsolePeer& peer, size_t n) {
  Bytes out;
  uint8_t buffer[4096];
  while (out.size() < n) {
    const int got = peer.Read(buffer, sizeof buffer);
    if (got <= 0) break;
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

// Deciphered with the keystream of MD5(encryptKey | zeros) from its first byte, a session's
// stream opens with the mode command: START 1, CMD 0, CMD0 1, EXTCMD 1, EXTCMD1 0, EXTCMD2 0, then
// 640 / 16 = 40 columns, 480 / 16 = 30 rows and no extra lines.
void ExpectModeCommand(ConsolePeer& peer) {
  const Bytes mode = remcons::testing::Bits("1 0 1 1 0 0 0101000 0011110 0000");
  Bytes got = ReadSome(peer, mode.size());
  ASSERT_GE(got.size(), mode.size());
  got.resize(mode.size());
  EXPECT_EQ(got, mode);
}

using ConsoleServerTest = testing::ServerTest;

// --- Start sequence and reply ---

TEST_F(ConsoleServerTest, ClearAndEncipheredStartsInPiecesAndAfterGarbage) {
  StartServer();
  const Bytes garbage[] = {{}, {'n', 'o', 'i', 's', 'e', 0x1B, '['}, {0xFF, 0xFF, 0x1B}};
  std::mt19937 random(5);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    StartOptions o;
    o.header = round % 2 == 1;
    o.garbage = garbage[round % 3];
    ConsolePeer peer(server_->Port(), options_.keys);
    std::vector<size_t> cuts;
    for (size_t i = 1; i < 30; ++i) {
      if (random() % 3 == 0) cuts.push_back(i);
    }
    peer.SendStart(o, cuts);
    std::string text;
    bool enciphered = !o.header;
    ASSERT_TRUE(peer.ReadReply(&text, &enciphered));
    EXPECT_EQ(enciphered, o.header);
    EXPECT_EQ(text, "\r\nMPSIM console service\r\n");
    ExpectModeCommand(peer);
    peer.Close();
    ASSERT_TRUE(server_->WaitForNoSession(5000));
  }
  size_t starts = 0;
  for (const auto& r : server_->Packets()) {
    if (r.kind != "start") continue;
    const std::string skipped = starts % 3 == 1 ? "7" : starts % 3 == 2 ? "3" : "0";
    EXPECT_NE(r.fields.find("\"skipped\":" + skipped), std::string::npos) << r.Json();
    EXPECT_NE(r.fields.find(starts % 2 ? "\"enciphered\":true" : "\"enciphered\":false"),
              std::string::npos);
    EXPECT_NE(r.fields.find("\"name\":\"user\""), std::string::npos);
    EXPECT_NE(r.fields.find("\"passwordLength\":4"), std::string::npos);
    EXPECT_EQ(r.fields.find("pass\""), std::string::npos) << "no password in the log";
    ++starts;
  }
  EXPECT_EQ(starts, 12u);
  EXPECT_EQ(server_->Counters().sessions, 12u);
}

TEST_F(ConsoleServerTest, UnknownKeyIndexWrongKeysAndAWrongPasswordAreRefused) {
  ConsoleServerOptions o = TestOptions();
  o.moreKeys[5] = TestKeys(5);
  o.checkLogin = true;
  o.login = "user:pass";
  StartServer(o);
  struct Case {
    uint32_t keyIndex;
    ConsoleKeys keys;
    std::string login;
    bool ok;
  };
  const Case cases[] = {{9, o.keys, "user\rpass\r", false},
                        {0, TestKeys(7), "user\rpass\r", false},
                        {0, o.keys, "user\rwrong\r", false},
                        {5, TestKeys(5), "user\rpass\r", true},
                        {0, o.keys, "user\rpass\r", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keyIndex);
    ConsolePeer peer(server_->Port(), c.keys);
    StartOptions start;
    start.keyIndex = c.keyIndex;
    start.login = c.login;
    EXPECT_EQ(peer.Begin(start), c.ok);
    if (c.ok) {
      ExpectModeCommand(peer);  // with that index's encryptKey
      peer.Close();
      ASSERT_TRUE(server_->WaitForNoSession(5000));
    }
  }
  EXPECT_EQ(server_->Counters().startFailures, 2u);
  EXPECT_EQ(server_->PacketCount("start-failed"), 2u);
  EXPECT_EQ(server_->Counters().loginFailures, 1u);
  EXPECT_EQ(server_->Counters().sessions, 2u);
}

TEST_F(ConsoleServerTest, AnEmptyLoginIsCompleteWhenTheConsoleGoesQuiet) {
  StartServer();
  ConsolePeer peer(server_->Port(), options_.keys);
  StartOptions start;
  start.login.clear();
  ASSERT_TRUE(peer.Begin(start));
  EXPECT_TRUE(peer.enciphered);
}

TEST_F(ConsoleServerTest, EncryptionOffAnswersAHeaderWithAClearSession) {
  ConsoleServerOptions o = TestOptions();
  o.encryption = false;
  StartServer(o);
  ConsolePeer peer(server_->Port(), o.keys);
  ASSERT_TRUE(peer.Begin());
  EXPECT_FALSE(peer.enciphered);
  ExpectModeCommand(peer);
  peer.Send({0x1B, '[', '&'});
  ASSERT_TRUE(server_->WaitForPackets("keepalive-idle", 1, 5000));
}

TEST_F(ConsoleServerTest, SilenceMeansNoReplyUntilItEnds) {
  ConsoleServerOptions o = TestOptions();
  o.silent = true;
  StartServer(o);
  ConsolePeer peer(server_->Port(), o.keys);
  peer.socket().SetReceiveTimeout(300);
  peer.SendStart({});
  uint8_t b;
  EXPECT_LT(peer.socket().Receive(&b, 1), 1) << "nothing comes while silent";
  ASSERT_TRUE(server_->WaitForPackets("start", 1, 5000));
  server_->SetSilent(false);
  peer.socket().SetReceiveTimeout(5000);
  std::string text;
  bool enciphered;
  EXPECT_TRUE(peer.ReadReply(&text, &enciphered));
}

// --- Packets ---

TEST_F(ConsoleServerTest, PacketsArriveWhole_InAnySplitAndCoalesced) {
  StartServer();
  const std::vector<Bytes> packets = {
      {0xFF, 0xD6, 0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0xFF, 0xD6, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0xFF, 0xD0, 0x0A, 0x0A, 0x01, 0x42, 0x01, 0x5F},
      {0xFF, 0xD1, 0x04},
      {0xFF, 0xD2, 0x04},
      {0xFF, 0xD3, 0x04, 0x01},
      {0x1B, '[', '('},
      {0x1B, '[', '&'},
      {0x1B, '[', 'A'},
      {0x1B, '[', '1', 0x1B, '[', 'B'},
      {'x'},
      {0x14},
      {0xFF, 0xC6, 0x54, 0x24},
      {0xFF, 0xCF, 'h', 'e', 'l', 'l', 'o', 0},
      {0xFF, 0xCB},
      {0xFF, 0xCC},
  };
  Bytes all;
  for (const auto& p : packets) all.insert(all.end(), p.begin(), p.end());
  std::mt19937 random(3);
  for (int mode = 0; mode < 3; ++mode) {
    ConsolePeer peer(server_->Port(), options_.keys);
    ASSERT_TRUE(peer.Begin());
    ASSERT_TRUE(server_->WaitForSession(5000, mode + 1));
    if (mode == 0) {
      peer.Send(all);  // all in one write
    } else if (mode == 1) {
      for (uint8_t b : all) peer.Send({b});  // one byte a write
    } else {
      for (size_t at = 0; at < all.size();) {
        const size_t n = std::min<size_t>(all.size() - at, 1 + random() % 9);
        peer.Send(Bytes(all.begin() + static_cast<std::ptrdiff_t>(at),
                        all.begin() + static_cast<std::ptrdiff_t>(at + n)));
        at += n;
      }
    }
    ASSERT_TRUE(server_->WaitFor(
        [&] {
          size_t n = 0;
          for (const auto& r : server_->Packets()) n += r.session == mode + 1 && r.kind != "start";
          return n >= packets.size();
        },
        5000));
    std::vector<Bytes> got;
    for (const auto& r : server_->Packets()) {
      if (r.session == mode + 1 && r.kind != "start") got.push_back(r.bytes);
    }
    EXPECT_EQ(got, packets) << "mode " << mode;
    peer.Close();
    ASSERT_TRUE(server_->WaitForNoSession(5000));
  }
  const ConsoleCounters c = server_->Counters();
  EXPECT_EQ(c.keepAliveActivity, 3u);
  EXPECT_EQ(c.keepAliveIdle, 3u);
  EXPECT_EQ(c.mouseMoves, 3u);
  EXPECT_EQ(c.badPackets, 0u);
}

TEST_F(ConsoleServerTest, HostileBytesNeverCrashAndTheSessionGoesOn) {
  ConsoleServerOptions o = TestOptions();
  o.packetTimeoutMs = 100;
  StartServer(o);
  ConsolePeer peer(server_->Port(), o.keys);
  ASSERT_TRUE(peer.Begin());
  std::mt19937 random(77);
  for (int round = 0; round < 50; ++round) {
    Bytes noise(1 + random() % 2000);
    for (auto& b : noise) {
      const uint32_t r = random();
      b = r % 5 == 0 ? 0xFF : r % 5 == 1 ? 0x1B : static_cast<uint8_t>(r >> 8);
    }
    peer.Send(noise);
  }
  // Oversize texts and a truncated packet, then quiet so that it is dropped.
  Bytes oversize = {0xFF, 0xCA, '0'};
  oversize.insert(oversize.end(), 5000, 'q');
  peer.Send(oversize);
  peer.Send({0xFF, 0xD6, 0x00});
  ASSERT_TRUE(server_->WaitForPackets("truncated", 1, 5000));
  // Power buttons may have come out of the noise; make sure the server is on, then type.
  server_->SetPower(true);
  const size_t before = server_->PacketCount("keepalive-idle");
  peer.Send({0x1B, '[', '&'});
  ASSERT_TRUE(server_->WaitForPackets("keepalive-idle", before + 1, 5000));
  EXPECT_GT(server_->Counters().badPackets, 0u);
  EXPECT_GE(server_->PacketCount("oversize"), 1u);
  EXPECT_EQ(server_->SessionNumber(), 1);
}

// --- The server's reactions, cross-checked by decoding ---

TEST_F(ConsoleServerTest, ThePictureFollowsTypedKeysAndThePointer) {
  StartServer();
  DecodingConsole console(server_->Port(), options_.keys);
  ASSERT_TRUE(console.enciphered);
  ASSERT_TRUE(console.ConvergesTo(*server_));
  EXPECT_TRUE(console.Saw("mode 640x480"));
  EXPECT_NE(server_->ScreenText().find("MPSIM System BIOS"), std::string::npos);
  auto hid = [&](uint8_t modifiers, uint8_t usage) {
    console.peer.Send({0xFF, 0xD6, modifiers, 0, usage, 0, 0, 0, 0, 0});
    console.peer.Send({0xFF, 0xD6, modifiers, 0, 0, 0, 0, 0, 0, 0});
  };
  // "Hello !" and Enter as HID reports, then terminal bytes with a backspace.
  for (auto [modifiers, usage] : {std::pair{0x02, 0x0B},
                                  {0, 0x08},
                                  {0, 0x0F},
                                  {0, 0x0F},
                                  {0, 0x12},
                                  {0, 0x2C},
                                  {0x02, 0x1E},
                                  {0, 0x28}}) {
    hid(static_cast<uint8_t>(modifiers), static_cast<uint8_t>(usage));
  }
  console.peer.Send({'a', 'b', 'c', 0x08, 'd', 0x0D});
  console.peer.Send({'z'});
  ASSERT_TRUE(server_->WaitFor(
      [&] { return server_->ScreenText().find("boot: z") != std::string::npos; }, 5000));
  const std::string text = server_->ScreenText();
  EXPECT_NE(text.find("boot: Hello !\nboot: abd\nboot: z"), std::string::npos) << text;
  EXPECT_TRUE(console.ConvergesTo(*server_));
  // X = 1500 and Y = 750 on the 3000 grid: pixel 320, 120 of 640 x 480; a button turns it yellow.
  console.peer.Send({0xFF, 0xD0, 0x05, 0x05, 0x05, 0xDC, 0x02, 0xEE});
  ASSERT_TRUE(server_->WaitForPackets("mouse-move", 1, 5000));
  ASSERT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(server_->Screen().At(320, 120), 0x000);
  EXPECT_EQ(server_->Screen().At(321, 122), 0xFFF);
  console.peer.Send({0xFF, 0xD1, 0x04});
  ASSERT_TRUE(server_->WaitFor([&] { return server_->Screen().At(321, 122) == 0xFF0; }, 5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(console.events.refreshRequests, 0) << "the decoder never latched";
}

TEST_F(ConsoleServerTest, PowerButtonsSwitchThePowerAndTheStreamSaysSo) {
  StartServer();
  DecodingConsole console(server_->Port(), options_.keys);
  ASSERT_TRUE(console.ConvergesTo(*server_));
  console.peer.Send({0xFF, 0xBB});  // press and hold: off
  ASSERT_TRUE(server_->WaitFor([&] { return !server_->PowerOn(); }, 5000));
  EXPECT_TRUE(console.Saw("firmware 5"));
  ASSERT_TRUE(server_->WaitFor([&] { return console.events.Saw("power-off"); }, 5000));
  const size_t modesBefore = console.log.Entries().size();
  console.peer.Send({0xFF, 0xBA});  // momentary press: on again
  ASSERT_TRUE(console.Saw("firmware 4"));
  ASSERT_TRUE(console.ConvergesTo(*server_));
  EXPECT_NE(server_->ScreenText().find("System BIOS"), std::string::npos);
  EXPECT_GT(console.log.Entries().size(), modesBefore);
  // Cold boot: power off and on in the stream as well.
  const size_t offs = console.log.Count("firmware 5");
  console.peer.Send({0xFF, 0xBC});
  ASSERT_TRUE(server_->WaitFor([&] { return console.log.Count("firmware 5") > offs; }, 5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  // Reset: the power-on screen, no power commands.
  console.peer.Send({'q'});
  ASSERT_TRUE(server_->WaitFor(
      [&] { return server_->ScreenText().find("boot: q") != std::string::npos; }, 5000));
  const size_t ons = console.log.Count("firmware 4");
  console.peer.Send({0xFF, 0xBD});
  ASSERT_TRUE(server_->WaitFor(
      [&] { return server_->ScreenText().find("boot: q") == std::string::npos; }, 5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(console.log.Count("firmware 4"), ons);
  EXPECT_EQ(server_->Counters().powerButtons, 4u);
}

TEST_F(ConsoleServerTest, PowerOffAtTheStartIsAZeroMode) {
  ConsoleServerOptions o = TestOptions();
  o.screen.powerOn = false;
  StartServer(o);
  DecodingConsole console(server_->Port(), o.keys);
  ASSERT_TRUE(server_->WaitFor([&] { return console.events.Saw("power-off"); }, 5000));
  EXPECT_FALSE(console.events.Saw("power-on"));
  server_->SetPower(true);
  ASSERT_TRUE(server_->WaitFor([&] { return console.events.Saw("power-on"); }, 5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
}

TEST_F(ConsoleServerTest, RefreshIsAnsweredWithTheWholeScreenAfterAMark) {
  StartServer();
  DecodingConsole console(server_->Port(), options_.keys);
  ASSERT_TRUE(console.ConvergesTo(*server_));
  const uint64_t fullFrames = server_->Counters().fullFrames;
  const size_t resyncs = console.log.Count("resync");
  console.peer.Send({0x1B, '[', '~'});
  ASSERT_TRUE(
      server_->WaitFor([&] { return server_->Counters().fullFrames == fullFrames + 1; }, 5000));
  ASSERT_TRUE(server_->WaitFor([&] { return console.log.Count("resync") == resyncs + 1; }, 5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(server_->Counters().refreshRequests, 1u);
}

TEST_F(ConsoleServerTest, ModeTextsJoinAnswersSuspendAndResume) {
  StartServer();
  DecodingConsole console(server_->Port(), options_.keys);
  ASSERT_TRUE(console.ConvergesTo(*server_));
  server_->SetMode(800, 600);
  ASSERT_TRUE(console.Saw("mode 800x600"));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  for (uint8_t channel : {2, 4, 5}) server_->SendText(channel, "note " + std::to_string(channel));
  EXPECT_TRUE(console.Saw("text 2 note 2"));
  EXPECT_TRUE(console.Saw("text 4 note 4"));
  EXPECT_TRUE(console.Saw("text 5 note 5"));
  // A join request is answered on channel 0x80.
  console.peer.Send({0xFF, 0xCA, '2', 'c', 'a', 'r', 'o', 'l', '\r', 'p', 'w', '\r', 0});
  EXPECT_TRUE(console.Saw("text 128 2carol"));
  server_->SuspendVideo();
  EXPECT_TRUE(console.Saw("firmware 6"));
  server_->Type("typed while suspended");
  ASSERT_TRUE(server_->WaitUntilSent(5000));
  EXPECT_NE(console.picture->MismatchWith(server_->Screen()), "") << "no picture while suspended";
  server_->ResumeVideo();
  EXPECT_TRUE(console.ConvergesTo(*server_));
}

TEST_F(ConsoleServerTest, SeizeKillExitAndADroppedConnectionEndTheConsolesSession) {
  StartServer();
  const struct {
    void (ConsoleServer::*command)();
    std::string entry;
    DecodeEnd end;
  } cases[] = {{&ConsoleServer::Seize, "firmware 10", DecodeEnd::kExit},
               {&ConsoleServer::Kill, "firmware 11", DecodeEnd::kExit},
               {&ConsoleServer::Exit, "firmware 1", DecodeEnd::kExit},
               {&ConsoleServer::DropConnection, "", DecodeEnd::kConnectionLost}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    DecodingConsole console(server_->Port(), options_.keys);
    ASSERT_TRUE(server_->WaitForSession(5000, ++n));
    ASSERT_TRUE(console.ConvergesTo(*server_));
    ((*server_).*c.command)();
    ASSERT_TRUE(server_->WaitFor([&] { return console.done(); }, 5000));
    EXPECT_EQ(console.end(), c.end);
    if (!c.entry.empty()) {
      EXPECT_TRUE(console.Saw(c.entry));
    }
    console.Close();
    EXPECT_TRUE(server_->WaitForNoSession(5000));
  }
}

TEST_F(ConsoleServerTest, ASecondConsoleTakesTheSessionOver) {
  StartServer();
  DecodingConsole first(server_->Port(), options_.keys);
  ASSERT_TRUE(server_->WaitForSession(5000, 1));
  ASSERT_TRUE(first.ConvergesTo(*server_));
  DecodingConsole second(server_->Port(), options_.keys);
  EXPECT_TRUE(first.Saw("firmware 10"));
  ASSERT_TRUE(server_->WaitFor([&] { return first.done(); }, 5000));
  first.Close();
  ASSERT_TRUE(server_->WaitForSession(5000, 2));
  EXPECT_TRUE(second.ConvergesTo(*server_));
}

TEST_F(ConsoleServerTest, WithoutSeizingASecondConsoleIsRefused) {
  ConsoleServerOptions o = TestOptions();
  o.seizeOnNewConnection = false;
  StartServer(o);
  DecodingConsole first(server_->Port(), o.keys);
  ASSERT_TRUE(server_->WaitForSession(5000, 1));
  ConsolePeer second(server_->Port(), o.keys);
  EXPECT_FALSE(second.Begin());
  EXPECT_EQ(server_->Counters().refused, 1u);
  EXPECT_EQ(server_->SessionNumber(), 1);
}

TEST_F(ConsoleServerTest, ScriptRunsInEverySession) {
  ConsoleServerOptions o = TestOptions();
  std::string error;
  ASSERT_TRUE(
      ParseScript("# demo\n"
                  "status Hello there\n"
                  "mode 800x608\n"
                  "power cycle\n"
                  "keychange\n"
                  "type dir\\n\n"
                  "wait-packet keepalive-idle 1 5000\n"
                  "dialog bye\n",
                  &o.script, &error))
      << error;
  StartServer(o);
  DecodingConsole console(server_->Port(), o.keys);
  EXPECT_TRUE(console.Saw("text 2 Hello there"));
  EXPECT_TRUE(console.Saw("mode 800x608"));
  EXPECT_TRUE(console.Saw("firmware 5"));
  EXPECT_TRUE(console.Saw("firmware 9"));
  ASSERT_TRUE(server_->WaitFor(
      [&] { return server_->ScreenText().find("boot: dir\nboot: ") != std::string::npos; }, 5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(console.log.Count("text 4 bye"), 0u) << "the script waits for the keep-alive";
  console.peer.Send({0x1B, '[', '&'});
  EXPECT_TRUE(console.Saw("text 4 bye"));
  EXPECT_EQ(console.events.keyChanges, 1);
}

TEST_F(ConsoleServerTest, AGreetingCannotCarryAStartReplyOfItsOwn) {
  ConsoleServerOptions o = TestOptions();
  o.replyText = "welcome \x1B[R to \x1B[r the server\r\n";
  StartServer(o);
  ConsolePeer peer(server_->Port(), o.keys);
  peer.SendStart({});
  std::string text;
  bool enciphered = false;
  ASSERT_TRUE(peer.ReadReply(&text, &enciphered));
  // Only the real reply counts: the text's own ESC bytes were taken out.
  EXPECT_TRUE(enciphered);
  EXPECT_EQ(text, "welcome [R to [r the server\r\n");
  ExpectModeCommand(peer);
}

// Frames are paced on the server's clock: changes made within one frame interval go out
// together once the interval has passed, and the boot counts memory on the same clock.
TEST_F(ConsoleServerTest, FramesArePacedAndTheBootRunsOnTheServersClock) {
  ManualClock& clock = manualClock_;
  ConsoleServerOptions o = TestOptions();
  o.clock = &clock;
  o.frameIntervalMs = 500;
  o.screen.bootMs = 2000;
  o.screen.memoryMb = 2048;
  StartServer(o);
  DecodingConsole console(server_->Port(), o.keys);
  ASSERT_TRUE(console.ConvergesTo(*server_));
  EXPECT_NE(server_->ScreenText().find("Memory Test: 0K"), std::string::npos);
  const uint64_t frames = server_->Counters().frames;
  clock.Advance(499);
  server_->Print("one");
  server_->Print("two");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(server_->Counters().frames, frames) << "no frame before the interval is over";
  EXPECT_FALSE(server_->WaitUntilSent(0));
  clock.Advance(1);
  ASSERT_TRUE(server_->WaitUntilSent(5000));
  EXPECT_EQ(server_->Counters().frames, frames + 1) << "both changes in one update";
  EXPECT_NE(server_->ScreenText().find("Memory Test: 524288K"), std::string::npos);
  EXPECT_TRUE(console.ConvergesTo(*server_));
  clock.Advance(1500);
  ASSERT_TRUE(server_->WaitFor(
      [&] { return server_->ScreenText().find("Memory Test: 2097152K OK") != std::string::npos; },
      5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
}

TEST_F(ConsoleServerTest, ExecuteReportsBadCommandsAndMissingSessions) {
  StartServer();
  std::string error;
  EXPECT_FALSE(server_->Execute("fly away", &error));
  EXPECT_EQ(error, "unknown command 'fly'");
  EXPECT_FALSE(server_->Execute("seize", &error));
  EXPECT_EQ(error, "no console session");
  EXPECT_TRUE(server_->Execute("power off", &error));
  EXPECT_FALSE(server_->PowerOn());
  EXPECT_TRUE(server_->Execute("# a comment", &error));
}

}  // namespace
}  // namespace remcons::sim
