// The console service over loopback, talked to by the client's own connection and decoder: the
// picture drawn must converge on the server's screen through typing, power, modes, texts, key
// changes under load and slow readers.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "ConsoleRig.h"
#include "sim/ConsoleServer.h"
#include "sim/PeerReadBarrier.h"

namespace remcons::sim {
namespace {

using testing::Bytes;
using testing::Console;
using testing::TestKeys;
using testing::TestOptions;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A console's socket driven by hand: sends the start sequence, returns the reply up to its end
// (ESC [ R or ESC [ r), or "" when the connection ends first.
std::string RawStart(TcpSocket& socket, const Bytes& start) {
  socket.SendAll(start.data(), start.size());
  std::string seen;
  for (uint8_t b; !seen.ends_with("\x1B[R") && !seen.ends_with("\x1B[r");) {
    if (socket.Receive(&b, 1) != 1) return "";
    seen += static_cast<char>(b);
  }
  return seen;
}

using ConsoleServerTest = testing::ServerTest;

TEST_F(ConsoleServerTest, KeysAndLoginsAreCheckedAndTheStreamOpensWithTheMode) {
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
  } cases[] = {{9, o.keys, "user:pass", false},
               {0, TestKeys(7), "user:pass", false},
               {0, o.keys, "user:wrong", false},
               {5, TestKeys(5), "user:pass", true}};
  for (const auto& c : cases) {
    Console console(server_->Port(), c.keys, c.keyIndex, c.login);
    EXPECT_EQ(console.started, c.ok) << c.keyIndex;
    EXPECT_TRUE(!c.ok || console.ConvergesTo(*server_));
    console.Close();
    ASSERT_TRUE(server_->WaitForNoSession(5000));
  }
  // By hand: deciphered with OpenSSL's keystream of MD5(encryptKey | zeros), the stream opens
  // with START 1, CMD 0, CMD0 1, EXTCMD 1, EXTCMD1 0, EXTCMD2 0, 40 columns, 30 rows, no extra.
  auto raw = TcpSocket::Create();
  ASSERT_TRUE(raw->Connect("127.0.0.1", server_->Port()));
  raw->SetReceiveTimeout(5000);
  testing::OracleStream send(o.keys.decryptKey), receive(o.keys.encryptKey);
  ASSERT_TRUE(RawStart(*raw, testing::StartBytes(true, 0, "user\rpass\r", &send)).ends_with("R"));
  const Bytes expected = remcons::testing::Bits("1 0 1 1 0 0 0101000 0011110 0000");
  Bytes mode(expected.size());
  ASSERT_TRUE(raw->ReceiveAll(mode.data(), mode.size()));
  receive.Xor(mode.data(), mode.size());
  EXPECT_EQ(mode, expected);
  const ConsoleCounters counters = server_->Counters();
  EXPECT_EQ(std::tuple(counters.startFailures, server_->PacketCount("start-failed"),
                       counters.loginFailures, counters.sessions),
            std::tuple(2u, 2u, 1u, 2u));
}

// Clear and enciphered starts; an empty login ends when the console goes quiet; with encryption
// off a header gets a clear session; a greeting's own ESC bytes cannot make a start reply of
// their own; a silent server replies once it speaks again. The log tells what came, but not the
// password.
TEST_F(ConsoleServerTest, StartVariants) {
  const struct {
    bool serverEncryption, consoleEncryption, silent;
    std::string login, greeting, logged;
  } cases[] = {
      {true, false, false, "user:pass", "",
       "\"header\":false,\"keyIndex\":0,\"enciphered\":false,\"passwordLength\":4,\"crs\":2"},
      {true, true, true, "user:pass", "",
       "\"header\":true,\"keyIndex\":0,\"enciphered\":true,\"passwordLength\":4,\"crs\":2"},
      {true, true, false, "", "",
       "\"passwordLength\":0,\"crs\":0,\"skipped\":0,\"login\":\"unchecked\",\"name\":\"\""},
      {false, true, false, "user:pass", "", "\"header\":true,\"keyIndex\":0,\"enciphered\":false"},
      {true, true, false, "user:pass", "welcome \x1B[R to \x1B[r the server\r\n",
       "\"name\":\"user\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    ConsoleServerOptions o = TestOptions();
    o.encryption = c.serverEncryption;
    o.silent = c.silent;
    if (!c.greeting.empty()) o.replyText = c.greeting;
    StartServer(o);
    {
      std::atomic<bool> spoke{!c.silent};
      std::thread speak([&] {
        if (!c.silent || !server_->WaitForPackets("start", 1, 5000)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        spoke = true;
        server_->SetSilent(false);
      });
      Console console(server_->Port(), o.keys, 0, c.login, c.consoleEncryption);
      speak.join();
      EXPECT_TRUE(spoke) << "nothing comes while silent";
      ASSERT_TRUE(console.started);
      EXPECT_TRUE(console.ConvergesTo(*server_));
      console.Send({0x1B, '[', '&', 0x1B, '[', '('});
      ASSERT_TRUE(server_->WaitForPackets("keepalive-activity", 1, 5000));
    }
    const PacketRecord start = server_->Packets().at(0);
    EXPECT_TRUE(Has(start.fields, c.logged)) << start.Json();
    EXPECT_FALSE(Has(start.Json(), "pass\"")) << "no password in the log";
    server_->Stop();
  }
}

TEST_F(ConsoleServerTest, HostileBytesNeverCrashAndTheSessionGoesOn) {
  ConsoleServerOptions o = TestOptions();
  o.packetTimeoutMs = 100;
  StartServer(o);
  Console console(server_->Port(), o.keys);
  ASSERT_TRUE(console.started);
  std::mt19937 random(77);
  for (int round = 0; round < 50; ++round) {
    Bytes noise(1 + random() % 2000);
    for (auto& b : noise) {
      const uint32_t r = random();
      b = r % 5 == 0 ? 0xFF : r % 5 == 1 ? 0x1B : static_cast<uint8_t>(r >> 8);
    }
    console.Send(noise);
  }
  // Oversize texts and a truncated packet, then quiet so that it is dropped.
  Bytes oversize = {0xFF, 0xCA, '0'};
  oversize.insert(oversize.end(), 5000, 'q');
  console.Send(oversize);
  console.Send({0xFF, 0xD6, 0x00});
  ASSERT_TRUE(server_->WaitForPackets("truncated", 1, 5000));
  // Power buttons may have come out of the noise; make sure the server is on, then go on.
  server_->SetPower(true);
  const size_t before = server_->PacketCount("keepalive-idle");
  console.Send({0x1B, '[', '&'});
  ASSERT_TRUE(server_->WaitForPackets("keepalive-idle", before + 1, 5000));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_GT(server_->Counters().badPackets, 0u);
  EXPECT_GE(server_->PacketCount("oversize"), 1u);
  EXPECT_EQ(server_->SessionNumber(), 1);
}

// One session through the power buttons and the server's commands: the picture follows each.
// Typing, the pointer, refreshes, modes and join requests are held by the console's tests
// against the simulator.
TEST_F(ConsoleServerTest, ThePictureFollowsPowerTextsAndSuspension) {
  ConsoleServerOptions o = TestOptions();
  o.screen.powerOn = false;  // a zero mode at the start
  StartServer(o);
  Console console(server_->Port(), o.keys);
  ASSERT_TRUE(console.Saw("power-off"));
  console.Send({0xFF, 0xBA});  // momentary press: on
  ASSERT_TRUE(console.Saw("power-on"));
  ASSERT_TRUE(console.ConvergesTo(*server_));
  EXPECT_TRUE(console.Saw("mode 640x480"));
  EXPECT_TRUE(Has(server_->ScreenText(), "MPSIM System BIOS"));
  // Press and hold, a momentary press, a cold boot (off and on in the stream as well), then a
  // reset: the power-on screen and no power commands.
  const struct {
    uint8_t button;
    const char* entry;
    size_t count;
  } presses[] = {{0xBB, "firmware 5", 1}, {0xBA, "firmware 4", 2}, {0xBC, "firmware 5", 2}};
  for (const auto& p : presses) {
    console.Send({0xFF, p.button});
    ASSERT_TRUE(server_->WaitFor([&] { return console.Count(p.entry) == p.count; }, 5000))
        << p.entry;
  }
  EXPECT_TRUE(console.ConvergesTo(*server_));
  const size_t ons = console.Count("firmware 4");
  console.Send({'q'});
  ASSERT_TRUE(ScreenShows("boot: q"));
  console.Send({0xFF, 0xBD});
  ASSERT_TRUE(ScreenShows("boot: q", false));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(console.Count("firmware 4"), ons);
  for (uint8_t channel : {2, 4, 5}) {
    server_->SendText(channel, "note " + std::to_string(channel));
    EXPECT_TRUE(
        console.Saw("text " + std::to_string(channel) + " note " + std::to_string(channel)));
  }
  server_->SuspendVideo();
  EXPECT_TRUE(console.Saw("firmware 6"));
  server_->Type("typed while suspended");
  ASSERT_TRUE(server_->WaitUntilSent(5000));
  EXPECT_NE(console.MismatchWith(server_->Screen()), "") << "no picture while suspended";
  server_->ResumeVideo();
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(std::pair(server_->Counters().powerButtons, console.refreshRequests.load()),
            std::pair(uint64_t{5}, 0));
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
    Console console(server_->Port(), options_.keys);
    ASSERT_TRUE(server_->WaitForSession(5000, ++n));
    ASSERT_TRUE(console.ConvergesTo(*server_));
    std::unique_ptr<Console> second;
    if (c.command) {
      ((*server_).*c.command)();
    } else {
      second = std::make_unique<Console>(server_->Port(), options_.keys);
    }
    ASSERT_TRUE(server_->WaitFor([&] { return console.done.load(); }, 5000));
    EXPECT_EQ(console.end.load(), c.end);
    EXPECT_TRUE(c.entry.empty() || console.Saw(c.entry));
    console.Close();
    EXPECT_TRUE(!second || (server_->WaitForSession(5000, ++n) && second->ConvergesTo(*server_)));
    second.reset();
    EXPECT_TRUE(server_->WaitForNoSession(5000));
  }
  // Without seizing, a second console is refused.
  ConsoleServerOptions o = TestOptions();
  o.seizeOnNewConnection = false;
  StartServer(o);
  Console first(server_->Port(), o.keys);
  ASSERT_TRUE(server_->WaitForSession(5000, 1));
  EXPECT_FALSE(Console(server_->Port(), o.keys).started);
  EXPECT_EQ(std::pair(server_->Counters().refused, server_->SessionNumber()), std::pair(1ul, 1));
}

TEST_F(ConsoleServerTest, ScriptRunsInEverySessionAndCommandsReportErrors) {
  ConsoleServerOptions o = TestOptions();
  std::string error;
  ASSERT_TRUE(
      ParseScript("# demo\nstatus Hello there\nmode 800x608\npower cycle\nkeychange\ntype dir\\n\n"
                  "wait-packet keepalive-idle 1 5000\ndialog bye\n",
                  &o.script, &error))
      << error;
  StartServer(o);
  EXPECT_FALSE(server_->Execute("seize", &error));
  EXPECT_EQ(error, "no console session");
  Console console(server_->Port(), o.keys);
  for (const char* entry : {"text 2 Hello there", "mode 800x608", "firmware 5", "firmware 9"}) {
    EXPECT_TRUE(console.Saw(entry)) << entry;
  }
  ASSERT_TRUE(ScreenShows("boot: dir\nboot: "));
  EXPECT_TRUE(console.ConvergesTo(*server_));
  EXPECT_EQ(console.Count("text 4 bye"), 0u) << "the script waits for the keep-alive";
  console.Send({0x1B, '[', '&'});
  EXPECT_TRUE(console.Saw("text 4 bye"));
  EXPECT_EQ(console.keyChanges, 1);
  EXPECT_FALSE(server_->Execute("fly away", &error));
  EXPECT_EQ(error, "unknown command 'fly'");
  EXPECT_TRUE(server_->Execute("power off", &error) && server_->Execute("# a comment", &error));
  EXPECT_FALSE(server_->PowerOn());
}

// Key changes. The console deciphers each socket read as it arrives and switches keys for the
// reads after the one that held the command; the server must never let a read span the switch,
// whatever the console's pace, the frames around the command and the console's typing meanwhile:
// a slip shows as a latched decoder, a picture that differs, or a packet the server reads wrong.
// Paces: key changes every few milliseconds while the picture changes; large frames around the
// command; small slow reads; full reads of bytes that piled up meanwhile (so the read that holds
// the command is full of earlier bytes).
TEST_F(ConsoleServerTest, KeyChangesUnderLoadAndWithSlowReaders) {
  const struct {
    uint32_t intervalMs;
    int readLimit, readDelayMs, width;
    uint64_t changes;
  } paces[] = {{7, 0, 0, 640, 20}, {0, 0, 0, 1280, 6}, {20, 700, 15, 640, 4}, {20, 0, 40, 1280, 4}};
  for (const auto& pace : paces) {
    SCOPED_TRACE(pace.width + pace.readDelayMs);
    ConsoleServerOptions o = TestOptions();
    o.keyChangeIntervalMs = pace.intervalMs;
    o.frameIntervalMs = 5;
    o.screen.width = pace.width;
    o.screen.height = pace.width * 3 / 4;
    StartServer(o);
    Console console(server_->Port(), o.keys);
    console.readLimit = pace.readLimit;
    console.readDelayMs = pace.readDelayMs;
    std::vector<Bytes> sent;
    std::mt19937 random(4);
    for (int n = 0; n < 3000 && server_->Counters().keyChanges < pace.changes; ++n) {
      const uint8_t usage = n % 25 == 24 ? 0x28 : static_cast<uint8_t>(0x04 + random() % 26);
      for (const Bytes& b : {Bytes{0xFF, 0xD6, 0, 0, usage, 0, 0, 0, 0, 0},
                             Bytes{0xFF, 0xD6, 0, 0, 0, 0, 0, 0, 0, 0},
                             Bytes{0xFF, 0xD0, 1, 1, uint8_t(n >> 3), uint8_t(n), 0x02, 0x00}}) {
        if (pace.readDelayMs) break;  // a slow console only reads
        console.Send(b);
        sent.push_back(b);
      }
      // A line of varied text makes frames of many reads.
      std::string text = "line " + std::to_string(n) + " ";
      for (int i = 0; i < 100; ++i) text += static_cast<char>('!' + random() % 90);
      server_->Print(text);
      if (n % 20 == 19) {
        EXPECT_TRUE(pace.readDelayMs || server_->WaitUntilSent(10000));
        server_->ChangeKeys();
        server_->Refresh();
        server_->ChangeKeys();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    server_->SetKeyChangeInterval(0);
    console.Send({0x1B, '[', '&'});
    ASSERT_TRUE(server_->WaitForPackets("keepalive-idle", 1, 5000));
    EXPECT_TRUE(console.ConvergesTo(*server_, 20000));
    std::vector<Bytes> got;
    for (const auto& r : server_->Packets()) {
      if (r.kind == "hid" || r.kind == "mouse-move") got.push_back(r.bytes);
      EXPECT_TRUE(r.kind != "key-change" || Has(r.fields, "\"read\":\"confirmed\"")) << r.Json();
    }
    EXPECT_EQ(got, sent) << "every packet read exactly, in order";
    const ConsoleCounters c = server_->Counters();
    EXPECT_GE(c.keyChanges, pace.changes);
    EXPECT_EQ(c.keyChangesConfirmed, c.keyChanges) << "every read was seen on loopback";
    EXPECT_TRUE(
        server_->WaitFor([&] { return uint64_t(console.keyChanges) == c.keyChanges; }, 5000));
    EXPECT_EQ(std::pair(console.refreshRequests.load(), c.badPackets), std::pair(0, uint64_t{0}));
    console.Close();
    server_->Stop();
  }
}

// The read barrier of key changes: what the kernel tells about the console's unread bytes, and
// the waits built on it.
TEST(PeerReadBarrierTest, UnreadBytesOfTheLoopbackPeerAndTheWaitsOnThem) {
  auto listener = TcpSocket::Listen("127.0.0.1", 0), client = TcpSocket::Create();
  ASSERT_TRUE(client->Connect("127.0.0.1", listener->LocalPort()));
  auto server = listener->Accept();
  client->SetReceiveTimeout(5000);
  const int fd = server->Descriptor();
  const std::vector<uint8_t> bytes(5000, 0x5A);
  ASSERT_EQ(server->SendAll(bytes.data(), 1000), 1000);
  // Acknowledged at once on loopback; the console's socket holds all of it.
  for (int i = 0; i < 100 && UnacknowledgedBytes(fd) != 0; ++i) usleep(1000);
  EXPECT_EQ(UnacknowledgedBytes(fd), 0);
  EXPECT_EQ(PeerUnreadBytes(fd), 1000);
  uint8_t buffer[5000];
  ASSERT_EQ(client->Receive(buffer, 300), 300);
  EXPECT_EQ(PeerUnreadBytes(fd), 700);
  EXPECT_EQ(PeerUnreadBytes(client->Descriptor()), 0);  // the other direction
  EXPECT_EQ(WaitUntilPeerHasRead(fd, 50, 0, nullptr), ReadBarrier::kTimedOut);
  std::atomic<bool> stop{true};
  EXPECT_EQ(WaitUntilPeerHasRead(fd, 5000, 0, &stop), ReadBarrier::kStopped);
  ASSERT_EQ(server->SendAll(bytes.data(), 5000), 5000);
  std::thread reader([&] {
    usleep(30000);
    client->ReceiveAll(buffer, 700);
    client->ReceiveAll(buffer, 5000);
  });
  EXPECT_EQ(WaitUntilPeerHasRead(fd, 5000, 0, nullptr), ReadBarrier::kConfirmed);
  reader.join();
  // A stream socket of another family: its peer cannot be looked up, and gets the settle time.
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  EXPECT_EQ(PeerUnreadBytes(fds[0]), -1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitUntilPeerHasRead(fds[0], 5000, 60, nullptr), ReadBarrier::kAssumed);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  close(fds[0]);
  close(fds[1]);
  // Not a socket at all.
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(WaitUntilPeerHasRead(fds[1], 100, 0, nullptr), ReadBarrier::kFailed);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace remcons::sim
