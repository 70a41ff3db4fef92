#include "platform/Socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace remcons {
namespace {

thread_local int lastError = 0;

int Fail(int err) {
  lastError = WinsockCodeFromErrno(err);
  return -1;
}

}  // namespace

bool ResolveIpv4(const std::string& host, std::string* dotted, std::string* error) {
  uint32_t address = 0;
  if (ParseIpv4(host, &address)) {
    *dotted = host;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (status != 0 || !found) {
    *error = status == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(status);
    return false;
  }
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text,
              sizeof text);
  ::freeaddrinfo(found);
  *dotted = text;
  return true;
}

std::string ConnectFailureWords(int code) {
  switch (code) {
    case kWsaEconnrefused:
      return "connection refused";
    case kWsaEtimedout:
      return "timed out";
    case kWsaEnetunreach:
    case kWsaEhostunreach:
      return "no route to the address";
    case kWsaEnetdown:
      return "the network is down";
    case kWsaEaddrnotavail:
      return "not an IPv4 address";
    case kWsaEconnreset:
    case kWsaEconnaborted:
      return "the server closed the connection";
    default:
      return "error " + std::to_string(code) + ": " + SocketErrorText(code);
  }
}

int WinsockCodeFromErrno(int err) {
  switch (err) {
    case 0:
      return kWsaOk;
    case EINTR:
      return kWsaEintr;
    case EBADF:
      return kWsaEnotsock;
    case ENOTSOCK:
      return kWsaEnotsock;
    case EFAULT:
      return kWsaEfault;
    case EINVAL:
      return kWsaEinval;
    case EINPROGRESS:
      return kWsaEinprogress;
    case EMSGSIZE:
      return kWsaEmsgsize;
    case EOPNOTSUPP:
      return kWsaEopnotsupp;
    case EADDRINUSE:
      return kWsaEaddrinuse;
    case EADDRNOTAVAIL:
      return kWsaEaddrnotavail;
    case ENETDOWN:
      return kWsaEnetdown;
    case ENETUNREACH:
      return kWsaEnetunreach;
    case ENETRESET:
      return kWsaEnetreset;
    case ECONNABORTED:
      return kWsaEconnaborted;
    case ECONNRESET:
      return kWsaEconnreset;
    case ENOBUFS:
      return kWsaEnobufs;
    case ENOTCONN:
      return kWsaEnotconn;
    case EPIPE:
      return kWsaEshutdown;
    case ESHUTDOWN:
      return kWsaEshutdown;
    // A blocking socket only reports "would block" when its receive time-out expired.
    case EAGAIN:
      return kWsaEtimedout;
    case ETIMEDOUT:
      return kWsaEtimedout;
    case ECONNREFUSED:
      return kWsaEconnrefused;
    case EHOSTUNREACH:
      return kWsaEhostunreach;
    default:
      return 10000 + err;  // no Winsock twin: shows as "Unknown error."
  }
}

const char* SocketErrorText(int code) {
  switch (code) {
    case 10004:
      return "The (blocking) call was canceled through WSACancelBlockingCall.";
    case 10014:
      return "The buf parameter is not completely contained in a valid part of the user address "
             "space.";
    case 10022:
      return "The socket has not been bound with bind, or an unknown flag was specified, or "
             "MSG_OOB was specified for a socket with SO_OOBINLINE enabled or (for byte stream "
             "sockets only) len was zero or negative.";
    case 10035:
      return "The socket is marked as nonblocking and the receive operation would block.";
    case 10036:
      return "A blocking Windows Sockets 1.1 call is in progress, or the service provider is "
             "still processing a callback function.";
    case 10038:
      return "The descriptor is not a socket.";
    case 10040:
      return "The message was too large to fit into the specified buffer and was truncated.";
    case 10045:
      return "MSG_OOB was specified, but the socket is not stream-style such as type "
             "SOCK_STREAM, OOB data is not supported in the communication domain associated "
             "with this socket, or the socket is unidirectional and supports only send "
             "operations.";
    case 10050:
      return "The network subsystem has failed.";
    case 10052:
      return "The connection has been broken due to the keep-alive activity detecting a failure "
             "while the operation was in progress.";
    case 10053:
      return "The virtual circuit was terminated due to a time-out or other failure. The "
             "application should close the socket as it is no longer usable.";
    case 10054:
      return "The virtual circuit was reset by the remote side executing a hard or abortive "
             "close. The application should close the socket as it is no longer usable. On a "
             "UPD-datagram socket this error would indicate that a previous send operation "
             "resulted in an ICMP \"Port Unreachable\" message.";
    case 10057:
      return "The socket is not connected.";
    case 10058:
      return "The socket has been shut down; it is not possible to receive on a socket after "
             "shutdown has been invoked with how set to SD_RECEIVE or SD_BOTH.";
    case 10060:
      return "The connection has been dropped because of a network failure or because the peer "
             "system failed to respond.";
    case 10093:
      return "A successful WSAStartup call must occur before using this function.";
    default:
      return "Unknown error.";
  }
}

int LastSocketError() {
  return lastError;
}

bool ParseIpv4(const std::string& dotted, uint32_t* networkOrder) {
  in_addr addr{};
  if (inet_pton(AF_INET, dotted.c_str(), &addr) != 1) return false;
  *networkOrder = addr.s_addr;
  return true;
}

bool ReverseLookupIpv4(const std::string& dotted, std::string* name) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (!ParseIpv4(dotted, &sa.sin_addr.s_addr)) return false;
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0) {
    return false;
  }
  *name = host;
  return true;
}

std::unique_ptr<TcpSocket> TcpSocket::Create() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail(errno);
    return nullptr;
  }
  return std::unique_ptr<TcpSocket>(new TcpSocket(fd));
}

std::unique_ptr<TcpSocket> TcpSocket::Listen(const std::string& address, uint16_t port,
                                             int backlog) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (!ParseIpv4(address, &sa.sin_addr.s_addr)) {
    lastError = kWsaEinval;
    return nullptr;
  }
  auto s = Create();
  if (!s) return nullptr;
  int one = 1;
  ::setsockopt(s->fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(s->fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(s->fd_, backlog) != 0) {
    Fail(errno);
    return nullptr;
  }
  return s;
}

TcpSocket::~TcpSocket() {
  Close();
  std::lock_guard lock(mutex_);
  if (!released_) {
    ::close(fd_);
    released_ = true;
  }
}

bool TcpSocket::Enter() {
  std::lock_guard lock(mutex_);
  if (closed_) {
    lastError = kWsaEnotsock;
    return false;
  }
  ++users_;
  return true;
}

void TcpSocket::Leave() {
  std::lock_guard lock(mutex_);
  if (--users_ == 0 && closed_ && !released_) {
    ::close(fd_);
    released_ = true;
  }
}

void TcpSocket::Close() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  closed_ = true;
  // Shut down first so that a call blocked in another thread returns; the descriptor itself is
  // released when the last call has left, so its number cannot be reused under that call.
  ::shutdown(fd_, SHUT_RDWR);
  if (users_ == 0) {
    ::close(fd_);
    released_ = true;
  }
}

bool TcpSocket::IsClosed() {
  std::lock_guard lock(mutex_);
  return closed_;
}

bool TcpSocket::Connect(const std::string& address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (!ParseIpv4(address, &sa.sin_addr.s_addr)) {
    lastError = kWsaEaddrnotavail;
    return false;
  }
  if (!Enter()) return false;
  // Connect without blocking and wait in short slices, so that Close can abandon a connect to an
  // address that does not answer.
  const int flags = ::fcntl(fd_, F_GETFL);
  ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  bool ok = false;
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    ok = true;
  } else if (errno != EINPROGRESS) {
    Fail(errno);
  } else {
    for (;;) {
      pollfd p{fd_, POLLOUT, 0};
      int n = ::poll(&p, 1, 100);
      if (n < 0 && errno != EINTR) {
        Fail(errno);
        break;
      }
      if (IsClosed()) {
        lastError = kWsaEintr;
        break;
      }
      if (n > 0) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err == 0) {
          ok = true;
        } else {
          Fail(err);
        }
        break;
      }
    }
  }
  ::fcntl(fd_, F_SETFL, flags);
  Leave();
  return ok;
}

std::unique_ptr<TcpSocket> TcpSocket::Accept(std::string* peerAddress, uint16_t* peerPort) {
  if (!Enter()) return nullptr;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int fd;
  do {
    fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR && !IsClosed());
  if (fd < 0) Fail(errno);
  Leave();
  if (fd < 0) return nullptr;
  if (peerAddress) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    *peerAddress = text;
  }
  if (peerPort) *peerPort = ntohs(sa.sin_port);
  return std::unique_ptr<TcpSocket>(new TcpSocket(fd));
}

int TcpSocket::Send(const void* data, size_t length) {
  if (!Enter()) return -1;
  ssize_t n;
  do {
    n = ::send(fd_, data, length, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) Fail(errno);
  Leave();
  return static_cast<int>(n);
}

int TcpSocket::SendAll(const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    int n = Send(p + done, length - done);
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<int>(length);
}

int TcpSocket::Receive(void* buffer, size_t length, int flags) {
  if (!Enter()) return 0;
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, length, flags);
  } while (n < 0 && errno == EINTR && !IsClosed());
  if (n < 0) {
    Fail(errno);
  }
  Leave();
  return static_cast<int>(n);
}

bool TcpSocket::ReceiveAll(void* buffer, size_t length) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    int n = Receive(p + done, length - done, 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool TcpSocket::SetNoDelay(bool on) {
  int v = on ? 1 : 0;
  if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) != 0) return Fail(errno), false;
  return true;
}

bool TcpSocket::SetReceiveTimeout(uint32_t ms) {
  timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
  if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return Fail(errno), false;
  return true;
}

bool TcpSocket::SetSendTimeout(uint32_t ms) {
  timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
  if (::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) return Fail(errno), false;
  return true;
}

bool TcpSocket::SetSendBufferSize(int bytes) {
  if (::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) != 0) {
    return Fail(errno), false;
  }
  return true;
}

bool TcpSocket::SetLinger(bool on, int seconds) {
  linger l{on ? 1 : 0, seconds};
  if (::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return Fail(errno), false;
  return true;
}

int TcpSocket::BytesAvailable() {
  if (!Enter()) return -1;
  int n = 0;
  int r = ::ioctl(fd_, FIONREAD, &n);
  if (r != 0) Fail(errno);
  Leave();
  return r == 0 ? n : -1;
}

uint16_t TcpSocket::LocalPort() {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

}  // namespace remcons
