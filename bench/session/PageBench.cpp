// The page parser over hostile pages: one tag of N attributes, and N <param> elements. The time per
// attribute should stay flat as N grows (a page of the size limit parses in well under a second).
#include <benchmark/benchmark.h>

#include <string>

#include "session/PropertyBag.h"

namespace remcons {
namespace {

std::string ManyAttributes(int n) {
  std::string page = "<object classid=RemCons><param name=target value=10.0.0.1";
  for (int i = 0; i < n; ++i) page += " a" + std::to_string(i) + "=v";
  return page + "></object>";
}

std::string ManyParams(int n) {
  std::string page = "<object classid=RemCons>";
  for (int i = 0; i < n; ++i) page += "<param name=p" + std::to_string(i) + " value=v>";
  return page + "</object>";
}

void BM_PageAttributes(benchmark::State& state) {
  const std::string page = ManyAttributes(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ParseHtmlParams(page));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
}

void BM_PageParams(benchmark::State& state) {
  const std::string page = ManyParams(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ParseHtmlParams(page));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
}

BENCHMARK(BM_PageAttributes)->RangeMultiplier(8)->Range(1 << 10, 1 << 18);
BENCHMARK(BM_PageParams)->RangeMultiplier(8)->Range(1 << 10, 1 << 18);

}  // namespace
}  // namespace remcons

BENCHMARK_MAIN();
