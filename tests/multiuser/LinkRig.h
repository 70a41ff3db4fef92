// What the multi-user tests share: a joining console written byte by byte on a loopback socket, a
// leader's owner that records what would go to the management processor, and the reading of what
// a leader sent through the video decoder, as a joining console reads it.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "multiuser/DHAgreement.h"
#include "multiuser/MUOwner.h"
#include "net/Net.h"
#include "platform/Socket.h"
#include "video/DecoderRig.h"

namespace remcons::testing {

using Bytes = std::vector<uint8_t>;

inline void SeedPool(RandomPool& pool, uint8_t seed) {
  const Bytes bytes(RandomPool::kSeedBytesNeeded, seed);
  pool.Update(bytes.data(), bytes.size());
}

// A sync and "Accepted" on channel 5, worked out by hand from the bit grammar.
inline const Bytes kSyncAccepted = {0,    0,    0,    0,    0,    0,    0,    0,
                                    0,    0x80, 0x1d, 0x08, 0xa8, 0xa0, 0xb1, 0xb1,
                                    0xa9, 0x83, 0x8b, 0xa9, 0x09, 0x40, 0x0b};

// The session's calls, in order, as a joining console's decoder makes them of bytes from a leader.
inline std::vector<std::string> Decoded(const Bytes& bytes) {
  DecoderRig rig;
  DecoderRole role;
  role.multiUserClient = true;
  rig.Run(bytes, role);
  return rig.events.Log();
}

// Polls pred every 2 ms until it holds or timeoutMs passed (no event loop turned; the desktop
// tests that use this rig have a WaitUntil of their own).
inline bool PollUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

// The leader's console as its server sees it.
class FakeOwner : public MUOwner {
 public:
  int Write(const uint8_t* data, size_t size) override {
    std::lock_guard lock(mutex_);
    written_.insert(written_.end(), data, data + size);
    return static_cast<int>(size);
  }
  void ReleaseAllKeys() override {}
  void SetInputEnabled(bool) override {}
  void SetStatusText2(std::string_view text) override {
    std::lock_guard lock(mutex_);
    status2_ = std::string(text);
  }
  Bytes Written() {
    std::lock_guard lock(mutex_);
    return written_;
  }
  std::string Status2() {
    std::lock_guard lock(mutex_);
    return status2_;
  }
  bool WaitWritten(const Bytes& bytes) {
    return PollUntil([&] { return Contains(Written(), bytes); });
  }

 private:
  std::mutex mutex_;
  Bytes written_;
  std::string status2_;
};

// A joining console's key agreement request: dh's group and public value.
inline Bytes AdhRequest(CDHAgreement& dh) {
  Bytes adh = {0xFF, 0xC8, 64};
  adh.resize(3 + 192);
  dh.GetPrime(&adh[3]);
  dh.GetGenerator(&adh[67]);
  dh.GetPublicValue(&adh[131]);
  return adh;
}

// A joining console on a loopback socket, every byte of it written here.
class TestJoiner {
 public:
  explicit TestJoiner(uint16_t port, int receiveBuffer = 0) : socket_(TcpSocket::Create()) {
    if (receiveBuffer > 0)
      setsockopt(socket_->Descriptor(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(int));
    EXPECT_TRUE(socket_->Connect("127.0.0.1", port));
    socket_->SetReceiveTimeout(5000);
  }

  void SendPlain(const Bytes& bytes) { socket_->SendAll(bytes.data(), bytes.size()); }
  void Send(Bytes bytes) {
    if (send_) send_->Apply(bytes.data(), bytes.size());
    SendPlain(bytes);
  }
  // The key agreement over a 512-bit group of pool's, then the login: true when the leader
  // answered with a public value.
  bool Join(RandomPool& pool, const std::string& login = "user\rpass\r") {
    CDHAgreement dh(pool);
    dh.SetSize(512);
    if (dh.MakeGroupAndKeys() != 0) return false;
    SendPlain(AdhRequest(dh));
    Bytes response(66);
    if (!socket_->ReceiveAll(response.data(), response.size())) return false;
    if (response[0] != 0xFF || response[1] != 0xC9) return false;
    dh.SetPeerValue(&response[2]);
    if (dh.ComputeAgreedKey() != 0) return false;
    uint8_t k[64];
    dh.GetAgreedKey(k);
    receive_ = std::make_unique<RC4Stream>(k);
    send_ = std::make_unique<RC4Stream>(k + 16);
    Bytes info = {0xFF, 0xCA};
    info.insert(info.end(), login.begin(), login.end());
    info.push_back(0);
    Send(info);
    return true;
  }
  // Everything received so far (deciphered), once n bytes have come, the leader closed the link or
  // five seconds passed.
  Bytes ReceiveAtLeast(size_t n) {
    PollUntil([&] { return Pump(), received_.size() >= n || closed_; });
    return received_;
  }
  // True once the leader closed the link (within five seconds).
  bool WaitClosed() {
    ReceiveAtLeast(~size_t{0});
    return closed_;
  }
  const Bytes& received() const { return received_; }

 private:
  void Pump() {
    uint8_t buffer[65536];
    while (!closed_) {
      const int got = socket_->Receive(buffer, sizeof buffer, MSG_DONTWAIT);
      // Nothing there yet (EAGAIN, which the socket layer reports as a time-out).
      if (got < 0 && (LastSocketError() == kWsaEwouldblock || LastSocketError() == kWsaEtimedout))
        return;
      closed_ = got <= 0;
      if (closed_) return;
      if (receive_) receive_->Apply(buffer, static_cast<size_t>(got));
      received_.insert(received_.end(), buffer, buffer + got);
    }
  }

  std::unique_ptr<TcpSocket> socket_;
  std::unique_ptr<RC4Stream> send_, receive_;
  Bytes received_;
  bool closed_ = false;
};

}  // namespace remcons::testing
