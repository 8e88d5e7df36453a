#pragma once
// Four floats at a time with SSE2 (part of every x86-64 processor), for evaluating the terrain at
// four nearby points together. Every operation is the single-precision IEEE operation the scalar
// code performs (add, subtract, multiply and divide are correctly rounded in both), and the
// helpers below reproduce the scalar clamps and comparisons including their NaN behaviour, so a
// lane gives the same bits as the scalar formula written with the same operations in the same
// order. No reciprocal approximations, no fused multiply-add.

#include <emmintrin.h>

#include <cstdint>

#include "render/noise.h"

namespace canyon_lanes {

struct F4 {
  __m128 v;
};
// One comparison result per lane: all bits set for true.
struct M4 {
  __m128 v;
};

inline F4 Splat(float a) { return {_mm_set1_ps(a)}; }
inline F4 Load(const float* a) { return {_mm_loadu_ps(a)}; }
inline void Store(float* out, F4 a) { _mm_storeu_ps(out, a.v); }

inline F4 operator+(F4 a, F4 b) { return {_mm_add_ps(a.v, b.v)}; }
inline F4 operator-(F4 a, F4 b) { return {_mm_sub_ps(a.v, b.v)}; }
inline F4 operator*(F4 a, F4 b) { return {_mm_mul_ps(a.v, b.v)}; }
inline F4 operator/(F4 a, F4 b) { return {_mm_div_ps(a.v, b.v)}; }

// Ordered comparisons: false in a lane holding a NaN, as in scalar code.
inline M4 operator<(F4 a, F4 b) { return {_mm_cmplt_ps(a.v, b.v)}; }
inline M4 operator>(F4 a, F4 b) { return {_mm_cmpgt_ps(a.v, b.v)}; }
inline M4 operator<=(F4 a, F4 b) { return {_mm_cmple_ps(a.v, b.v)}; }
inline M4 And(M4 a, M4 b) { return {_mm_and_ps(a.v, b.v)}; }
inline M4 Not(M4 a) { return {_mm_xor_ps(a.v, _mm_castsi128_ps(_mm_set1_epi32(-1)))}; }
inline M4 MaskFromBools(const bool* lanes) {
  return {_mm_castsi128_ps(_mm_set_epi32(lanes[3] ? -1 : 0, lanes[2] ? -1 : 0,
                                         lanes[1] ? -1 : 0, lanes[0] ? -1 : 0))};
}
inline bool Any(M4 m) { return _mm_movemask_ps(m.v) != 0; }

// m ? a : b per lane.
inline F4 Select(M4 m, F4 a, F4 b) {
  return {_mm_or_ps(_mm_and_ps(m.v, a.v), _mm_andnot_ps(m.v, b.v))};
}

// std::fabs: clears the sign bit.
inline F4 Abs(F4 a) { return {_mm_and_ps(a.v, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)))}; }

// Clamp01: 0 for a non-finite value, else clamped to [0, 1] (a -0 stays -0, as in scalar code).
inline F4 Clamp01(F4 x) {
  const F4 zero = Splat(0.0f);
  const F4 one = Splat(1.0f);
  F4 r = Select(x < zero, zero, x);
  r = Select(x > one, one, r);
  const M4 finite = Abs(x) < Splat(__builtin_inff());
  return Select(finite, r, zero);
}

// std::max(a, b): b when a < b, else a.
inline F4 Max(F4 a, F4 b) { return Select(a < b, b, a); }

// Smoothstep of an already clamped value: t*t*(3 - 2t).
inline F4 SS(F4 t) { return t * t * (Splat(3.0f) - Splat(2.0f) * t); }

// FloorToInt in each lane: truncate, then step down where that rounded up.
inline __m128i FloorToInt(F4 v) {
  const __m128i truncated = _mm_cvttps_epi32(v.v);
  const __m128 rounded_up = _mm_cmpgt_ps(_mm_cvtepi32_ps(truncated), v.v);
  return _mm_add_epi32(truncated, _mm_castps_si128(rounded_up));  // adds -1 there
}

// SampleNoise(table, x, y, ch) in each lane: coordinates, cells and weights four wide, the
// sixteen table reads one at a time. When a lane lies beyond the direct coordinate range, all
// four take the scalar lookup (which wraps them).
inline F4 SampleNoise4(const float* table, F4 x, F4 y, int ch) {
  static_assert(kNoiseTableSize == 1 << 10 && kNoiseChannels == 4, "shifts below");
  const F4 u = x * Splat(kNoiseTexelsPerUnit);
  const F4 w = y * Splat(kNoiseTexelsPerUnit);
  const F4 limit = Splat(2.0e9f);
  if (_mm_movemask_ps(And(Abs(u) < limit, Abs(w) < limit).v) != 15) {
    float xs[4];
    float ys[4];
    float out[4];
    Store(xs, x);
    Store(ys, y);
    for (int k = 0; k < 4; ++k) out[k] = SampleNoise(table, xs[k], ys[k], ch);
    return Load(out);
  }
  const __m128i iu = FloorToInt(u);
  const __m128i iw = FloorToInt(w);
  const F4 fu = u - F4{_mm_cvtepi32_ps(iu)};
  const F4 fw = w - F4{_mm_cvtepi32_ps(iw)};
  const __m128i mask = _mm_set1_epi32(kNoiseTableSize - 1);
  const __m128i one = _mm_set1_epi32(1);
  const __m128i col = _mm_and_si128(iu, mask);
  const __m128i row0 = _mm_and_si128(iw, mask);
  const __m128i row1 = _mm_and_si128(_mm_add_epi32(iw, one), mask);
  // NoiseTexelIndex(col, row, ch): row*1025 as row*1024 + row.
  static_assert(kNoiseRowFloats == (1 << 10) + 1, "row stride below");
  const std::int32_t plane_start =
      static_cast<std::int32_t>(NoiseTexelIndex(0, 0, ch & (kNoiseChannels - 1)));
  const __m128i plane = _mm_set1_epi32(plane_start);
  const auto index = [plane, col](__m128i row) {
    return _mm_add_epi32(_mm_add_epi32(plane, col), _mm_add_epi32(_mm_slli_epi32(row, 10), row));
  };
  alignas(16) std::int32_t i0[4];
  alignas(16) std::int32_t i1[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(i0), index(row0));
  _mm_store_si128(reinterpret_cast<__m128i*>(i1), index(row1));
  // Each texel's right-hand neighbour is the next float.
  const F4 t00{_mm_setr_ps(table[i0[0]], table[i0[1]], table[i0[2]], table[i0[3]])};
  const F4 t10{_mm_setr_ps(table[i0[0] + 1], table[i0[1] + 1], table[i0[2] + 1], table[i0[3] + 1])};
  const F4 t01{_mm_setr_ps(table[i1[0]], table[i1[1]], table[i1[2]], table[i1[3]])};
  const F4 t11{_mm_setr_ps(table[i1[0] + 1], table[i1[1] + 1], table[i1[2] + 1], table[i1[3] + 1])};
  const F4 top = t00 + (t10 - t00) * fu;
  const F4 bottom = t01 + (t11 - t01) * fu;
  return top + (bottom - top) * fw;
}

}  // namespace canyon_lanes
