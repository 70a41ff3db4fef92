// What the capture tests share: capture files built by hand from the layout (independent of the
// recorder and reader under test), stream bytes of known pictures from the simulator's encoder,
// a loopback buffer server that answers the buffer request with given bytes, and a replay link
// whose controls the test sets.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/ReplaySource.h"
#include "net/Net.h"
#include "platform/Socket.h"
#include "sim/StreamEncoder.h"

namespace remcons::testing {

using Bytes = std::vector<uint8_t>;

inline void Le32At(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A capture file: the 344-byte header and records written as the layout says.
struct CaptureBuilder {
  std::string description;
  Bytes key;  // enciphered from offset 344 with it when encipher is set
  bool encipher = true;
  uint32_t firstRecord = 344;
  Bytes bytes = Bytes(344);

  struct Record {
    uint32_t stamp = 1000;
    Bytes data;
    uint8_t keyUpdate = 0;
    uint32_t next = 0;
    const char* marker = "DATA";
    int64_t length = -1;  // the data's own length unless given
  };
  CaptureBuilder& Add(const Record& r) {
    const size_t at = bytes.size();
    bytes.resize(at + 32 + r.data.size());
    std::memcpy(&bytes[at], r.marker, 4);
    Le32At(bytes, at + 4, 1);
    Le32At(bytes, at + 12, r.stamp);
    bytes[at + 18] = r.keyUpdate;
    Le32At(bytes, at + 20, r.next);
    Le32At(bytes, at + 28, static_cast<uint32_t>(r.length >= 0 ? r.length : r.data.size()));
    std::copy(r.data.begin(), r.data.end(), bytes.begin() + static_cast<long>(at) + 32);
    return *this;
  }
  CaptureBuilder& Add(uint32_t stamp, Bytes data) { return Add(Record{stamp, std::move(data)}); }
  // The finished file; total is its size unless given.
  Bytes Build(int64_t total = -1) const {
    Bytes b = bytes;
    Le32At(b, 0, 1);
    Le32At(b, 4, 0xA5A5A5A5);
    Le32At(b, 8, 1);
    std::memcpy(&b[16], description.data(), description.size());
    Le32At(b, 280, static_cast<uint32_t>(key.size()));
    std::copy(key.begin(), key.end(), b.begin() + 284);
    Le32At(b, 316, firstRecord);
    Le32At(b, 320, 344);
    Le32At(b, 324, static_cast<uint32_t>(total >= 0 ? total : static_cast<int64_t>(b.size())));
    if (!key.empty() && encipher) {
      Rc4 rc4;
      rc4.SetKey(key.data(), key.size());
      rc4.Apply(b.data() + 344, b.size() - 344);
    }
    return b;
  }
};

// The stream of a picture of w x h pixels in four coloured bands, from the simulator's encoder:
// the mode command and every block, starting from RESET.
inline Bytes PictureStream(int w, int h, uint16_t tint) {
  sim::ColorFrame frame(w, h);
  for (int band = 0; band < 4; ++band) {
    frame.Fill(0, band * h / 4, w, (band + 1) * h / 4, static_cast<uint16_t>(tint + band * 0x111));
  }
  sim::StreamEncoder encoder;
  encoder.EncodeFullFrame(frame);
  encoder.Flush();
  return encoder.TakeBytes();
}

// Answers one buffer request on loopback with reply (cut to sendBytes when given), then closes.
class BufferPeer {
 public:
  explicit BufferPeer(Bytes reply, size_t sendBytes = SIZE_MAX)
      : reply_(std::move(reply)), listener_(TcpSocket::Listen("127.0.0.1", 0)) {
    port_ = listener_->LocalPort();
    thread_ = std::thread([this, sendBytes] {
      std::unique_ptr<TcpSocket> peer = listener_->Accept();
      if (!peer || !peer->ReceiveAll(request_, sizeof request_)) return;
      peer->SendAll(reply_.data(), std::min(sendBytes, reply_.size()));
    });
  }
  ~BufferPeer() {
    listener_->Close();
    thread_.join();
  }
  uint16_t port() const { return port_; }
  const uint8_t* request() const { return request_; }

 private:
  Bytes reply_;
  std::unique_ptr<TcpSocket> listener_;
  uint16_t port_ = 0;
  uint8_t request_[40] = {};
  std::thread thread_;
};

// Replay controls set by the test; the replay flag drops when the file rewinds (so that Read
// returns) unless keepFlag is set.
struct FakeReplayLink : ReplayLink {
  std::atomic<bool> flag{true}, playing{true}, rewind{false}, keepFlag{false};
  std::atomic<int> speed{0}, rewinds{0}, drained{0};
  std::vector<double> elapsed;
  bool ReplayFlag() override { return flag; }
  bool Playing() override { return playing; }
  bool RewindRequested() override { return rewind; }
  int Speed() override { return speed; }
  void Rewound() override {
    ++rewinds;
    playing = false;
    rewind = false;
    if (!keepFlag) flag = false;
  }
  int DrainLive() override { return drained; }
  void ShowElapsed(double seconds) override { elapsed.push_back(seconds); }
};

// A clock that runs a hook at every sleep (a control pressed while the replay waits).
struct HookedClock : ManualClock {
  std::function<void()> onSleep;
  bool SleepMs(uint32_t ms, const std::atomic<bool>* stop) override {
    if (onSleep) onSleep();
    return ManualClock::SleepMs(ms, stop);
  }
};

}  // namespace remcons::testing
