// The login transform and the start reply parser on hostile input, and the login's bytes after
// the connection's start. The enciphered session, its start sequence and key changes are the
// simulator's tests (whose keystreams are OpenSSL's) and the start reply fuzz target's; clear
// sessions, a silent or leaving peer, refused connections and a Close that wakes a blocked read
// are the session tests'.
#include "net/Net.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "support/FreedWatch.h"

namespace remcons {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Hand-made logins, then random byte strings encoded by OpenSSL's Base64 (our encoder writes
// what OpenSSL writes): ':' turns into CR and a CR is appended.
TEST(TransformLogin, HandMadeAndOpensslBase64) {
  const std::pair<const char*, std::string> cases[] = {
      {"QWRtaW46c2VjcmV0MQ==", "Admin\rsecret1\r"},  // '=' in third place: one byte
      {"QUI=", "AB\r"},                              // '=' in fourth place: two bytes
      {"QUJ", ""},                                   // fewer than four characters: nothing
      {"QQ==QUJD", "A\r"},                           // padding ends the decoding
      {"QUJD\nRA==", std::string("ABC\x01\x10\r")},  // outside the alphabet counts as 0
  };
  for (const auto& [login, expected] : cases)
    EXPECT_EQ(B(TransformLogin(login)), B(expected)) << login;
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

// ---- The connection over loopback ----

const uint8_t kDecryptKey[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe,
                                 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const uint8_t kEncryptKey[16] = {0xa5, 0x5a, 0x00, 0xff, 0x11, 0xee, 0x22, 0xdd,
                                 0x33, 0xcc, 0x44, 0xbb, 0x55, 0xaa, 0x66, 0x99};

// The management processor's stand-in: runs body on the one connection a loopback listener
// accepts, in a thread of its own; every receive has a time-out, so it always ends.
struct Peer {
  explicit Peer(std::function<void(TcpSocket&)> body) {
    done = std::async(std::launch::async, [this, body] {
      std::unique_ptr<TcpSocket> socket = listener->Accept();
      if (!socket) return;
      socket->SetReceiveTimeout(10000);
      body(*socket);
    });
  }
  ~Peer() {
    listener->Close();
    done.wait();
  }
  uint16_t port() const { return listener->LocalPort(); }
  bool WaitDone() { return done.wait_for(std::chrono::seconds(10)) == std::future_status::ready; }

  std::unique_ptr<TcpSocket> listener = TcpSocket::Listen("127.0.0.1", 0);
  std::future<void> done;
};

// Exactly n bytes from the peer (fewer on close or time-out).
Bytes ReadBytes(TcpSocket& socket, size_t n) {
  Bytes bytes(n);
  size_t done = 0;
  for (int got; done < n && (got = socket.Receive(bytes.data() + done, n - done)) > 0;)
    done += static_cast<size_t>(got);
  bytes.resize(done);
  return bytes;
}
// Connect in a thread of its own, so that a test never hangs on it: its result, or -99 when it
// has not returned within 10 s (the connection is then closed).
int ConnectAndWait(CNet& net, uint16_t port, const std::string& login) {
  auto result =
      std::async(std::launch::async, [&] { return net.Connect("127.0.0.1", login, port); });
  if (result.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return result.get();
  net.Close();
  return -99;
}

// The clear login (user name and password) lives on in no freed buffer once it has been sent,
// in a clear or an enciphered session; a login this long outgrows every short-text buffer.
TEST(CNet, LoginLeavesNoCopiesBehind) {
  const std::string clear = "u\rpw-0123456789abcdefghij-klmnopqrstuvwxyz\r";
  for (const int encipher : {0, 1}) {
    testing::FreedWatch watch("0123456789abcdefghij");
    Bytes start;
    Peer peer([&](TcpSocket& s) {
      testing::FreedWatch::IgnoreThisThread();
      start = ReadBytes(s, (encipher ? 15 : 9) + clear.size());
      s.SendAll("\x1b[r", 3);
    });
    {
      CNet net(kDecryptKey, kEncryptKey, 0, encipher);
      ASSERT_EQ(ConnectAndWait(net, peer.port(),
                               "dTpwdy0wMTIzNDU2Nzg5YWJjZGVmZ2hpai1rbG1ub3BxcnN0dXZ3eHl6"),
                1);
    }
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_TRUE(encipher || start == B("\x1b[7\x1b[9\x1b[4" + clear));
    EXPECT_EQ(watch.Hits(), 0) << encipher;
  }
}

}  // namespace
}  // namespace remcons
