// The canyon's fast paths, eight points at a time with AVX2: the march's heights, and the
// shading of its visible samples (haze, colour, the normal's four heights for the light, the ten
// heights toward the sun for the shadow, the molten river). Every term is worked out in lanes:
// the centre line, the width scale, the terraces and the river's ripples through polynomial
// sines, the noise through gathers. A height is then within a few millionths of a unit of
// TerrainHeight's rather than equal to it bit for bit (libm's sinf rounds a little differently),
// which moves the shading by far less than one level of the picture. The march uses these
// heights only where the exact ones could not land a sample on other rows (see
// MarchColumnLanes). Chosen at run time; the exact versions stay the reference and the path on
// processors without AVX2.

#include "scenes/canyon_lanes8.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/fast_math.h"
#include "render/noise.h"
#include "render/plain_paths.h"
#include "scenes/canyon_internal.h"

namespace canyon_detail {

bool FastLanesAvailable() {
  static const bool available = __builtin_cpu_supports("avx2") && !PlainPathsForced();
  return available;
}

namespace {
bool g_exact_march = false;
}  // namespace

void UseExactCanyonMarch(bool on) {
  g_exact_march = on;
}
bool ExactCanyonMarch() {
  return g_exact_march || !FastLanesAvailable();
}

namespace {

using namespace canyon_lanes8;

// FastSin in each lane: the same reduction and polynomials. Lanes beyond its range send all
// eight through the scalar version (which takes libm there).
KESTREL_AVX2 V8 Sin8(V8 x) {
  using namespace fast_math_detail;
  if (!AllSet(Abs8(x) <= Splat8(8192.0f))) {
    alignas(32) float xs[8];
    Store8(xs, x);
    for (float& v : xs) v = FastSin(v);
    return Load8(xs);
  }
  const V8 shift = Splat8(12582912.0f);
  const V8 k = (x * kTwoOverPi + shift) - shift;
  const V8 r = ((x - k * kHalfPiA) - k * kHalfPiB) - k * kHalfPiC;
  const I8 quadrant = __builtin_convertvector(k, I8) & 3;
  const V8 z = r * r;
  const V8 sr = ((Splat8(-1.9515295891e-4f) * z + 8.3321608736e-3f) * z - 1.6666654611e-1f) * z * r + r;
  const V8 cr =
      ((Splat8(2.443315711809948e-5f) * z - 1.388731625493765e-3f) * z + 4.166664568298827e-2f) * z * z -
      0.5f * z + 1.0f;
  // Quadrants 1 and 3 take the cosine polynomial; 2 and 3 are negative.
  const V8 magnitude = Select((quadrant & 1) != 0, cr, sr);
  const I8 negative = quadrant > 1;
  return reinterpret_cast<V8>(reinterpret_cast<I8>(magnitude) ^ (negative & (1 << 31)));
}

KESTREL_AVX2 V8 Centre8(V8 z) {
  return 10.0f * Sin8(0.035f * z) + 18.0f * Sin8(0.011f * z);
}

// SliceWidth's B, w = max(terrain_width, 0.2).
KESTREL_AVX2 V8 Width8(const float* table, V8 z, float w) {
  const V8 u = Clamp01x8((Noise8(table, Splat8(72.0f), 0.012f * z - 31.0f, 3) + 1.0f) * 0.5f);
  const V8 wave = Sin8(4.3982296f * u + 0.018f * z) * 0.22f + (u - 0.5f) * 0.28f + 1.0f;
  return Clamp8(wave, 0.72f, 1.34f) * w;
}

// TerrainSlice in lanes: the terms of eight heights that depend on their z alone. The ramps
// divide by B; its reciprocal is taken once and multiplied in (the rounding differs from the
// divisions by an ulp or so).
struct Slice8 {
  V8 z;
  V8 cx;     // CanyonCentre(z)
  V8 B;      // the width scale
  V8 inv_B;  // 1 / B
};

KESTREL_AVX2 Slice8 SliceWith8(V8 z, V8 cx, V8 B) {
  return {z, cx, B, 1.0f / B};
}
KESTREL_AVX2 Slice8 MakeSlice8(const LaneTerms& t, V8 z) {
  return SliceWith8(z, Centre8(z), Width8(t.table, z, t.w));
}

// LandmarkHeight at eight points in the lanes where `active` is set (0 in the others), with the
// same operations in the same order as the four-lane version: the lanes walk every segment
// between the lowest and the highest of their own, and a lane takes the segments within one of
// its own.
KESTREL_AVX2 V8 LandmarkHeights8(V8 x, V8 z, V8 B, I8 active) {
  const V8 zero = Splat8(0.0f);
  if (!AnySet(active)) return zero;
  const V8 segment_z = z / 62.0f;
  I8 own = __builtin_convertvector(segment_z, I8);
  own += __builtin_convertvector(own, V8) > segment_z;  // floor
  alignas(32) std::int32_t own_lanes[8];
  alignas(32) std::int32_t active_lanes[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(own_lanes), reinterpret_cast<__m256i>(own));
  _mm256_store_si256(reinterpret_cast<__m256i*>(active_lanes), reinterpret_cast<__m256i>(active));
  std::int32_t first = 0;
  std::int32_t last = 0;
  bool any = false;
  for (int k = 0; k < 8; ++k) {
    if (active_lanes[k] == 0) continue;
    first = any ? std::min(first, own_lanes[k]) : own_lanes[k];
    last = any ? std::max(last, own_lanes[k]) : own_lanes[k];
    any = true;
  }
  const V8 one = Splat8(1.0f);
  V8 sum = zero;
  for (std::int32_t segment = first - 1; segment <= last + 1; ++segment) {
    const I8 offset = segment - own;
    const I8 member = active & (offset > -2) & (offset < 2);
    const Landmark& lm = CachedLandmark(segment);

    // 1. Only landmarks near each point contribute.
    const V8 dz = z - lm.zc;
    const V8 fx = lm.xc + lm.side * (25.0f * B + lm.side_offset);
    const V8 dx = x - fx;
    const V8 adz = Abs8(dz);
    const V8 adx = Abs8(dx);
    const I8 near = member & ~(adz > 50.84f) & ~(adx > 108.0f);
    if (!AnySet(near)) continue;

    // 2.-4. Mound, peak, base and ridge, each 0 beyond its reach.
    V8 terms = zero;
    const I8 mound_zone = near & ~(adz > lm.mound_reach_z) & ~(adx > lm.mound_reach_x);
    if (AnySet(mound_zone)) {
      const V8 m1 = dz * dz / lm.u1_sq + dx * dx / lm.r1_sq;
      const V8 mound_ramp = Clamp01x8((m1 - 0.16f) / 1.0064f);
      const V8 mound = Select(mound_zone & ~(m1 > 1.2f), (one - SS8(mound_ramp)) * lm.a1, zero);
      const V8 peak_ramp = Clamp01x8((m1 - 0.0324f) / 0.352f);
      const V8 peak = Select(mound_zone & ~(m1 > 0.4f), (one - SS8(peak_ramp)) * lm.a2, zero);
      terms = mound + peak;
    }
    const I8 base_zone = near & ~(adz > lm.base_reach_z) & ~(adx > lm.base_reach_x);
    if (AnySet(base_zone)) {
      const V8 m2 = dz * dz / lm.u2_sq + dx * dx / lm.r2_sq;
      const V8 base_ramp = Clamp01x8((m2 - 0.1764f) / 0.8236f);
      terms = terms + Select(base_zone & ~(m2 > 1.05f), (one - SS8(base_ramp)) * lm.a3, zero);
    }
    const V8 ridge_x = fx - lm.ridge_shift + dz * lm.ridge_slope;
    const V8 across = Abs8(x - ridge_x);
    const I8 ridge_zone = near & (adz <= 1.01f * lm.ridge_length) & ~(across > lm.ridge_reach);
    if (AnySet(ridge_zone)) {
      const V8 rl = Clamp01x8((adz / lm.ridge_length - 0.28f) / 0.72f);
      const V8 rw = Clamp01x8((across / lm.ridge_width - 0.15f) / 0.85f);
      terms = terms + Select(ridge_zone, (one - SS8(rl)) * (one - SS8(rw)) * lm.a4, zero);
    }

    // 5.
    sum = Select(near, sum + terms, sum);

    // 6. The mesa.
    if (lm.mesa) {
      const V8 t = z - lm.zm;
      const V8 v = x - ((21.0f * B + 7.0f + lm.mesa_offset) * lm.mesa_side + lm.xm);
      const I8 inside = near & (t * t + v * v <= lm.mesa_r2);
      if (AnySet(inside)) {
        const V8 mesa_across = Abs8(lm.mesa_cos * v - t * lm.mesa_sin) * lm.mesa_inv_w;
        const V8 mesa_along = Abs8(t * lm.mesa_cos + v * lm.mesa_sin) * lm.mesa_inv_y;
        const V8 q = Clamp01x8(one - Select(mesa_across < mesa_along, mesa_along, mesa_across));
        const V8 A = Clamp01x8((q - 0.02f) / 0.14f);
        sum = Select(inside, sum + SS8(A) * q * lm.a5, sum);
      }
    }
  }
  return sum;
}

// Detailed TerrainHeight at eight points (x, z) whose centre line cx and width scale B are
// known, step by step as it is written. Points must be finite with |z| below LandmarkHeight's
// range. With a `cutoff`, the heights are abandoned (and *below set) as soon as bounds show
// every lane at or below its cutoff: first from the ramp with the floor and the landmarks at
// their highest, then with the actual landmarks, then with the actual floor as well.
KESTREL_AVX2 V8 Heights8(const LaneTerms& t, V8 x, const Slice8& slice, const V8* cutoff = nullptr,
                         bool* below = nullptr) {
  const V8 z = slice.z;
  const V8 cx = slice.cx;
  const V8 B = slice.B;
  // 1., 3.-5. Outside the river bed, the wall ramp.
  const V8 f = Abs8(x - cx);
  const I8 bed = f <= Splat8(3.6f * t.w);
  const V8 D = SS8(Clamp01x8((f - 5.0f * B) * (0.0625f * slice.inv_B)));
  const I8 walls = ~bed & ~(D <= Splat8(0.0f));
  const V8 ramp_bound = t.abs_height * D;
  if (cutoff && AllSet(t.floor_bound + ramp_bound * t.above_floor_bound <= *cutoff)) {
    *below = true;
    return Splat8(0.0f);
  }

  // 10. The landmarks (before the floor: with them, the bounds often settle it already).
  const V8 landmark = t.landmarks ? LandmarkHeights8(x, z, B, walls) * D * t.height_scale : Splat8(0.0f);
  if (cutoff && AllSet(t.floor_bound + ramp_bound * t.wall_ripple_bound + landmark <= *cutoff)) {
    *below = true;
    return Splat8(0.0f);
  }

  // 2. The floor.
  const V8 g = Noise8(t.table, 0.18f * x, 0.16f * z, 1);
  const V8 floor_noise = Noise8(t.table, 0.11f * x, 0.08f * z, 2);
  const V8 floor = t.floor_ripple * g + t.floor_swell * floor_noise - 2.4f;
  if (!AnySet(walls)) return floor;
  if (cutoff && AllSet(floor + ramp_bound * t.wall_ripple_bound + landmark <= *cutoff)) {
    *below = true;
    return floor;
  }

  // 6.-7. Wall noise and the terraces, out of phase on the two walls.
  const V8 E = Noise8(t.table, 0.045f * x + 10.0f, 0.04f * z - 4.0f, 0);
  const V8 G = Noise8(t.table, 0.01f * x - 19.0f, 0.008f * z + 13.0f, 3);
  const V8 I = Clamp01x8((Noise8(t.table, 0.0065f * x + 37.0f, 0.009f * z - 29.0f, 2) + 1.0f) * 0.5f);
  const V8 M = Clamp01x8((I - 0.54f) * (1.0f / 0.3f));
  const V8 O = Clamp01x8((f - 28.0f * B) * ((1.0f / 26.0f) * slice.inv_B));
  const V8 s = Select(x >= cx, Splat8(1.9f), Splat8(-1.9f));
  const V8 Q = Clamp01x8(Sin8(0.055f * z + 2.7f * G + s) * 0.892857f + 0.14285715f);

  // 8.-9. Wall height, ramped in, and the floor's ripples on the slopes.
  const V8 wall = 2.4f * SS8(M) + 2.0f * G + 1.35f * (1.0f - SS8(O)) * D * SS8(Q) + t.wall_detail * E + 10.0f;
  V8 result = t.height_scale * D * wall + floor + t.wall_ripple * D * g;

  // 10. The landmarks.
  if (t.landmarks) result = result + landmark;
  return Select(walls, result, floor);
}

// TerrainLight from the four heights around each point, whose own slice is known.
KESTREL_AVX2 V8 Lights8(const LaneTerms& t, V8 x, const Slice8& own, Vec3 sun) {
  const V8 h_left = Heights8(t, x - 1.0f, own);
  const V8 h_right = Heights8(t, x + 1.0f, own);
  const V8 h_behind = Heights8(t, x, MakeSlice8(t, own.z - 1.0f));
  const V8 h_ahead = Heights8(t, x, MakeSlice8(t, own.z + 1.0f));
  const V8 ex = h_left - h_right;
  const V8 ez = h_behind - h_ahead;
  // The normal (ex, 2, ez) is never shorter than 2, so it always normalises.
  const V8 len = reinterpret_cast<V8>(_mm256_sqrt_ps(reinterpret_cast<__m256>(ex * ex + 4.0f + ez * ez)));
  const V8 dot = (ex / len) * sun.x + (2.0f / len) * sun.y + (ez / len) * sun.z;
  return Clamp01x8(dot * 0.8474576f + 0.15254237f);
}

// TerrainShadow at eight points with ground heights h: the ten heights toward the sun in lanes,
// the sums in the same order.
KESTREL_AVX2 V8 Shadows8(const LaneTerms& t, V8 x, V8 z, V8 h, float sun_sin, float sun_cos) {
  const V8 zero = Splat8(0.0f);
  V8 sum = zero;
  float total = 0.0f;
  V8 hard = zero;
  V8 soft = zero;
  for (int i = 1; i <= kShadowSamples; ++i) {
    // 1. Samples bunch up near the point, with a margin that widens with distance.
    const float q = (static_cast<float>(i) - 0.35f) * 0.1f;
    const float l = q * t.shadow_length;
    const float m = 0.02f * l + 0.75f;
    const float o = -0.08f * m;

    // 2. How far the terrain there rises above the ray toward the sun.
    const V8 ray = 0.36f * l + h + 0.2f;
    const V8 sx = x + l * sun_sin;
    const V8 sz = z + l * sun_cos;
    // Terrain that cannot reach the ray gives exactly 0, so its full height is not needed.
    const V8 cutoff = ray + o;
    bool below = false;
    const V8 th = Heights8(t, sx, MakeSlice8(t, sz), &cutoff, &below);
    const V8 v = below ? zero : SS8(Clamp01x8((th - ray - o) / (m - o)));

    // 3. Near samples weigh more.
    const float weight = (1.0f - q) * (1.0f - q) + 0.12f;
    sum += v * weight;
    total += weight;
    hard = Select(hard < v, v, hard);
    soft = Clamp01x8(sum / total * 1.3f);
  }
  return 1.0f - ((hard - soft) * 0.72f + soft) * t.shadow_strength;
}

// The colours of eight visible samples: haze and albedo, light and shadow, the molten river,
// each step as the one-sample shading performs it.
KESTREL_AVX2 void Shade8(const LaneTerms& t, const LaneShading& sh, V8 x, const Slice8& slice, V8 h, V8 dist,
                         V8* colour) {
  const V8 z = slice.z;
  const V8 centre = slice.cx;
  const V8 zero = Splat8(0.0f);
  const V8 one = Splat8(1.0f);
  const V8 half = Splat8(0.5f);

  // TerrainHaze: 1. two drifting mist fields; 2. low patches and the distance fade.
  const float near_dist = 45.0f;
  const float far_dist = 160.0f;
  const V8 na = Noise8(t.table, 0.02f * x + 0.12f * sh.t, 0.016f * z - 0.078f * sh.t, 2);
  const V8 nb = Noise8(t.table, 0.055f * x - 0.18f * sh.t, 0.045f * z - 0.081f * sh.t, 3);
  const V8 band = Clamp01x8((h + 2.8f) / 6.4f);
  const V8 dn = Clamp01x8((dist - 18.0f) / 102.0f);
  const V8 patch = Clamp01x8(0.38f * N01x8(nb) + 0.72f * N01x8(na) - 0.14f);
  const V8 pv = Clamp01x8((patch - 0.18f) / 0.74f);
  const V8 df = Clamp01x8((dist - near_dist) / (far_dist - near_dist));
  const V8 ground_mist = (one - SS8(band)) * SS8(dn) * SS8(pv) * 0.34f;
  const V8 distance_haze = SS8(df) * (half * patch + 0.62f);
  const V8 haze = Clamp01x8(sh.fog * (ground_mist + distance_haze));

  // TerrainColour: 1. three noise fields; 2. height bands; 3. mix factors; 4. moss.
  const V8 e = N01x8(Noise8(t.table, 0.03f * x + 11.0f, 0.026f * z - 7.0f, 3));
  const V8 f = N01x8(Noise8(t.table, 0.095f * x - 3.0f, 0.08f * z + 5.0f, 0));
  const V8 g = N01x8(Noise8(t.table, 0.31f * x, 0.27f * z, 1));
  const V8 hn = Clamp01x8((h + 2.3f) / 8.8f);
  const V8 S = SS8(hn);
  const V8 low = one - SS8(Clamp01x8((h + 2.2f) / 3.2f));
  const V8 A = (0.2f * e + 0.25f) * low;
  const V8 Bf = (0.0525f * S * f + 0.04875f * S) * (e - half) + one;
  const V8 Ck = SS8(Clamp01x8(1.0833333f - 8.333333f * Abs8(f - g))) * S * (0.05f - 0.0275f * low);
  const V8 Dk = SS8(Clamp01x8((e - 0.72f) / 0.26f)) * 0.1f * S;
  const V8 Ek = SS8(Clamp01x8((0.48f - f) / 0.42f)) * 0.12f * S;
  const V8 br = 0.29f * e + 0.91f + 0.055f * g;
  const V8 Tk = 0.09f * S * (one - f);
  const V8 moss = SS8(hn) * (one - 0.4f * low) * SS8(Clamp01x8((e - 0.54f) / 0.32f)) *
                  SS8(Clamp01x8((0.78f - f) / 0.4f)) * (0.65f * g + 0.35f);

  // 5. Sandstone base mixed toward each target in turn.
  V8 c[3] = {0.22f * S + 0.17f, 0.2f * S + 0.17f, 0.17f * S + 0.16f};
  LerpTo8(c, Vec3(0.545f, 0.515f, 0.44f), A);
  for (V8& channel : c) channel = channel * Bf;
  LerpTo8(c, Vec3(0.12f, 0.115f, 0.11f), Ck);
  LerpTo8(c, Vec3(0.075f, 0.15f, 0.138f), Dk);
  LerpTo8(c, Vec3(0.145f, 0.105f, 0.155f), Ek);
  for (V8& channel : c) channel = channel * br;
  LerpTo8(c, Vec3(0.07f, 0.07f, 0.082f), Tk);
  LerpTo8(c, Vec3(0.075f, 0.15f, 0.138f), 0.24f * moss);
  LerpTo8(c, kHazeColour, haze);

  // 3.-4. Sun, shadow, and the warm dusk sky light, which shadows do not remove.
  const V8 diffuse = Lights8(t, x, slice, sh.sun);
  const V8 shadow = t.shadows ? Shadows8(t, x, z, h, sh.sun_sin, sh.sun_cos) : one;
  const V8 light = shadow * (0.78f * diffuse + 0.1024f) + 0.5376f;
  const V8 moss_light = 0.22f * moss;
  c[0] = c[0] * light + moss_light * 0.08f;
  c[1] = c[1] * light + moss_light * 0.72f;
  c[2] = c[2] * light + moss_light * 0.32f;

  // 5. The molten river, within 7.5 units of the centre line and on ground below 3.2 only.
  const V8 across_centre = Abs8(x - centre);
  const I8 river = (Abs8(x) <= Splat8(35.6f)) & (across_centre <= Splat8(7.51f)) & (h <= Splat8(3.21f));
  if (AnySet(river)) {
    const RiverTime& rt = sh.river;
    const float P = rt.pulse;
    const V8 lw = one - SS8(Clamp01x8((h + 2.6f) / 5.8f));
    const V8 k = N01x8(Noise8(t.table, rt.k_shift_x + 0.065f * x, rt.k_shift_z + 0.052f * z, 3));
    const V8 rw = 0.65f * k + 2.08f;
    const V8 across = one - SS8(Clamp01x8((across_centre - rw) / (7.5f - rw)));
    const V8 wave = Sin8(rt.sway + 0.027f * x + rt.step + 1.2f * kPi * k + 0.055f * z);
    const V8 level = 0.155f * P + 0.09f * wave + 0.025f * wave * P + 0.07f * k * P + 0.252f * k + 0.558f;
    const V8 glow = Select(river, Clamp01x8(level * across * lw), zero);
    const I8 lit = glow > Splat8(0.001f);
    if (AnySet(lit)) {
      const V8 crust = N01x8(Noise8(t.table, 0.065f * x + 17.0f, sh.lava_shift_z + 0.052f * z, 0));
      const V8 z1 = Sin8(5.340708f * crust + 0.045f * z + sh.lava_sway + 0.02f * x);
      const V8 e_lava = Clamp01x8((z1 + 1.0f) * sh.build * 0.05f + 0.14f + 0.1f * sh.impact +
                                  0.1f * z1 * sh.impact + 0.14f * z1);
      const V8 a = Clamp01x8(0.82f * glow);
      const V8 lava[3] = {0.85f * e_lava + 0.5f, 0.315f * e_lava + 0.105f, 0.058f * e_lava + 0.032f};
      const float emitted[3] = {0.441f, 0.0966f, 0.0252f};
      for (int i = 0; i < 3; ++i) {
        c[i] = Select(lit, c[i] + (lava[i] - c[i]) * a + glow * emitted[i], c[i]);
      }
    }
  }
  for (int i = 0; i < 3; ++i) colour[i] = c[i];
}

}  // namespace

LaneTerms MakeLaneTerms(const DebugParams& p) {
  LaneTerms t;
  t.table = NoiseTable();
  t.height_scale = p.terrain_height;
  t.w = p.terrain_width > 0.2f ? p.terrain_width : 0.2f;
  t.floor_ripple = 0.35f * p.terrain_height * p.terrain_detail;
  t.floor_swell = 0.3f * p.terrain_floor;
  t.wall_ripple = 0.62f * p.terrain_detail * p.terrain_height;
  t.wall_detail = 2.35f * p.terrain_detail;
  t.landmarks = p.large_features;
  const HeightBounds bounds = MakeHeightBounds(p);
  t.floor_bound = bounds.floor;
  t.abs_height = std::fabs(p.terrain_height);
  t.wall_ripple_bound = bounds.wall + bounds.ripple;
  t.above_floor_bound = bounds.above_floor;
  t.shadows = p.shadows && p.shadow_strength > 0.0f;
  t.shadow_strength = p.shadow_strength;
  t.shadow_length = p.shadow_length;
  return t;
}

float LaneHeightError(const DebugParams& p) {
  const float w = p.terrain_width > 0.2f ? p.terrain_width : 0.2f;
  return 2.0e-4f * (1.0f + std::fabs(p.terrain_height)) * (1.0f + std::fabs(p.terrain_detail)) /
         std::min(w, 1.0f);
}

__attribute__((target("avx2"))) bool TerrainHeights8(const LaneTerms& t, const float* xs, const float* zs,
                                                     const float* cutoffs, float* heights, float* centres,
                                                     float* widths) {
  const V8 x = Load8(xs);
  const V8 z = Load8(zs);
  const V8 cx = Centre8(z);
  const V8 cutoff = cutoffs ? Load8(cutoffs) : Splat8(0.0f);
  if (cutoffs) {
    // A first bound from the centre line alone, before the width and the floor noise: the wall
    // ramp at its steepest (the narrowest width, 0.72w), the floor at its highest.
    const V8 f = Abs8(x - cx);
    const float narrowest = 0.72f * t.w;
    const V8 steepest = SS8(Clamp01x8((f - 5.0f * narrowest) * (1.0f / (16.0f * narrowest))));
    const V8 bound = t.floor_bound + t.abs_height * steepest * t.above_floor_bound;
    if (AllSet(bound <= cutoff)) return false;
  }
  const Slice8 slice = SliceWith8(z, cx, Width8(t.table, z, t.w));
  if (centres) Store8(centres, slice.cx);
  if (widths) Store8(widths, slice.B);
  bool below = false;
  const V8 h = Heights8(t, x, slice, cutoffs ? &cutoff : nullptr, &below);
  if (below) return false;
  Store8(heights, h);
  return true;
}

__attribute__((target("avx2"))) void TerrainLights8(const LaneTerms& t, const float* xs, const float* zs,
                                                    Vec3 sun, float* out) {
  Store8(out, Lights8(t, Load8(xs), MakeSlice8(t, Load8(zs)), sun));
}

__attribute__((target("avx2"))) void TerrainShadows8(const LaneTerms& t, const float* xs, const float* zs,
                                                     const float* hs, float sun_sin, float sun_cos,
                                                     float* out) {
  if (!t.shadows) {
    Store8(out, Splat8(1.0f));
    return;
  }
  Store8(out, Shadows8(t, Load8(xs), Load8(zs), Load8(hs), sun_sin, sun_cos));
}

__attribute__((target("avx2"))) void ShadeSamples8(const LaneTerms& t, const LaneShading& sh, const float* xs,
                                                   const float* zs, const float* hs, const float* dists,
                                                   const float* centres, const float* widths, Vec3* out) {
  V8 colour[3];
  const Slice8 slice = SliceWith8(Load8(zs), Load8(centres), Load8(widths));
  Shade8(t, sh, Load8(xs), slice, Load8(hs), Load8(dists), colour);
  alignas(32) float channels[3][8];
  for (int i = 0; i < 3; ++i) Store8(channels[i], colour[i]);
  for (int k = 0; k < 8; ++k) out[k] = Vec3(channels[0][k], channels[1][k], channels[2][k]);
}

}  // namespace canyon_detail
