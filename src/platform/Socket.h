// Blocking IPv4 TCP sockets with Winsock-style error codes, as the protocol layers expect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace remcons {

// Winsock error codes that socket failures are reported as (trace lines show their texts).
enum SocketError : int {
  kWsaOk = 0,
  kWsaEintr = 10004,
  kWsaEbadf = 10009,
  kWsaEfault = 10014,
  kWsaEinval = 10022,
  kWsaEwouldblock = 10035,
  kWsaEinprogress = 10036,
  kWsaEnotsock = 10038,
  kWsaEmsgsize = 10040,
  kWsaEopnotsupp = 10045,
  kWsaEaddrinuse = 10048,
  kWsaEaddrnotavail = 10049,
  kWsaEnetdown = 10050,
  kWsaEnetunreach = 10051,
  kWsaEnetreset = 10052,
  kWsaEconnaborted = 10053,
  kWsaEconnreset = 10054,
  kWsaEnobufs = 10055,
  kWsaEnotconn = 10057,
  kWsaEshutdown = 10058,
  kWsaEtimedout = 10060,
  kWsaEconnrefused = 10061,
  kWsaEhostunreach = 10065,
  kWsaNotinitialised = 10093,
};

// Maps an errno value to the Winsock code for the same condition.
int WinsockCodeFromErrno(int err);
// The text that trace lines show for a Winsock code ("Unknown error." for codes without one).
const char* SocketErrorText(int code);
// Why a connection could not be made, in a few words for the user ("connection refused", "timed
// out", "no route to the address"); the trace's text for codes without words of their own.
std::string ConnectFailureWords(int code);
// The Winsock code of the last failed socket operation on this thread.
int LastSocketError();

// The dotted IPv4 address of a host name (a dotted address stays as it is); false with the
// resolver's reason ("Name or service not known") when it has none. Blocks while it asks.
bool ResolveIpv4(const std::string& host, std::string* dotted, std::string* error);
// Parses a dotted IPv4 address ("10.1.2.3") without any name lookup.
bool ParseIpv4(const std::string& dotted, uint32_t* networkOrder);
// The host name of a dotted IPv4 address by reverse lookup; false when it has none (or the lookup
// failed). It may take as long as the resolver does.
bool ReverseLookupIpv4(const std::string& dotted, std::string* name);

// One TCP stream or listening socket. Close may be called from any thread at any time: it shuts the
// socket down, which wakes a receive, accept or connect blocked in another thread, and the
// descriptor is released once no call is using it any more.
class TcpSocket {
 public:
  // A new unconnected stream socket; nullptr with LastSocketError() set when none can be made.
  static std::unique_ptr<TcpSocket> Create();
  // Creates, binds to address:port (port 0 picks one) and listens.
  static std::unique_ptr<TcpSocket> Listen(const std::string& address, uint16_t port,
                                           int backlog = 8);

  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Blocking connect to a dotted IPv4 address; false with LastSocketError() set on failure or when
  // Close was called meanwhile.
  bool Connect(const std::string& address, uint16_t port);
  // Waits for a connection; nullptr when closed or failed.
  std::unique_ptr<TcpSocket> Accept(std::string* peerAddress = nullptr,
                                    uint16_t* peerPort = nullptr);

  // One send call (MSG_NOSIGNAL): the count sent, or -1.
  int Send(const void* data, size_t length);
  // Sends everything, looping over partial sends: length, or -1.
  int SendAll(const void* data, size_t length);
  // One receive: the count, 0 when the peer closed or the socket was closed here, -1 on error.
  int Receive(void* buffer, size_t length, int flags = 0);
  // Receives exactly length bytes: true, or false on close, error or time-out.
  bool ReceiveAll(void* buffer, size_t length);

  bool SetNoDelay(bool on);
  bool SetReceiveTimeout(uint32_t ms);  // 0: none
  // A send blocked longer than this fails (kWsaEtimedout); 0: none.
  bool SetSendTimeout(uint32_t ms);
  bool SetSendBufferSize(int bytes);
  bool SetLinger(bool on, int seconds);
  // Bytes waiting to be received, or -1.
  int BytesAvailable();
  uint16_t LocalPort();
  int Descriptor() const { return fd_; }

  void Close();
  bool IsClosed();

 private:
  explicit TcpSocket(int fd) : fd_(fd) {}
  // Marks a call in progress; false when the socket is already closed.
  bool Enter();
  void Leave();

  const int fd_;
  std::mutex mutex_;
  int users_ = 0;
  bool closed_ = false;
  bool released_ = false;
};

}  // namespace remcons
