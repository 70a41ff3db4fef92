// A management processor stand-in on loopback: accepts one connection and runs a function on it
// in a thread of its own. Everything is bounded: the accepted socket has a receive time-out and
// the destructor closes both sockets before joining.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"

namespace remcons::testing {

class LoopbackPeer {
 public:
  using Body = std::function<void(TcpSocket& socket)>;

  explicit LoopbackPeer(Body body) : listener_(TcpSocket::Listen("127.0.0.1", 0)) {
    if (!listener_) throw std::runtime_error("cannot listen on loopback");
    port_ = listener_->LocalPort();
    thread_ = std::thread([this, body = std::move(body)] {
      pthread_setname_np(pthread_self(), "test-peer");
      std::unique_ptr<TcpSocket> accepted = listener_->Accept();
      if (accepted) {
        accepted->SetReceiveTimeout(10000);
        {
          std::lock_guard lock(mutex_);
          socket_ = std::move(accepted);
        }
        body(*socket_);
      }
      std::lock_guard lock(mutex_);
      done_ = true;
      cv_.notify_all();
    });
  }

  ~LoopbackPeer() {
    listener_->Close();
    {
      std::lock_guard lock(mutex_);
      if (socket_) socket_->Close();
    }
    thread_.join();
  }

  uint16_t port() const { return port_; }

  // Waits until the body has finished; false after timeoutMs.
  bool WaitDone(int timeoutMs = 10000) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
  }

 private:
  std::unique_ptr<TcpSocket> listener_;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::unique_ptr<TcpSocket> socket_;
  bool done_ = false;
  std::thread thread_;
};

// Reads exactly n bytes (bounded by the socket's receive time-out); shorter on close or time-out.
inline std::vector<uint8_t> ReadBytes(TcpSocket& socket, size_t n) {
  std::vector<uint8_t> bytes(n);
  size_t done = 0;
  while (done < n) {
    const int got = socket.Receive(bytes.data() + done, n - done);
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

inline void SendBytes(TcpSocket& socket, const std::vector<uint8_t>& bytes) {
  socket.SendAll(bytes.data(), bytes.size());
}

}  // namespace remcons::testing
