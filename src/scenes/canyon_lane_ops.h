// The canyon's lane helpers (noise, smoothstep, colour mixing), written once for every lane
// width. No include guard: a file includes this inside a namespace of its own, after
// `#pragma GCC target` for the width's instruction set and `namespace lanes = ...` naming that
// width's generic operations (lanes8::generic or lanes16::generic). It needs render/math.h,
// render/noise.h and the width's render/lanesN.h included before. Every helper performs the same
// single-precision operations as the scalar code it mirrors, so a lane gives the scalar bits
// where the callers keep the same order.

#ifndef KESTREL_LANE_FN
#define KESTREL_LANE_FN __attribute__((always_inline)) inline
#endif

using lanes::Abs;
using lanes::AllSet;
using lanes::AnySet;
using lanes::Clamp;
using lanes::Clamp01;
using lanes::Floor;
using lanes::GatherPairs;
using lanes::I;
using lanes::kLanes;
using lanes::Load;
using lanes::Select;
using lanes::Splat;
using lanes::Sqrt;
using lanes::Store;
using lanes::V;

KESTREL_LANE_FN V SS(V t) {
  return t * t * (Splat(3.0f) - Splat(2.0f) * t);
}
// A noise value mapped to [0, 1].
KESTREL_LANE_FN V N01(V n) {
  return Clamp01((n + 1.0f) * 0.5f);
}

// Each channel of c (three lanes of colour) moved toward the target's by `amount`.
KESTREL_LANE_FN void LerpTo(V* c, Vec3 target, V amount) {
  c[0] = c[0] + (target.x - c[0]) * amount;
  c[1] = c[1] + (target.y - c[1]) * amount;
  c[2] = c[2] + (target.z - c[2]) * amount;
}

// SampleNoise in each lane, the two texels of each row as one pair gather. The coordinates
// times the texel density must stay within the int range (the canyon's lanes ensure it by their
// limits on the points and the clock, kLaneMaxCoordinate and kLaneMaxTime): there SampleNoise
// needs no wrapping either, and each lane gives exactly its value.
KESTREL_LANE_FN V Noise(const float* table, V x, V y, int ch) {
  static_assert(kNoiseTableSize == 1 << 10 && kNoiseRowFloats == (1 << 10) + 1, "shifts below");
  const V u = x * kNoiseTexelsPerUnit;
  const V w = y * kNoiseTexelsPerUnit;
  // The cell and the position inside it (floor is exact for these magnitudes).
  const V u_floor = Floor(u);
  const V w_floor = Floor(w);
  const I iu = __builtin_convertvector(u_floor, I);
  const I iw = __builtin_convertvector(w_floor, I);
  const V fu = u - u_floor;
  const V fw = w - w_floor;
  // NoiseTexelIndex(col, row, ch), with row*1025 as row*1024 + row.
  const std::int32_t plane = static_cast<std::int32_t>(NoiseTexelIndex(0, 0, ch & (kNoiseChannels - 1)));
  const I col = (iu & (kNoiseTableSize - 1)) + plane;
  const I row0 = iw & (kNoiseTableSize - 1);
  const I row1 = (iw + 1) & (kNoiseTableSize - 1);
  V t00, t10, t01, t11;
  GatherPairs(table, col + (row0 << 10) + row0, &t00, &t10);
  GatherPairs(table, col + (row1 << 10) + row1, &t01, &t11);
  const V top = t00 + (t10 - t00) * fu;
  const V bottom = t01 + (t11 - t01) * fu;
  return top + (bottom - top) * fw;
}

// Noise for coordinates that may lie beyond the direct range: all lanes then take the scalar
// lookup, which wraps them.
KESTREL_LANE_FN V NoiseWrapped(const float* table, V x, V y, int ch) {
  const V limit = Splat(2.0e9f / kNoiseTexelsPerUnit);
  if (!AllSet((Abs(x) < limit) & (Abs(y) < limit))) {
    alignas(64) float xs[kLanes], ys[kLanes], out[kLanes];
    Store(xs, x);
    Store(ys, y);
    for (int k = 0; k < kLanes; ++k) out[k] = SampleNoise(table, xs[k], ys[k], ch);
    return Load(out);
  }
  return Noise(table, x, y, ch);
}
