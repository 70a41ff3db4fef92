// Drawing the menu bar's artwork, which the desktop does once at start-up (both scales).
#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "host/qt/Artwork.h"

namespace remcons {
namespace {

void BM_DrawArtwork(benchmark::State& state) {
  const int scale = static_cast<int>(state.range(0));
  for (auto _ : state) {
    auto images = DrawMenuBarArtwork(scale);
    benchmark::DoNotOptimize(images.size());
  }
}
BENCHMARK(BM_DrawArtwork)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

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
