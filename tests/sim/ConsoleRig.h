// The simulator's tests: OpenSSL's keystreams as the cipher's oracle, the start sequence as a
// console writes it, and the client's own connection and decoder as the console that talks to
// the simulated server and draws its stream.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/Net.h"
#include "net/Oracle.h"
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
  explicit OracleStream(const std::array<uint8_t, 16>& key) : session_(key) { Rekey(); }
  void Rekey() {
    chain_ = remcons::testing::OsslChainStep(session_.data(), chain_.data());
    rc4_ = std::make_unique<remcons::testing::OsslRc4>(chain_.data(), chain_.size());
  }
  void Xor(uint8_t* data, size_t n) { rc4_->Xor(data, n); }

 private:
  std::array<uint8_t, 16> session_, chain_{};
  std::unique_ptr<remcons::testing::OsslRc4> rc4_;
};

// The start sequence as a console puts it on the wire: the FF C0 header and key index, then the
// escapes and the login enciphered with send (clear without a header).
inline Bytes StartBytes(bool header, uint32_t keyIndex, const std::string& login,
                        OracleStream* send) {
  Bytes bytes;
  if (header) {
    bytes.insert(bytes.end(), {0xFF, 0xC0});
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(keyIndex >> shift));
  }
  const size_t clear = bytes.size();
  bytes.insert(bytes.end(), {0x1B, 0x5B, 0x37, 0x1B, 0x5B, 0x39, 0x1B, 0x5B, 0x34});
  bytes.insert(bytes.end(), login.begin(), login.end());
  if (header && send) send->Xor(bytes.data() + clear, bytes.size() - clear);
  return bytes;
}

// The first pixel where the decoded picture differs from the frame sent, or "" when none does.
inline std::string Mismatch(const Surface& shown, const ColorFrame& frame) {
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      if ((shown.At(x, y) & 0xFFFFFF) != (ExpandColor(frame.At(x, y)) & 0xFFFFFF)) {
        char text[96];
        std::snprintf(text, sizeof text, "pixel (%d,%d): shown %06X, sent %03X", x, y,
                      shown.At(x, y) & 0xFFFFFF, frame.At(x, y));
        return text;
      }
    }
  }
  return "";
}

// A whole console: the client's connection (start sequence, both keystreams, key changes) and
// its decoder in a thread of its own, which closes the connection at the stream's end. The
// stream's commands are logged in order.
class Console : public ByteSource, public remcons::testing::FakeEvents, public StreamObserver {
 public:
  Console(uint16_t port, const ConsoleKeys& keys, uint32_t keyIndex = 0,
          const std::string& login = "user:pass", bool encryption = true)
      : net(keys.decryptKey.data(), keys.encryptKey.data(), keyIndex, encryption ? 1 : 0) {
    uint32_t w = kMaxFrameWidth, h = kMaxFrameHeight;
    frameBuffer_.CreateSurfaces(&w, &h);
    started = net.Connect("127.0.0.1", Base64Encode(login), port) == 1;
    if (!started) return;
    decoder_.reader().SetSource(this);
    decoder_.SetObserver(this);
    thread_ = std::thread([this] {
      decoder_.Start({});
      end = decoder_.Decode();
      net.Close();
      done = true;
    });
  }
  ~Console() override { Close(); }
  void Close() {
    net.Close();
    if (thread_.joinable()) thread_.join();
  }
  void Send(const Bytes& bytes) { net.Write(bytes.data(), static_cast<int32_t>(bytes.size())); }

  // A slow console: a pause before every read, and reads smaller than the buffer.
  int Read(uint8_t* buffer, int size) override {
    if (readDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(readDelayMs.load()));
    return net.Read(buffer, readLimit > 0 ? std::min(size, readLimit.load()) : size);
  }
  int LastError() override { return 0; }
  int Write(const uint8_t* data, int length) override {
    ++refreshRequests;
    return net.Write(data, length);
  }
  void ChangeKeys() override {
    net.ChangeKeys();
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
  // Waits until the stream log or the session's log holds an entry.
  bool Saw(const std::string& entry, int timeoutMs = 5000) {
    return remcons::testing::WaitUntil([&] { return Count(entry) > 0 || FakeEvents::Saw(entry); },
                                       timeoutMs);
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

  CNet net;
  bool started = false;
  std::atomic<bool> done{false};
  std::atomic<DecodeEnd> end{DecodeEnd::kStopped};
  std::atomic<int> refreshRequests{0}, keyChanges{0}, readDelayMs{0}, readLimit{0};

 private:
  void Add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::mutex mutex_;
  std::vector<std::string> entries_;
  remcons::testing::FakeHost host_;
  remcons::testing::FakePainter painter_;
  FrameBuffer frameBuffer_{host_, painter_};
  VideoModes modes_{host_, *this};
  VideoDecoder decoder_{frameBuffer_, modes_, *this};
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

  ConsoleServerOptions options_;
  std::unique_ptr<ConsoleServer> server_;
};

}  // namespace remcons::sim::testing
