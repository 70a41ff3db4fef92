// Waiting until the console has read everything sent to it. A key change takes effect for the
// console's reads after the one that held the command, so the server sends nothing more until it
// knows that read has happened. When the console is on this machine (loopback, the demo and the
// tests), the kernel says so exactly: the send queue is acknowledged and the console's own socket
// (found by its address through the socket diagnostics) holds no unread byte. For a console
// elsewhere only the acknowledgement can be seen, and a settle time stands in for the rest.
#pragma once

#include <atomic>
#include <cstdint>

namespace remcons::sim {

enum class ReadBarrier {
  kConfirmed,  // the console's socket holds nothing unread
  kAssumed,    // acknowledged, and the settle time has passed (console not visible here)
  kTimedOut,   // still unread when the time ran out
  kStopped,    // stop was set
  kFailed,     // the socket failed
};

const char* ReadBarrierName(ReadBarrier result);

// Bytes that fd has sent and the peer has not acknowledged; -1 on error.
int UnacknowledgedBytes(int fd);
// Unread bytes in the receive queue of the peer's socket of the TCP connection fd, when that
// socket is on this machine; -1 when it cannot be seen.
long PeerUnreadBytes(int fd);

// Polls every millisecond (real time: this is about the peer, not a timing rule).
ReadBarrier WaitUntilPeerHasRead(int fd, uint32_t timeoutMs, uint32_t settleMs,
                                 const std::atomic<bool>* stop);

}  // namespace remcons::sim
