// The console's two roads end to end on loopback, on the offscreen platform: a key pressed in the
// control until its bytes are on the server's socket, and a full-screen update of 1280 x 1024
// leaving the server (the simulator's stream encoder) until its last pixels are painted in the
// headless window. Each iteration is one event; median and 99th percentile are the counters
// (goals: input under 1 ms, picture under 16 ms).
#include <benchmark/benchmark.h>
#include <poll.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "host/qt/Artwork.h"
#include "host/qt/HeadlessWindow.h"
#include "host/qt/QtHost.h"
#include "host/qt/QtPainter.h"
#include "platform/Socket.h"
#include "session/RemCons.h"
#include "sim/ColorFrame.h"
#include "sim/StreamEncoder.h"
#include "video/FrameBuffer.h"

namespace remcons {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 1280, kHeight = 1024;

// Turns the window thread's loop until done holds (at most 5 s).
template <typename Done>
void Pump(Done done) {
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (Clock::now() > end) throw std::runtime_error("the console did not follow");
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// A console in a headless window, connected to a server played here with the simulator's encoder.
class Rig {
 public:
  Rig() : listener_(TcpSocket::Listen("127.0.0.1", 0)) {
    RegisterMenuBarArtwork(painter_);
    QtHost::Callbacks callbacks;
    callbacks.timer = [this](int id) { control_->OnTimer(id); };
    callbacks.invalidate = [this](const Rect* r, bool) { window_.Invalidate(r); };
    host_.SetCallbacks(callbacks);
    control_->put_target("127.0.0.1");
    control_->put_port(listener_->LocalPort());
    control_->put_fullScreen(0);
    control_->put_kbdMode(1);  // keys as HID reports
    SessionEnvironment env;
    env.host = &host_;
    env.painter = &painter_;
    env.mediaRoots = MediaRoots{"/nonexistent/sys", "/nonexistent/dev"};
    if (control_->OnCreate(env) != 0) throw std::runtime_error("no session");
    window_.Resize(kWidth, kHeight);
    window_.Attach(control_.get(), control_->frameBuffer());
    // The console thread waits for the window thread on its way: turn the loop meanwhile.
    Pump([this] { return Readable(listener_->Descriptor()); });
    server_ = listener_->Accept();
    if (!server_) throw std::runtime_error("no connection");
    Pump([this] { return Readable(server_->Descriptor()); });
    uint8_t start[9];  // the escapes; an empty login sends nothing more
    if (!server_->ReceiveAll(start, sizeof start)) throw std::runtime_error("no start");
    server_->SetNoDelay(true);
    server_->SendAll("\x1b[r", 3);
    Pump([this] { return control_->Decoding(); });
    control_->OnSetFocus();
  }
  ~Rig() {
    window_.Attach(nullptr, nullptr);
    control_->OnDestroy();
  }

  // Sends a frame that differs from the shown one in every block, timed until its last block is
  // painted.
  double Update(uint16_t color) {
    sim::ColorFrame next(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) next.Set(x, y, uint16_t(color + ((x ^ y) >> 3 & 7)));
    shown_.width() ? encoder_.EncodeFrame(next, shown_) : encoder_.EncodeFullFrame(next);
    encoder_.Flush();
    const std::vector<uint8_t> bytes = encoder_.TakeBytes();
    const Pixel last = ExpandColor(next.At(kWidth - 1, kHeight - 1));
    const Pixel first = ExpandColor(next.At(0, 0));
    shown_ = std::move(next);
    const auto start = Clock::now();
    server_->SendAll(bytes.data(), bytes.size());
    Pump([&] {
      const Surface& s = window_.surface();
      return s.width() == kWidth && s.At(0, 0) == first && s.At(kWidth - 1, kHeight - 1) == last;
    });
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  }

  // A key pressed in the control, timed until its report is on the server's socket.
  double Key() {
    uint8_t report[10];
    const auto start = Clock::now();
    control_->OnKeyEvent({0x41, 0x1E, false, false, false, 0});
    if (!server_->ReceiveAll(report, sizeof report)) throw std::runtime_error("no key");
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    control_->OnKeyEvent({0x41, 0x1E, false, false, true, 0});
    if (!server_->ReceiveAll(report, sizeof report)) throw std::runtime_error("no release");
    return us;
  }

 private:
  std::unique_ptr<TcpSocket> listener_;
  std::unique_ptr<TcpSocket> server_;
  QtHost host_;
  QtPainter painter_;
  HeadlessWindow window_;
  std::unique_ptr<CRemCons> control_ = std::make_unique<CRemCons>();
  sim::StreamEncoder encoder_;
  sim::ColorFrame shown_;
};

void Report(benchmark::State& state, std::vector<double> us) {
  std::sort(us.begin(), us.end());
  if (us.empty()) return;
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

void BM_KeyToServerSocket(benchmark::State& state) {
  Rig rig;
  std::vector<double> samples;
  for (auto _ : state) samples.push_back(rig.Key());
  Report(state, samples);
}
BENCHMARK(BM_KeyToServerSocket)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_FullScreenUpdateToPixels(benchmark::State& state) {
  Rig rig;
  rig.Update(0x100);  // the mode and a first picture
  std::vector<double> samples;
  uint16_t color = 0x200;
  for (auto _ : state) {
    color = uint16_t((color + 0x111) & 0xFF0);
    samples.push_back(rig.Update(color));
  }
  Report(state, samples);
}
BENCHMARK(BM_FullScreenUpdateToPixels)->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace remcons

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
