#pragma once
// Polynomial sine and cosine for the per-pixel and per-dot hot paths, where libm's sinf/cosf
// cost more than the rest of the work together. The argument is reduced to [-pi/4, pi/4] by the
// nearest multiple of pi/2 in three parts (so the reduction itself loses nothing for the
// arguments the show uses, |x| up to about 10^4), then a degree-7 odd polynomial gives the
// sine and a degree-8 even one the cosine of the reduced argument. Both are within 2e-7 of the
// true value (absolute) for |x| <= 8192 and stay deterministic: plain float operations in a
// fixed order, no fused multiply-add unless the caller's build asks for it. Non-finite
// arguments give NaN, as sinf does; arguments beyond 8192 go to libm, so the result is
// accurate for every x and only the common small arguments take the fast path.

#include <emmintrin.h>

#include <cmath>
#include <cstdint>

namespace fast_math_detail {

// pi/2 split into three floats whose products with a small integer are exact (the first two
// have short mantissas), so x - k*pi/2 is formed without cancellation error.
constexpr float kHalfPiA = 1.5703125f;
constexpr float kHalfPiB = 4.837512969970703125e-4f;
constexpr float kHalfPiC = 7.54978995489188216e-8f;
constexpr float kTwoOverPi = 0.636619772367581343f;

// sin(r) and cos(r) for |r| <= pi/4 (minimax coefficients of the classic single-precision
// library polynomials).
inline float SinReduced(float r) {
  const float z = r * r;
  return ((-1.9515295891e-4f * z + 8.3321608736e-3f) * z - 1.6666654611e-1f) * z * r + r;
}
inline float CosReduced(float r) {
  const float z = r * r;
  return ((2.443315711809948e-5f * z - 1.388731625493765e-3f) * z + 4.166664568298827e-2f) * z * z -
         0.5f * z + 1.0f;
}

// The reduced argument and the quadrant (0..3) of x.
struct Reduced {
  float r;
  std::uint32_t quadrant;
};
// y rounded to the nearest whole number, ties to even, as std::nearbyint rounds in the default
// mode, without its library call: adding and taking away 1.5 * 2^23 leaves only the whole part
// for |y| < 2^22 (the sum's last bit is worth 1, and 1.5 * 2^23 is even, so ties go the same way).
inline float RoundToWhole(float y) {
  if (!(std::fabs(y) < 4194304.0f)) return std::nearbyint(y);
  constexpr float kShift = 12582912.0f;
  const float shifted = y + kShift;
  return shifted - kShift;
}

inline Reduced Reduce(float x) {
  const float k = RoundToWhole(x * kTwoOverPi);
  const float r = ((x - k * kHalfPiA) - k * kHalfPiB) - k * kHalfPiC;
  // k is a whole number (x is finite here); its two's-complement low bits give the quadrant for
  // negative k too.
  const std::int64_t whole = static_cast<std::int64_t>(k);
  return {r, static_cast<std::uint32_t>(whole) & 3u};
}

}  // namespace fast_math_detail

// sin(x) and cos(x) together (one reduction for both).
inline void FastSinCos(float x, float& s, float& c) {
  using namespace fast_math_detail;
  // Beyond the range the reduction is exact for (and for non-finite x), libm.
  if (!(std::fabs(x) <= 8192.0f)) {
    s = std::sin(x);
    c = std::cos(x);
    return;
  }
  const Reduced red = Reduce(x);
  const float sr = SinReduced(red.r);
  const float cr = CosReduced(red.r);
  switch (red.quadrant) {
    case 0:
      s = sr;
      c = cr;
      break;
    case 1:
      s = cr;
      c = -sr;
      break;
    case 2:
      s = -sr;
      c = -cr;
      break;
    default:
      s = -cr;
      c = sr;
      break;
  }
}

inline float FastSin(float x) {
  float s, c;
  FastSinCos(x, s, c);
  return s;
}

inline float FastCos(float x) {
  float s, c;
  FastSinCos(x, s, c);
  return c;
}

// FastSinCos for four arguments at once (SSE2), giving each lane exactly FastSinCos's bits: the
// same operations in the same order, the quadrant chosen by masks. Lanes beyond 8192 in magnitude
// or not finite send all four through the one-at-a-time version.
inline void FastSinCos4(__m128 x, __m128& s, __m128& c) {
  using namespace fast_math_detail;
  const __m128 sign = _mm_set1_ps(-0.0f);
  const __m128 magnitude = _mm_andnot_ps(sign, x);
  if (_mm_movemask_ps(_mm_cmple_ps(magnitude, _mm_set1_ps(8192.0f))) != 15) {
    alignas(16) float xs[4], ss[4], cs[4];
    _mm_store_ps(xs, x);
    for (int k = 0; k < 4; ++k) FastSinCos(xs[k], ss[k], cs[k]);
    s = _mm_load_ps(ss);
    c = _mm_load_ps(cs);
    return;
  }
  // Reduce: |x * 2/pi| < 2^22 here, so RoundToWhole's shift applies in every lane.
  const __m128 shift = _mm_set1_ps(12582912.0f);
  const __m128 k = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(kTwoOverPi)), shift), shift);
  const __m128 r = _mm_sub_ps(
      _mm_sub_ps(_mm_sub_ps(x, _mm_mul_ps(k, _mm_set1_ps(kHalfPiA))), _mm_mul_ps(k, _mm_set1_ps(kHalfPiB))),
      _mm_mul_ps(k, _mm_set1_ps(kHalfPiC)));
  const __m128i quadrant = _mm_and_si128(_mm_cvttps_epi32(k), _mm_set1_epi32(3));
  // SinReduced and CosReduced, term by term.
  const __m128 z = _mm_mul_ps(r, r);
  const __m128 sr = _mm_add_ps(
      _mm_mul_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(-1.9515295891e-4f), z),
                                                             _mm_set1_ps(8.3321608736e-3f)),
                                                  z),
                                       _mm_set1_ps(1.6666654611e-1f)),
                            z),
                 r),
      r);
  const __m128 cr = _mm_add_ps(
      _mm_sub_ps(
          _mm_mul_ps(
              _mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(_mm_set1_ps(2.443315711809948e-5f), z),
                                                          _mm_set1_ps(1.388731625493765e-3f)),
                                               z),
                                    _mm_set1_ps(4.166664568298827e-2f)),
                         z),
              z),
          _mm_mul_ps(_mm_set1_ps(0.5f), z)),
      _mm_set1_ps(1.0f));
  // Quadrant 0: (sr, cr); 1: (cr, -sr); 2: (-sr, -cr); 3: (-cr, sr).
  const __m128 odd = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(quadrant, _mm_set1_epi32(1)),
                                                      _mm_set1_epi32(1)));
  const __m128 sin_negative = _mm_castsi128_ps(_mm_cmpgt_epi32(quadrant, _mm_set1_epi32(1)));
  const __m128 cos_negative = _mm_castsi128_ps(
      _mm_or_si128(_mm_cmpeq_epi32(quadrant, _mm_set1_epi32(1)), _mm_cmpeq_epi32(quadrant, _mm_set1_epi32(2))));
  const __m128 s_abs = _mm_or_ps(_mm_and_ps(odd, cr), _mm_andnot_ps(odd, sr));
  const __m128 c_abs = _mm_or_ps(_mm_and_ps(odd, sr), _mm_andnot_ps(odd, cr));
  s = _mm_xor_ps(s_abs, _mm_and_ps(sin_negative, sign));
  c = _mm_xor_ps(c_abs, _mm_and_ps(cos_negative, sign));
}
