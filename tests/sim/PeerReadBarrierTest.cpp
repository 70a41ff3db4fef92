// The read barrier of key changes: what the kernel tells about the console's unread bytes, and
// the waits built on it.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "sim/PeerReadBarrier.h"

namespace remcons::sim {
namespace {

struct Pair {
  Pair() {
    listener = TcpSocket::Listen("127.0.0.1", 0);
    client = TcpSocket::Create();
    EXPECT_TRUE(client->Connect("127.0.0.1", listener->LocalPort()));
    server = listener->Accept();
    client->SetReceiveTimeout(5000);
  }
  std::unique_ptr<TcpSocket> listener, client, server;
};

TEST(PeerReadBarrierTest, UnreadBytesOfTheLoopbackPeerAreSeen) {
  Pair p;
  const std::vector<uint8_t> bytes(1000, 0x5A);
  ASSERT_EQ(p.server->SendAll(bytes.data(), bytes.size()), 1000);
  // Acknowledged at once on loopback; the console's socket holds all of it.
  for (int i = 0; i < 100 && UnacknowledgedBytes(p.server->Descriptor()) != 0; ++i) usleep(1000);
  EXPECT_EQ(UnacknowledgedBytes(p.server->Descriptor()), 0);
  EXPECT_EQ(PeerUnreadBytes(p.server->Descriptor()), 1000);
  uint8_t buffer[1000];
  ASSERT_EQ(p.client->Receive(buffer, 300), 300);
  EXPECT_EQ(PeerUnreadBytes(p.server->Descriptor()), 700);
  ASSERT_TRUE(p.client->ReceiveAll(buffer, 700));
  EXPECT_EQ(PeerUnreadBytes(p.server->Descriptor()), 0);
  // The other direction is the other socket.
  EXPECT_EQ(PeerUnreadBytes(p.client->Descriptor()), 0);
}

TEST(PeerReadBarrierTest, WaitsForTheReadAndGivesUpOrStopsWhenTold) {
  Pair p;
  const std::vector<uint8_t> bytes(5000, 1);
  ASSERT_EQ(p.server->SendAll(bytes.data(), bytes.size()), 5000);
  EXPECT_EQ(WaitUntilPeerHasRead(p.server->Descriptor(), 50, 0, nullptr), ReadBarrier::kTimedOut);
  std::atomic<bool> stop{true};
  EXPECT_EQ(WaitUntilPeerHasRead(p.server->Descriptor(), 5000, 0, &stop), ReadBarrier::kStopped);
  std::thread reader([&] {
    usleep(30000);
    std::vector<uint8_t> in(5000);
    p.client->ReceiveAll(in.data(), in.size());
  });
  EXPECT_EQ(WaitUntilPeerHasRead(p.server->Descriptor(), 5000, 0, nullptr),
            ReadBarrier::kConfirmed);
  reader.join();
}

TEST(PeerReadBarrierTest, APeerThatCannotBeSeenIsGivenTheSettleTime) {
  // A stream socket of another family: its queue can be asked, its peer cannot be looked up.
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  ASSERT_EQ(write(fds[0], "abc", 3), 3);
  char in[3];
  ASSERT_EQ(read(fds[1], in, 3), 3);
  EXPECT_EQ(PeerUnreadBytes(fds[0]), -1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitUntilPeerHasRead(fds[0], 5000, 60, nullptr), ReadBarrier::kAssumed);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  close(fds[0]);
  close(fds[1]);
  // Not a socket at all.
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  EXPECT_EQ(WaitUntilPeerHasRead(pipefd[1], 100, 0, nullptr), ReadBarrier::kFailed);
  close(pipefd[0]);
  close(pipefd[1]);
}

}  // namespace
}  // namespace remcons::sim
