#pragma once
// Four floats at a time with SSE2 (part of every x86-64 processor), for evaluating the terrain at
// four nearby points together. Every operation is the single-precision IEEE operation the scalar
// code performs (add, subtract, multiply and divide are correctly rounded in both), and the
// helpers below reproduce the scalar clamps and comparisons including their NaN behaviour, so a
// lane gives the same bits as the scalar formula written with the same operations in the same
// order. No reciprocal approximations, no fused multiply-add.

#include <emmintrin.h>

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

}  // namespace canyon_lanes
