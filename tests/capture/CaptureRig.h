// What the capture tests share: capture files made to measure, stream bytes of known pictures from
// the simulator's encoder, a loopback buffer server that answers the buffer request with given
// bytes, and a replay link whose controls the test sets.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureFile.h"
#include "capture/ReplaySource.h"
#include "net/Net.h"
#include "platform/Socket.h"
#include "sim/StreamEncoder.h"

namespace remcons::testing {

using Bytes = std::vector<uint8_t>;

// A capture file, its header and records laid out by the format's encoders (whose bytes the
// recorder's golden test pins), anything in them as a test wants it.
struct CaptureBuilder {
  CaptureHeader header;
  bool encipher = true;  // with a key: the records enciphered from offset 344
  Bytes records;

  struct Record {
    uint32_t stamp = 1000;
    Bytes data;
    uint8_t keyUpdate = 0;
    uint32_t next = 0;
    const char* marker = "DATA";
    int64_t length = -1;  // the data's own length unless given
  };
  CaptureBuilder& Add(const Record& r) {
    RecordHeader h;
    h.stamp = r.stamp;
    h.keyUpdate = r.keyUpdate;
    h.next = r.next;
    h.length = static_cast<uint32_t>(r.length >= 0 ? r.length : std::ssize(r.data));
    const auto head = h.Encode();
    records.insert(records.end(), head.begin(), head.end());
    std::memcpy(&records[records.size() - 32], r.marker, 4);
    records.insert(records.end(), r.data.begin(), r.data.end());
    return *this;
  }
  CaptureBuilder& Add(uint32_t stamp, Bytes data) { return Add(Record{stamp, std::move(data)}); }
  CaptureBuilder& Key(Bytes key) {
    header.keyLength = static_cast<uint32_t>(key.size());
    std::copy(key.begin(), key.begin() + std::min<size_t>(key.size(), 24), header.key.begin());
    return *this;
  }
  // The finished file; total is its size unless given.
  Bytes Build(int64_t total = -1) const {
    CaptureHeader h = header;
    h.totalSize = static_cast<uint32_t>(total >= 0 ? total : 344 + std::ssize(records));
    const auto head = h.Encode();
    Bytes b(head.begin(), head.end());
    b.insert(b.end(), records.begin(), records.end());
    if (h.keyLength > 0 && encipher) {
      Rc4 rc4;
      rc4.SetKey(h.key.data(), std::min<size_t>(h.keyLength, 24));
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
// returns).
struct FakeReplayLink : ReplayLink {
  std::atomic<bool> flag{true}, playing{true}, rewind{false};
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
    flag = false;
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
