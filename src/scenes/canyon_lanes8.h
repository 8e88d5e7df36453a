#pragma once
// Eight floats at a time with AVX2, for the canyon's fast paths (terrain, shading, sky). Only for
// code compiled into functions with the "avx2" target and called where the processor has AVX2
// (canyon_detail::FastLanesAvailable). Written with GCC's vector extensions: an operator on two
// V8 values, or on a V8 and a float, acts lane by lane; comparisons give I8 masks (all bits set
// for true). Every helper performs the same single-precision operations as the scalar code it
// mirrors, so a lane gives the scalar bits where the callers keep the same order.

#include <immintrin.h>

#include <cstdint>

#include "render/math.h"
#include "render/noise.h"

namespace canyon_lanes8 {

#define KESTREL_AVX2 __attribute__((target("avx2"), always_inline)) inline

typedef float V8 __attribute__((vector_size(32)));
typedef std::int32_t I8 __attribute__((vector_size(32)));

KESTREL_AVX2 V8 Splat8(float a) { return V8{} + a; }
KESTREL_AVX2 V8 Load8(const float* a) { return reinterpret_cast<V8>(_mm256_loadu_ps(a)); }
KESTREL_AVX2 void Store8(float* out, V8 a) { _mm256_storeu_ps(out, reinterpret_cast<__m256>(a)); }
KESTREL_AVX2 bool AllSet(I8 m) { return _mm256_movemask_ps(reinterpret_cast<__m256>(m)) == 0xFF; }
KESTREL_AVX2 bool AnySet(I8 m) { return _mm256_movemask_ps(reinterpret_cast<__m256>(m)) != 0; }
KESTREL_AVX2 V8 Select(I8 m, V8 a, V8 b) { return m ? a : b; }
KESTREL_AVX2 V8 Abs8(V8 a) { return reinterpret_cast<V8>(reinterpret_cast<I8>(a) & 0x7FFFFFFF); }
// Clamp01: 0 for a non-finite value, else clamped to [0, 1].
KESTREL_AVX2 V8 Clamp01x8(V8 x) {
  const V8 zero = Splat8(0.0f);
  const V8 one = Splat8(1.0f);
  V8 r = Select(x < zero, zero, x);
  r = Select(x > one, one, r);
  return Select(Abs8(x) < Splat8(__builtin_inff()), r, zero);
}
KESTREL_AVX2 V8 Clamp8(V8 x, float lo, float hi) {
  return Select(x < Splat8(lo), Splat8(lo), Select(Splat8(hi) < x, Splat8(hi), x));
}
KESTREL_AVX2 V8 SS8(V8 t) { return t * t * (Splat8(3.0f) - Splat8(2.0f) * t); }
// A noise value mapped to [0, 1].
KESTREL_AVX2 V8 N01x8(V8 n) { return Clamp01x8((n + 1.0f) * 0.5f); }

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
