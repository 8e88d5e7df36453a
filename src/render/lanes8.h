#pragma once
// Eight floats at a time with AVX2, written with GCC's vector extensions: an operator on two V8
// values, or on a V8 and a float, acts lane by lane; comparisons give I8 masks (all bits set for
// true). Only for code compiled into functions with the "avx2" target and called where the
// processor has AVX2. The helpers perform the same single-precision operations as the scalar
// functions they mirror (with -ffp-contract=off nothing is fused), so a lane gives the scalar
// bits where the callers keep the scalar order.

#include <immintrin.h>

#include <cstdint>

namespace lanes8 {

#define KESTREL_AVX2 __attribute__((target("avx2"), always_inline)) inline

typedef float V8 __attribute__((vector_size(32)));
typedef std::int32_t I8 __attribute__((vector_size(32)));

KESTREL_AVX2 V8 Splat8(float a) {
  return V8{} + a;
}
KESTREL_AVX2 V8 Load8(const float* a) {
  return reinterpret_cast<V8>(_mm256_loadu_ps(a));
}
KESTREL_AVX2 void Store8(float* out, V8 a) {
  _mm256_storeu_ps(out, reinterpret_cast<__m256>(a));
}
KESTREL_AVX2 bool AllSet(I8 m) {
  return _mm256_movemask_ps(reinterpret_cast<__m256>(m)) == 0xFF;
}
KESTREL_AVX2 bool AnySet(I8 m) {
  return _mm256_movemask_ps(reinterpret_cast<__m256>(m)) != 0;
}
KESTREL_AVX2 V8 Select(I8 m, V8 a, V8 b) {
  return m ? a : b;
}
KESTREL_AVX2 V8 Abs8(V8 a) {
  return reinterpret_cast<V8>(reinterpret_cast<I8>(a) & 0x7FFFFFFF);
}
// Clamp01: 0 for a non-finite value, else clamped to [0, 1].
KESTREL_AVX2 V8 Clamp01x8(V8 x) {
  const V8 zero = Splat8(0.0f);
  const V8 one = Splat8(1.0f);
  V8 r = Select(x < zero, zero, x);
  r = Select(x > one, one, r);
  return Select(Abs8(x) < Splat8(__builtin_inff()), r, zero);
}
KESTREL_AVX2 V8 Floor8(V8 v) {
  return reinterpret_cast<V8>(_mm256_floor_ps(reinterpret_cast<__m256>(v)));
}
KESTREL_AVX2 V8 Sqrt8(V8 v) {
  return reinterpret_cast<V8>(_mm256_sqrt_ps(reinterpret_cast<__m256>(v)));
}
// The pair of floats at table[index] and table[index + 1] in each lane, into *first and
// *second: one 8-byte gather per lane. The lanes are gathered in the order 0, 1, 4, 5 and
// 2, 3, 6, 7, which one in-lane shuffle per result puts back in order.
KESTREL_AVX2 void GatherPairs8(const float* table, I8 index, V8* first, V8* second) {
  const __m256i order = _mm256_permute4x64_epi64(reinterpret_cast<__m256i>(index), 0xD8);  // 0, 2, 1, 3
  const double* base = reinterpret_cast<const double*>(table);
  // (The masked gather with every lane selected: GCC 12 warns of the undefined source vector
  // that the unmasked form passes.)
  const __m256d none = _mm256_setzero_pd();
  const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  const __m128i low = _mm256_castsi256_si128(order);
  const __m128i high = _mm256_extracti128_si256(order, 1);
  const __m256 a = _mm256_castpd_ps(_mm256_mask_i32gather_pd(none, base, low, all, 4));
  const __m256 b = _mm256_castpd_ps(_mm256_mask_i32gather_pd(none, base, high, all, 4));
  *first = reinterpret_cast<V8>(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  *second = reinterpret_cast<V8>(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}
// floor(v) as an int per lane, for |v| < 2^31 (other lanes get an unspecified value).
KESTREL_AVX2 I8 FloorToInt8(V8 v) {
  return __builtin_convertvector(reinterpret_cast<V8>(_mm256_floor_ps(reinterpret_cast<__m256>(v))), I8);
}
KESTREL_AVX2 V8 Clamp8(V8 x, float lo, float hi) {
  return Select(x < Splat8(lo), Splat8(lo), Select(Splat8(hi) < x, Splat8(hi), x));
}

// The same operations under names free of the width, for code written once and included for
// several widths (each inclusion inside a namespace that brings in one width's `generic`).
namespace generic {
using V = V8;
using I = I8;
inline constexpr int kLanes = 8;
KESTREL_AVX2 V Splat(float a) {
  return Splat8(a);
}
KESTREL_AVX2 V Load(const float* a) {
  return Load8(a);
}
KESTREL_AVX2 void Store(float* out, V a) {
  Store8(out, a);
}
KESTREL_AVX2 V Abs(V a) {
  return Abs8(a);
}
KESTREL_AVX2 V Clamp01(V x) {
  return Clamp01x8(x);
}
KESTREL_AVX2 V Clamp(V x, float lo, float hi) {
  return Clamp8(x, lo, hi);
}
KESTREL_AVX2 V Floor(V v) {
  return Floor8(v);
}
KESTREL_AVX2 V Sqrt(V v) {
  return Sqrt8(v);
}
KESTREL_AVX2 void GatherPairs(const float* table, I index, V* first, V* second) {
  GatherPairs8(table, index, first, second);
}
using lanes8::AllSet;
using lanes8::AnySet;
using lanes8::Select;
}  // namespace generic

}  // namespace lanes8
