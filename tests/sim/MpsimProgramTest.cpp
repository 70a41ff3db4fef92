// The mpsim program: its command line, its script language, and the program itself run on an
// ephemeral port with a script and log files, talked to by the client's connection. Its
// virtual-media side is talked to by the virtual-media tests.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>

#include "ConsoleRig.h"
#include "sim/ConsoleScript.h"
#include "sim/MpsimCommandLine.h"
#include "support/Child.h"

namespace remcons::sim {
namespace {

using remcons::testing::ReadText;
using remcons::testing::StartProgram;
using remcons::testing::StopChild;
using remcons::testing::WaitForLine;
using remcons::testing::WaitProgram;

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool Parse(std::vector<std::string> args, MpsimCommandLine* out, std::string* error) {
  args.insert(args.begin(), "mpsim");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return ParseMpsimCommandLine(static_cast<int>(args.size()), argv.data(), out, error);
}

TEST(MpsimCommandLineTest, DefaultsAndEveryOption) {
  MpsimCommandLine cl;
  std::string error;
  ASSERT_TRUE(Parse({}, &cl, &error)) << error;
  EXPECT_EQ(
      std::tuple(cl.console.port, cl.console.encryption, cl.console.checkLogin, cl.vm.enabled),
      std::tuple(23, true, false, false));

  ASSERT_TRUE(Parse(Words("--port 0 --bind 0.0.0.0 --encryption off --key-index 0x01020304 "
                          "--decrypt-key 000102030405060708090a0b0c0d0e0f "
                          "--encrypt-key F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF --key "
                          "7:11111111111111111111111111111111:22222222222222222222222222222222 "
                          "--login root:calvin --reply hello\\r\\n --size 800x600 "
                          "--server-name BOX --memory 2048 --boot-ms 10 --power off "
                          "--frame-interval 20 --keychange-every 5000 --silent --no-seize "
                          "--no-join-answers --log - --sessions 3 --vm-port 6000 --vm-key "
                          "00112233445566778899aabbccddeeff --vm-dump /tmp/d --vm-write "
                          "--vm-write-lba 9 --vm-refuse 0x26 --vm-silence 2500 --vm-log /tmp/l "
                          "--vm-blocks 64 --vm-pings 3 --vm-sessions 2"),
                    &cl, &error))
      << error;
  const ConsoleServerOptions& c = cl.console;
  ASSERT_EQ(c.moreKeys.count(7), 1u);
  EXPECT_EQ(std::tuple(c.port, c.bind, c.encryption, c.keyIndex, c.keys.decryptKey[0],
                       c.keys.decryptKey[15], c.keys.encryptKey[0], c.moreKeys.at(7).decryptKey[3],
                       c.moreKeys.at(7).encryptKey[3], c.checkLogin, c.login, c.replyText),
            std::tuple(0, "0.0.0.0", false, 0x01020304u, 0x00, 0x0F, 0xF0, 0x11, 0x22, true,
                       "root:calvin", "hello\r\n"));
  EXPECT_EQ(std::tuple(c.screen.width, c.screen.height, c.screen.serverName, c.screen.memoryMb,
                       c.screen.bootMs, c.screen.powerOn, c.frameIntervalMs, c.keyChangeIntervalMs),
            std::tuple(800, 600, "BOX", 2048u, 10u, false, 20u, 5000u));
  EXPECT_EQ(
      std::tuple(c.silent, c.seizeOnNewConnection, c.answerJoinRequests, c.logFile, cl.sessions),
      std::tuple(true, false, false, "/dev/stdout", 3));
  const VmSimOptions& v = cl.vm;
  EXPECT_EQ(
      std::tuple(v.enabled, v.port, v.key[0], v.key[15], v.dumpFile, v.write, v.writeLba, v.refuse,
                 v.silenceMs, v.logFile, v.blocks, v.pings, v.sessions),
      std::tuple(true, 6000, 0x00, 0xFF, "/tmp/d", true, 9u, 0x26, 2500u, "/tmp/l", 64u, 3, 2));
}

TEST(MpsimCommandLineTest, BadValuesAreRefusedWithAReason) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--port", "65536"}, "--port: bad number '65536'"},
      {{"--port"}, "--port needs a value"},
      {{"--decrypt-key", "0011"}, "--decrypt-key takes 32 hexadecimal digits"},
      {{"--key", "1:00"}, "--key takes INDEX:DECRYPT:ENCRYPT, the keys as 32 hexadecimal digits"},
      {{"--size", "1000x600"},
       "--size takes WIDTHxHEIGHT, the width a multiple of 16 up to 2032, the height up to 2047"},
      {{"--encryption", "maybe"}, "--encryption takes on or off"},
      {{"--script", "/nonexistent/script"},
       "cannot open /nonexistent/script: No such file or directory"},
      {{"--frobnicate"}, "unknown option --frobnicate (see --help)"},
      {{"--vm-port", "70000"}, ""},
      {{"--vm-port"}, ""},
      {{"--vm-key", "0011"}, ""},
      {{"--vm-bogus"}, ""},
  };
  for (const auto& [args, message] : cases) {
    MpsimCommandLine cl;
    std::string error;
    EXPECT_FALSE(Parse(args, &cl, &error)) << args[0];
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(message.empty() || error == message) << error;
  }
  MpsimCommandLine cl;
  std::string error;
  EXPECT_TRUE(Parse({"--help"}, &cl, &error) && cl.help);
}

TEST(ConsoleScriptTest, CommandsNumbersAndEscapes) {
  std::vector<ScriptCommand> commands;
  std::string error;
  ASSERT_TRUE(ParseScript(
      "  # comment\n\nwait 0x10\nmode 1024 768\nmode 800x600\ntext 0x81 1\nstatus2 a\\tb\\x41\\\\\n"
      "button cold\nbutton 3\npower cycle\r\nwait-packet mouse-move 3 100\n"
      "keychange-every 250\nsilence on\n",
      &commands, &error))
      << error;
  // Each as op a b c text @line.
  std::vector<std::string> got;
  for (const auto& c : commands) {
    got.push_back(std::to_string(c.op) + " " + std::to_string(c.a) + " " + std::to_string(c.b) +
                  " " + std::to_string(c.c) + " " + c.text + " @" + std::to_string(c.line));
  }
  const std::vector<std::string> expected = {
      "0 16 0 0  @3",    "2 1024 768 0  @4",   "2 800 600 0  @5",
      "3 129 0 0 1 @6",  "3 5 0 0 a\tbA\\ @7", "14 2 0 0  @8",
      "14 3 0 0  @9",    "13 2 0 0  @10",      "1 0 3 100 mouse-move @11",
      "10 250 0 0  @12", "11 1 0 0  @13"};
  EXPECT_EQ(got, expected);

  const std::pair<std::string, std::string> bad[] = {
      {"jump", "line 1: unknown command 'jump'"},
      {"wait soon", "line 1: wait: expects milliseconds"},
      {"mode 1000x600",
       "line 1: mode: expects WIDTHxHEIGHT, the width a multiple of 16 up to "
       "2032, the height up to 2047"},
      {"text 300 x", "line 1: text: expects a channel 0 to 255 and a text"},
      {"\nseize now", "line 2: seize: takes no arguments"},
      {"wait-packet teleport", "line 1: wait-packet: unknown packet kind 'teleport'"},
      {"power sideways", "line 1: power: expects on, off or cycle"},
      {"button 9", "line 1: button: expects momentary, hold, cold or reset"},
  };
  for (const auto& [text, message] : bad) {
    EXPECT_FALSE(ParseScript(text, &commands, &error)) << text;
    EXPECT_EQ(error, message);
  }
}

// --- The program ---

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "mpsim_" + std::to_string(getpid()) + "_" + name;
}

TEST(MpsimProgramTest, ServesOneSessionWithScriptAndLogThenExitsAndRefusesBadOptions) {
  ASSERT_TRUE(remcons::testing::LoadLegacyProvider());
  const std::string script = TempPath("script.txt");
  const std::string log = TempPath("log.jsonl"), vmLog = TempPath("vm.jsonl");
  std::remove(log.c_str());
  std::ofstream(script) << "status from the script\n";
  const ConsoleKeys keys = testing::TestKeys();
  auto hex = [](const std::array<uint8_t, 16>& k) {
    char text[33];
    for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", k[static_cast<size_t>(i)]);
    return std::string(text, 32);
  };
  const std::string out = TempPath("out.txt"), err = TempPath("err.txt");
  const std::vector<std::string> unset = {"REMCONS_TRACE", "DISPLAY", "WAYLAND_DISPLAY"};
  pid_t mpsim = StartProgram(
      Words(std::string(MPSIM_BINARY) + " --port 0 --boot-ms 0 --size 640x480 --key-index 5" +
            " --decrypt-key " + hex(keys.decryptKey) + " --encrypt-key " + hex(keys.encryptKey) +
            " --login ops:pw --script " + script + " --log " + log +
            " --sessions 1 --vm-port 0 --vm-log " + vmLog),
      unset, out, err);
  const std::unique_ptr<pid_t, void (*)(pid_t*)> ender(&mpsim, [](pid_t* p) { StopChild(*p); });
  // The virtual-media side listens as well when a --vm-* option asks for it.
  const std::string line = WaitForLine(out, "mpsim: console service on 127.0.0.1:");
  ASSERT_FALSE(line.empty()) << ReadText(err);
  const uint16_t port = static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
  const std::string vmLine = WaitForLine(out, "mpsim: virtual media on 127.0.0.1:");
  ASSERT_FALSE(vmLine.empty());
  EXPECT_GT(std::stoi(vmLine.substr(vmLine.rfind(':') + 1)), 0);
  {
    testing::Console console(port, keys, 5, "ops:pw");
    ASSERT_TRUE(console.started);
    EXPECT_TRUE(console.Saw("text 2 from the script"));
    EXPECT_TRUE(console.Saw("mode 640x480"));
    console.Send({0x1B, '[', '&'});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(WaitProgram(std::exchange(mpsim, -1), 10000), 0) << "exits after one session";
  const std::string text = ReadText(log);
  EXPECT_NE(text.find("\"kind\":\"start\",\"hex\":\"ff"), std::string::npos) << text;
  EXPECT_NE(text.find("\"login\":\"accepted\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"kind\":\"keepalive-idle\",\"hex\":\"1b5b26\""), std::string::npos) << text;
  std::remove(script.c_str());
  std::remove(log.c_str());
  EXPECT_EQ(std::remove(vmLog.c_str()), 0) << "--vm-log opens its file";
  const pid_t bad = StartProgram({MPSIM_BINARY, "--size", "nonsense"}, unset, out, err);
  EXPECT_EQ(WaitProgram(bad, 10000), 2);
  EXPECT_NE(ReadText(err).find("--size"), std::string::npos) << ReadText(err);
}

}  // namespace
}  // namespace remcons::sim
