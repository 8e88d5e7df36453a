// The title overlay at its heaviest moments: the zooming title with its echoes, subtitle, ring
// and presenter line; the greetings with both scrolling rows; the oracle head with a word; and
// greetings, head and word together (they never meet in the shipped sequence, but a custom one may
// lay them over each other).

#include <benchmark/benchmark.h>

#include "overlays/oracle_subtitles.h"
#include "overlays/title_overlay.h"
#include "render/framebuffer.h"
#include "render/coarse_glow.h"

namespace {

struct Moment {
  float bar;
  float title, intro, greets, scan;
  int scene;
};

// The overlay as the show draws it, with its wide glow at coarser resolutions, or with every dot at
// full resolution (the plain path).
void RunOverlay(benchmark::State& state, const Moment& m, bool coarse = true) {
  // Kept across runs and cleared instead (fresh images would count their page faults).
  static Framebuffer fb(640, 360);
  static CoarseGlow glow;
  PrepareCoarseGlow(glow, fb.width, fb.height);
  fb.Fill(Vec3{});
  MusicViz mv;
  mv.active = true;
  mv.bar = m.bar;
  mv.scene = m.scene;
  mv.cue_title = m.title;
  mv.cue_intro = m.intro;
  mv.cue_greets = m.greets;
  mv.cue_scan = m.scan;
  mv.lead = 0.6f;
  mv.kick = 0.5f;
  TitleOverlayClock clock;
  clock.clock_bar = m.bar;
  float time = m.bar * 240.0f / 140.0f;
  for (auto _ : state) {
    DrawTitleOverlay(fb, time, mv, clock, coarse ? &glow : nullptr);
    time += 1.0f / 60.0f;
    benchmark::DoNotOptimize(fb.pixels.data());
  }
}

// Bar 4.6 over the canyon: title, echoes, subtitle echoes, ring and presenter line.
void BM_OverlayTitleWithEchoes(benchmark::State& state) {
  RunOverlay(state, {4.6f, 1.0f, 0.0f, 0.0f, 0.0f, 1});
}
BENCHMARK(BM_OverlayTitleWithEchoes);

void BM_OverlayTitleWithEchoesFullRes(benchmark::State& state) {
  RunOverlay(state, {4.6f, 1.0f, 0.0f, 0.0f, 0.0f, 1}, false);
}
BENCHMARK(BM_OverlayTitleWithEchoesFullRes);

// Bar 6.3: the title settled, the subtitle zooming with its echoes.
void BM_OverlaySubtitleEchoes(benchmark::State& state) {
  RunOverlay(state, {6.3f, 1.0f, 0.0f, 0.0f, 0.0f, 1});
}
BENCHMARK(BM_OverlaySubtitleEchoes);

// Bar 104 in the arena: the greetings screen.
void BM_OverlayGreetings(benchmark::State& state) {
  RunOverlay(state, {104.0f, 0.0f, 0.0f, 1.0f, 0.0f, 2});
}
BENCHMARK(BM_OverlayGreetings);

// Bar 16.3 over the dot field: the oracle head and its word.
void BM_OverlayOracle(benchmark::State& state) {
  RunOverlay(state, {16.3f, 0.0f, 0.0f, 0.0f, 1.0f, 3});
}
BENCHMARK(BM_OverlayOracle);

// Greetings (just below the level that hides the oracle) with the head and a word.
void BM_OverlayGreetingsHeadAndWords(benchmark::State& state) {
  RunOverlay(state, {16.3f, 0.0f, 0.0f, 0.99f, 1.0f, 3});
}
BENCHMARK(BM_OverlayGreetingsHeadAndWords);

}  // namespace
