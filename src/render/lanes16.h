#pragma once
// Sixteen floats at a time with AVX-512, the counterpart of render/lanes8.h: the same helpers on
// 64-byte vectors, for code compiled into functions with the "avx512f" target and called where
// the processor has AVX-512F. Lane by lane each helper performs the same single-precision
// operation as its eight-lane twin, so code written once for both widths gives the same bits.

#include <immintrin.h>

#include <cstdint>

namespace lanes16 {

#define KESTREL_AVX512 __attribute__((target("avx512f"), always_inline)) inline

typedef float V16 __attribute__((vector_size(64)));
typedef std::int32_t I16 __attribute__((vector_size(64)));

KESTREL_AVX512 V16 Splat16(float a) {
  return V16{} + a;
}
KESTREL_AVX512 V16 Load16(const float* a) {
  return reinterpret_cast<V16>(_mm512_loadu_ps(a));
}
KESTREL_AVX512 void Store16(float* out, V16 a) {
  _mm512_storeu_ps(out, reinterpret_cast<__m512>(a));
}
KESTREL_AVX512 bool AllSet(I16 m) {
  return _mm512_cmpneq_epi32_mask(reinterpret_cast<__m512i>(m), _mm512_setzero_si512()) == 0xFFFF;
}
KESTREL_AVX512 bool AnySet(I16 m) {
  return _mm512_cmpneq_epi32_mask(reinterpret_cast<__m512i>(m), _mm512_setzero_si512()) != 0;
}
KESTREL_AVX512 V16 Select(I16 m, V16 a, V16 b) {
  return m ? a : b;
}
KESTREL_AVX512 V16 Abs16(V16 a) {
  return reinterpret_cast<V16>(reinterpret_cast<I16>(a) & 0x7FFFFFFF);
}
// Clamp01: 0 for a non-finite value, else clamped to [0, 1].
KESTREL_AVX512 V16 Clamp01x16(V16 x) {
  const V16 zero = Splat16(0.0f);
  const V16 one = Splat16(1.0f);
  V16 r = Select(x < zero, zero, x);
  r = Select(x > one, one, r);
  return Select(Abs16(x) < Splat16(__builtin_inff()), r, zero);
}
KESTREL_AVX512 V16 Clamp16(V16 x, float lo, float hi) {
  return Select(x < Splat16(lo), Splat16(lo), Select(Splat16(hi) < x, Splat16(hi), x));
}
// (Here and below the masked forms of the intrinsics, with every lane selected, because GCC 12
// warns of the undefined source vector that the unmasked forms pass.)
KESTREL_AVX512 V16 Floor16(V16 v) {
  const __m512 in = reinterpret_cast<__m512>(v);
  return reinterpret_cast<V16>(
      _mm512_mask_roundscale_ps(in, 0xFFFF, in, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
}
KESTREL_AVX512 V16 Sqrt16(V16 v) {
  const __m512 in = reinterpret_cast<__m512>(v);
  return reinterpret_cast<V16>(_mm512_mask_sqrt_ps(in, 0xFFFF, in));
}

// The pair of floats at table[index] and table[index + 1] in each lane, into *first and
// *second: one 8-byte gather per lane, then the pairs taken apart.
KESTREL_AVX512 void GatherPairs16(const float* table, I16 index, V16* first, V16* second) {
  const __m512i i = reinterpret_cast<__m512i>(index);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i index_low = _mm512_mask_extracti64x4_epi64(zero, 0xF, i, 0);
  const __m256i index_high = _mm512_mask_extracti64x4_epi64(zero, 0xF, i, 1);
  const __m512d none = _mm512_setzero_pd();
  const __m512 low = _mm512_castpd_ps(_mm512_mask_i32gather_pd(none, 0xFF, index_low, table, 4));
  const __m512 high = _mm512_castpd_ps(_mm512_mask_i32gather_pd(none, 0xFF, index_high, table, 4));
  const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
  *first = reinterpret_cast<V16>(_mm512_permutex2var_ps(low, even, high));
  *second = reinterpret_cast<V16>(_mm512_permutex2var_ps(low, odd, high));
}

// The same operations under names free of the width (see lanes8::generic).
namespace generic {
using V = V16;
using I = I16;
inline constexpr int kLanes = 16;
KESTREL_AVX512 V Splat(float a) {
  return Splat16(a);
}
KESTREL_AVX512 V Load(const float* a) {
  return Load16(a);
}
KESTREL_AVX512 void Store(float* out, V a) {
  Store16(out, a);
}
KESTREL_AVX512 V Abs(V a) {
  return Abs16(a);
}
KESTREL_AVX512 V Clamp01(V x) {
  return Clamp01x16(x);
}
KESTREL_AVX512 V Clamp(V x, float lo, float hi) {
  return Clamp16(x, lo, hi);
}
KESTREL_AVX512 V Floor(V v) {
  return Floor16(v);
}
KESTREL_AVX512 V Sqrt(V v) {
  return Sqrt16(v);
}
KESTREL_AVX512 void GatherPairs(const float* table, I index, V* first, V* second) {
  GatherPairs16(table, index, first, second);
}
using lanes16::AllSet;
using lanes16::AnySet;
using lanes16::Select;
}  // namespace generic

}  // namespace lanes16
