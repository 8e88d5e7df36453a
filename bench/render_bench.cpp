// Hot paths of the software renderer: splats of the sizes the scenes use (dust, dots, halos),
// splat lines and text, noise sampling and the one-time table build, and the frame resolve.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "render/framebuffer.h"
#include "render/noise.h"
#include "render/primitives.h"
#include "render/splat_kernel.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;

// Stable pseudo-random floats in [0, 1) for benchmark inputs.
float Unit(std::uint32_t i, std::uint32_t salt) { return HashUnit(i * 0x9E3779B1u ^ salt); }

struct Point {
  float x, y;
};

std::vector<Point> ScreenPoints(std::size_t count) {
  std::vector<Point> points(count);
  for (std::size_t i = 0; i < count; ++i) {
    points[i] = {Unit(static_cast<std::uint32_t>(i), 0x1234u) * kWidth,
                 Unit(static_cast<std::uint32_t>(i), 0x5678u) * kHeight};
  }
  return points;
}

void BM_Splat(benchmark::State& state) {
  const float radius = static_cast<float>(state.range(0)) / 10.0f;
  Framebuffer fb(kWidth, kHeight);
  const std::vector<Point> points = ScreenPoints(4096);
  const Vec3 colour{0.9f, 0.6f, 0.3f};
  std::size_t i = 0;
  for (auto _ : state) {
    const Point& p = points[i++ & 4095];
    Splat(fb.pixels.data(), fb.width, fb.height, p.x, p.y, radius, colour, 0.01f);
  }
  benchmark::DoNotOptimize(fb.pixels.data());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Splat)->Arg(5)->Arg(20)->Arg(70)->ArgName("radius_x10");

// The per-pixel loop alone in each of its versions (0 plain, 1 SSE2, 2 AVX2, 3 AVX-512), at the
// scenes' dot sizes and at a title halo's size, footprints wholly inside the image.
void BM_SplatKernel(benchmark::State& state) {
  const splat_kernel::KernelFn versions[] = {&splat_kernel::Reference, &splat_kernel::Sse2,
                                             &splat_kernel::Avx2, &splat_kernel::Avx512};
  const int version = static_cast<int>(state.range(0));
  if ((version == 2 && !splat_kernel::CpuHasAvx2()) ||
      (version == 3 && !splat_kernel::CpuHasAvx512())) {
    state.SkipWithError("not supported by this processor");
    return;
  }
  const splat_kernel::KernelFn kernel = versions[version];
  const float radius = static_cast<float>(state.range(1)) / 10.0f;
  const int reach = static_cast<int>(radius) + 1;
  Framebuffer fb(kWidth, kHeight);
  std::vector<Point> points = ScreenPoints(4096);
  for (Point& p : points) {
    p.x = reach + p.x * (kWidth - 2.0f * reach - 1.0f) / kWidth;
    p.y = reach + p.y * (kHeight - 2.0f * reach - 1.0f) / kHeight;
  }
  const Vec3 colour{0.9f, 0.6f, 0.3f};
  std::size_t i = 0;
  for (auto _ : state) {
    const Point& p = points[i++ & 4095];
    const int cx = static_cast<int>(p.x), cy = static_cast<int>(p.y);
    kernel(fb.pixels.data(), fb.width, p.x, p.y, radius, colour, 0.01f,
           {cx - reach, cx + reach}, {cy - reach, cy + reach});
  }
  benchmark::DoNotOptimize(fb.pixels.data());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SplatKernel)
    ->ArgsProduct({{0, 1, 2, 3}, {15, 40, 70, 300}})
    ->ArgNames({"version", "radius_x10"});

void BM_SplatLine(benchmark::State& state) {
  Framebuffer fb(kWidth, kHeight);
  const std::vector<Point> points = ScreenPoints(4096);
  std::size_t i = 0;
  for (auto _ : state) {
    const Point& a = points[i++ & 4095];
    const Point& b = points[i++ & 4095];
    SplatLine(fb, Vec2{a.x, a.y}, Vec2{b.x, b.y}, Vec3{0.2f, 0.5f, 1.0f}, 0.01f, 1.2f);
  }
  benchmark::DoNotOptimize(fb.pixels.data());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SplatLine);

void BM_DrawSplatText(benchmark::State& state) {
  Framebuffer fb(kWidth, kHeight);
  float phase = 0.0f;
  for (auto _ : state) {
    DrawSplatText(fb, 40.0f, 150.0f, "GREETINGS TO ALL KESTREL FRIENDS", Vec3{1.0f, 0.8f, 0.5f},
                  0.02f, 0.9f, 3.0f, 0.6f, phase);
    phase += 0.01f;
  }
  benchmark::DoNotOptimize(fb.pixels.data());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrawSplatText);

void BM_SampleNoise(benchmark::State& state) {
  NoiseTable();  // the one-time build is not part of a sample
  float x = 12.3f;
  float acc = 0.0f;
  std::uint32_t ch = 0;
  for (auto _ : state) {
    // A slowly wandering ray, like the terrain march through one column.
    acc += SampleNoise(x, x * 0.37f + 3.1f, static_cast<int>(ch++ & 3));
    x += 0.173f;
    if (x > 4000.0f) x -= 4000.0f;
  }
  benchmark::DoNotOptimize(acc);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SampleNoise);

void BM_NoiseTableBuild(benchmark::State& state) {
  std::unique_ptr<float[]> table(new float[kNoiseTableFloats]);
  for (auto _ : state) {
    BuildNoiseTable(table.get());
    benchmark::DoNotOptimize(table.get());
  }
}
BENCHMARK(BM_NoiseTableBuild)->Unit(benchmark::kMillisecond)->Iterations(3);

// A frame-like image: a third dark, the rest spread over the whole curve with some hot spots.
void FillFrameLike(Framebuffer& fb) {
  for (std::size_t i = 0; i < fb.pixels.size(); ++i) {
    const std::uint32_t n = static_cast<std::uint32_t>(i);
    const float level = Unit(n, 0xABCDu) < 0.33f ? 0.0f : Unit(n, 0x1111u) * 3.0f;
    fb.pixels[i] = Vec3{level, level * Unit(n, 0x2222u), level * Unit(n, 0x3333u) * 0.5f};
  }
}

void BM_ResolveRgba8(benchmark::State& state) {
  Framebuffer fb(kWidth, kHeight);
  FillFrameLike(fb);
  fb.ResolveRgba8();  // builds the threshold table once
  for (auto _ : state) {
    fb.ResolveRgba8();
    benchmark::DoNotOptimize(fb.rgba.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_ResolveRgba8)->Unit(benchmark::kMicrosecond);

// The same frame through the direct curve (three expf per pixel), for comparison.
void BM_ResolveDirectExpf(benchmark::State& state) {
  Framebuffer fb(kWidth, kHeight);
  FillFrameLike(fb);
  for (auto _ : state) {
    for (std::size_t i = 0; i < fb.pixels.size(); ++i) {
      const Vec3& p = fb.pixels[i];
      fb.rgba[i] = kOpaqueBlack + ToneCurveByte(p.z) * 65536u + ToneCurveByte(p.y) * 256u +
                   ToneCurveByte(p.x);
    }
    benchmark::DoNotOptimize(fb.rgba.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_ResolveDirectExpf)->Unit(benchmark::kMicrosecond);


// The tracker display's glow: thirteen offset AddImage passes of a 410 x 204 layer region that
// holds eleven rows of halo text, by the gathered rows (arg 1) or the plain split (arg 0).
void BM_AddImageGlowTaps(benchmark::State& state) {
  Framebuffer fb(kWidth, kHeight);
  Framebuffer layer(kWidth, kHeight);
  for (int row = 0; row < 16; ++row) {
    DrawSplatText(layer, 284.0f, 127.0f + 10.0f * static_cast<float>(row),
                  ">1F C-401 D#502 ----- G-4 A#3 KIK", Vec3{0.6f, 2.4f, 1.4f}, 0.04f, 1.5f, 1.0f,
                  0.2f, 0.0f);
  }
  const bool gather = state.range(0) != 0;
  if (gather) LimitAddImageVectors(static_cast<int>(state.range(0)));
  const float taps[13][3] = {{0.0f, 0.0f, 0.032f},    {-0.55f, -0.2f, 0.074f},
                             {0.7f, 0.15f, 0.074f},   {-1.25f, 0.35f, 0.063f},
                             {1.35f, -0.3f, 0.063f},  {-0.15f, -1.2f, 0.055f},
                             {0.25f, 1.35f, 0.055f},  {-2.35f, -0.45f, 0.039f},
                             {2.45f, 0.4f, 0.039f},   {-1.8f, 1.65f, 0.028f},
                             {1.9f, -1.7f, 0.028f},   {-3.8f, 0.2f, 0.019f},
                             {3.85f, -0.15f, 0.019f}};
  for (auto _ : state) {
    fb.Fill(Vec3{});
    for (const auto& t : taps) {
      if (gather) {
        fb.AddImage(layer, 248, 92, 410, 204, 248.0f + t[0], 92.0f + t[1], t[2]);
      } else {
        AddImageReference(fb, layer, 248, 92, 410, 204, 248.0f + t[0], 92.0f + t[1], t[2]);
      }
    }
    benchmark::DoNotOptimize(fb.pixels.data());
  }
  LimitAddImageVectors(512);
}
BENCHMARK(BM_AddImageGlowTaps)->Arg(0)->Arg(128)->Arg(256)->ArgName("bits")->Unit(benchmark::kMicrosecond);

}  // namespace
