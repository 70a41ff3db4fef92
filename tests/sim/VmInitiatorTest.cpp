// The simulator's virtual-media side on its own: its options and its check of the hello.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sim/VmInitiator.h"

namespace remcons::sim {
namespace {

std::array<uint8_t, 16> Md5Of(const uint8_t* key, const uint8_t* chain) {
  uint8_t input[32];
  std::memcpy(input, key, 16);
  std::memcpy(input + 16, chain, 16);
  std::array<uint8_t, 16> out{};
  unsigned length = 0;
  EVP_Digest(input, 32, out.data(), &length, EVP_md5(), nullptr);
  return out;
}

TEST(VmSimOptions, ParsesEveryOption) {
  std::istringstream line(
      "mpsim --vm-port 6000 --vm-key 00112233445566778899aabbccddeeff --vm-dump /tmp/d --vm-write "
      "--vm-write-lba 9 --vm-refuse 0x26 --vm-silence 2500 --vm-log /tmp/l --vm-blocks 64 "
      "--vm-pings 3 --vm-sessions 2 --other");
  std::vector<std::string> words{std::istream_iterator<std::string>(line), {}};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  const int argc = int(argv.size());
  VmSimOptions o;
  std::string error;
  int i = 1;
  while (i < argc) {
    const int r = ParseVmOption(argc, argv.data(), &i, &o, &error);
    if (r == 0) break;
    ASSERT_EQ(r, 1) << error;
    ++i;
  }
  EXPECT_EQ(std::string(argv[i]), "--other");
  EXPECT_EQ(
      std::tuple(o.enabled, o.port, o.key[0], o.key[15], o.dumpFile, o.write, o.writeLba, o.refuse,
                 o.silenceMs, o.logFile, o.blocks, o.pings, o.sessions),
      std::tuple(true, 6000, 0x00, 0xFF, "/tmp/d", true, 9u, 0x26, 2500u, "/tmp/l", 64u, 3, 2));
}

TEST(VmSimOptions, RejectsBadValues) {
  for (std::vector<const char*> args : {std::vector<const char*>{"--vm-port", "70000"},
                                        {"--vm-port"},
                                        {"--vm-key", "0011"},
                                        {"--vm-key", "zz112233445566778899aabbccddeeff"},
                                        {"--vm-silence", "-1"},
                                        {"--vm-blocks", "12x"},
                                        {"--vm-bogus"}}) {
    VmSimOptions o;
    std::string error;
    int i = 0;
    EXPECT_EQ(ParseVmOption(int(args.size()), const_cast<char**>(args.data()), &i, &o, &error), -1)
        << args[0];
    EXPECT_FALSE(error.empty());
  }
}

// Sends a hello on a new connection and returns the status byte, or -1 without an answer.
int Hello(uint16_t port, uint8_t cls, const std::array<uint8_t, 16>& digest, size_t length = 18) {
  auto s = TcpSocket::Create();
  if (!s->Connect("127.0.0.1", port)) return -2;
  uint8_t hello[18] = {0x10, cls};
  std::memcpy(hello + 2, digest.data(), 16);
  s->SendAll(hello, length);
  if (length < 18) s->Close();
  s->SetReceiveTimeout(5000);
  uint8_t answer[4];
  if (length < 18 || !s->ReceiveAll(answer, 4)) return -1;
  return answer[0];
}

TEST(VmSimServer, ChecksTheHelloChain) {
  VmSimOptions o;
  for (int i = 0; i < 16; ++i) o.key[size_t(i)] = uint8_t(i * 3);
  VmSimServer server(o);
  server.SetSessionHandler([](VmInitiator&) {});
  ASSERT_TRUE(server.Start());
  const uint8_t zeros[16] = {};
  const auto first = Md5Of(o.key.data(), zeros);
  const auto second = Md5Of(o.key.data(), first.data());
  EXPECT_EQ(Hello(server.Port(), 1, first), 0x20);
  EXPECT_EQ(Hello(server.Port(), 2, second), 0x20);
  // A digest made with another key.
  auto wrongKey = o.key;
  wrongKey[0] ^= 0x80;
  EXPECT_EQ(Hello(server.Port(), 1, Md5Of(wrongKey.data(), second.data())), 0x22);
  EXPECT_EQ(server.BadDigests(), 1);
  // A console that starts over from zeros is accepted too.
  EXPECT_EQ(Hello(server.Port(), 3, first), 0x20);
  // A hello cut short gets no answer.
  EXPECT_EQ(Hello(server.Port(), 1, first, 7), -1);
  EXPECT_TRUE(server.WaitSessions(5, 10000));
}

TEST(VmSimServer, RefusesOnRequest) {
  char logPath[] = "/tmp/remcons-vmlog-XXXXXX";
  const int fd = ::mkstemp(logPath);
  ASSERT_GE(fd, 0);
  ::close(fd);
  VmSimOptions o;
  o.refuse = 0x24;
  o.logFile = logPath;
  VmSimServer server(o);
  ASSERT_TRUE(server.Start());
  const uint8_t zeros[16] = {};
  EXPECT_EQ(Hello(server.Port(), 1, Md5Of(o.key.data(), zeros)), 0x24);
  EXPECT_TRUE(server.WaitSessions(1, 10000));
  bool logged = false;
  for (auto& line : server.LogLines()) logged |= line.find("\"status\":36") != std::string::npos;
  EXPECT_TRUE(logged);
  // The same line went to the log file.
  std::ifstream in(logPath);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_NE(line.find("\"event\":\"Hello\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"status\":36"), std::string::npos) << line;
  ::unlink(logPath);
}

}  // namespace
}  // namespace remcons::sim
