// A console for the simulator's tests, written from the grammar rather than taken from the client:
// the start sequence built byte by byte, both keystreams from OpenSSL (RC4 keyed with the MD5
// chain), one socket read of at most 4096 bytes per refill deciphered as it arrives, and the key
// change applied to the reads after the one that held the command. The project's decoder draws
// the stream only as a cross-check of the picture.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Frames.h"
#include "net/Oracle.h"
#include "platform/Clock.h"
#include "platform/Socket.h"
#include "sim/ConsoleServer.h"
#include "support/FakeHost.h"
#include "support/Wait.h"
#include "video/VideoDecoder.h"
#include "video/VideoFakes.h"
#include "video/VideoModes.h"

namespace remcons::sim::testing {

using Bytes = std::vector<uint8_t>;

// Test keys with every byte different.
inline ConsoleKeys TestKeys(uint8_t seed = 1) {
  ConsoleKeys keys;
  for (size_t i = 0; i < 16; ++i) {
    keys.decryptKey[i] = static_cast<uint8_t>(seed * 17 + i * 7 + 1);
    keys.encryptKey[i] = static_cast<uint8_t>(seed * 31 + i * 13 + 5);
  }
  return keys;
}

// One direction's keystream from OpenSSL: generation n is RC4 keyed with the n-th MD5 chain step
// of the session key (generation 0 with MD5(key | 16 zero bytes)).
class OracleStream {
 public:
  explicit OracleStream(const std::array<uint8_t, 16>& sessionKey) : session_(sessionKey) {
    Rekey();
  }
  void Rekey() {
    chain_ = remcons::testing::OsslChainStep(session_.data(), chain_.data());
    rc4_ = std::make_unique<remcons::testing::OsslRc4>(chain_.data(), chain_.size());
  }
  void Xor(uint8_t* data, size_t n) { rc4_->Xor(data, n); }

 private:
  std::array<uint8_t, 16> session_, chain_{};
  std::unique_ptr<remcons::testing::OsslRc4> rc4_;
};

struct StartOptions {
  bool header = true;
  uint32_t keyIndex = 0;
  std::string login = "user\rpass\r";  // as the console sends it (already transformed)
  Bytes garbage;                       // bytes sent before the start
};

// The start sequence as a console puts it on the wire; send: the console's send stream, which
// enciphers everything after the 6-byte header (nullptr: no header, nothing enciphered).
inline Bytes StartBytes(const StartOptions& o, OracleStream* send) {
  Bytes bytes = o.garbage;
  const size_t clear = bytes.size() + (o.header ? 6 : 0);
  if (o.header) {
    bytes.insert(bytes.end(), {0xFF, 0xC0});
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(o.keyIndex >> shift));
  }
  bytes.insert(bytes.end(), {0x1B, 0x5B, 0x37, 0x1B, 0x5B, 0x39, 0x1B, 0x5B, 0x34});
  bytes.insert(bytes.end(), o.login.begin(), o.login.end());
  if (o.header && send) send->Xor(bytes.data() + clear, bytes.size() - clear);
  return bytes;
}

// The socket side of the test console.
class ConsolePeer : public ByteSource {
 public:
  ConsolePeer(uint16_t port, const ConsoleKeys& keys) : keys_(keys) {
    socket_ = TcpSocket::Create();
    if (!socket_ || !socket_->Connect("127.0.0.1", port)) {
      ADD_FAILURE() << "cannot connect to the simulator on port " << port;
      socket_.reset();
      return;
    }
    socket_->SetNoDelay(true);
    socket_->SetReceiveTimeout(10000);
  }
  ~ConsolePeer() override { Close(); }

  bool connected() const { return socket_ != nullptr; }
  TcpSocket& socket() { return *socket_; }
  void Close() {
    if (socket_) socket_->Close();
  }

  // Sends the start sequence, in pieces cut at the given offsets (each piece one send).
  void SendStart(const StartOptions& o, std::vector<size_t> cuts = {}) {
    if (o.header) send_ = std::make_unique<OracleStream>(keys_.decryptKey);
    const Bytes bytes = StartBytes(o, send_.get());
    cuts.push_back(bytes.size());
    std::sort(cuts.begin(), cuts.end());
    size_t at = 0;
    for (size_t cut : cuts) {
      cut = std::min(cut, bytes.size());
      if (cut > at) socket_->SendAll(bytes.data() + at, cut - at);
      at = std::max(at, cut);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // The start sequence and the reply; the session's cipher state is then in enciphered.
  bool Begin(const StartOptions& o = {}) {
    SendStart(o);
    return ReadReply(nullptr);
  }
  bool enciphered = false;

  // Reads the start reply one byte at a time, as the console's handshake does: the text before
  // ESC [ R or ESC [ r. False when the connection ends first.
  bool ReadReply(std::string* text) {
    std::string seen;
    while (seen.size() < 3 || seen.compare(seen.size() - 3, 2, "\x1B[") != 0 ||
           (seen.back() != 'R' && seen.back() != 'r')) {
      uint8_t b;
      if (socket_->Receive(&b, 1) != 1) return false;
      seen += static_cast<char>(b);
    }
    enciphered = seen.back() == 'R';
    if (text) *text = seen.substr(0, seen.size() - 3);
    if (enciphered && send_) {
      receive_ = std::make_unique<OracleStream>(keys_.encryptKey);
    } else {
      send_.reset();
    }
    return true;
  }

  // One write of the console: enciphered with the send stream in force.
  void Send(Bytes bytes) {
    std::lock_guard lock(mutex_);
    if (send_) send_->Xor(bytes.data(), bytes.size());
    socket_->SendAll(bytes.data(), bytes.size());
  }
  // The key change command: the send stream, then the receive stream.
  void ChangeKeys() {
    std::lock_guard lock(mutex_);
    if (send_) send_->Rekey();
    if (receive_) receive_->Rekey();
  }

  // One refill: a single receive of at most size bytes, deciphered as it arrives.
  int Read(uint8_t* buffer, int size) override {
    if (readDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(readDelayMs.load()));
    if (readLimit > 0) size = std::min(size, readLimit.load());
    const int n = socket_->Receive(buffer, static_cast<size_t>(size));
    if (n <= 0) return 0;
    std::lock_guard lock(mutex_);
    if (receive_) receive_->Xor(buffer, static_cast<size_t>(n));
    ++reads;
    return n;
  }
  // Reads until n bytes came or the stream ended.
  Bytes ReadSome(size_t n) {
    Bytes out;
    uint8_t buffer[4096];
    for (int got; out.size() < n && (got = Read(buffer, sizeof buffer)) > 0;) {
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }

  std::atomic<int> reads{0};
  std::atomic<int> readDelayMs{0};  // a slow console: a pause before every read
  std::atomic<int> readLimit{0};    // and reads smaller than 4096 bytes

 private:
  ConsoleKeys keys_;
  std::unique_ptr<TcpSocket> socket_;
  std::mutex mutex_;
  std::unique_ptr<OracleStream> send_, receive_;
};

// The console's session side: refresh requests and key changes go to the connection, and what
// the decoder met in the stream is logged in order.
class LinkEvents : public remcons::testing::FakeEvents, public StreamObserver {
 public:
  LinkEvents(std::function<void(const uint8_t*, int)> write, std::function<void()> changeKeys)
      : write_(std::move(write)), changeKeys_(std::move(changeKeys)) {}
  int Write(const uint8_t* data, int length) override {
    ++refreshRequests;
    write_(data, length);
    return length;
  }
  void ChangeKeys() override {
    changeKeys_();
    ++keyChanges;
  }
  void OnMode(int width, int height) override {
    Add("mode " + std::to_string(width) + "x" + std::to_string(height));
  }
  void OnText(uint8_t channel, std::string_view text) override {
    Add("text " + std::to_string(channel) + " " + std::string(text));
  }
  void OnFirmware(uint32_t command, const uint32_t*, uint32_t) override {
    Add("firmware " + std::to_string(command));
  }
  void OnResync() override { Add("resync"); }
  size_t Count(const std::string& entry) {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count(entries_.begin(), entries_.end(), entry));
  }
  size_t Entries() {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }

  std::atomic<int> refreshRequests{0};
  std::atomic<int> keyChanges{0};

 private:
  void Add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::function<void(const uint8_t*, int)> write_;
  std::function<void()> changeKeys_;
  std::mutex mutex_;
  std::vector<std::string> entries_;
};

// A whole test console: connects, starts, and draws the stream with the project's decoder in a
// thread of its own. The connection is closed at the stream's end, as the console's session does,
// and before the thread is joined.
class DecodingConsole {
 public:
  DecodingConsole(uint16_t port, const ConsoleKeys& keys, StartOptions start = {})
      : peer(port, keys),
        events([this](const uint8_t* data, int length) { peer.Send(Bytes(data, data + length)); },
               [this] { peer.ChangeKeys(); }) {
    uint32_t w = kMaxFrameWidth, h = kMaxFrameHeight;
    frameBuffer_.CreateSurfaces(&w, &h);
    if (!peer.connected()) return;
    peer.SendStart(start);
    if (!peer.ReadReply(nullptr)) {
      ADD_FAILURE() << "no start reply";
      return;
    }
    decoder_.reader().SetSource(&peer);
    decoder_.SetObserver(&events);
    thread_ = std::thread([this] {
      decoder_.Start({});
      end = decoder_.Decode();
      peer.Close();
      done = true;
    });
  }
  ~DecodingConsole() { Close(); }
  void Close() {
    peer.Close();
    if (thread_.joinable()) thread_.join();
  }
  std::string MismatchWith(const ColorFrame& screen) {
    return Mismatch(frameBuffer_.Snapshot(), screen);
  }
  // Waits until the decoded picture equals the server's current screen.
  bool ConvergesTo(ConsoleServer& server, uint32_t timeoutMs = 10000) {
    return thread_.joinable() &&
           server.WaitFor(
               [&] { return server.WaitUntilSent(1000) && MismatchWith(server.Screen()).empty(); },
               timeoutMs);
  }
  // Waits until the stream log holds an entry.
  bool Saw(const std::string& entry, int timeoutMs = 5000) {
    return remcons::testing::WaitUntil([&] { return events.Count(entry) > 0; }, timeoutMs);
  }
  bool enciphered() const { return peer.enciphered; }

  ConsolePeer peer;
  LinkEvents events;
  std::atomic<bool> done{false};
  std::atomic<DecodeEnd> end{DecodeEnd::kStopped};

 private:
  remcons::testing::FakeHost host_;
  remcons::testing::FakePainter painter_;
  FrameBuffer frameBuffer_{host_, painter_};
  VideoModes modes_{host_, events};
  VideoDecoder decoder_{frameBuffer_, modes_, events};
  std::thread thread_;
};

// A server on an ephemeral loopback port with test settings: instant boot, no frame pacing.
inline ConsoleServerOptions TestOptions() {
  ConsoleServerOptions o;
  o.keys = TestKeys();
  o.screen.bootMs = 0;
  o.screen.width = 640;
  o.screen.height = 480;
  o.frameIntervalMs = 0;
  o.loginQuietMs = 100;
  return o;
}

// Tests that run a server: started with the options given, stopped at the end.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(remcons::testing::LoadLegacyProvider()); }
  void StartServer(ConsoleServerOptions options = TestOptions()) {
    options_ = options;
    server_ = std::make_unique<ConsoleServer>(options);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }
  // Waits until the server's screen text holds (or, with present false, no longer holds) text.
  bool ScreenShows(const std::string& text, bool present = true) {
    return server_->WaitFor(
        [&] { return (server_->ScreenText().find(text) != std::string::npos) == present; }, 5000);
  }

  // A driven clock for servers that take one; declared first so it outlives the server's threads.
  ManualClock manualClock_{1000};
  ConsoleServerOptions options_;
  std::unique_ptr<ConsoleServer> server_;
};

}  // namespace remcons::sim::testing
