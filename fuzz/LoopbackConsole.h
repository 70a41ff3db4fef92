// A console connection on loopback whose management processor is the fuzz target's input: a real
// CNet that, at its handshake, accepts its own connection and queues the peer's bytes first, so
// one thread plays both sides and nothing waits.
#pragma once

#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

#include "net/Net.h"
#include "platform/Socket.h"

namespace remcons {

class LoopbackConsole : public CNet {
 public:
  using CNet::CNet;

  // Connects to the listener with these bytes queued as the peer's first words; ends the peer's
  // sending after them when close is set.
  int32_t Start(TcpSocket& listener, std::vector<uint8_t> first, bool close) {
    listener_ = &listener;
    first_ = std::move(first);
    close_ = close;
    return Connect("127.0.0.1", login, listener.LocalPort());
  }
  int32_t Handshake() override {
    peer_ = listener_->Accept();
    if (!peer_) return 0;
    peer_->SetNoDelay(true);  // each piece a read of its own, not held for an ACK
    if (!first_.empty()) peer_->SendAll(first_.data(), first_.size());
    if (close_) ::shutdown(peer_->Descriptor(), SHUT_WR);
    return CNet::Handshake();
  }
  // Everything the console sent so far (never blocks).
  std::vector<uint8_t> Sent() {
    std::vector<uint8_t> all, chunk(4096);
    for (int n; peer_ && (n = peer_->Receive(chunk.data(), chunk.size(), MSG_DONTWAIT)) > 0;)
      all.insert(all.end(), chunk.begin(), chunk.begin() + n);
    return all;
  }
  TcpSocket* peer() { return peer_.get(); }

  std::string login = "dXNlcjpwYXNz";  // user:pass

 private:
  TcpSocket* listener_ = nullptr;
  std::vector<uint8_t> first_;
  bool close_ = false;
  std::unique_ptr<TcpSocket> peer_;
};

}  // namespace remcons
