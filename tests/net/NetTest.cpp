#include "net/Net.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <future>
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
using testing::OsslChainRc4;
using testing::OsslRc4;
using testing::ReadBytes;
using testing::TraceCapture;
using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST(TransformLogin, Cases) {
  const std::pair<const char*, std::string> cases[] = {
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
  for (const auto& [login, expected] : cases)
    EXPECT_EQ(B(TransformLogin(login)), B(expected)) << login;
}

// Random byte strings encoded by OpenSSL's Base64 come back with ':' turned into CR and a CR
// appended; our encoder writes what OpenSSL writes.
TEST(TransformLogin, DecodesOpensslBase64) {
  std::mt19937 rng(64);
  for (int round = 0; round < 300; ++round) {
    std::string plain(1 + rng() % 40, '\0');
    for (auto& b : plain) b = static_cast<char>(rng() % 4 == 0 ? ':' : rng());
    std::string encoded(4 * ((plain.size() + 2) / 3) + 1, '\0');
    encoded.resize(static_cast<size_t>(
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                        reinterpret_cast<const unsigned char*>(plain.data()), int(plain.size()))));
    ASSERT_EQ(Base64Encode(plain), encoded);
    std::replace(plain.begin(), plain.end(), ':', '\r');
    ASSERT_EQ(B(TransformLogin(encoded)), B(plain + "\r")) << encoded;
  }
}

TEST(StartReplyParser, SequencesAndTraces) {
  const struct {
    std::string bytes;
    StartReplyParser::Result expected;  // the result of the last byte
    int repliesBefore;                  // replies reported before the last byte
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes.substr(0, 40)));
    StartReplyParser parser;
    int replies = 0;
    for (size_t n = 0; n + 1 < c.bytes.size(); ++n) {
      replies += parser.Feed(static_cast<uint8_t>(c.bytes[n])) != StartReplyParser::kNone;
    }
    EXPECT_EQ(replies, c.repliesBefore);
    EXPECT_EQ(parser.Feed(static_cast<uint8_t>(c.bytes.back())), c.expected);
    EXPECT_EQ(parser.State(), 0);
  }
  TraceCapture capture;
  StartReplyParser parser;
  for (char c : std::string("a\x1b\x1b[R\x1b[r")) parser.Feed(static_cast<uint8_t>(c));
  EXPECT_EQ(capture.Texts(),
            (std::vector<std::string>{"[ESCAPE] ", "[ESCAPE] ", "[0x5b] ",
                                      "\n[START QEL w/ Encryption]\n", "[ESCAPE] ", "[0x5b] ",
                                      "\n[START QEL w/o Encryption]\n"}));
}

// ---- The connection over loopback ----

const uint8_t kDecryptKey[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe,
                                 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const uint8_t kEncryptKey[16] = {0xa5, 0x5a, 0x00, 0xff, 0x11, 0xee, 0x22, 0xdd,
                                 0x33, 0xcc, 0x44, 0xbb, 0x55, 0xaa, 0x66, 0x99};
const Bytes kEscapes = {0x1B, 0x5B, 0x37, 0x1B, 0x5B, 0x39, 0x1B, 0x5B, 0x34};
const char kLogin[] = "dXNlcjpwYXNz";  // user:pass
const std::string kLoginBytes = "user\rpass\r";
const size_t kClearStart = 9 + kLoginBytes.size();

// The escapes and the transformed login, as the start sequence carries them.
Bytes PlainStart() {
  Bytes bytes = kEscapes;
  bytes.insert(bytes.end(), kLoginBytes.begin(), kLoginBytes.end());
  return bytes;
}

// n bytes from the peer, deciphered.
Bytes Read(TcpSocket& s, OsslRc4& cipher, size_t n) {
  Bytes bytes = ReadBytes(s, n);
  cipher.Xor(bytes.data(), bytes.size());
  return bytes;
}
// An enciphered start sequence: FF C0 and the key index in the clear (into *header), the rest
// deciphered with fromClient.
Bytes ReadEncipheredStart(TcpSocket& s, OsslRc4& fromClient, Bytes* header = nullptr) {
  Bytes start = ReadBytes(s, 6);
  if (header) *header = start;
  return start.size() < 6 ? Bytes{} : Read(s, fromClient, kClearStart);
}
void Send(TcpSocket& s, const std::string& text, OsslRc4* cipher = nullptr) {
  Bytes bytes = B(text);
  if (cipher) cipher->Xor(bytes.data(), bytes.size());
  s.SendAll(bytes.data(), bytes.size());
}

// Runs Connect in a thread so that a test can never hang on it.
class ConnectRunner {
 public:
  ConnectRunner(CNet& net, uint16_t port, std::string login = kLogin, std::string to = "127.0.0.1")
      : net_(net), future_(promise_.get_future()) {
    thread_ = std::thread([this, port, login, to] {
      pthread_setname_np(pthread_self(), "test-connect");
      promise_.set_value(net_.Connect(to, login, port));
    });
  }
  ~ConnectRunner() {
    if (!Done()) net_.Close();
    thread_.join();
  }
  bool Done() { return future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }
  // Connect's result, or -99 when it has not returned within timeoutMs.
  int Result(int timeoutMs = 10000) {
    return future_.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready
               ? future_.get()
               : -99;
  }

 private:
  CNet& net_;
  std::promise<int32_t> promise_;
  std::shared_future<int32_t> future_;
  std::thread thread_;
};

// Reads exactly n bytes through CNet::Read (bounded by the peer's behaviour and a retry limit).
Bytes NetRead(CNet& net, size_t n) {
  Bytes bytes(n);
  size_t done = 0;
  for (int tries = 0; done < n && tries < 1000; ++tries) {
    const int32_t got = net.Read(bytes.data() + done, static_cast<int32_t>(n - done));
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

// The enciphered session against OpenSSL's keystreams: the start sequence, both directions,
// input held back while disabled (without using up keystream), and a key change.
TEST(CNet, EncipheredSession) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  Bytes header, startPlain, written, afterChange;
  LoopbackPeer peer([&](TcpSocket& s) {
    OsslRc4 fromClient = OsslChainRc4(kDecryptKey, 0), toClient = OsslChainRc4(kEncryptKey, 0);
    startPlain = ReadEncipheredStart(s, fromClient, &header);
    Send(s, "Remote console ready\r\n\x1b[R");
    Send(s, "first video bytes", &toClient);
    written = Read(s, fromClient, 5);
    // After the key change each side's next bytes use the first bytes of generation 1.
    OsslRc4 fromClient1 = OsslChainRc4(kDecryptKey, 1), toClient1 = OsslChainRc4(kEncryptKey, 1);
    afterChange = Read(s, fromClient1, 2);
    Send(s, "C3", &toClient1);
  });
  TraceCapture capture;
  CNet net(kDecryptKey, kEncryptKey, 0x01020304, 1);
  EXPECT_TRUE(capture.Has("The key index is 0x01020304\n"));
  ConnectRunner runner(net, peer.port());
  ASSERT_EQ(runner.Result(), 1);
  EXPECT_EQ(net.GetState(), CNet::kConnected);
  EXPECT_EQ(NetRead(net, 17), B("first video bytes"));
  net.SetInputEnabled(false);
  EXPECT_FALSE(net.InputEnabled());
  EXPECT_EQ(net.WriteInput("xxxxxxxx", 8), 0);
  net.SetInputEnabled(true);
  EXPECT_EQ(net.WriteInput("in", 2), 2);
  const uint8_t abc[3] = {'a', 'b', 'c'};
  EXPECT_EQ(net.Write(abc, 3), 3);
  EXPECT_EQ(abc[0], 'a');  // the caller's bytes are not enciphered in place
  net.ChangeKeys();
  EXPECT_EQ(net.Write("B2", 2), 2);
  EXPECT_EQ(NetRead(net, 2), B("C3"));
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_EQ(header, (Bytes{0xFF, 0xC0, 0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(startPlain, PlainStart());
  EXPECT_EQ(written, B("inabc"));
  EXPECT_EQ(afterChange, B("B2"));
  EXPECT_TRUE(capture.Has("Started up Linux sockets\n"));
  EXPECT_TRUE(capture.Contains("created. Connecting to 127.0.0.1:" + std::to_string(peer.port())));
  EXPECT_TRUE(capture.Contains("Setting TCP_NODELAY on socket "));
  EXPECT_TRUE(capture.Has("\n[START QEL w/ Encryption]\n"));
}

// A console that does not encipher ignores an enciphered reply; one that does, given a clear
// reply, goes on in the clear. A login too short to decode sends nothing after the escapes.
TEST(CNet, ClearSessions) {
  for (const int encipher : {0, 1, 2}) {
    SCOPED_TRACE(encipher);
    if (encipher == 1 && !LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4)";
    Bytes start, written;
    LoopbackPeer peer([&](TcpSocket& s) {
      if (encipher == 1) {
        OsslRc4 fromClient = OsslChainRc4(kDecryptKey, 0);
        start = ReadEncipheredStart(s, fromClient);
      } else {
        start = ReadBytes(s, encipher ? kEscapes.size() : kClearStart);
      }
      Send(s, encipher ? "\x1b[rplain" : "\x1b[Rplain");
      written = ReadBytes(s, 3);
    });
    CNet net(kDecryptKey, kEncryptKey, 7, encipher == 1);
    ConnectRunner runner(net, peer.port(), encipher == 2 ? "QQ=" : kLogin);
    ASSERT_EQ(runner.Result(), 1);
    EXPECT_EQ(NetRead(net, 5), B("plain"));
    EXPECT_EQ(net.Write("xyz", 3), 3);
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(start, encipher == 2 ? kEscapes : PlainStart());
    EXPECT_EQ(written, B("xyz"));
  }
}

// The clear login (user name and password) lives on in no freed buffer once it has been sent,
// in a clear or an enciphered session; a login this long outgrows every short-text buffer.
TEST(CNet, LoginLeavesNoCopiesBehind) {
  const std::string clear = "u\rpw-0123456789abcdefghij-klmnopqrstuvwxyz\r";
  for (const int encipher : {0, 1}) {
    SCOPED_TRACE(encipher);
    testing::FreedWatch watch("0123456789abcdefghij");
    Bytes start;
    LoopbackPeer peer([&](TcpSocket& s) {
      testing::FreedWatch::IgnoreThisThread();
      start = ReadBytes(s, (encipher ? 15 : 9) + clear.size());
      Send(s, "\x1b[r");
    });
    {
      CNet net(kDecryptKey, kEncryptKey, 0, encipher);
      ConnectRunner runner(net, peer.port(),
                           "dTpwdy0wMTIzNDU2Nzg5YWJjZGVmZ2hpai1rbG1ub3BxcnN0dXZ3eHl6");
      ASSERT_EQ(runner.Result(), 1);
    }
    ASSERT_TRUE(peer.WaitDone());
    Bytes expected = kEscapes;
    expected.insert(expected.end(), clear.begin(), clear.end());
    if (!encipher) {
      EXPECT_EQ(start, expected);
    }
    EXPECT_EQ(watch.Hits(), 0);
  }
}

// Four threads write distinct packets at once; every packet must reach a deciphering peer whole,
// in the order of the one keystream.
TEST(CNet, ConcurrentWritersKeepPacketsAndKeystreamOrder) {
  if (!LoadLegacyProvider()) GTEST_SKIP() << "OpenSSL legacy provider (RC4) not available";
  constexpr int kThreads = 4, kPackets = 250, kSize = 12;
  Bytes stream;
  LoopbackPeer peer([&](TcpSocket& s) {
    OsslRc4 fromClient = OsslChainRc4(kDecryptKey, 0);
    if (ReadEncipheredStart(s, fromClient).empty()) return;
    Send(s, "\x1b[R");
    stream = Read(s, fromClient, size_t{kThreads} * kPackets * kSize);
  });
  CNet net(kDecryptKey, kEncryptKey, 1, 1);
  ConnectRunner runner(net, peer.port());
  ASSERT_EQ(runner.Result(), 1);
  auto byteOf = [](int t, int p, int k) { return static_cast<uint8_t>(t * 31 + p + k); };
  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int p = 0; p < kPackets; ++p) {
        uint8_t packet[kSize] = {uint8_t(0xA0 + t), uint8_t(p >> 8), uint8_t(p)};
        for (int k = 3; k < kSize; ++k) packet[k] = byteOf(t, p, k);
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
    const int t = packet[0] - 0xA0, p = packet[1] * 256 + packet[2];
    ASSERT_TRUE(t >= 0 && t < kThreads) << "packet at " << at;
    ASSERT_EQ(p, next[t]++) << "thread " << t;
    for (int k = 3; k < kSize; ++k) ASSERT_EQ(packet[k], byteOf(t, p, k)) << "packet at " << at;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kPackets);
}

// A clear session whose peer holds the connection open until told to stop, after the reply.
struct IdlePeer {
  explicit IdlePeer(const std::string& reply = "\x1b[r") : reply(reply) {}
  ~IdlePeer() { release = true; }
  std::string reply;
  std::atomic<bool> release{false};
  LoopbackPeer peer{[this](TcpSocket& s) {
    ReadBytes(s, kClearStart);
    if (!reply.empty()) Send(s, reply);
    for (int n = 0; n < 1000 && !release; ++n) SystemClock().SleepMs(10);
  }};
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
  // Everything after Close sees no socket; twice is harmless.
  EXPECT_EQ(net.Write("a", 1), 0);
  EXPECT_EQ(net.BytesAvailable(), -1);
  net.Close();
}

TEST(CNet, PeerCloseEndsReadsAndWrites) {
  LoopbackPeer peer([&](TcpSocket& s) {
    ReadBytes(s, kClearStart);
    Send(s, "\x1b[rlast");
    s.Close();
  });
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  ConnectRunner runner(net, peer.port());
  ASSERT_EQ(runner.Result(), 1);
  ASSERT_TRUE(peer.WaitDone());
  for (int n = 0; n < 200 && net.BytesAvailable() < 4; ++n) SystemClock().SleepMs(5);
  EXPECT_EQ(net.BytesAvailable(), 4);
  EXPECT_EQ(NetRead(net, 4), B("last"));
  TraceCapture capture;
  uint8_t buffer[16];
  EXPECT_EQ(net.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(net.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"Socket closed\n", "Socket closed\n"}));
  EXPECT_EQ(net.Write("a", 1), 0);
  EXPECT_EQ(net.WriteInput("a", 1), 0);
  EXPECT_EQ(net.BytesAvailable(), -1);
  EXPECT_EQ(net.GetState(), CNet::kConnected);
}

TEST(CNet, SilentPeerKeepsTheHandshakeWaitingUntilClose) {
  IdlePeer idle("");
  CNet net(kDecryptKey, kEncryptKey, 0, 0);
  ConnectRunner runner(net, idle.peer.port());
  for (int n = 0; n < 500 && net.GetState() != CNet::kHandshaking; ++n) SystemClock().SleepMs(5);
  ASSERT_EQ(net.GetState(), CNet::kHandshaking);
  SystemClock().SleepMs(200);
  EXPECT_FALSE(runner.Done());
  EXPECT_EQ(net.GetState(), CNet::kHandshaking);
  net.Close();
  EXPECT_EQ(runner.Result(5000), 0);
  EXPECT_EQ(net.GetState(), CNet::kClosedInHandshake);
}

// Connections that fail: the peer leaving in the handshake, a refused connect, a name instead of
// an address (never looked up), a Close before Connect.
TEST(CNet, FailedConnections) {
  uint16_t closed;
  {
    auto probe = TcpSocket::Listen("127.0.0.1", 0);
    ASSERT_TRUE(probe);
    closed = probe->LocalPort();
  }
  LoopbackPeer leaving([&](TcpSocket& s) {
    ReadBytes(s, kClearStart);
    Send(s, "Going away\x1b[");
    s.Close();
  });
  LoopbackPeer silent([](TcpSocket&) {});
  const struct {
    const char* name;
    uint16_t port;
    const char* to;
    bool closeFirst;
    CNet::State state;
    const char* trace;
  } cases[] = {
      {"peer leaves", leaving.port(), "127.0.0.1", false, CNet::kClosedInHandshake, ""},
      {"refused", closed, "127.0.0.1", false, CNet::kIdle, "Connect error #10061.\n"},
      {"name", 23, "localhost", false, CNet::kIdle, ""},
      {"closed before", silent.port(), "127.0.0.1", true, CNet::kIdle, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TraceCapture capture;
    CNet net(kDecryptKey, kEncryptKey, 0, 0);
    if (c.closeFirst) net.Close();
    {
      ConnectRunner runner(net, c.port, kLogin, c.to);
      EXPECT_EQ(runner.Result(), 0);
    }
    EXPECT_EQ(net.GetState(), c.state);
    if (*c.trace) {
      EXPECT_TRUE(capture.Has(c.trace));
    }
    uint8_t b;
    EXPECT_EQ(net.Read(&b, 1), 0);
    EXPECT_EQ(net.Write("a", 1), 0);
  }
}

}  // namespace
}  // namespace remcons
