// Cost of the tracker display per frame: each mode (panel, wall, assembly over the full screen)
// in each look (clean, glow, splat), in front of and behind a scene, for a synthesiser snapshot
// in the middle of the song and a module snapshot with every channel busy.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "audio/synth_track.h"
#include "overlays/tracker_viz.h"

namespace {

TrackerSnapshot BusySnapshot(int source) {
  TrackerSnapshot s;
  s.source = source;
  s.title = "BENCH";
  s.position = 40.5f;
  s.bpm = 140.0f;
  s.step_phase = 0.4f;
  s.kick = 0.9f;
  s.perc = 0.5f;
  s.bass = 0.7f;
  s.lead = 0.6f;
  s.pad = 0.4f;
  s.hat = 0.3f;
  s.build = 0.2f;
  s.bar_index = 40;
  s.step = 5;
  s.order = 4;
  s.length = 12;
  s.rows = 64;
  s.channels = 8;
  for (int q = 0; q < kTrackerSteps; ++q) {
    s.bass_steps[q] = q % 3 == 2 ? kRest : q;
    s.lead_steps[q] = q % 2 == 1 ? kRest : q;
  }
  for (int k = 0; k < kTrackerVisibleRows; ++k) {
    s.pattern_rows[k].row = 20 + k;
    for (int c = 0; c < kTrackerChannels; ++c)
      s.pattern_rows[k].channels[c] = {40 + c + k, c + 1, 0x30, (k + c) % 3 == 0 ? 0x0A : 0, 0x20,
                                       0, 0};
  }
  if (source == 1) s.step = 30;
  for (int c = 0; c < kTrackerChannels; ++c) s.channel_volume[c] = 0.6f;
  return s;
}

// Arguments: mode (0 panel, 1 wall, 2 assembly), effect (0 clean, 1 glow, 2 splat), behind,
// source (0 synthesiser, 1 module).
void BM_TrackerViz(benchmark::State& state) {
  // Kept across the benchmark's runs and cleared instead, so that the page faults of two fresh
  // 2.7 MB images do not count as drawing time (the App creates its framebuffers once).
  static Framebuffer fb(640, 360);
  static Framebuffer glow(640, 360);
  fb.Fill(Vec3{});
  glow.Fill(Vec3{});
  TrackerVizSettings settings;
  settings.mode = static_cast<std::int32_t>(state.range(0));
  settings.effect = static_cast<std::int32_t>(state.range(1));
  settings.rows = 21;  // the assembly region fits 20 rows; the panel shows 21
  const bool behind = state.range(2) != 0;
  const TrackerSnapshot snap = BusySnapshot(static_cast<int>(state.range(3)));
  float flash = 0.0f;
  std::int32_t last_step = -1;
  for (auto _ : state) {
    // The scene's own decay, so the frame does not saturate over the run.
    fb.ScaleAdd(0.5f, Vec3{});
    DrawTrackerViz(fb, glow, snap, settings, 40.0f, behind, TrackerFlashState{flash, last_step});
    last_step = -1;  // every frame a new step, as while the music plays
  }
  benchmark::DoNotOptimize(fb.pixels.data());
}
BENCHMARK(BM_TrackerViz)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}, {0, 1}, {0, 1}})
    ->ArgNames({"mode", "effect", "behind", "source"})
    ->Unit(benchmark::kMillisecond);

// The decay alone, to subtract from the figures above.
void BM_TrackerVizBaseline(benchmark::State& state) {
  Framebuffer fb(640, 360);
  for (auto _ : state) fb.ScaleAdd(0.5f, Vec3{});
  benchmark::DoNotOptimize(fb.pixels.data());
}
BENCHMARK(BM_TrackerVizBaseline)->Unit(benchmark::kMillisecond);

}  // namespace
