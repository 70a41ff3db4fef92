// Offline replay at full speed of a 1280 x 1024 capture of console work: a minute of commands typed
// a character at a time and their output scrolling by, recorded as the console records a session
// (one record per network read of at most 4096 bytes, time-stamped). Reported: recorded seconds
// replayed per second of wall-clock time (x_realtime; the goal is 100 or more) and the capture's
// bytes per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "capture/CaptureFile.h"
#include "capture/OfflinePlayer.h"
#include "sim/ScreenContent.h"
#include "sim/StreamEncoder.h"

namespace remcons {
namespace {

constexpr int kWidth = 1280, kHeight = 1024;

struct Capture {
  std::string path;
  double recordedSeconds = 0;
  uint64_t bytes = 0;
};

const Capture& ConsoleWork() {
  static const Capture capture = [] {
    Capture c;
    c.path = "/tmp/remcons-replay-bench-" + std::to_string(getpid()) + ".kro";
    CaptureRecorder recorder;
    recorder.Create(c.path, "bench");
    sim::TextConsole console(kWidth / 8, kHeight / 16);
    for (int i = 0; i < 40; ++i) console.Write("[   2.000000] service started\n");
    sim::StreamEncoder encoder;
    sim::ColorFrame last;
    uint32_t now = 100000;
    auto frame = [&](uint32_t ms) {
      now += ms;
      sim::ColorFrame f = console.Render();
      if (last.width() == 0) {
        encoder.EncodeFullFrame(f);
      } else {
        encoder.EncodeFrame(f, last);
      }
      encoder.Flush();
      const std::vector<uint8_t> bytes = encoder.TakeBytes();
      for (size_t at = 0; at < bytes.size(); at += kMaxRecordData) {
        const uint32_t n =
            static_cast<uint32_t>(std::min<size_t>(kMaxRecordData, bytes.size() - at));
        recorder.Append(1, now, bytes.data() + at, n);
      }
      last = std::move(f);
    };
    frame(0);
    const uint32_t start = now;
    for (int command = 0; now - start < 60000; ++command) {
      console.Write("root@server:~# ");
      const std::string typed = "journalctl -u service" + std::to_string(command % 7) + " -n 12";
      for (char ch : typed) {
        console.Write(std::string(1, ch));
        frame(120);
      }
      console.Write("\n");
      for (int line = 0; line < 12; ++line) {
        console.Write("Jun 10 03:0" + std::to_string(line % 10) +
                      ":17 server service[812]: request " + std::to_string(command * 12 + line) +
                      " handled in 4 ms\n");
      }
      frame(400);
    }
    recorder.Close();
    c.recordedSeconds = (now - start) / 1000.0;
    CaptureReader reader;
    int error = 0;
    std::string why;
    reader.Open(c.path, &error, &why);
    c.bytes = reader.size();
    return c;
  }();
  return capture;
}

void BM_OfflineReplay(benchmark::State& state) {
  const Capture& capture = ConsoleWork();
  for (auto _ : state) {
    CaptureReader reader;
    int error = 0;
    std::string why;
    if (!reader.Open(capture.path, &error, &why)) {
      state.SkipWithError("cannot open the capture");
      break;
    }
    OfflinePlayer player(reader);
    player.Play();
    benchmark::DoNotOptimize(player.picture().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * capture.bytes));
  state.counters["x_realtime"] =
      benchmark::Counter(capture.recordedSeconds * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["recorded_s"] = capture.recordedSeconds;
  state.counters["capture_kb"] = static_cast<double>(capture.bytes) / 1024;
}
BENCHMARK(BM_OfflineReplay)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace remcons

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::remove(remcons::ConsoleWork().path.c_str());
  return 0;
}
