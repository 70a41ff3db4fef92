// What the session tests share: a console peer on loopback that plays the management processor's
// console service byte by byte, a recording event sink, and a control wired to a fake window.
#pragma once

#include <pthread.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/Net.h"
#include "platform/Socket.h"
#include "session/RemCons.h"
#include "sim/ConsoleServer.h"
#include "support/FakeHost.h"
#include "support/Wait.h"
#include "ui/UiFakes.h"
#include "video/VideoFakes.h"

namespace remcons::testing {

// Stream bits that end in the alignment command, padded to a whole byte.
inline std::vector<uint8_t> AlignedBits(const std::string& bits) {
  std::string all = bits + "101101";
  while (all.size() % 8) all += '0';
  return Bits(all);
}
// The management processor's console service for one connection: reads the start sequence (the
// nine escapes of a clear session without a login), answers it unless told not to, then records
// every byte the console sends and sends what the test gives it.
class ConsolePeer {
 public:
  struct Options {
    bool answer = true;             // without the reply the console waits in its handshake
    bool closeInHandshake = false;  // close right after reading the start sequence
  };

  ConsolePeer() : ConsolePeer(Options()) {}
  explicit ConsolePeer(Options options)
      : options_(options), listener_(TcpSocket::Listen("127.0.0.1", 0)) {
    if (!listener_) throw std::runtime_error("cannot listen on loopback");
    thread_ = std::thread([this] { Body(); });
  }
  ~ConsolePeer() {
    listener_->Close();
    Close();
    thread_.join();
  }

  uint16_t port() const { return listener_->LocalPort(); }
  void Send(const std::vector<uint8_t>& bytes) {
    if (auto socket = Get(socket_)) socket->SendAll(bytes.data(), bytes.size());
  }
  void Close() {
    if (auto socket = Get(socket_)) socket->Close();
  }
  bool WaitStartSequence() {
    return WaitUntil([this] { return !Get(start_).empty(); });
  }
  // Everything received after the start sequence.
  std::vector<uint8_t> Received() { return Get(received_); }
  bool WaitReceived(size_t n) {
    return WaitUntil([&] { return Received().size() >= n; });
  }

 private:
  template <typename T>
  T Get(const T& field) {
    std::lock_guard lock(mutex_);
    return field;
  }

  void Body() {
    pthread_setname_np(pthread_self(), "console-peer");
    std::shared_ptr<TcpSocket> socket = listener_->Accept();
    if (!socket) return;
    socket->SetReceiveTimeout(20000);
    std::vector<uint8_t> start(9);
    const bool started = socket->ReceiveAll(start.data(), start.size());
    {
      std::lock_guard lock(mutex_);
      socket_ = socket;
      if (started) start_ = start;
    }
    if (started && options_.closeInHandshake) socket->Close();
    if (started && options_.answer && !options_.closeInHandshake) {
      const uint8_t reply[] = {'O', 'K', 0x1B, 0x5B, 'r'};
      socket->SendAll(reply, sizeof reply);
      uint8_t buffer[4096];
      for (int got; (got = socket->Receive(buffer, sizeof buffer)) > 0;) {
        std::lock_guard lock(mutex_);
        received_.insert(received_.end(), buffer, buffer + got);
      }
    }
  }

  Options options_;
  std::unique_ptr<TcpSocket> listener_;
  std::mutex mutex_;
  std::shared_ptr<TcpSocket> socket_;
  std::vector<uint8_t> start_, received_;
  std::thread thread_;
};

// Records the control's events as text, in order.
class EventLog : public IRemConsEv {
 public:
  void OnShutdown() override { Add("OnShutdown"); }
  void OnResize(int32_t cx, int32_t cy) override {
    Add("OnResize " + std::to_string(cx) + "x" + std::to_string(cy));
  }
  void OnStatus(const std::string& status) override { Add("OnStatus " + status); }
  void OnDialog(const std::string& status) override { Add("OnDialog " + status); }

  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  bool Has(const std::string& event) {
    const auto events = Events();
    return std::find(events.begin(), events.end(), event) != events.end();
  }

 private:
  void Add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::mutex mutex_;
  std::vector<std::string> events_;
};

// The simulator's console service, quick to boot and to send.
inline sim::ConsoleServerOptions QuickSimOptions() {
  sim::ConsoleServerOptions options;
  options.screen.bootMs = 100;
  options.frameIntervalMs = 10;
  options.loginQuietMs = 50;
  return options;
}

// True once everything the simulator sent has come and the console's picture (the remote screen's
// part of its frame) is the simulator's screen, pixel for pixel.
inline bool ShowsScreen(CRemCons& console, sim::ConsoleServer& server) {
  const auto same = [&] {
    int width = 0, height = 0;
    const std::vector<uint32_t> screen = server.ScreenPixels(&width, &height);
    if (console.RemoteScreenSize() != std::pair{width, height}) return false;
    const Surface frame = console.frameBuffer()->Snapshot();
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (!SameColor(frame.At(x, y), screen[static_cast<size_t>(y) * width + x])) return false;
      }
    }
    return true;
  };
  return server.WaitUntilSent(10000) && WaitUntil(same, 10000);
}

// A control with a fake window around it.
struct SessionRig {
  FakeHost host;
  BarPainter painter;  // the menu bar's images, text as bars
  ManualClock clock;
  EventLog events;
  // A session leader listens on loopback only.
  MUServerOptions leaderServer{"127.0.0.1", 0};
  std::unique_ptr<CRemCons> control = std::make_unique<CRemCons>();

  SessionRig() {
    control->Advise(&events);
    control->put_target("127.0.0.1");
    control->put_fullScreen(0);
  }

  int Create(FrameBuffer::SurfaceFactory factory = {},
             const std::function<void(SessionEnvironment&)>& more = {}) {
    SessionEnvironment env;
    env.host = &host;
    env.painter = &painter;
    env.clock = &clock;
    env.surfaceFactory = std::move(factory);
    // No local drives for the drive menu.
    env.mediaRoots = MediaRoots{"/nonexistent/sys", "/nonexistent/dev"};
    env.leaderServer = leaderServer;
    if (more) more(env);
    return control->OnCreate(env);
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) control->OnTimer(kSessionTimer);
  }
  // Runs the messages posted to the window.
  void Pump() { host.RunPosted(); }
  // Waits for the start reply to have arrived.
  bool WaitConnected() {
    return WaitUntil([this] { return control->Decoding(); });
  }
  // Creates the control against peer and waits until the session runs.
  void Connect(ConsolePeer& peer) {
    control->put_port(peer.port());
    ASSERT_EQ(Create(), 0);
    ASSERT_TRUE(WaitConnected());
  }
  // Ticks until phase 2 begins (42 ticks for a console connection).
  void EnterPhase2() { Tick(42); }
  // Waits for the console thread to end and runs what it posted.
  bool WaitThreadEnded() {
    const bool ended = WaitUntil([this] { return !control->ConsoleThreadRunning(); });
    Pump();
    return ended;
  }
};

}  // namespace remcons::testing
