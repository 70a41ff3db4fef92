#include "platform/Socket.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace remcons {
namespace {

using namespace std::chrono_literals;

struct Pair {
  std::unique_ptr<TcpSocket> listener, client, server;
};

Pair Connected() {
  Pair p;
  p.listener = TcpSocket::Listen("127.0.0.1", 0);
  EXPECT_TRUE(p.listener);
  p.client = TcpSocket::Create();
  EXPECT_TRUE(p.client->Connect("127.0.0.1", p.listener->LocalPort()));
  p.server = p.listener->Accept();
  EXPECT_TRUE(p.server);
  return p;
}

TEST(Socket, SendsAndReceivesOverLoopback) {
  Pair p = Connected();
  ASSERT_TRUE(p.client->SetNoDelay(true));
  EXPECT_EQ(p.client->Send("hello", 5), 5);
  char buf[16] = {};
  ASSERT_TRUE(p.server->ReceiveAll(buf, 5));
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(p.client->BytesAvailable(), 0);
  p.server->Send("xy", 2);
  for (int i = 0; i < 100 && p.client->BytesAvailable() < 2; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(p.client->BytesAvailable(), 2);
}

TEST(Socket, CloseFromAnotherThreadWakesABlockedReceive) {
  Pair p = Connected();
  std::atomic<int> result{-2};
  auto started = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration took{};
  std::thread reader([&] {
    char b;
    result = p.client->Receive(&b, 1);
    took = std::chrono::steady_clock::now() - started;
  });
  std::this_thread::sleep_for(50ms);
  started = std::chrono::steady_clock::now();
  p.client->Close();
  reader.join();
  EXPECT_EQ(result, 0);
  EXPECT_LT(took, 100ms);
  // Calls after close fail without touching a descriptor.
  char b;
  EXPECT_EQ(p.client->Receive(&b, 1), 0);
  EXPECT_EQ(p.client->Send("x", 1), -1);
  EXPECT_EQ(p.client->BytesAvailable(), -1);
}

TEST(Socket, CloseWakesABlockedAccept) {
  auto listener = TcpSocket::Listen("127.0.0.1", 0);
  ASSERT_TRUE(listener);
  std::thread t([&] { EXPECT_EQ(listener->Accept(), nullptr); });
  std::this_thread::sleep_for(30ms);
  listener->Close();
  t.join();
}

TEST(Socket, PeerCloseGivesZeroAndSendDoesNotRaiseSigpipe) {
  Pair p = Connected();
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

TEST(Socket, ReceiveTimeoutReportsTimedOut) {
  Pair p = Connected();
  ASSERT_TRUE(p.client->SetReceiveTimeout(20));
  char b;
  EXPECT_EQ(p.client->Receive(&b, 1), -1);
  EXPECT_EQ(LastSocketError(), kWsaEtimedout);
}

TEST(Socket, ConnectTakesOnlyDottedAddresses) {
  auto s = TcpSocket::Create();
  EXPECT_FALSE(s->Connect("localhost", 23));
  EXPECT_EQ(LastSocketError(), kWsaEaddrnotavail);
  EXPECT_FALSE(s->Connect("", 23));
  uint32_t a;
  EXPECT_TRUE(ParseIpv4("10.1.2.3", &a));
  EXPECT_FALSE(ParseIpv4("10.1.2", &a));
  EXPECT_FALSE(ParseIpv4("192.168.100.2001", &a));
}

TEST(Socket, RefusedConnectReportsItsCode) {
  auto listener = TcpSocket::Listen("127.0.0.1", 0);
  uint16_t port = listener->LocalPort();
  listener.reset();
  auto s = TcpSocket::Create();
  EXPECT_FALSE(s->Connect("127.0.0.1", port));
  EXPECT_EQ(LastSocketError(), kWsaEconnrefused);
}

TEST(Socket, ErrnoMapsToWinsockCodesAndTexts) {
  EXPECT_EQ(WinsockCodeFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WinsockCodeFromErrno(ENOTCONN), 10057);
  EXPECT_EQ(WinsockCodeFromErrno(ENOTSOCK), 10038);
  EXPECT_EQ(WinsockCodeFromErrno(ECONNABORTED), 10053);
  EXPECT_EQ(WinsockCodeFromErrno(EINTR), 10004);
  EXPECT_STREQ(SocketErrorText(10038), "The descriptor is not a socket.");
  EXPECT_STREQ(SocketErrorText(10057), "The socket is not connected.");
  EXPECT_STREQ(SocketErrorText(10061), "Unknown error.");
  EXPECT_NE(std::string(SocketErrorText(10054)).find("\"Port Unreachable\""), std::string::npos);
}

}  // namespace
}  // namespace remcons
