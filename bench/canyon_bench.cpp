// Scene 1's cost: whole canyon frames as the application draws them (sky, column march, mist,
// beacons, trail), its parts, and the terrain height function the march calls most.
//
// Frames advance the scene time by 1/60 s per iteration so the camera moves as in the show. On
// a machine with one or two hardware threads the column loop runs on the calling thread, so the
// figures are single-core figures.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "config/scene_params.h"
#include "render/framebuffer.h"
#include "render/noise.h"
#include "scenes/canyon.h"
#include "scenes/canyon_sky.h"
#include "timeline/music_viz.h"

namespace {

// Music playing, beacons lit, moderate drive: the busy case of the scene.
MusicViz PlayingMusic(float section_time) {
  MusicViz mv;
  mv.active = true;
  mv.kick = 0.5f;
  mv.lead = 0.4f;
  mv.build = 0.3f;
  mv.step_phase = 0.25f;
  mv.cue_beams = 1.0f;
  mv.section_time = section_time;
  return mv;
}

// Arguments: shadows (0/1), interlace (0/1).
void BM_CanyonFrame(benchmark::State& state) {
  NoiseTable();
  DebugParams p;
  p.shadows = state.range(0) != 0;
  p.interlace = state.range(1) != 0;
  const SceneCameraParams cam;
  Framebuffer frame(640, 360);
  Framebuffer trail(640, 360);
  const Canyon canyon;
  std::size_t frame_index = 0;
  float t = 20.0f;
  for (auto _ : state) {
    const MusicViz mv = PlayingMusic(t);
    DrawCanyonFlight(canyon, frame, trail, t, p, cam, mv, frame_index, frame_index == 0);
    benchmark::DoNotOptimize(frame.pixels.data());
    ++frame_index;
    t += 1.0f / 60.0f;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CanyonFrame)
    ->ArgNames({"shadows", "interlace"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

// The march alone, all columns, no sky or layers.
void BM_CanyonMarch(benchmark::State& state) {
  NoiseTable();
  const DebugParams p;
  const SceneCameraParams cam;
  Framebuffer frame(640, 360);
  float t = 20.0f;
  for (auto _ : state) {
    const MusicViz mv = PlayingMusic(t);
    const CanyonFrame cf = BuildCanyonFrame(t, p, cam, frame.width, frame.height, 0, true);
    MarchCanyonColumns(frame, 0, frame.width, cf, t, p, mv);
    benchmark::DoNotOptimize(frame.pixels.data());
    t += 1.0f / 60.0f;
  }
}
BENCHMARK(BM_CanyonMarch)->Unit(benchmark::kMillisecond);

// The sky alone over the whole frame.
void BM_CanyonSky(benchmark::State& state) {
  NoiseTable();
  Framebuffer frame(640, 360);
  float t = 20.0f;
  for (auto _ : state) {
    DrawCanyonSky(frame, t, 0.1f, 165, 0.3f, 0, 1);
    benchmark::DoNotOptimize(frame.pixels.data());
    t += 1.0f / 60.0f;
  }
}
BENCHMARK(BM_CanyonSky)->Unit(benchmark::kMillisecond);

// Detailed terrain heights along one march ray per iteration batch: floor, walls and landmarks
// in the proportions a frame sees them.
void BM_TerrainHeight(benchmark::State& state) {
  NoiseTable();
  const DebugParams p;
  std::vector<float> xs;
  std::vector<float> zs;
  for (int column = 0; column < 64; ++column) {
    const float angle = (static_cast<float>(column) / 64.0f - 0.5f) * 1.29f;
    float d = 1.0f;
    for (int i = 0; i < 165; ++i) {
      d = d + (0.03f * d + 0.22f);
      xs.push_back(CanyonCentre(320.0f) + d * std::sin(angle));
      zs.push_back(320.0f + d * std::cos(angle));
    }
  }
  for (auto _ : state) {
    float sum = 0.0f;
    for (std::size_t i = 0; i < xs.size(); ++i) sum += TerrainHeight(xs[i], zs[i], p, true);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(xs.size()));
}
BENCHMARK(BM_TerrainHeight)->Unit(benchmark::kMicrosecond);

}  // namespace
