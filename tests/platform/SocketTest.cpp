#include "platform/Socket.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace remcons {
namespace {

using namespace std::chrono_literals;

struct Pair {
  Pair() {
    EXPECT_TRUE(listener);
    EXPECT_TRUE(client->Connect("127.0.0.1", listener->LocalPort()));
    server = listener->Accept();
    EXPECT_TRUE(server);
  }
  std::unique_ptr<TcpSocket> listener = TcpSocket::Listen("127.0.0.1", 0);
  std::unique_ptr<TcpSocket> client = TcpSocket::Create(), server;
};

TEST(Socket, SendsAndReceivesOverLoopback) {
  Pair p;
  ASSERT_TRUE(p.client->SetNoDelay(true));
  EXPECT_EQ(p.client->Send("hello", 5), 5);
  char buf[16] = {};
  ASSERT_TRUE(p.server->ReceiveAll(buf, 5));
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(p.client->BytesAvailable(), 0);
  p.server->Send("xy", 2);
  for (int i = 0; i < 100 && p.client->BytesAvailable() < 2; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(p.client->BytesAvailable(), 2);
  // A receive time-out reports itself.
  ASSERT_TRUE(p.server->SetReceiveTimeout(20));
  char b;
  EXPECT_EQ(p.server->Receive(&b, 1), -1);
  EXPECT_EQ(LastSocketError(), kWsaEtimedout);
}

TEST(Socket, CloseFromAnotherThreadWakesABlockedReceiveOrAccept) {
  Pair p;
  auto started = std::chrono::steady_clock::now();
  auto reader = std::async(std::launch::async, [&] {
    char b;
    const int result = p.client->Receive(&b, 1);
    return std::make_pair(result, std::chrono::steady_clock::now() - started);
  });
  auto accepter = std::async(std::launch::async, [&] { return p.listener->Accept(); });
  std::this_thread::sleep_for(50ms);
  started = std::chrono::steady_clock::now();
  p.client->Close();
  p.listener->Close();
  const auto [result, took] = reader.get();
  EXPECT_EQ(result, 0);
  EXPECT_LT(took, 100ms);
  EXPECT_EQ(accepter.get(), nullptr);
  // Calls after close fail without touching a descriptor.
  char b;
  EXPECT_EQ(p.client->Receive(&b, 1), 0);
  EXPECT_EQ(p.client->Send("x", 1), -1);
  EXPECT_EQ(p.client->BytesAvailable(), -1);
}

TEST(Socket, PeerCloseGivesZeroAndSendDoesNotRaiseSigpipe) {
  Pair p;
  p.server.reset();
  char b;
  EXPECT_EQ(p.client->Receive(&b, 1), 0);
  // Writing into a reset connection fails with an error code instead of killing the process.
  int r = 0;
  for (int i = 0; i < 50 && r >= 0; ++i) {
    r = p.client->Send("data", 4);
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(r, -1);
  EXPECT_TRUE(LastSocketError() == kWsaEconnreset || LastSocketError() == kWsaEshutdown);
}

TEST(Socket, ConnectTakesOnlyDottedAddressesAndReportsRefusals) {
  auto s = TcpSocket::Create();
  EXPECT_FALSE(s->Connect("localhost", 23));
  EXPECT_EQ(LastSocketError(), kWsaEaddrnotavail);
  EXPECT_FALSE(s->Connect("", 23));
  uint32_t a;
  EXPECT_TRUE(ParseIpv4("10.1.2.3", &a));
  EXPECT_FALSE(ParseIpv4("10.1.2", &a));
  EXPECT_FALSE(ParseIpv4("192.168.100.2001", &a));
  const uint16_t port = TcpSocket::Listen("127.0.0.1", 0)->LocalPort();
  EXPECT_FALSE(TcpSocket::Create()->Connect("127.0.0.1", port));
  EXPECT_EQ(LastSocketError(), kWsaEconnrefused);
}

TEST(Socket, ErrnoMapsToWinsockCodesAndTexts) {
  const std::pair<int, int> codes[] = {{ECONNRESET, 10054},
                                       {ENOTCONN, 10057},
                                       {ENOTSOCK, 10038},
                                       {ECONNABORTED, 10053},
                                       {EINTR, 10004}};
  for (auto [e, code] : codes) EXPECT_EQ(WinsockCodeFromErrno(e), code) << e;
  EXPECT_STREQ(SocketErrorText(10038), "The descriptor is not a socket.");
  EXPECT_STREQ(SocketErrorText(10057), "The socket is not connected.");
  EXPECT_STREQ(SocketErrorText(10061), "Unknown error.");
  EXPECT_NE(std::string(SocketErrorText(10054)).find("\"Port Unreachable\""), std::string::npos);
}

}  // namespace
}  // namespace remcons
