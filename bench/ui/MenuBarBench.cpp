// The menu bar's share of a repaint: composing the bar (and an open panel) onto the back plane,
// which painting does for every update that touches the bar while it shows.
#include <benchmark/benchmark.h>

#include "support/FakeHost.h"
#include "ui/MenuBar.h"
#include "ui/UiFakes.h"

namespace remcons {
namespace {

enum Open { kNothing, kKeys, kExtended };

void BM_PaintBar(benchmark::State& state) {
  testing::FakeHost host;
  testing::BarPainter painter;
  testing::FakeOwner owner;
  MenuBarConfig config;
  config.serverName = "db-primary.example.net";
  config.width = 1024;
  config.uniqueFeatures = 4 | 8;
  config.muMode = 1;
  config.screenCapture = config.clientCapture = true;
  config.vmKeyRefused = true;
  CMenuBar bar(host, painter, owner, config);
  bar.Show();
  auto click = [&](Rect r, int dx, int dy) {
    bar.OnMouseButton(MenuBarMouse::kLeftDown, r.left + dx, r.top + dy);
    bar.OnMouseButton(MenuBarMouse::kLeftUp, r.left + dx, r.top + dy);
  };
  if (state.range(0) == kKeys) click(layout::Button(BarButton::kKeys, 1024), 5, 5);
  if (state.range(0) == kExtended) {
    click(layout::Button(BarButton::kPower, 1024), 5, 5);
    click(layout::PowerCompact(1024), 30, 80);
  }
  Surface backPlane(1024, 768);
  for (auto _ : state) {
    bar.Paint(backPlane, 1024);
    benchmark::DoNotOptimize(backPlane.data());
  }
}
BENCHMARK(BM_PaintBar)->Arg(kNothing)->Arg(kKeys)->Arg(kExtended);

}  // namespace
}  // namespace remcons

BENCHMARK_MAIN();
