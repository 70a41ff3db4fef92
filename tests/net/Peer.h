// A management processor stand-in on loopback: accepts one connection and runs a function on it
// in a thread of its own. Everything is bounded: the accepted socket has a receive time-out and
// the destructor closes both sockets before waiting for the thread.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/Socket.h"

namespace remcons::testing {

class LoopbackPeer {
 public:
  explicit LoopbackPeer(std::function<void(TcpSocket& socket)> body)
      : listener_(TcpSocket::Listen("127.0.0.1", 0)) {
    if (!listener_) throw std::runtime_error("cannot listen on loopback");
    port_ = listener_->LocalPort();
    done_ = std::async(std::launch::async, [this, body = std::move(body)] {
      std::shared_ptr<TcpSocket> accepted = listener_->Accept();
      if (!accepted) return;
      accepted->SetReceiveTimeout(10000);
      Set(accepted);
      body(*accepted);
    });
  }
  ~LoopbackPeer() {
    listener_->Close();
    if (auto socket = Set(nullptr)) socket->Close();
    done_.wait();
  }

  uint16_t port() const { return port_; }
  // Stores socket (unless it is null) and returns the one stored.
  std::shared_ptr<TcpSocket> Set(std::shared_ptr<TcpSocket> socket) {
    std::lock_guard lock(mutex_);
    if (socket) socket_ = std::move(socket);
    return socket_;
  }
  // Waits until the body has finished; false after timeoutMs.
  bool WaitDone(int timeoutMs = 10000) {
    return done_.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
  }

 private:
  std::unique_ptr<TcpSocket> listener_;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::shared_ptr<TcpSocket> socket_;
  std::future<void> done_;
};

// Reads exactly n bytes (bounded by the socket's receive time-out); shorter on close or time-out.
inline std::vector<uint8_t> ReadBytes(TcpSocket& socket, size_t n) {
  std::vector<uint8_t> bytes(n);
  size_t done = 0;
  for (int got; done < n && (got = socket.Receive(bytes.data() + done, n - done)) > 0;) {
    done += static_cast<size_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace remcons::testing
