// The console service's costs: cutting the console's bytes into packets, placing the switch of
// a key change in the bytes held meanwhile, and what one frame update of the simulated screen
// takes (render, incremental encode) at the common sizes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "net/Net.h"
#include "sim/ClientPackets.h"
#include "sim/ConsoleInput.h"
#include "sim/ServerScreen.h"
#include "sim/StreamEncoder.h"

namespace remcons::sim {
namespace {

std::vector<uint8_t> MixedTraffic(size_t bytes) {
  const std::vector<std::vector<uint8_t>> menu = {
      {0xFF, 0xD6, 0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0xFF, 0xD0, 0x0A, 0x0A, 0x01, 0x42, 0x01, 0x5F},
      {0x1B, '[', '&'},
      {'a'},
      {0x1B, '[', '1', 0x1B, '[', 'A'}};
  std::vector<uint8_t> out;
  std::mt19937 random(1);
  while (out.size() < bytes) {
    const auto& p = menu[random() % menu.size()];
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

void BM_ParsePackets(benchmark::State& state) {
  const std::vector<uint8_t> bytes = MixedTraffic(64 * 1024);
  std::vector<ClientPacket> packets;
  for (auto _ : state) {
    ClientStreamParser parser;
    packets.clear();
    parser.Feed(bytes.data(), bytes.size(), &packets);
    benchmark::DoNotOptimize(packets.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ParsePackets);

// A key change with n bytes of traffic held, the console switching halfway.
void BM_ResolveKeyChange(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  uint8_t key[16];
  for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i * 11 + 3);
  const std::vector<uint8_t> plain = MixedTraffic(n);
  for (auto _ : state) {
    state.PauseTiming();
    RC4Stream consoleOld(key);
    std::vector<uint8_t> wire = plain;
    const size_t half = wire.size() / 2;
    consoleOld.Apply(wire.data(), half);
    RC4Stream consoleNew(key);
    consoleNew.Rekey();
    consoleNew.Apply(wire.data() + half, wire.size() - half);
    ConsoleInput input(std::make_unique<RC4Stream>(key), key, ConsoleInput::Options{});
    std::vector<ClientPacket> out;
    input.BeginKeyChange(0);
    input.Feed(wire.data(), wire.size(), 1, &out);
    input.ConfirmKeyChange(1);
    state.ResumeTiming();
    input.Tick(1000, &out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ResolveKeyChange)->Arg(100)->Arg(1000)->Arg(16000)->Unit(benchmark::kMicrosecond);

ServerScreen BusyScreen(int width, int height) {
  ServerScreenOptions o;
  o.width = width;
  o.height = height;
  o.bootMs = 0;
  ServerScreen screen(o, 0);
  for (int i = 0; i < height / 16; ++i) screen.Print("output line " + std::to_string(i));
  return screen;
}

void BM_RenderScreen(benchmark::State& state) {
  ServerScreen screen =
      BusyScreen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    ColorFrame frame = screen.Render();
    benchmark::DoNotOptimize(frame.pixels().data());
  }
}
BENCHMARK(BM_RenderScreen)->Args({1024, 768})->Args({1280, 1024})->Unit(benchmark::kMicrosecond);

// One typed character: render the screen and encode what changed.
void BM_TypedCharacterUpdate(benchmark::State& state) {
  ServerScreen screen =
      BusyScreen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  StreamEncoder encoder;
  ColorFrame last = screen.Render();
  encoder.EncodeFullFrame(last);
  encoder.TakeBytes();
  KeyStroke k;
  k.kind = KeyStroke::kChar;
  uint64_t bytes = 0;
  int i = 0;
  for (auto _ : state) {
    k.ch = static_cast<char>('a' + i++ % 26);
    screen.Key(k, 0);
    if (i % 60 == 0) {
      KeyStroke enter;
      enter.kind = KeyStroke::kEnter;
      screen.Key(enter, 0);
    }
    ColorFrame frame = screen.Render();
    encoder.EncodeFrame(frame, last);
    encoder.Flush();
    bytes += encoder.TakeBytes().size();
    last = std::move(frame);
  }
  state.counters["stream_bytes"] =
      benchmark::Counter(static_cast<double>(bytes) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_TypedCharacterUpdate)
    ->Args({1024, 768})
    ->Args({1280, 1024})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace remcons::sim

BENCHMARK_MAIN();
