// Scene 3's cost: whole dot-field frames with the dropship hovering in view (decay, terrain dots,
// streamer, ship), with and without shadows and the ship's alternate halves.
//
// Frames advance the scene time by 1/60 s per iteration so the camera moves as in the show. The
// scene runs on the calling thread, so the figures are single-core figures; the CPU time column
// is the one to read on a busy machine.

#include <benchmark/benchmark.h>

#include <cstddef>

#include "config/scene_params.h"
#include "render/framebuffer.h"
#include "render/noise.h"
#include "scenes/canyon.h"
#include "timeline/music_viz.h"

namespace {

// Arguments: shadows (0/1), ship_odd_even (0/1).
void BM_DotFieldFrame(benchmark::State& state) {
  NoiseTable();
  DebugParams p;
  p.shadows = state.range(0) != 0;
  p.ship_odd_even = state.range(1) != 0;
  const SceneCameraParams cam;
  Framebuffer frame(640, 360);
  const Canyon canyon;
  std::size_t frame_index = 0;
  float t = 12.0f;  // the ship settled ahead of the camera
  for (auto _ : state) {
    MusicViz mv;
    mv.active = true;
    mv.kick = 0.5f;
    mv.bass = 0.5f;
    mv.lead = 0.4f;
    mv.impact = 0.2f;
    mv.step_phase = 0.25f;
    mv.section_time = t;
    mv.section_bar = t / 1.7142857f;
    canyon.DrawDotField(frame, t, p, cam, mv, frame_index);
    benchmark::DoNotOptimize(frame.pixels.data());
    ++frame_index;
    t += 1.0f / 60.0f;
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DotFieldFrame)
    ->ArgNames({"shadows", "odd_even"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
