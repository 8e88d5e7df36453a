#pragma once
// Eight floats at a time with AVX2 for the canyon's fast paths (terrain, shading, sky), on the
// lanes of render/lanes8.h. Only for code compiled into functions with the "avx2" target and
// called where the processor has AVX2 (canyon_detail::FastLanesAvailable). Every helper performs
// the same single-precision operations as the scalar code it mirrors, so a lane gives the scalar
// bits where the callers keep the same order.

#include <immintrin.h>

#include <cstdint>

#include "render/lanes8.h"
#include "render/math.h"
#include "render/noise.h"

namespace canyon_lanes8 {

using lanes8::Abs8;
using lanes8::AllSet;
using lanes8::AnySet;
using lanes8::Clamp01x8;
using lanes8::Clamp8;
using lanes8::I8;
using lanes8::Load8;
using lanes8::Select;
using lanes8::Splat8;
using lanes8::Store8;
using lanes8::V8;

KESTREL_AVX2 V8 SS8(V8 t) {
  return t * t * (Splat8(3.0f) - Splat8(2.0f) * t);
}
// A noise value mapped to [0, 1].
KESTREL_AVX2 V8 N01x8(V8 n) {
  return Clamp01x8((n + 1.0f) * 0.5f);
}

// Each channel of c (three lanes of colour) moved toward the target's by `amount`.
KESTREL_AVX2 void LerpTo8(V8* c, Vec3 target, V8 amount) {
  c[0] = c[0] + (target.x - c[0]) * amount;
  c[1] = c[1] + (target.y - c[1]) * amount;
  c[2] = c[2] + (target.z - c[2]) * amount;
}

// The table values of texel row r (times the table size), column c and one channel.
KESTREL_AVX2 V8 TableRead8(const float* table, I8 r, I8 c, std::int32_t channel) {
  const I8 index = ((r + c) << 2) + channel;
  return reinterpret_cast<V8>(_mm256_i32gather_ps(table, reinterpret_cast<__m256i>(index), 4));
}

// SampleNoise in each lane, the four table reads of a lane as four gathers. The coordinates
// times the texel density must stay within the int range (the canyon's lanes ensure it by their
// limits on the points and the clock, kLaneMaxCoordinate and kLaneMaxTime): there SampleNoise
// needs no wrapping either, and each lane gives exactly its value.
KESTREL_AVX2 V8 Noise8(const float* table, V8 x, V8 y, int ch) {
  static_assert(kNoiseTableSize == 1 << 10 && kNoiseChannels == 4, "shifts below");
  const V8 u = x * kNoiseTexelsPerUnit;
  const V8 w = y * kNoiseTexelsPerUnit;
  // The cell and the position inside it (floor is exact for these magnitudes).
  const V8 u_floor = reinterpret_cast<V8>(_mm256_floor_ps(reinterpret_cast<__m256>(u)));
  const V8 w_floor = reinterpret_cast<V8>(_mm256_floor_ps(reinterpret_cast<__m256>(w)));
  const I8 iu = __builtin_convertvector(u_floor, I8);
  const I8 iw = __builtin_convertvector(w_floor, I8);
  const V8 fu = u - u_floor;
  const V8 fw = w - w_floor;
  const I8 c0 = iu & (kNoiseTableSize - 1);
  const I8 c1 = (iu + 1) & (kNoiseTableSize - 1);
  const I8 r0 = (iw & (kNoiseTableSize - 1)) << 10;
  const I8 r1 = ((iw + 1) & (kNoiseTableSize - 1)) << 10;
  const std::int32_t channel = ch & (kNoiseChannels - 1);
  const V8 t00 = TableRead8(table, r0, c0, channel);
  const V8 t10 = TableRead8(table, r0, c1, channel);
  const V8 t01 = TableRead8(table, r1, c0, channel);
  const V8 t11 = TableRead8(table, r1, c1, channel);
  const V8 top = t00 + (t10 - t00) * fu;
  const V8 bottom = t01 + (t11 - t01) * fu;
  return top + (bottom - top) * fw;
}

// Noise8 for coordinates that may lie beyond the direct range: all eight lanes then take the
// scalar lookup, which wraps them.
KESTREL_AVX2 V8 Noise8Wrapped(const float* table, V8 x, V8 y, int ch) {
  const V8 limit = Splat8(2.0e9f / kNoiseTexelsPerUnit);
  if (!AllSet((Abs8(x) < limit) & (Abs8(y) < limit))) {
    alignas(32) float xs[8], ys[8], out[8];
    Store8(xs, x);
    Store8(ys, y);
    for (int k = 0; k < 8; ++k) out[k] = SampleNoise(table, xs[k], ys[k], ch);
    return Load8(out);
  }
  return Noise8(table, x, y, ch);
}

}  // namespace canyon_lanes8
