// Value noise: the fractal function against hand-computed values and a plain evaluation, its
// tiling and range, and the table and its bilinear sampler.

#include "render/noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "render/primitives.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kBound = 0.96875f;

// The noise written out term by term with no shortcuts: every octave hashes all four corners.
float PlainFractalNoise(float x, float y, std::uint32_t seed) {
  float sum = 0.0f;
  for (int k = 0; k < 5; ++k) {
    const float f = static_cast<float>(1 << k);
    const float a = 1.0f / static_cast<float>(2 << k);
    const std::int64_t period = 256 << k;
    const std::uint32_t s = seed + static_cast<std::uint32_t>(k) * 0x9E3779B9u;
    const float gx = x * f, gy = y * f;
    const std::int64_t ix = static_cast<std::int64_t>(std::floor(gx));
    const std::int64_t iy = static_cast<std::int64_t>(std::floor(gy));
    const float tx = gx - static_cast<float>(ix), ty = gy - static_cast<float>(iy);
    auto wrap = [&](std::int64_t i) { return static_cast<std::uint32_t>(((i % period) + period) % period); };
    auto lattice = [&](std::uint32_t i, std::uint32_t j) {
      return static_cast<float>(Hash32((i * 73856093u) ^ (j * 19349663u) ^ s) & 0xFFFFFFu) / 16777216.0f;
    };
    const std::uint32_t x0 = wrap(ix), x1 = wrap(ix + 1), y0 = wrap(iy), y1 = wrap(iy + 1);
    const float sx = tx * tx * (3.0f - 2.0f * tx), sy = ty * ty * (3.0f - 2.0f * ty);
    const float top = lattice(x0, y0) + (lattice(x1, y0) - lattice(x0, y0)) * sx;
    const float bottom = lattice(x0, y1) + (lattice(x1, y1) - lattice(x0, y1)) * sx;
    const float v = top + (bottom - top) * sy;
    sum += (2.0f * v - 1.0f) * a;
  }
  return sum;
}

float Texel(int col, int row, int ch) { return NoiseTable()[NoiseTexelIndex(col, row, ch)]; }

TEST(FractalNoise, HandComputedValues) {
  // At the origin every octave reads its lattice value L(0, 0) = (Hash32(s_k) & 0xFFFFFF)/2^24,
  // so the sum is sum_k (2 L_k - 1) / 2^(k+1); worked out in double precision.
  EXPECT_NEAR(FractalNoise(0.0f, 0.0f, kNoiseSeeds[0]), 0.0641181, 1e-6);
  EXPECT_NEAR(FractalNoise(0.0f, 0.0f, kNoiseSeeds[1]), -0.2674507, 1e-6);
  // x = 0.5: octave 0 halfway between L(0, 0) and L(1, 0) (smoothstep 0.5), the others on
  // lattice points.
  EXPECT_NEAR(FractalNoise(0.5f, 0.0f, kNoiseSeeds[0]), 0.2728852, 1e-6);
}

TEST(FractalNoise, EqualsPlainEvaluationEverywhere) {
  std::uint32_t state = 1;
  for (int n = 0; n < 20000; ++n) {
    state = Hash32(state + 0x9E3779B9u);
    const float x = (static_cast<float>(state & 0xFFFF) - 32768.0f) * 0.013f;
    const float y = (static_cast<float>(state >> 16) - 32768.0f) * 0.0071f;
    const std::uint32_t seed = kNoiseSeeds[n & 3] ^ (state & 0x100u);
    ASSERT_EQ(FractalNoise(x, y, seed), PlainFractalNoise(x, y, seed)) << x << "," << y;
  }
  // Texel positions, where the fast path skips corners with zero weight.
  for (int row : {0, 1, 2, 3, 511, 1023}) {
    for (int col = 0; col < 8; ++col) {
      const float x = col * 0.25f, y = row * 0.25f;
      ASSERT_EQ(FractalNoise(x, y, kNoiseSeeds[2]), PlainFractalNoise(x, y, kNoiseSeeds[2]));
    }
  }
}

TEST(FractalNoise, TilesEvery256UnitsAndStaysInRange) {
  for (float x = -3.0f; x < 3.0f; x += 0.171875f) {
    for (float y = -2.0f; y < 2.0f; y += 0.390625f) {
      const float v = FractalNoise(x, y, kNoiseSeeds[3]);
      EXPECT_EQ(FractalNoise(x + 256.0f, y, kNoiseSeeds[3]), v);
      EXPECT_EQ(FractalNoise(x, y - 256.0f, kNoiseSeeds[3]), v);
      EXPECT_EQ(FractalNoise(x + 512.0f, y + 768.0f, kNoiseSeeds[3]), v);
      EXPECT_GE(v, -kBound);
      EXPECT_LT(v, kBound);
    }
  }
  // Huge coordinates are whole multiples of every period and read the origin column.
  EXPECT_EQ(FractalNoise(1e9f, 0.3f, kNoiseSeeds[0]), FractalNoise(0.0f, 0.3f, kNoiseSeeds[0]));
  EXPECT_EQ(FractalNoise(-1e30f, 0.3f, kNoiseSeeds[0]), FractalNoise(0.0f, 0.3f, kNoiseSeeds[0]));
  EXPECT_EQ(FractalNoise(3e38f, 3e38f, kNoiseSeeds[0]), FractalNoise(0.0f, 0.0f, kNoiseSeeds[0]));
  EXPECT_EQ(FractalNoise(kNaN, 1.0f, kNoiseSeeds[0]), 0.0f);
  EXPECT_EQ(FractalNoise(1.0f, -kInf, kNoiseSeeds[0]), 0.0f);
}

TEST(NoiseTable, HoldsTheFourFieldsAndIsReproducible) {
  const float* table = NoiseTable();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(table) % 32, 0u);
  EXPECT_EQ(NoiseTable(), table);  // built once
  for (int ch = 0; ch < 4; ++ch) {
    for (int i = 0; i < 200; ++i) {
      const int col = static_cast<int>(Hash32(i * 2 + 1) & 1023), row = static_cast<int>(Hash32(i * 2) & 1023);
      ASSERT_EQ(Texel(col, row, ch), FractalNoise(col * 0.25f, row * 0.25f, kNoiseSeeds[ch]));
    }
    EXPECT_EQ(Texel(1023, 1023, ch), FractalNoise(255.75f, 255.75f, kNoiseSeeds[ch]));
    // Column 1024 repeats column 0 on every row, so a texel's right-hand neighbour is the next
    // float, also at the seam.
    for (int row = 0; row < kNoiseTableSize; ++row) ASSERT_EQ(Texel(1024, row, ch), Texel(0, row, ch)) << row;
  }
  // A second build gives the same table; every value in range; channels are unrelated fields.
  std::unique_ptr<float[]> again(new float[kNoiseTableFloats]);
  BuildNoiseTable(again.get());
  double sum[4] = {}, sq[4] = {}, cross01 = 0.0;
  for (std::size_t i = 0; i < kNoiseTableFloats; ++i) {
    ASSERT_EQ(again[i], table[i]) << "index " << i;
    ASSERT_GE(table[i], -kBound);
    ASSERT_LT(table[i], kBound);
    const std::size_t ch = i / kNoisePlaneFloats;
    sum[ch] += table[i];
    sq[ch] += static_cast<double>(table[i]) * table[i];
    if (ch == 0) cross01 += static_cast<double>(table[i]) * table[i + kNoisePlaneFloats];
  }
  const double n = static_cast<double>(kNoisePlaneFloats);
  double sd[4];
  for (int ch = 0; ch < 4; ++ch) {
    sd[ch] = std::sqrt(sq[ch] / n - (sum[ch] / n) * (sum[ch] / n));
    EXPECT_GT(sd[ch], 0.1) << "channel " << ch << " is nearly flat";
  }
  const double corr = (cross01 / n - (sum[0] / n) * (sum[1] / n)) / (sd[0] * sd[1]);
  EXPECT_LT(std::fabs(corr), 0.05);
}

TEST(SampleNoise, ReadsTexelsAndInterpolatesAcrossTheWrap) {
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(SampleNoise(0.0f, 0.0f, ch), Texel(0, 0, ch));
    EXPECT_EQ(SampleNoise(12.25f, 100.75f, ch), Texel(49, 403, ch));
    EXPECT_EQ(SampleNoise(-0.25f, 0.5f, ch), Texel(1023, 2, ch));
    EXPECT_EQ(SampleNoise(3.0f, -0.25f, ch), Texel(12, 1023, ch));
    // Halfway between the last column and the first: the seam is interpolated, not clamped.
    const float seam = Texel(1023, 4, ch) + (Texel(0, 4, ch) - Texel(1023, 4, ch)) * 0.5f;
    EXPECT_EQ(SampleNoise(255.875f, 1.0f, ch), seam);
    EXPECT_EQ(SampleNoise(-0.125f, 1.0f, ch), seam);
  }
  // Bilinear in both directions inside a texel.
  const float t00 = Texel(8, 20, 1), t10 = Texel(9, 20, 1), t01 = Texel(8, 21, 1), t11 = Texel(9, 21, 1);
  const float top = t00 + (t10 - t00) * 0.25f, bottom = t01 + (t11 - t01) * 0.25f;
  EXPECT_EQ(SampleNoise(2.0625f, 5.125f, 1), top + (bottom - top) * 0.5f);
}

TEST(SampleNoise, TilesAndSurvivesAnyCoordinate) {
  for (float x = -5.0f; x < 5.0f; x += 0.3125f) {
    for (float y = -5.0f; y < 5.0f; y += 0.4375f) {
      const float v = SampleNoise(x, y, 2);
      EXPECT_EQ(SampleNoise(x + 256.0f, y, 2), v);
      EXPECT_EQ(SampleNoise(x, y + 256.0f, 2), v);
      EXPECT_EQ(SampleNoise(x - 1024.0f, y - 512.0f, 2), v);
    }
  }
  EXPECT_EQ(SampleNoise(1e9f, 0.5f, 0), SampleNoise(0.0f, 0.5f, 0));
  EXPECT_EQ(SampleNoise(-1e30f, 0.5f, 3), SampleNoise(0.0f, 0.5f, 3));
  EXPECT_EQ(SampleNoise(kNaN, 0.5f, 1), SampleNoise(0.0f, 0.5f, 1));
  EXPECT_EQ(SampleNoise(0.5f, -kInf, 1), SampleNoise(0.5f, 0.0f, 1));
  EXPECT_TRUE(std::isfinite(SampleNoise(3e38f, kNaN, 2)));
}

}  // namespace
