#include "sim/BufferService.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "net/Net.h"
#include "platform/ByteOrder.h"
#include "sim/ScreenContent.h"
#include "sim/StreamEncoder.h"

namespace remcons::sim {
namespace {

constexpr size_t kHeaderSize = 344;
constexpr size_t kRecordHeaderSize = 32;
constexpr size_t kMaxRecordData = 4096;
constexpr char kRequestText[] = "Kroq CAPTURED BUFFER";
// Where the recorded clock stood at the first record: any value but 0 (no stamp).
constexpr uint32_t kFirstStampMs = 600000;

// The simulator's own writer of the capture file format.
class BufferWriter {
 public:
  BufferWriter(std::string_view description, const std::vector<uint8_t>& key)
      : bytes_(kHeaderSize), key_(key) {
    StoreLe32(bytes_.data() + 0, 1);           // format number
    StoreLe32(bytes_.data() + 4, 0xA5A5A5A5);  // signature
    StoreLe32(bytes_.data() + 8, 1);           // version
    std::memcpy(&bytes_[16], description.data(), std::min<size_t>(description.size(), 255));
    StoreLe32(bytes_.data() + 280, static_cast<uint32_t>(key.size()));
    std::copy(key.begin(), key.end(), bytes_.begin() + 284);
    StoreLe32(bytes_.data() + 316, kHeaderSize);  // first record
    StoreLe32(bytes_.data() + 320, kHeaderSize);
  }

  void Record(uint32_t stampMs, const uint8_t* data, size_t length, bool keyUpdate = false) {
    const size_t at = bytes_.size();
    bytes_.resize(at + kRecordHeaderSize + length);
    std::memcpy(&bytes_[at], "DATA", 4);
    StoreLe32(bytes_.data() + at + 4, 1);
    StoreLe32(bytes_.data() + at + 12, kFirstStampMs + stampMs);
    bytes_[at + 18] = keyUpdate ? 1 : 0;
    StoreLe32(bytes_.data() + at + 28, static_cast<uint32_t>(length));
    if (length) std::memcpy(&bytes_[at + kRecordHeaderSize], data, length);
  }
  // Stream bytes as records of at most 4096 bytes with one stamp.
  void Stream(uint32_t stampMs, const std::vector<uint8_t>& data) {
    for (size_t at = 0; at < data.size(); at += kMaxRecordData) {
      Record(stampMs, data.data() + at, std::min(kMaxRecordData, data.size() - at));
    }
  }

  std::vector<uint8_t> Finish() {
    StoreLe32(bytes_.data() + 324, static_cast<uint32_t>(bytes_.size()));
    if (!key_.empty()) {
      Rc4 rc4;
      rc4.SetKey(key_.data(), key_.size());
      rc4.Apply(bytes_.data() + kHeaderSize, bytes_.size() - kHeaderSize);
    }
    return std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> key_;
};

// A recording of frame updates: the key-update record, then a mark so that the stream after it
// starts where the console's decoder does, then the frames as they change.
class Recording {
 public:
  Recording(const BufferServiceOptions& options, std::string_view what)
      : writer_(options.screen.serverName + " " + std::string(what), options.key) {
    const uint8_t zeros[30] = {};
    writer_.Record(0, zeros, sizeof zeros, true);
    encoder_.Resync();
  }
  void Frame(uint32_t ms, const ColorFrame& frame) {
    if (!started_) {
      encoder_.EncodeFullFrame(frame);
    } else if (!(frame == last_)) {
      encoder_.EncodeFrame(frame, last_);
    } else {
      return;
    }
    started_ = true;
    last_ = frame;
    encoder_.Flush();
    writer_.Stream(ms, encoder_.TakeBytes());
  }
  std::vector<uint8_t> Finish() { return writer_.Finish(); }

 private:
  BufferWriter writer_;
  StreamEncoder encoder_;
  ColorFrame last_;
  bool started_ = false;
};

// The power-on screen to the boot prompt; returns the time reached.
uint32_t RecordBoot(ServerScreen& screen, Recording& recording, uint32_t step) {
  uint32_t t = 0;
  recording.Frame(t, screen.Render());
  while (screen.booting()) {
    t += step;
    if (screen.Tick(t)) recording.Frame(t, screen.Render());
  }
  return t;
}

void TypeLine(ServerScreen& screen, std::string_view text, uint32_t t) {
  for (char c : text) screen.Key(KeyStroke::FromText(c), t);
}

}  // namespace

std::vector<uint8_t> RecordBootBuffer(const BufferServiceOptions& options) {
  ServerScreenOptions screenOptions = options.screen;
  screenOptions.powerOn = true;
  ServerScreen screen(screenOptions, 0);
  Recording recording(options, "BOOT");
  const uint32_t t = RecordBoot(screen, recording, std::max<uint32_t>(options.frameMs, 1));
  // The prompt as it stood a moment later.
  recording.Frame(t + options.frameMs, screen.Render());
  return recording.Finish();
}

std::vector<uint8_t> RecordFaultBuffer(const BufferServiceOptions& options) {
  ServerScreenOptions screenOptions = options.screen;
  screenOptions.powerOn = true;
  screenOptions.bootMs = 0;
  ServerScreen screen(screenOptions, 0);
  Recording recording(options, "FAULT");
  uint32_t t = RecordBoot(screen, recording, std::max<uint32_t>(options.frameMs, 1));
  // Some work at the prompt, a long quiet spell, and then the fault.
  for (std::string_view line : {"start services\n", "status\n"}) {
    t += 1500;
    TypeLine(screen, line, t);
    screen.Print("services: 12 running, 0 failed");
    recording.Frame(t, screen.Render());
  }
  t += 20000;
  TextConsole crash(screen.width() / 8, screen.height() / 16);
  crash.SetColors(15, 1);
  crash.Clear();
  crash.cursorVisible = false;
  crash.Write(
      "\n  FATAL SYSTEM ERROR\n\n"
      "  A simulated machine check stopped the processor.\n\n"
      "  Bank 4: uncorrectable memory error at 0x00000003F2A41000\n"
      "  CPU 2: RIP 0010:FFFF8A3C12004F7E  RSP 0018:FFFFB21C4003BE48\n"
      "  RAX 0000000000000000  RBX FFFF9E0D4A2C8000  RCX 0000000000000007\n\n"
      "  The system has been halted. Collect the FAULT buffer and restart the server.\n");
  ColorFrame fault(screen.width(), screen.height(), ConsoleColor(1));
  crash.Render(fault);
  recording.Frame(t, fault);
  return recording.Finish();
}

BufferServer::BufferServer(BufferServiceOptions options) : options_(std::move(options)) {}

BufferServer::~BufferServer() {
  Stop();
}

bool BufferServer::Start(std::string* error) {
  if (options_.key.size() > 24) {
    if (error) *error = "the buffer key is longer than 24 bytes";
    return false;
  }
  boot_ = RecordBootBuffer(options_);
  fault_ = RecordFaultBuffer(options_);
  listener_ = TcpSocket::Listen(options_.bind, options_.port);
  if (!listener_) {
    if (error) *error = "cannot listen on " + options_.bind + ":" + std::to_string(options_.port);
    return false;
  }
  port_ = listener_->LocalPort();
  thread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void BufferServer::Stop() {
  if (listener_) listener_->Close();
  if (thread_.joinable()) thread_.join();
}

void BufferServer::AcceptLoop() {
  pthread_setname_np(pthread_self(), "sim-buffers");
  while (std::unique_ptr<TcpSocket> peer = listener_->Accept()) {
    peer->SetReceiveTimeout(5000);
    uint8_t request[40];
    if (!peer->ReceiveAll(request, sizeof request) ||
        std::memcmp(request + 8, kRequestText, sizeof kRequestText) != 0) {
      continue;
    }
    const uint32_t type = LoadLe32(request);
    if (type > 1) continue;
    const std::vector<uint8_t>& buffer = type == 0 ? boot_ : fault_;
    if (peer->SendAll(buffer.data(), buffer.size()) == static_cast<int>(buffer.size())) {
      ++answered_;
    }
  }
}

}  // namespace remcons::sim
