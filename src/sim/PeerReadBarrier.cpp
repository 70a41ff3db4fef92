#include "sim/PeerReadBarrier.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace remcons::sim {

const char* ReadBarrierName(ReadBarrier result) {
  switch (result) {
    case ReadBarrier::kConfirmed:
      return "confirmed";
    case ReadBarrier::kAssumed:
      return "assumed";
    case ReadBarrier::kTimedOut:
      return "timed-out";
    case ReadBarrier::kStopped:
      return "stopped";
    case ReadBarrier::kFailed:
      return "failed";
  }
  return "failed";
}

int UnacknowledgedBytes(int fd) {
  int queued = 0;
  if (::ioctl(fd, SIOCOUTQ, &queued) != 0) return -1;
  return queued;
}

long PeerUnreadBytes(int fd) {
  sockaddr_in local{}, remote{};
  socklen_t len = sizeof local;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 ||
      local.sin_family != AF_INET) {
    return -1;
  }
  len = sizeof remote;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &len) != 0) return -1;

  const int nl = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (nl < 0) return -1;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.request.sdiag_family = AF_INET;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0u;
  // The peer's socket: its source is our destination and the other way round.
  message.request.id.idiag_sport = remote.sin_port;
  message.request.id.idiag_dport = local.sin_port;
  message.request.id.idiag_src[0] = remote.sin_addr.s_addr;
  message.request.id.idiag_dst[0] = local.sin_addr.s_addr;
  message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

  long unread = -1;
  alignas(nlmsghdr) char buffer[4096];
  if (::send(nl, &message, sizeof message, 0) == static_cast<ssize_t>(sizeof message)) {
    const ssize_t n = ::recv(nl, buffer, sizeof buffer, 0);
    const auto* reply = reinterpret_cast<const nlmsghdr*>(buffer);
    if (n > 0 && NLMSG_OK(reply, static_cast<unsigned>(n)) &&
        reply->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
        reply->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      const auto* info = static_cast<const inet_diag_msg*>(NLMSG_DATA(reply));
      unread = info->idiag_rqueue;
    }
  }
  ::close(nl);
  return unread;
}

ReadBarrier WaitUntilPeerHasRead(int fd, uint32_t timeoutMs, uint32_t settleMs,
                                 const std::atomic<bool>* stop) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (stop && stop->load()) return ReadBarrier::kStopped;
    const int unacknowledged = UnacknowledgedBytes(fd);
    if (unacknowledged < 0) return ReadBarrier::kFailed;
    if (unacknowledged == 0) {
      const long unread = PeerUnreadBytes(fd);
      if (unread == 0) return ReadBarrier::kConfirmed;
      if (unread < 0) {
        // Not visible from here: the acknowledgement is all there is.
        const auto settleEnd = Clock::now() + std::chrono::milliseconds(settleMs);
        while (Clock::now() < settleEnd) {
          if (stop && stop->load()) return ReadBarrier::kStopped;
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return ReadBarrier::kAssumed;
      }
    }
    if (Clock::now() >= deadline) return ReadBarrier::kTimedOut;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace remcons::sim
