// Scene 2's cost: whole arena frames in the three looks of the show (orbit, veil, club), and its
// heaviest parts on their own: the arcade ring (direct and split into slots), the console with
// the operator, the backdrop wall and the floor.
//
// Frames advance the scene time by 1/60 s per iteration. The whole-frame figures run on a pool
// without threads, so they are single-core figures whatever the machine.

#include <benchmark/benchmark.h>

#include <vector>

#include "config/scene_params.h"
#include "render/framebuffer.h"
#include "render/parallel.h"
#include "scenes/console_operator.h"
#include "scenes/objects_scene.h"
#include "timeline/music_viz.h"

namespace {

// Arguments: 0 the orbit (bar 40), 1 the veil (bar 45), 2 the club look (bar 97).
MusicViz ArenaMusic(int look, float t) {
  MusicViz mv;
  mv.active = true;
  mv.bar = 40.0f + t * 140.0f / 240.0f;
  mv.beat = 4.0f * mv.bar;
  mv.kick = 0.6f;
  mv.lead = 0.4f;
  mv.perc = 0.3f;
  mv.build = 0.2f;
  mv.energy = 0.5f;
  mv.step_phase = 0.3f;
  mv.section_time = t;
  if (look == 1) mv.cue_veil = 1.0f;
  if (look == 2) mv.cue_club = mv.cue_reveal = 1.0f;
  return mv;
}

void BM_ArenaFrame(benchmark::State& state) {
  const ObjectsScene scene;
  ThreadPool single(0);
  Framebuffer frame(640, 360);
  const DebugParams dp;
  const SceneCameraParams cam;
  float t = 3.0f;
  for (auto _ : state) {
    scene.Draw(frame, t, dp, cam, ArenaMusic(static_cast<int>(state.range(0)), t), single);
    benchmark::DoNotOptimize(frame.pixels.data());
    t += 1.0f / 60.0f;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ArenaFrame)->ArgName("look")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Argument: slots (1 = direct). Slots run on the process pool.
void BM_ArcadeRing(benchmark::State& state) {
  std::vector<ScenePoint> ring;
  BuildRingCloud(ring);
  std::vector<std::vector<Vec3>> slots;
  SplatPlanes planes;
  Framebuffer frame(640, 360);
  const DebugParams dp;
  float t = 3.0f;
  for (auto _ : state) {
    const MusicViz mv = ArenaMusic(0, t);
    const CameraBasis camera = ObjectsCamera(t, SceneCameraParams{}, MakeObjectsMix(mv), 640, 360);
    DrawArcadeRing(frame, camera, ring, t, dp, mv, 1.0f, static_cast<std::size_t>(state.range(0)),
                   slots, planes, ThreadPool::Instance());
    benchmark::DoNotOptimize(frame.pixels.data());
    t += 1.0f / 60.0f;
  }
}
BENCHMARK(BM_ArcadeRing)->ArgName("slots")->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);

// Argument: the look, as for the whole frame (the console is drawn in the veil and club looks).
void BM_ConsoleAndOperator(benchmark::State& state) {
  Framebuffer frame(640, 360);
  const DebugParams dp;
  float t = 3.0f;
  for (auto _ : state) {
    const MusicViz mv = ArenaMusic(static_cast<int>(state.range(0)), t);
    const ObjectsMix mix = MakeObjectsMix(mv);
    const CameraBasis camera = ObjectsCamera(t, SceneCameraParams{}, mix, 640, 360);
    DrawConsoleAndOperator(frame, camera, t, dp, mv, mix.console);
    benchmark::DoNotOptimize(frame.pixels.data());
    t += 1.0f / 60.0f;
  }
}
BENCHMARK(BM_ConsoleAndOperator)->ArgName("look")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_ArenaBackdrop(benchmark::State& state) {
  Framebuffer frame(640, 360);
  const DebugParams dp;
  float t = 3.0f;
  for (auto _ : state) {
    const MusicViz mv = ArenaMusic(1, t);
    const ObjectsMix mix = MakeObjectsMix(mv);
    const CameraBasis camera = ObjectsCamera(t, SceneCameraParams{}, mix, 640, 360);
    DrawBackdrop(frame, camera, t, dp, mv, mix);
    benchmark::DoNotOptimize(frame.pixels.data());
    t += 1.0f / 60.0f;
  }
}
BENCHMARK(BM_ArenaBackdrop)->Unit(benchmark::kMillisecond);

// Argument: the look (the floor grid and the arena floor rings).
void BM_ArenaFloor(benchmark::State& state) {
  Framebuffer frame(640, 360);
  const DebugParams dp;
  float t = 3.0f;
  for (auto _ : state) {
    const MusicViz mv = ArenaMusic(static_cast<int>(state.range(0)), t);
    const ObjectsMix mix = MakeObjectsMix(mv);
    const CameraBasis camera = ObjectsCamera(t, SceneCameraParams{}, mix, 640, 360);
    DrawFloorGrid(frame, camera, t, dp, mv, mix.drive);
    DrawArenaFloor(frame, camera, t, dp, mv, mix);
    benchmark::DoNotOptimize(frame.pixels.data());
    t += 1.0f / 60.0f;
  }
}
BENCHMARK(BM_ArenaFloor)->ArgName("look")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_BuildClouds(benchmark::State& state) {
  for (auto _ : state) {
    const ObjectsScene scene;
    benchmark::DoNotOptimize(scene.ring_points.data());
  }
}
BENCHMARK(BM_BuildClouds)->Unit(benchmark::kMillisecond);

}  // namespace
