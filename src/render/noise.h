#pragma once
// Four independent fractal value-noise fields, computed once into one seamlessly tiling table of
// four 1024 x 1024 planes and read back with bilinear interpolation. The canyon's terrain, colours,
// sky, mist and river all sample it thousands of times per column per frame.

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "render/math.h"

// Texels per side; the table covers 256 x 256 noise units at 4 texels per unit.
constexpr int kNoiseTableSize = 1024;
constexpr int kNoiseChannels = 4;
// Each channel is a plane of 1024 rows. A row holds its 1024 texels and then its first texel
// again, so a texel's right-hand neighbour is always the next float: the bilinear lookups read
// the two as one pair (the vector ones with one 8-byte gather per pair).
constexpr int kNoiseRowFloats = kNoiseTableSize + 1;
constexpr std::size_t kNoisePlaneFloats = static_cast<std::size_t>(kNoiseRowFloats) * kNoiseTableSize;
constexpr std::size_t kNoiseTableFloats = kNoisePlaneFloats * kNoiseChannels;
// Where texel (col, row) of channel ch lies; col may be 1024, the copy of column 0.
constexpr std::size_t NoiseTexelIndex(int col, int row, int ch) {
  return static_cast<std::size_t>(ch) * kNoisePlaneFloats + static_cast<std::size_t>(row) * kNoiseRowFloats +
         static_cast<std::size_t>(col);
}
// Texels per noise unit.
constexpr float kNoiseTexelsPerUnit = 4.0f;
// One seed per channel, so the four fields are unrelated.
constexpr std::uint32_t kNoiseSeeds[kNoiseChannels] = {0x38A5B9D1u, 0x7BD34F29u, 0xC21F6B4Du,
                                                       0x91E8A743u};

// Five octaves of lattice value noise (frequencies 1 to 16, amplitudes 0.5 to 0.03125), each
// repeating after 256 units; the result lies in [-0.96875, 0.96875). Non-finite x or y give 0.
float FractalNoise(float x, float y, std::uint32_t seed);

// Fills `out` (kNoiseTableFloats floats) with the table: texel (col, row) of channel ch, at
// NoiseTexelIndex(col, row, ch), holds FractalNoise(col*0.25, row*0.25, kNoiseSeeds[ch]), and
// column 1024 repeats column 0.
void BuildNoiseTable(float* out);

// The process-wide table, built on first use (thread-safe: a thread asking during the build
// waits for it) and read-only afterwards. Lives until process exit.
const float* BuildNoiseTableOnce();
inline const float* NoiseTable() {
  static const float* const table = BuildNoiseTableOnce();
  return table;
}

// Coordinates beyond the int range wrap exactly (they are whole numbers there); NaN and
// infinity map to 0. Keeps the float-to-int conversions below defined for every input.
inline float WrapNoiseCoordinate(float u) {
  if (!std::isfinite(u)) return 0.0f;
  return std::fmod(u, static_cast<float>(kNoiseTableSize));
}

// Bilinear lookup of channel ch (0 ... 3) at texel position (4x, 4y) in `table` (the one
// NoiseTable returns), wrapping in both directions. Hot loops fetch the table once and call this,
// which skips the once-only check of NoiseTable on every sample.
inline float SampleNoise(const float* table, float x, float y, int ch) {
  float u = x * kNoiseTexelsPerUnit;
  float w = y * kNoiseTexelsPerUnit;
  if (!(std::fabs(u) < 2.0e9f)) u = WrapNoiseCoordinate(u);
  if (!(std::fabs(w) < 2.0e9f)) w = WrapNoiseCoordinate(w);
  const int iu = FloorToInt(u);
  const int iw = FloorToInt(w);
  const float fu = u - static_cast<float>(iu);
  const float fw = w - static_cast<float>(iw);
  constexpr int kMask = kNoiseTableSize - 1;
  const int col = iu & kMask;
  const float* row0 = table + NoiseTexelIndex(col, iw & kMask, ch & (kNoiseChannels - 1));
  const float* row1 = table + NoiseTexelIndex(col, (iw + 1) & kMask, ch & (kNoiseChannels - 1));
  const float t00 = row0[0];
  const float t10 = row0[1];
  const float t01 = row1[0];
  const float t11 = row1[1];
  const float top = t00 + (t10 - t00) * fu;
  const float bottom = t01 + (t11 - t01) * fu;
  return top + (bottom - top) * fw;
}

// The same lookup in the process-wide table; approximates FractalNoise(x, y, kNoiseSeeds[ch]).
inline float SampleNoise(float x, float y, int ch) { return SampleNoise(NoiseTable(), x, y, ch); }
