// The sibling production's per-frame costs: a storyboard frame (background, its bloom, the keyed
// foreground), the bloom alone and the vector greetings.

#include <benchmark/benchmark.h>

#include "overlays/sibling.h"
#include "render/framebuffer.h"

namespace {

// A 320 x 180 picture like the data set's: a gradient, opaque; as a foreground, its left half
// keyed away.
StoryboardImage GradientImage(bool half_transparent) {
  StoryboardImage image;
  image.width = 320;
  image.height = 180;
  image.loaded = true;
  image.rgba.resize(320 * 180 * 4);
  for (int y = 0; y < 180; ++y)
    for (int x = 0; x < 320; ++x) {
      float* p = &image.rgba[(static_cast<size_t>(y) * 320 + x) * 4];
      p[0] = x / 320.0f;
      p[1] = y / 180.0f;
      p[2] = 0.5f;
      p[3] = half_transparent && x < 160 ? 0.0f : 1.0f;
    }
  return image;
}

void BM_StoryboardFrame(benchmark::State& state) {
  const int scene = static_cast<int>(state.range(0));
  Storyboard board;
  board.loaded = true;
  board.background[scene - 1] = GradientImage(false);
  board.foreground[scene - 1] = GradientImage(true);
  Framebuffer fb(640, 360);
  MusicViz mv;
  mv.kick = 0.5f;
  float t = 0.0f;
  for (auto _ : state) {
    DrawStoryboardFrame(fb, board, scene, t, 20.0f + t * 0.58f, mv);
    benchmark::DoNotOptimize(fb.pixels.data());
    t += 1.0f / 60.0f;
  }
}
BENCHMARK(BM_StoryboardFrame)->ArgName("scene")->Arg(1)->Arg(7)->Unit(benchmark::kMillisecond);

void BM_Bloom(benchmark::State& state) {
  Framebuffer fb(640, 360);
  fb.Fill({0.5f, 0.4f, 0.3f});
  for (auto _ : state) {
    Bloom(fb, 0.38f, 0.18f);
    fb.ScaleAdd(0.0f, {0.5f, 0.4f, 0.3f});
    benchmark::DoNotOptimize(fb.pixels.data());
  }
}
BENCHMARK(BM_Bloom)->Unit(benchmark::kMillisecond);

void BM_VectorGreetings(benchmark::State& state) {
  Framebuffer fb(640, 360);
  MusicViz mv;
  mv.cue_greets = static_cast<float>(state.range(0));
  const float bar = state.range(0) ? 104.0f : 3.0f;  // the greetings page, or the title cards
  for (auto _ : state) {
    DrawVectorGreetings(fb, 1.0f, bar, mv);
    fb.Fill({0, 0, 0});
    benchmark::DoNotOptimize(fb.pixels.data());
  }
}
BENCHMARK(BM_VectorGreetings)->ArgName("greets")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
