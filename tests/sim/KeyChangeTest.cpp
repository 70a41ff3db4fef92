// Key changes under load. The console deciphers each socket read as it arrives and switches keys
// for the reads after the one that held the command; the server must therefore never let a read
// span the switch, whatever the console's reading pace, the size of the frames around the command
// and the traffic the console sends meanwhile. Any slip shows as a latched decoder (a refresh
// request), a picture that differs, or a packet the server reads wrong.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "ConsolePeer.h"
#include "sim/ConsoleServer.h"

namespace remcons::sim {
namespace {

using testing::Bytes;
using testing::DecodingConsole;
using testing::TestOptions;

class KeyChangeTest : public testing::ServerTest {
 protected:
  // Every key change went out, was read by the console and applied by both sides.
  void ExpectAllApplied(DecodingConsole& console) {
    const ConsoleCounters c = server_->Counters();
    EXPECT_EQ(c.keyChangesConfirmed, c.keyChanges) << "every read was seen on loopback";
    EXPECT_TRUE(server_->WaitFor(
        [&] { return static_cast<uint64_t>(console.events.keyChanges.load()) == c.keyChanges; },
        5000));
    EXPECT_EQ(console.events.refreshRequests, 0) << "the decoder never latched";
    EXPECT_EQ(c.badPackets, 0u) << "the server read every packet right";
    for (const auto& r : server_->Packets()) {
      if (r.kind == "key-change") {
        EXPECT_NE(r.fields.find("\"read\":\"confirmed\""), std::string::npos) << r.Json();
      }
    }
  }
};

// Key changes every few milliseconds while the server's picture changes (a boot counting its
// memory, lines of output) and the console types: the stream and the keys both stay whole.
TEST_F(KeyChangeTest, RapidKeyChangesWhileThePictureChangesAndTheConsoleTypes) {
  ConsoleServerOptions o = TestOptions();
  o.screen.bootMs = 1500;
  o.frameIntervalMs = 5;
  o.keyChangeIntervalMs = 7;
  StartServer(o);
  DecodingConsole console(server_->Port(), o.keys);
  ASSERT_TRUE(server_->WaitForSession(5000));

  std::atomic<bool> typing{true};
  std::vector<Bytes> sent;
  std::thread typist([&] {
    std::mt19937 random(11);
    int n = 0;
    while (typing && n < 400) {
      const uint8_t usage = n % 25 == 24 ? 0x28 : static_cast<uint8_t>(0x04 + random() % 26);
      const Bytes down = {0xFF, 0xD6, 0, 0, usage, 0, 0, 0, 0, 0};
      const Bytes up = {0xFF, 0xD6, 0, 0, 0, 0, 0, 0, 0, 0};
      const Bytes move = {0xFF, 0xD0, 1, 1, static_cast<uint8_t>(n >> 3), static_cast<uint8_t>(n),
                          0x02, 0x00};
      for (const Bytes* b : {&down, &up, &move}) {
        console.peer.Send(*b);
        sent.push_back(*b);
      }
      if (n % 10 == 0) server_->Print("output line " + std::to_string(n));
      ++n;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  typing = false;
  typist.join();
  server_->SetKeyChangeInterval(0);
  EXPECT_GE(server_->Counters().keyChanges, 20u);

  // Every packet the console sent was read exactly, in order.
  std::vector<Bytes> got;
  EXPECT_TRUE(server_->WaitFor(
      [&] {
        got.clear();
        for (const auto& r : server_->Packets()) {
          if (r.kind == "hid" || r.kind == "mouse-move") got.push_back(r.bytes);
        }
        return got.size() >= sent.size();
      },
      5000));
  EXPECT_EQ(got, sent);
  EXPECT_TRUE(console.ConvergesTo(*server_));
  ExpectAllApplied(console);
}

// Large frames around the command: the console is still working through reads of 4096 bytes
// when the key change comes.
TEST_F(KeyChangeTest, KeyChangesRightAfterLargeFrames) {
  ConsoleServerOptions o = TestOptions();
  o.screen.width = 1280;
  o.screen.height = 1024;
  StartServer(o);
  DecodingConsole console(server_->Port(), o.keys);
  ASSERT_TRUE(console.ConvergesTo(*server_));
  std::mt19937 random(2);
  for (int round = 0; round < 6; ++round) {
    // A screen full of varied text makes a frame of many reads.
    for (int line = 0; line < 64; ++line) {
      std::string text;
      for (int i = 0; i < 150; ++i) text += static_cast<char>('!' + random() % 90);
      server_->Print(text);
    }
    ASSERT_TRUE(server_->WaitUntilSent(10000));
    server_->ChangeKeys();
    server_->Refresh();
    server_->ChangeKeys();
  }
  EXPECT_TRUE(console.ConvergesTo(*server_, 20000));
  EXPECT_GT(console.peer.reads, 20);
  ExpectAllApplied(console);
}

// Consoles that read slowly: in small pieces, or in full 4096-byte reads of bytes that piled up
// meanwhile (so the read that holds the command is full of earlier bytes). The server must wait
// for them, and the switch must still fall right after the command.
struct Pace {
  int readLimit;
  int readDelayMs;
  int screenWidth;
};

class SlowReaderTest : public KeyChangeTest, public ::testing::WithParamInterface<Pace> {};

TEST_P(SlowReaderTest, IsWaitedFor) {
  ConsoleServerOptions o = TestOptions();
  o.keyChangeIntervalMs = 20;
  o.screen.width = GetParam().screenWidth;
  o.screen.height = GetParam().screenWidth * 3 / 4;
  StartServer(o);
  DecodingConsole console(server_->Port(), o.keys);
  console.peer.readLimit = GetParam().readLimit;
  console.peer.readDelayMs = GetParam().readDelayMs;
  std::atomic<bool> busy{true};
  std::thread painter([&] {
    std::mt19937 random(4);
    int n = 0;
    while (busy) {
      std::string text = "line " + std::to_string(n++) + " ";
      for (int i = 0; i < 100; ++i) text += static_cast<char>('!' + random() % 90);
      server_->Print(text);
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  // Besides those of the interval (few, as each waits for the console to catch up), two on
  // command while the console is behind.
  for (int i = 0; i < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server_->ChangeKeys();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  busy = false;
  painter.join();
  server_->SetKeyChangeInterval(0);
  EXPECT_TRUE(console.ConvergesTo(*server_, 20000));
  EXPECT_GE(server_->Counters().keyChanges, 2u);
  ExpectAllApplied(console);
}

INSTANTIATE_TEST_SUITE_P(Paces, SlowReaderTest,
                         ::testing::Values(Pace{700, 15, 640}, Pace{0, 40, 1280}),
                         [](const ::testing::TestParamInfo<Pace>& info) {
                           return info.param.readLimit ? std::string("SmallReads")
                                                       : std::string("FullReadsOfPiledUpBytes");
                         });

}  // namespace
}  // namespace remcons::sim
