#include "render/noise.h"

#include <cmath>
#include <cstdlib>
#include <new>

#include "render/primitives.h"

namespace {

constexpr int kOctaves = 5;
constexpr std::uint32_t kOctaveSeedStep = 0x9E3779B9u;
constexpr int kBasePeriod = 256;  // noise units after which every octave repeats

// Lattice value in [0, 1) at integer point (i, j) of an octave with seed s.
inline float LatticeValue(std::uint32_t i, std::uint32_t j, std::uint32_t s) {
  const std::uint32_t h = Hash32((i * 73856093u) ^ (j * 19349663u) ^ s);
  return static_cast<float>(h & 0xFFFFFFu) * (1.0f / 16777216.0f);
}

// Cell index (wrapped into [0, period)) and fraction of one lattice coordinate.
struct LatticeCoord {
  std::uint32_t c0;
  std::uint32_t c1;
  float frac;
};
inline LatticeCoord Wrap(float g, int period) {
  // Beyond the int range floats are whole numbers, so their exact remainder gives the same
  // wrapped cell. An infinite g comes from a huge finite coordinate times the octave frequency;
  // such a coordinate is a multiple of every period, so it wraps to 0.
  if (!(std::fabs(g) < 2.0e9f)) {
    g = std::isfinite(g) ? std::fmod(g, static_cast<float>(period)) : 0.0f;
  }
  const int ig = FloorToInt(g);
  // The period is a power of two, so masking the two's-complement cell index gives the
  // non-negative remainder, also for negative cells.
  const std::uint32_t cell = static_cast<std::uint32_t>(ig);
  const std::uint32_t mask = static_cast<std::uint32_t>(period) - 1u;
  return {cell & mask, (cell + 1u) & mask, g - static_cast<float>(ig)};
}

// The fractal noise of N fields with different seeds at one point: the lattice geometry of each
// octave is shared, the hashes and sums are per seed. Every field gets exactly the arithmetic of
// a single evaluation, so FractalNoise and the table agree bit for bit.
template <int N>
void FractalNoiseFields(float x, float y, const std::uint32_t* seeds, float* out) {
  float sum[N] = {};
  if (!std::isfinite(x) || !std::isfinite(y)) {
    for (int n = 0; n < N; ++n) out[n] = 0.0f;
    return;
  }
  float amplitude = 0.5f;
  float frequency = 1.0f;
  for (int k = 0; k < kOctaves; ++k) {
    const int period = kBasePeriod << k;
    const LatticeCoord cx = Wrap(x * frequency, period);
    const LatticeCoord cy = Wrap(y * frequency, period);
    const float sx = cx.frac * cx.frac * (3.0f - 2.0f * cx.frac);
    const float sy = cy.frac * cy.frac * (3.0f - 2.0f * cy.frac);
    for (int n = 0; n < N; ++n) {
      const std::uint32_t s = seeds[n] + static_cast<std::uint32_t>(k) * kOctaveSeedStep;
      // On a lattice line the weight is exactly 0 and the far corners cannot change the value
      // (a + (b - a)*0 == a), so their hashes are skipped. The table build hits this for most
      // texels of the finer octaves.
      const float l00 = LatticeValue(cx.c0, cy.c0, s);
      float top = l00;
      if (sx != 0.0f) top = l00 + (LatticeValue(cx.c1, cy.c0, s) - l00) * sx;
      float v = top;
      if (sy != 0.0f) {
        const float l01 = LatticeValue(cx.c0, cy.c1, s);
        float bottom = l01;
        if (sx != 0.0f) bottom = l01 + (LatticeValue(cx.c1, cy.c1, s) - l01) * sx;
        v = top + (bottom - top) * sy;
      }
      sum[n] += (2.0f * v - 1.0f) * amplitude;
    }
    amplitude *= 0.5f;
    frequency *= 2.0f;
  }
  for (int n = 0; n < N; ++n) out[n] = sum[n];
}

}  // namespace

float FractalNoise(float x, float y, std::uint32_t seed) {
  float value = 0.0f;
  FractalNoiseFields<1>(x, y, &seed, &value);
  return value;
}

void BuildNoiseTable(float* out) {
  for (int row = 0; row < kNoiseTableSize; ++row) {
    const float y = static_cast<float>(row) * 0.25f;
    for (int col = 0; col < kNoiseTableSize; ++col) {
      const float x = static_cast<float>(col) * 0.25f;
      float texel[kNoiseChannels];
      FractalNoiseFields<kNoiseChannels>(x, y, kNoiseSeeds, texel);
      for (int ch = 0; ch < kNoiseChannels; ++ch) out[NoiseTexelIndex(col, row, ch)] = texel[ch];
    }
    for (int ch = 0; ch < kNoiseChannels; ++ch) {
      out[NoiseTexelIndex(kNoiseTableSize, row, ch)] = out[NoiseTexelIndex(0, row, ch)];
    }
  }
}

const float* BuildNoiseTableOnce() {
  // 16 MiB, 32-byte aligned, kept until process exit.
  void* memory = std::aligned_alloc(32, kNoiseTableFloats * sizeof(float));
  if (memory == nullptr) throw std::bad_alloc();
  float* table = static_cast<float*>(memory);
  BuildNoiseTable(table);
  return table;
}
