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
// table[index] in each lane.
KESTREL_AVX2 V8 Gather8(const float* table, I8 index) {
  return reinterpret_cast<V8>(_mm256_i32gather_ps(table, reinterpret_cast<__m256i>(index), 4));
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
KESTREL_AVX2 V Gather(const float* table, I index) {
  return Gather8(table, index);
}
using lanes8::AllSet;
using lanes8::AnySet;
using lanes8::Select;
}  // namespace generic

}  // namespace lanes8
