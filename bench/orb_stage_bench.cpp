// The orb stage's cost (scenes 4 to 8): whole frames at full density, loud and inside the scope
// window (its busiest case), a quiet frame, and the layers one by one. The stage runs on the
// calling thread, so the figures are single-core figures.

#include <benchmark/benchmark.h>

#include "config/scene_params.h"
#include "render/framebuffer.h"
#include "scenes/orb_stage.h"
#include "timeline/music_viz.h"

namespace {

// Loud music with the club and finale cues up: every branch, arm and burst is drawn.
MusicViz LoudMusic(float bar) {
  MusicViz mv;
  mv.active = true;
  mv.bar = bar;
  mv.kick = 0.9f;
  mv.perc = 0.6f;
  mv.bass = 0.7f;
  mv.lead = 0.8f;
  mv.impact = 0.6f;
  mv.build = 0.5f;
  mv.energy = 0.9f;
  mv.cue_club = 1.0f;
  mv.cue_finale = 1.0f;
  return mv;
}

// Argument: 1 = loud in the scope window (bar 8.5 of the cycle), 0 = no music.
void BM_OrbStageFrame(benchmark::State& state) {
  const bool loud = state.range(0) != 0;
  const OrbStage stage;
  const DebugParams p;  // full density
  const SceneCameraParams cam;
  Framebuffer frame(640, 360);
  float t = 20.0f;
  for (auto _ : state) {
    const MusicViz mv = loud ? LoudMusic(8.5f + (t - 20.0f) * 0.01f) : MusicViz{};
    stage.Draw(frame, t, p, cam, mv);
    benchmark::DoNotOptimize(frame.pixels.data());
    t += 1.0f / 60.0f;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OrbStageFrame)->ArgName("loud_scope")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// One layer at a time, loud in the scope window (each iteration also builds the frame's rig and
// camera). Light piles up in the frame, which does not change what a splat costs.
// Argument: 0 decay, 1 backdrop, 2 near dust, 3 fine dust, 4 sparks, 5 bonds, 6 orbs, 7 scope.
void BM_OrbStageLayer(benchmark::State& state) {
  const int layer = static_cast<int>(state.range(0));
  const DebugParams p;
  const SceneCameraParams cam;
  Framebuffer frame(640, 360);
  float t = 20.0f;
  for (auto _ : state) {
    const MusicViz mv = LoudMusic(8.5f);
    const StageFrame sf = BuildStageFrame(frame.width, frame.height, t, cam, mv);
    switch (layer) {
      case 0: frame.ScaleAdd(0.8f, Vec3(0.0001f, 0.0001f, 0.0002f)); break;
      case 1: DrawStageBackdrop(frame, t, p, mv, sf.view, sf.rig); break;
      case 2: DrawNearDust(frame, sf, p, mv); break;
      case 3: DrawFineDust(frame, sf, p, mv); break;
      case 4: DrawSparkStreaks(frame, sf, p, mv); break;
      case 5: DrawBonds(frame, sf, p, mv); break;
      case 6: DrawOrbs(frame, sf, p, mv); break;
      default: DrawScope(frame, sf, p, mv); break;
    }
    benchmark::DoNotOptimize(frame.pixels.data());
    t += 1.0f / 60.0f;
  }
}
BENCHMARK(BM_OrbStageLayer)->ArgName("layer")->DenseRange(0, 7)->Unit(benchmark::kMicrosecond);

}  // namespace
