// The console service over loopback, driven by the test console of ConsolePeer.h; the picture
// is decoded by the project's decoder only as a cross-check.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "ConsolePeer.h"
#include "sim/ConsoleServer.h"

namespace remcons::sim {
namespace {

using testing::Bytes;
using testing::ConsolePeer;
using testing::DecodingConsole;
using testing::StartOptions;
using testing::TestKeys;
using testing::TestOptions;

// Deciphered with the keystream of MD5(encryptKey | zeros) from its first byte, a session's
// stream opens with the mode command: START 1, CMD 0, CMD0 1, EXTCMD 1, EXTCMD1 0, EXTCMD2 0, then
// 640 / 16 = 40 columns, 480 / 16 = 30 rows and no extra lines.
void ExpectModeCommand(ConsolePeer& peer) {
  const Bytes mode = remcons::testing::Bits("1 0 1 1 0 0 0101000 0011110 0000");
  Bytes got = peer.ReadSome(mode.size());
  got.resize(std::min(got.size(), mode.size()));
  EXPECT_EQ(got, mode);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

using ConsoleServerTest = testing::ServerTest;

TEST_F(ConsoleServerTest, UnknownKeyIndexWrongKeysAndAWrongPasswordAreRefused) {
  ConsoleServerOptions o = TestOptions();
  o.moreKeys[5] = TestKeys(5);
  o.checkLogin = true;
  o.login = "user:pass";
  StartServer(o);
  const struct {
    uint32_t keyIndex;
    ConsoleKeys keys;
    std::string login;
    bool ok;
  } cases[] = {{9, o.keys, "user\rpass\r", false},
               {0, TestKeys(7), "user\rpass\r", false},
               {0, o.keys, "user\rwrong\r", false},
               {5, TestKeys(5), "user\rpass\r", true},
               {0, o.keys, "user\rpass\r", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyIndex);
    ConsolePeer peer(server_->Port(), c.keys);
    EXPECT_EQ(peer.Begin({true, c.keyIndex, c.login, {}}), c.ok);
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

// Starts clear and enciphered, in pieces and after garbage; an empty login ends when the console
// goes quiet; with encryption off a header gets a clear session; a greeting's own ESC bytes cannot
// make a start reply of their own. The log tells what came, but not the password.
TEST_F(ConsoleServerTest, StartVariants) {
  const std::string service = "\r\nMPSIM console service\r\n", login = "user\rpass\r";
  const struct {
    const char* name;
    bool encryption, header;
    std::string login, garbage, greeting, text, logged;
  } cases[] = {
      {"clear after garbage", true, false, login, "noise\x1B[", "", service,
       "\"header\":false,\"keyIndex\":0,\"enciphered\":false,\"passwordLength\":4,\"crs\":2,"
       "\"skipped\":7"},
      {"enciphered after garbage", true, true, login, "\xFF\xFF\x1B", "", service,
       "\"header\":true,\"keyIndex\":0,\"enciphered\":true,\"passwordLength\":4,\"crs\":2,"
       "\"skipped\":3"},
      {"empty login", true, true, "", "", "", service,
       "\"passwordLength\":0,\"crs\":0,\"skipped\":0,\"login\":\"unchecked\",\"name\":\"\""},
      {"encryption off", false, true, login, "", "", service,
       "\"header\":true,\"keyIndex\":0,\"enciphered\":false"},
      {"greeting", true, true, login, "", "welcome \x1B[R to \x1B[r the server\r\n",
       "welcome [R to [r the server\r\n", "\"name\":\"user\""},
  };
  std::mt19937 random(5);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConsoleServerOptions o = TestOptions();
    o.encryption = c.encryption;
    if (!c.greeting.empty()) o.replyText = c.greeting;
    StartServer(o);
    ConsolePeer peer(server_->Port(), o.keys);
    std::vector<size_t> cuts;
    for (size_t i = 1; i < 30; ++i) {
      if (random() % 3 == 0) cuts.push_back(i);
    }
    peer.SendStart({.header = c.header,
                    .keyIndex = 0,
                    .login = c.login,
                    .garbage = Bytes(c.garbage.begin(), c.garbage.end())},
                   cuts);
    std::string text;
    ASSERT_TRUE(peer.ReadReply(&text));
    EXPECT_EQ(peer.enciphered, c.encryption && c.header);
    EXPECT_EQ(text, c.text);
    ExpectModeCommand(peer);
    peer.Send({0x1B, '[', '&', 0x1B, '[', '('});
    ASSERT_TRUE(server_->WaitForPackets("keepalive-activity", 1, 5000));
    EXPECT_EQ(std::tuple(server_->Counters().keepAliveIdle, server_->Counters().keepAliveActivity),
              std::tuple(1u, 1u));
    const PacketRecord start = server_->Packets().at(0);
    EXPECT_TRUE(Has(start.fields, c.logged)) << start.Json();
    EXPECT_FALSE(Has(start.Json(), "pass\"")) << "no password in the log";
    server_->Stop();
  }
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
  EXPECT_TRUE(peer.ReadReply(nullptr));
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

TEST_F(ConsoleServerTest, ThePictureFollowsTypedKeysAndThePointer) {
  StartServer();
  DecodingConsole console(server_->Port(), options_.keys);
  ASSERT_TRUE(console.enciphered());
  ASSERT_TRUE(console.ConvergesTo(*server_));
  EXPECT_TRUE(console.Saw("mode 640x480"));
  EXPECT_TRUE(Has(server_->ScreenText(), "MPSIM System BIOS"));
  // "Hello !" and Enter as HID reports, then terminal bytes with a backspace.
  for (auto [modifiers, usage] : {std::pair{0x02, 0x0B},
                                  {0, 0x08},
                                  {0, 0x0F},
                                  {0, 0x0F},
                                  {0, 0x12},
                                  {0, 0x2C},
                                  {0x02, 0x1E},
                                  {0, 0x28}}) {
    console.peer.Send({0xFF, 0xD6, uint8_t(modifiers), 0, uint8_t(usage), 0, 0, 0, 0, 0});
    console.peer.Send({0xFF, 0xD6, uint8_t(modifiers), 0, 0, 0, 0, 0, 0, 0});
  }
  console.peer.Send({'a', 'b', 'c', 0x08, 'd', 0x0D});
  console.peer.Send({'z'});
  EXPECT_TRUE(ScreenShows("boot: Hello !\nboot: abd\nboot: z")) << server_->ScreenText();
  EXPECT_TRUE(console.ConvergesTo(*server_));
  // X = 1500 and Y = 750 on the 3000 grid: pixel 320, 120 of 640 x 480; a button turns it yellow.
  console.peer.Send({0xFF, 0xD0, 0x05, 0x05, 0x05, 0xDC, 0x02, 0xEE});
  ASSERT_TRUE(server_->WaitForPackets("mouse-move", 1, 5000));
  EXPECT_EQ(server_->Counters().mouseMoves, 1u);
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
  const size_t entriesBefore = console.events.Entries();
  console.peer.Send({0xFF, 0xBA});  // momentary press: on again
  ASSERT_TRUE(console.Saw("firmware 4"));
  ASSERT_TRUE(console.ConvergesTo(*server_));
  EXPECT_TRUE(Has(server_->ScreenText(), "System BIOS"));
  EXPECT_GT(console.events.Entries(), entriesBefore);
  // Cold boot: power off and on in the stream as well.
  const size_t offs = console.events.Count("firmware 5");
  console.peer.Send({0xFF, 0xBC});
  ASSERT_TRUE(server_->WaitFor([&] { return console.events.Count("firmware 5") > offs; }, 5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  // Reset: the power-on screen, no power commands.
  console.peer.Send({'q'});
  ASSERT_TRUE(ScreenShows("boot: q"));
  const size_t ons = console.events.Count("firmware 4");
  console.peer.Send({0xFF, 0xBD});
  ASSERT_TRUE(ScreenShows("boot: q", false));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(console.events.Count("firmware 4"), ons);
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

TEST_F(ConsoleServerTest, RefreshModesTextsJoinAnswersSuspendAndResume) {
  StartServer();
  DecodingConsole console(server_->Port(), options_.keys);
  ASSERT_TRUE(console.ConvergesTo(*server_));
  // A refresh is answered with the whole screen after a mark.
  const uint64_t fullFrames = server_->Counters().fullFrames;
  const size_t resyncs = console.events.Count("resync");
  console.peer.Send({0x1B, '[', '~'});
  ASSERT_TRUE(
      server_->WaitFor([&] { return server_->Counters().fullFrames == fullFrames + 1; }, 5000));
  ASSERT_TRUE(
      server_->WaitFor([&] { return console.events.Count("resync") == resyncs + 1; }, 5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(server_->Counters().refreshRequests, 1u);
  server_->SetMode(800, 600);
  ASSERT_TRUE(console.Saw("mode 800x600"));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  for (uint8_t channel : {2, 4, 5}) {
    server_->SendText(channel, "note " + std::to_string(channel));
    EXPECT_TRUE(
        console.Saw("text " + std::to_string(channel) + " note " + std::to_string(channel)));
  }
  // A join request is answered on channel 0x80.
  console.peer.Send({0xFF, 0xCA, '2', 'c', 'a', 'r', 'o', 'l', '\r', 'p', 'w', '\r', 0});
  EXPECT_TRUE(console.Saw("text 128 2carol"));
  server_->SuspendVideo();
  EXPECT_TRUE(console.Saw("firmware 6"));
  server_->Type("typed while suspended");
  ASSERT_TRUE(server_->WaitUntilSent(5000));
  EXPECT_NE(console.MismatchWith(server_->Screen()), "") << "no picture while suspended";
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
               {&ConsoleServer::DropConnection, "", DecodeEnd::kConnectionLost},
               {nullptr, "firmware 10", DecodeEnd::kExit}};  // a second console seizes
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    DecodingConsole console(server_->Port(), options_.keys);
    ASSERT_TRUE(server_->WaitForSession(5000, ++n));
    ASSERT_TRUE(console.ConvergesTo(*server_));
    std::unique_ptr<DecodingConsole> second;
    if (c.command) {
      ((*server_).*c.command)();
    } else {
      second = std::make_unique<DecodingConsole>(server_->Port(), options_.keys);
    }
    ASSERT_TRUE(server_->WaitFor([&] { return console.done.load(); }, 5000));
    EXPECT_EQ(console.end.load(), c.end);
    EXPECT_TRUE(c.entry.empty() || console.Saw(c.entry));
    console.Close();
    if (second) {
      ASSERT_TRUE(server_->WaitForSession(5000, ++n));
      EXPECT_TRUE(second->ConvergesTo(*server_));
      second->Close();
    }
    EXPECT_TRUE(server_->WaitForNoSession(5000));
  }
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
      ParseScript("# demo\nstatus Hello there\nmode 800x608\npower cycle\nkeychange\ntype dir\\n\n"
                  "wait-packet keepalive-idle 1 5000\ndialog bye\n",
                  &o.script, &error))
      << error;
  StartServer(o);
  DecodingConsole console(server_->Port(), o.keys);
  for (const char* entry : {"text 2 Hello there", "mode 800x608", "firmware 5", "firmware 9"}) {
    EXPECT_TRUE(console.Saw(entry)) << entry;
  }
  ASSERT_TRUE(ScreenShows("boot: dir\nboot: "));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(console.events.Count("text 4 bye"), 0u) << "the script waits for the keep-alive";
  console.peer.Send({0x1B, '[', '&'});
  EXPECT_TRUE(console.Saw("text 4 bye"));
  EXPECT_EQ(console.events.keyChanges, 1);
}

// Frames are paced on the server's clock: changes made within one frame interval go out
// together once the interval has passed, and the boot counts memory on the same clock.
TEST_F(ConsoleServerTest, FramesArePacedAndTheBootRunsOnTheServersClock) {
  ConsoleServerOptions o = TestOptions();
  o.clock = &manualClock_;
  o.frameIntervalMs = 500;
  o.screen.bootMs = 2000;
  o.screen.memoryMb = 2048;
  StartServer(o);
  DecodingConsole console(server_->Port(), o.keys);
  ASSERT_TRUE(console.ConvergesTo(*server_));
  EXPECT_TRUE(Has(server_->ScreenText(), "Memory Test: 0K"));
  const uint64_t frames = server_->Counters().frames;
  manualClock_.Advance(499);
  server_->Print("one");
  server_->Print("two");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(server_->Counters().frames, frames) << "no frame before the interval is over";
  EXPECT_FALSE(server_->WaitUntilSent(0));
  manualClock_.Advance(1);
  ASSERT_TRUE(server_->WaitUntilSent(5000));
  EXPECT_EQ(server_->Counters().frames, frames + 1) << "both changes in one update";
  EXPECT_TRUE(Has(server_->ScreenText(), "Memory Test: 524288K"));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  manualClock_.Advance(1500);
  ASSERT_TRUE(ScreenShows("Memory Test: 2097152K OK"));
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
