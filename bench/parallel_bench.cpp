// Cost of the parallel loops: the canyon-shaped split (640 columns, grain 12) with a fixed amount
// of arithmetic per column, run serially, through the process-wide loop, and on explicit pools.
// On a machine with 2 hardware threads the process-wide loop runs serially (one worker).

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "render/parallel.h"

namespace {

// Roughly the work of one canyon column: a few hundred dependent float operations.
float ColumnWork(std::size_t column, int steps) {
  float x = static_cast<float>(column) * 0.001f;
  for (int i = 0; i < steps; ++i) x = std::sin(x) * 0.999f + 0.0011f;
  return x;
}

void BM_ColumnsSerial(benchmark::State& state) {
  const int steps = static_cast<int>(state.range(0));
  std::vector<float> out(640);
  for (auto _ : state) {
    for (std::size_t c = 0; c < out.size(); ++c) out[c] = ColumnWork(c, steps);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ColumnsSerial)->Arg(64)->Arg(1024);

void BM_ColumnsProcessPool(benchmark::State& state) {
  const int steps = static_cast<int>(state.range(0));
  std::vector<float> out(640);
  for (auto _ : state) {
    Parallel::For(0, out.size(), 12, [&](std::size_t c) { out[c] = ColumnWork(c, steps); });
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["workers"] = static_cast<double>(Parallel::WorkerCount());
}
BENCHMARK(BM_ColumnsProcessPool)->Arg(64)->Arg(1024);

// Pool of `threads` threads (W = threads + 1): on a small machine this measures the queue and
// lock traffic of 8 pieces per worker rather than a speed-up.
void BM_ColumnsExplicitPool(benchmark::State& state) {
  const int steps = static_cast<int>(state.range(0));
  ThreadPool pool(static_cast<std::size_t>(state.range(1)));
  std::vector<float> out(640);
  for (auto _ : state) {
    Parallel::ForRangeIn(pool, 0, out.size(), 12, [&](std::size_t from, std::size_t to) {
      for (std::size_t c = from; c < to; ++c) out[c] = ColumnWork(c, steps);
    });
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ColumnsExplicitPool)->Args({64, 1})->Args({1024, 1})->Args({1024, 3});

}  // namespace
