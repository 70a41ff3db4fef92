#include "net/Net.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Oracle.h"
#include "Peer.h"
#include "platform/Clock.h"
#include "support/FreedWatch.h"
#include "support/TraceCapture.h"

namespace remcons {
namespace {

using testing::LoadLegacyProvider;
using testing::LoopbackPeer;
using testing::OsslChainStep;
using testing::OsslRc4;
using testing::ReadBytes;
using testing::SendBytes;
using testing::TraceCapture;

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// ---------------------------------------------------------------------------------------------
// Login text transform

TEST(TransformLogin, Cases) {
  struct Case {
    const char* login;
    std::string expected;
  };
  const Case cases[] = {
      {"dXNlcjpwYXNz", "user\rpass\r"},              // "user:pass"
      {"QWRtaW46c2VjcmV0MQ==", "Admin\rsecret1\r"},  // '=' in third place: one byte
      {"QUI=", "AB\r"},                              // '=' in fourth place: two bytes
      {"QQ==", "A\r"},
      {"Og==", "\r\r"},  // a lone ':'
      {"", ""},
      {"QQ", ""},  // fewer than four characters: nothing, no CR
      {"QUJ", ""},
      {"QUJDRA", "ABC\r"},                           // trailing characters short of a group
      {"QQ==QUJD", "A\r"},                           // padding ends the decoding
      {"=QUJ", ""},                                  // padding first: nothing decodes
      {"QUJD\nRA==", std::string("ABC\x01\x10\r")},  // outside the alphabet counts as 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.login);
    const std::string got = TransformLogin(c.login);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()), Bytes(c.expected));
  }
}

// Random byte strings encoded by OpenSSL's Base64 come back with ':' turned into CR and a CR
// appended; our encoder writes what OpenSSL writes.
TEST(TransformLogin, DecodesOpensslBase64) {
  std::mt19937 rng(64);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> plain(1 + rng() % 40);
    for (auto& b : plain) b = static_cast<uint8_t>(rng() % 4 == 0 ? ':' : rng());
    std::string encoded(4 * ((plain.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), plain.data(),
                                  static_cast<int>(plain.size()));
    encoded.resize(static_cast<size_t>(n));
    ASSERT_EQ(Base64Encode(std::string(plain.begin(), plain.end())), encoded);
    std::vector<uint8_t> expected = plain;
    for (auto& b : expected) {
      if (b == ':') b = '\r';
    }
    expected.push_back('\r');
    const std::string got = TransformLogin(encoded);
    ASSERT_EQ(std::vector<uint8_t>(got.begin(), got.end()), expected) << encoded;
  }
}

// ---------------------------------------------------------------------------------------------
// Start reply parser

TEST(StartReplyParser, Sequences) {
  struct Case {
    std::string bytes;
    StartReplyParser::Result expected;  // the result of the last byte
    int repliesBefore;                  // replies reported before the last byte
  };
  const Case cases[] = {
      {"\x1b[R", StartReplyParser::kEnciphered, 0},
      {"\x1b[r", StartReplyParser::kClear, 0},
      {"\x1b\x1b[r", StartReplyParser::kClear, 0},
      {"\x1b[\x1b[r", StartReplyParser::kNone, 0},  // ESC after '[' goes back to text
      {"Welcome to the console\r\n... \x1b[R", StartReplyParser::kEnciphered, 0},
      {std::string(5000, 'x') + "\x1b[r", StartReplyParser::kClear, 0},
      {"\x1b[x\x1b[R", StartReplyParser::kEnciphered, 0},
      {"[R", StartReplyParser::kNone, 0},
      {"\x1bR", StartReplyParser::kNone, 0},
      {"\x1b[r\x1b[R", StartReplyParser::kEnciphered, 1},  // back to text after a reply
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes.substr(0, 40)));
    StartReplyParser parser;
    int replies = 0;
    for (size_t n = 0; n + 1 < c.bytes.size(); ++n) {
      if (parser.Feed(static_cast<uint8_t>(c.bytes[n])) != StartReplyParser::kNone) ++replies;
    }
    EXPECT_EQ(replies, c.repliesBefore);
    EXPECT_EQ(parser.Feed(static_cast<uint8_t>(c.bytes.back())), c.expected);
    EXPECT_EQ(parser.State(), 0);
  }
}

TEST(StartReplyParser, Traces) {
  TraceCapture capture;
  StartReplyParser parser;
  for (char c : std::string("a\x1b\x1b[R")) parser.Feed(static_cast<uint8_t>(c));
  EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"[ESCAPE] ", "[ESCAPE] ", "[0x5b] ",
                                                       "\n[START QEL w/ Encryption]\n"}));
  capture.Clear();
  for (char c : std::string("\x1b[r")) parser.Feed(static_cast<uint8_t>(c));
  EXPECT_TRUE(capture.Has("\n[START QEL w/o Encryption]\n"));
}

// ---------------------------------------------------------------------------------------------
// The connection over loopback

const uint8_t kDecryptKey[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe,
                                 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const uint8_t kEncryptKey[16] = {0xa5, 0x5a, 0x00, 0xff, 0x11, 0xee, 0x22, 0xdd,
                                 0x33, 0xcc, 0x44, 0xbb, 0x55, 0xaa, 0x66, 0x99};
const uint8_t kZeros[16] = {};
const std::vector<uint8_t> kEscapes = {0x1B, 0x5B, 0x37, 0x1B, 0x5B, 0x39, 0x1B, 0x5B, 0x34};
const char kLogin[] = "dXNlcjpwYXNz";  // user:pass
const std::string kLoginBytes = "user\rpass\r";

// The RC4 key of a stream's generation, from OpenSSL's MD5.
std::array<uint8_t, 16> GenerationKey(const uint8_t* sessionKey, int generation) {
  std::array<uint8_t, 16> key = OsslChainStep(sessionKey, kZeros);
  for (int g = 0; g < generation; ++g) key = OsslChainStep(sessionKey, key.data());
  return key;
}

// Reads an enciphered start sequence: the FF C0 header in clear, the rest deciphered with
// fromClient. Returns the deciphered part; empty when the connection ended first.
std::vector<uint8_t> ReadEncipheredStart(TcpSocket& s, OsslRc4& fromClient,
                                         std::vector<uint8_t>* header = nullptr) {
  std::vector<uint8_t> start = ReadBytes(s, 15 + kLoginBytes.size());
  if (start.size() < 6) return {};
  if (header) header->assign(start.begin(), start.begin() + 6);
  std::vector<uint8_t> rest(start.begin() + 6, start.end());
  fromClient.Xor(rest.data(), rest.size());
  return rest;
}

// The escapes and the transformed login, as the start sequence carries them.
std::vector<uint8_t> PlainStart() {
  std::vector<uint8_t> bytes = kEscapes;
  bytes.insert(bytes.end(), kLoginBytes.begin(), kLoginBytes.end());
  return bytes;
}

// Runs Connect in a thread so that a test can never hang on it.
class ConnectRunner {
 public:
  ConnectRunner(CNet& net, uint16_t port, std::string login = kLogin)
      : net_(net), future_(promise_.get_future()) {
    thread_ = std::thread([this, port, login] {
      pthread_setname_np(pthread_self(), "test-connect");
      promise_.set_value(net_.Connect("127.0.0.1", login, port));
    });
  }
  ~ConnectRunner() {
    if (future_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) net_.Close();
    thread_.join();
  }
  bool Done() { return future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }
  // Connect's result, or -99 when it has not returned within timeoutMs.
  int Result(int timeoutMs = 10000) {
    if (future_.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
      return -99;
    }
    return future_.get();
  }

 private:
  CNet& net_;
  std::promise<int32_t> promise_;
  std::shared_future<int32_t> future_;
  std::thread thread_;
};

// Reads exactly n bytes through CNet::Read (bounded by the peer's behaviour and a retry limit).
std::vector<uint8_t> NetRead(CNet& net, size_t n) {
  std::vector<uint8_t> bytes(n);
  size_t done = 0;
  for (int tries = 0; done < n && tries < 1000; ++tries) {
    const int32_t got = net.Read(bytes.data() + done, static_cast<int32_t>(n - done));
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

TEST(CNet, EncipheredStartSequenceAndSession) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  std::vector<uint8_t> header, startPlain, written;
  LoopbackPeer peer([&](TcpSocket& s) {
    OsslRc4 fromClient(GenerationKey(kDecryptKey, 0).data(), 16);
    OsslRc4 toClient(GenerationKey(kEncryptKey, 0).data(), 16);
    startPlain = ReadEncipheredStart(s, fromClient, &header);
    SendBytes(s, Bytes("Remote console ready\r\n\x1b[R"));
    std::vector<uint8_t> video = Bytes("first video bytes");
    toClient.Xor(video.data(), video.size());
    SendBytes(s, video);
    written = ReadBytes(s, 3);
    fromClient.Xor(written.data(), written.size());
  });

  TraceCapture capture;
  CNet net(kDecryptKey, kEncryptKey, 0x01020304, 1);
  EXPECT_TRUE(capture.Has("The key index is 0x01020304\n"));
  ConnectRunner runner(net, peer.port());
  ASSERT_EQ(runner.Result(), 1);
  EXPECT_EQ(net.GetState(), CNet::kConnected);
  EXPECT_EQ(NetRead(net, 17), Bytes("first video bytes"));
  const uint8_t abc[3] = {'a', 'b', 'c'};
  EXPECT_EQ(net.Write(abc, 3), 3);
  EXPECT_EQ(abc[0], 'a');  // the caller's bytes are not enciphered in place
  ASSERT_TRUE(peer.WaitDone());

  EXPECT_EQ(header, (std::vector<uint8_t>{0xFF, 0xC0, 0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(startPlain, PlainStart());
  EXPECT_EQ(written, Bytes("abc"));
  EXPECT_TRUE(capture.Has("Started up Linux sockets\n"));
  EXPECT_TRUE(capture.Contains("created. Connecting to 127.0.0.1:" + std::to_string(peer.port())));
  EXPECT_TRUE(capture.Contains("Setting TCP_NODELAY on socket "));
  EXPECT_TRUE(capture.Has("\n[START QEL w/ Encryption]\n"));
}

// A console that does not encipher ignores an enciphered reply; one that does, given a clear
// reply, goes on in the clear.
TEST(CNet, ClearSessions) {
  for (const int encipher : {0, 1}) {
    SCOPED_TRACE(encipher);
    if (encipher && !LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4)";
    std::vector<uint8_t> start, written;
    LoopbackPeer peer([&](TcpSocket& s) {
      if (encipher) {
        OsslRc4 fromClient(GenerationKey(kDecryptKey, 0).data(), 16);
        start = ReadEncipheredStart(s, fromClient);
      } else {
        start = ReadBytes(s, 9 + kLoginBytes.size());
      }
      SendBytes(s, Bytes(encipher ? "\x1b[rplain" : "\x1b[Rplain"));
      written = ReadBytes(s, 3);
    });
    CNet net(kDecryptKey, kEncryptKey, 7, encipher);
    ConnectRunner runner(net, peer.port());
    ASSERT_EQ(runner.Result(), 1);
    EXPECT_EQ(NetRead(net, 5), Bytes("plain"));
    EXPECT_EQ(net.Write("xyz", 3), 3);
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(start, PlainStart());
    EXPECT_EQ(written, Bytes("xyz"));
  }
}

// The clear login (user name and password) lives on in no freed buffer once it has been sent,
// in a clear or an enciphered session; a login this long outgrows every short-text buffer.
TEST(CNet, LoginLeavesNoCopiesBehind) {
  const std::string clear = "u\rpw-0123456789abcdefghij-klmnopqrstuvwxyz\r";
  for (const int encipher : {0, 1}) {
    SCOPED_TRACE(encipher);
    testing::FreedWatch watch("0123456789abcdefghij");
    std::vector<uint8_t> start;
    LoopbackPeer peer([&](TcpSocket& s) {
      testing::FreedWatch::IgnoreThisThread();
      start = ReadBytes(s, (encipher ? 15 : 9) + clear.size());
      SendBytes(s, Bytes("\x1b[r"));
    });
    {
      CNet net(kDecryptKey, kEncryptKey, 0, encipher);
      ConnectRunner runner(net, peer.port(),
                           "dTpwdy0wMTIzNDU2Nzg5YWJjZGVmZ2hpai1rbG1ub3BxcnN0dXZ3eHl6");
      ASSERT_EQ(runner.Result(), 1);
    }
    ASSERT_TRUE(peer.WaitDone());
    if (!encipher) {
      EXPECT_EQ(start, Bytes(std::string(kEscapes.begin(), kEscapes.end()) + clear));
    }
    EXPECT_EQ(watch.Hits(), 0);
  }
}

TEST(CNet, ShortLoginSendsNoLoginBytes) {
  std::vector<uint8_t> start, next;
  LoopbackPeer peer([&](TcpSocket& s) {
    start = ReadBytes(s, 9);
    SendBytes(s, Bytes("\x1b[r"));
    next = ReadBytes(s, 1);
  });
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  ConnectRunner runner(net, peer.port(), "QQ=");
  ASSERT_EQ(runner.Result(), 1);
  EXPECT_EQ(net.Write("Z", 1), 1);
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_EQ(start, kEscapes);
  EXPECT_EQ(next, Bytes("Z"));  // nothing between the escapes and the first write
}

TEST(CNet, ChangeKeysStepsBothStreams) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  std::vector<uint8_t> afterChange;
  LoopbackPeer peer([&](TcpSocket& s) {
    ReadBytes(s, 15 + kLoginBytes.size());
    OsslRc4 toClient0(GenerationKey(kEncryptKey, 0).data(), 16);
    std::vector<uint8_t> first = Bytes("A1");
    toClient0.Xor(first.data(), first.size());
    std::vector<uint8_t> reply = Bytes("\x1b[R");
    reply.insert(reply.end(), first.begin(), first.end());
    SendBytes(s, reply);
    // After the key change the console's next bytes use the first bytes of generation 1.
    afterChange = ReadBytes(s, 2);
    OsslRc4 fromClient1(GenerationKey(kDecryptKey, 1).data(), 16);
    fromClient1.Xor(afterChange.data(), afterChange.size());
    OsslRc4 toClient1(GenerationKey(kEncryptKey, 1).data(), 16);
    std::vector<uint8_t> second = Bytes("C3");
    toClient1.Xor(second.data(), second.size());
    SendBytes(s, second);
  });
  CNet net(kDecryptKey, kEncryptKey, 1, 1);
  ConnectRunner runner(net, peer.port());
  ASSERT_EQ(runner.Result(), 1);
  EXPECT_EQ(NetRead(net, 2), Bytes("A1"));
  net.ChangeKeys();
  EXPECT_EQ(net.Write("B2", 2), 2);
  EXPECT_EQ(NetRead(net, 2), Bytes("C3"));
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_EQ(afterChange, Bytes("B2"));
}

TEST(CNet, WriteInputWhileDisabledLeavesTheKeystreamAlone) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  std::vector<uint8_t> received;
  LoopbackPeer peer([&](TcpSocket& s) {
    OsslRc4 fromClient(GenerationKey(kDecryptKey, 0).data(), 16);
    if (ReadEncipheredStart(s, fromClient).empty()) return;
    SendBytes(s, Bytes("\x1b[R"));
    received = ReadBytes(s, 4);
    fromClient.Xor(received.data(), received.size());
  });
  CNet net(kDecryptKey, kEncryptKey, 1, 1);
  ConnectRunner runner(net, peer.port());
  ASSERT_EQ(runner.Result(), 1);
  net.SetInputEnabled(false);
  EXPECT_FALSE(net.InputEnabled());
  EXPECT_EQ(net.WriteInput("xxxxxxxx", 8), 0);
  net.SetInputEnabled(true);
  EXPECT_EQ(net.WriteInput("in", 2), 2);
  EXPECT_EQ(net.Write("ok", 2), 2);
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_EQ(received, Bytes("inok"));
}

// Four threads write distinct packets at once; every packet must reach a deciphering peer whole,
// in the order of the one keystream.
TEST(CNet, ConcurrentWritersKeepPacketsAndKeystreamOrder) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  constexpr int kThreads = 4, kPackets = 250, kSize = 12;
  std::vector<uint8_t> stream;
  LoopbackPeer peer([&](TcpSocket& s) {
    OsslRc4 fromClient(GenerationKey(kDecryptKey, 0).data(), 16);
    if (ReadEncipheredStart(s, fromClient).empty()) return;
    SendBytes(s, Bytes("\x1b[R"));
    stream = ReadBytes(s, size_t{kThreads} * kPackets * kSize);
    fromClient.Xor(stream.data(), stream.size());
  });
  CNet net(kDecryptKey, kEncryptKey, 1, 1);
  ConnectRunner runner(net, peer.port());
  ASSERT_EQ(runner.Result(), 1);

  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      pthread_setname_np(pthread_self(), ("test-writer-" + std::to_string(t)).c_str());
      for (int p = 0; p < kPackets; ++p) {
        uint8_t packet[kSize];
        packet[0] = static_cast<uint8_t>(0xA0 + t);
        packet[1] = static_cast<uint8_t>(p >> 8);
        packet[2] = static_cast<uint8_t>(p);
        for (int k = 3; k < kSize; ++k) packet[k] = static_cast<uint8_t>(t * 31 + p + k);
        if (net.Write(packet, kSize) != kSize) ++failures;
      }
    });
  }
  for (auto& w : writers) w.join();
  EXPECT_EQ(failures.load(), 0);
  ASSERT_TRUE(peer.WaitDone());
  ASSERT_EQ(stream.size(), size_t{kThreads} * kPackets * kSize);
  int next[kThreads] = {};
  for (size_t at = 0; at < stream.size(); at += kSize) {
    const uint8_t* packet = stream.data() + at;
    const int t = packet[0] - 0xA0;
    ASSERT_TRUE(t >= 0 && t < kThreads) << "packet at " << at;
    const int p = packet[1] * 256 + packet[2];
    ASSERT_EQ(p, next[t]) << "thread " << t;
    for (int k = 3; k < kSize; ++k) {
      ASSERT_EQ(packet[k], static_cast<uint8_t>(t * 31 + p + k)) << "packet at " << at;
    }
    ++next[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kPackets);
}

// A clear session whose peer holds the connection open until told to stop.
struct IdlePeer {
  std::atomic<bool> release{false};
  LoopbackPeer peer{[this](TcpSocket& s) {
    ReadBytes(s, 9 + kLoginBytes.size());
    SendBytes(s, Bytes("\x1b[r"));
    for (int n = 0; n < 1000 && !release; ++n) SystemClock().SleepMs(10);
  }};
  ~IdlePeer() { release = true; }
};

TEST(CNet, CloseFromAnotherThreadWakesABlockedRead) {
  IdlePeer idle;
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  ConnectRunner runner(net, idle.peer.port());
  ASSERT_EQ(runner.Result(), 1);

  std::atomic<uint32_t> returnedAt{0};
  std::promise<int32_t> result;
  std::future<int32_t> readResult = result.get_future();
  std::thread reader([&] {
    pthread_setname_np(pthread_self(), "test-reader");
    uint8_t buffer[64];
    const int32_t n = net.Read(buffer, sizeof buffer);
    returnedAt = SystemClock().NowMs();
    result.set_value(n);
  });
  SystemClock().SleepMs(50);  // let the reader block in its receive
  EXPECT_NE(readResult.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  TraceCapture capture;
  const uint32_t closedAt = SystemClock().NowMs();
  net.Close();
  const bool returned = readResult.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!returned) idle.release = true;
  reader.join();
  ASSERT_TRUE(returned);
  EXPECT_EQ(readResult.get(), 0);
  EXPECT_LT(returnedAt.load() - closedAt, 100u);
  EXPECT_TRUE(capture.Has("Closing socket.\n"));
  // Everything after Close sees no socket.
  EXPECT_EQ(net.Write("a", 1), 0);
  EXPECT_EQ(net.BytesAvailable(), -1);
  net.Close();  // twice is harmless
}

TEST(CNet, PeerCloseEndsReadsAndWrites) {
  LoopbackPeer peer([&](TcpSocket& s) {
    ReadBytes(s, 9 + kLoginBytes.size());
    SendBytes(s, Bytes("\x1b[rlast"));
    s.Close();
  });
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  ConnectRunner runner(net, peer.port());
  ASSERT_EQ(runner.Result(), 1);
  ASSERT_TRUE(peer.WaitDone());
  for (int n = 0; n < 200 && net.BytesAvailable() < 4; ++n) SystemClock().SleepMs(5);
  EXPECT_EQ(net.BytesAvailable(), 4);
  EXPECT_EQ(NetRead(net, 4), Bytes("last"));
  TraceCapture capture;
  uint8_t buffer[16];
  EXPECT_EQ(net.Read(buffer, sizeof buffer), 0);
  EXPECT_TRUE(capture.Has("Socket closed\n"));
  capture.Clear();
  EXPECT_EQ(net.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{"Socket closed\n"});
  EXPECT_EQ(net.Write("a", 1), 0);
  EXPECT_EQ(net.WriteInput("a", 1), 0);
  EXPECT_EQ(net.BytesAvailable(), -1);
  EXPECT_EQ(net.GetState(), CNet::kConnected);
}

TEST(CNet, SilentPeerKeepsTheHandshakeWaitingUntilClose) {
  std::atomic<bool> release{false};
  LoopbackPeer peer([&](TcpSocket& s) {
    ReadBytes(s, 9 + kLoginBytes.size());
    for (int n = 0; n < 1000 && !release; ++n) SystemClock().SleepMs(10);
  });
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  ConnectRunner runner(net, peer.port());
  for (int n = 0; n < 500 && net.GetState() != CNet::kHandshaking; ++n) SystemClock().SleepMs(5);
  ASSERT_EQ(net.GetState(), CNet::kHandshaking);
  SystemClock().SleepMs(200);
  EXPECT_FALSE(runner.Done());
  EXPECT_EQ(net.GetState(), CNet::kHandshaking);
  net.Close();
  EXPECT_EQ(runner.Result(5000), 0);
  EXPECT_EQ(net.GetState(), CNet::kClosedInHandshake);
  release = true;
}

TEST(CNet, PeerCloseDuringTheHandshake) {
  LoopbackPeer peer([&](TcpSocket& s) {
    ReadBytes(s, 9 + kLoginBytes.size());
    SendBytes(s, Bytes("Going away\x1b["));
    s.Close();
  });
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  ConnectRunner runner(net, peer.port());
  EXPECT_EQ(runner.Result(), 0);
  EXPECT_EQ(net.GetState(), CNet::kClosedInHandshake);
}

TEST(CNet, RefusedConnection) {
  uint16_t port;
  {
    auto probe = TcpSocket::Listen("127.0.0.1", 0);
    ASSERT_TRUE(probe);
    port = probe->LocalPort();
  }
  TraceCapture capture;
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  ConnectRunner runner(net, port);
  EXPECT_EQ(runner.Result(), 0);
  EXPECT_EQ(net.GetState(), CNet::kIdle);
  EXPECT_TRUE(capture.Has("Connect error #10061.\n"));
  uint8_t b;
  EXPECT_EQ(net.Read(&b, 1), 0);
  EXPECT_EQ(net.Write("a", 1), 0);
}

TEST(CNet, NonNumericAddressIsNotLookedUp) {
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  EXPECT_EQ(net.Connect("localhost", kLogin, 23), 0);
  EXPECT_EQ(net.GetState(), CNet::kIdle);
}

TEST(CNet, CloseBeforeConnectEndsTheAttempt) {
  LoopbackPeer peer([](TcpSocket&) {});
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  net.Close();
  ConnectRunner runner(net, peer.port());
  EXPECT_EQ(runner.Result(), 0);
  EXPECT_EQ(net.GetState(), CNet::kIdle);
}

}  // namespace
}  // namespace remcons
