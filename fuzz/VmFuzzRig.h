// What the virtual-media fuzz targets share: a temporary folder for images (removed at exit), a
// loopback listener that stands for the server, a thread that plays the server, and the server's
// way of ending: it stops sending and takes every reply until the client is done.
#pragma once

#include <stdlib.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"

namespace vmfuzz {

class Rig {
 public:
  Rig() {
    // In memory where there is a tmpfs: images are opened for synchronous writes.
    char shm[] = "/dev/shm/remcons-vmfuzz-XXXXXX", tmp[] = "/tmp/remcons-vmfuzz-XXXXXX";
    const char* made = ::mkdtemp(shm);
    dir = made ? made : ::mkdtemp(tmp) ? tmp : "/tmp";
    listener = remcons::TcpSocket::Listen("127.0.0.1", 0);
  }
  ~Rig() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  // An image of size bytes (byte i is i * 7) at dir/name.
  void Image(const std::string& name, size_t size) const {
    std::vector<char> bytes(size);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7);
    std::ofstream(dir + "/" + name, std::ios::binary)
        .write(bytes.data(), std::streamsize(bytes.size()));
  }
  // Connects a client to the listener and accepts it as the server; false when either failed.
  bool Connect(std::unique_ptr<remcons::TcpSocket>* client,
               std::unique_ptr<remcons::TcpSocket>* server) const {
    *client = remcons::TcpSocket::Create();
    if (!listener || !(*client)->Connect("127.0.0.1", listener->LocalPort())) return false;
    *server = Accept();
    return *server != nullptr;
  }
  // The server's end of the next connection, sending with no delay: each piece or reply is read
  // on its own, not held for an ACK. Null when it failed.
  std::unique_ptr<remcons::TcpSocket> Accept() const {
    std::unique_ptr<remcons::TcpSocket> server = listener->Accept();
    if (server) server->SetNoDelay(true);
    return server;
  }

  std::string dir;
  std::unique_ptr<remcons::TcpSocket> listener;
};

// The server's side on a thread of its own, made once: a thread per input costs more than most
// inputs. It runs one job at a time.
class Peer {
 public:
  Peer() : thread_([this] { Loop(); }) {}
  ~Peer() {
    Run(nullptr);
    thread_.join();
  }
  // Starts job on the peer's thread (an empty one ends the thread).
  void Run(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = std::move(job);
    busy_ = true;
    changed_.notify_all();
  }
  // Returns once the job has ended.
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
  }

 private:
  void Loop() {
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return busy_; });
      if (!job_) return;
      lock.unlock();
      job_();
      lock.lock();
      busy_ = false;
      changed_.notify_all();
    }
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> job_;
  bool busy_ = false;
  std::thread thread_;
};

inline void FinishAndDrain(remcons::TcpSocket& server) {
  ::shutdown(server.Descriptor(), SHUT_WR);
  std::vector<uint8_t> sink(1 << 16);
  while (server.Receive(sink.data(), sink.size()) > 0) {
  }
}

}  // namespace vmfuzz
