// The canyon's fast paths, written once for every lane width: the march's heights, and the
// shading of its visible samples (haze, colour, the normal's four heights for the light, the ten
// heights toward the sun for the shadow, the molten river). Every term is worked out in lanes:
// the centre line, the width scale, the terraces and the river's ripples through polynomial
// sines, the noise through gathers. A height is then within a few millionths of a unit of
// TerrainHeight's rather than equal to it bit for bit (libm's sinf rounds a little differently),
// which moves the shading by far less than one level of the picture.
//
// No include guard: canyon_lanes8.cpp and canyon_lanes16.cpp each include this once, inside a
// namespace of their own, after `#pragma GCC target` for their instruction set, a using-directive
// for that width's generic operations and canyon_lane_ops.h. Lane by lane both widths perform
// the same operations in the same order, so a point gets the same bits at either width; only
// the shortcuts taken when every lane is settled (a bound below every cutoff, every lane on the
// river bed) depend on the other lanes, and those give the same values too.

namespace {

// FastSin in each lane: the same reduction and polynomials. Lanes beyond its range send all
// of them through the scalar version (which takes libm there).
KESTREL_LANE_FN V Sin(V x) {
  using namespace fast_math_detail;
  if (!AllSet(Abs(x) <= Splat(8192.0f))) {
    alignas(64) float xs[kLanes];
    Store(xs, x);
    for (float& v : xs) v = FastSin(v);
    return Load(xs);
  }
  const V shift = Splat(12582912.0f);
  const V k = (x * kTwoOverPi + shift) - shift;
  const V r = ((x - k * kHalfPiA) - k * kHalfPiB) - k * kHalfPiC;
  const I quadrant = __builtin_convertvector(k, I) & 3;
  const V z = r * r;
  const V sr = ((Splat(-1.9515295891e-4f) * z + 8.3321608736e-3f) * z - 1.6666654611e-1f) * z * r + r;
  const V cr =
      ((Splat(2.443315711809948e-5f) * z - 1.388731625493765e-3f) * z + 4.166664568298827e-2f) * z * z -
      0.5f * z + 1.0f;
  // Quadrants 1 and 3 take the cosine polynomial; 2 and 3 are negative.
  const V magnitude = Select((quadrant & 1) != 0, cr, sr);
  const I negative = quadrant > 1;
  return reinterpret_cast<V>(reinterpret_cast<I>(magnitude) ^ (negative & (1 << 31)));
}

KESTREL_LANE_FN V Centre(V z) {
  return 10.0f * Sin(0.035f * z) + 18.0f * Sin(0.011f * z);
}

// SliceWidth's B, w = max(terrain_width, 0.2).
KESTREL_LANE_FN V Width(const float* table, V z, float w) {
  const V u = Clamp01((Noise(table, Splat(72.0f), 0.012f * z - 31.0f, 3) + 1.0f) * 0.5f);
  const V wave = Sin(4.3982296f * u + 0.018f * z) * 0.22f + (u - 0.5f) * 0.28f + 1.0f;
  return Clamp(wave, 0.72f, 1.34f) * w;
}

// TerrainSlice in lanes: the terms of the lanes' heights that depend on their z alone. The ramps
// divide by B; its reciprocal is taken once and multiplied in (the rounding differs from the
// divisions by an ulp or so).
struct LaneSlice {
  V z;
  V cx;     // CanyonCentre(z)
  V B;      // the width scale
  V inv_B;  // 1 / B
};

KESTREL_LANE_FN LaneSlice LaneSliceWith(V z, V cx, V B) {
  return {z, cx, B, 1.0f / B};
}
KESTREL_LANE_FN LaneSlice MakeLaneSlice(const LaneTerms& t, V z) {
  return LaneSliceWith(z, Centre(z), Width(t.table, z, t.w));
}

// LandmarkHeight in the lanes where `active` is set (0 in the others), with the
// same operations in the same order as the four-lane version: the lanes walk every segment
// between the lowest and the highest of their own, and a lane takes the segments within one of
// its own.
KESTREL_LANE_FN V LandmarkHeights(V x, V z, V B, I active) {
  const V zero = Splat(0.0f);
  if (!AnySet(active)) return zero;
  const V segment_z = z / 62.0f;
  I own = __builtin_convertvector(segment_z, I);
  own += __builtin_convertvector(own, V) > segment_z;  // floor
  std::int32_t own_lanes[kLanes];
  std::int32_t active_lanes[kLanes];
  __builtin_memcpy(own_lanes, &own, sizeof own);
  __builtin_memcpy(active_lanes, &active, sizeof active);
  std::int32_t first = 0;
  std::int32_t last = 0;
  bool any = false;
  for (int k = 0; k < kLanes; ++k) {
    if (active_lanes[k] == 0) continue;
    first = any ? std::min(first, own_lanes[k]) : own_lanes[k];
    last = any ? std::max(last, own_lanes[k]) : own_lanes[k];
    any = true;
  }
  const V one = Splat(1.0f);
  V sum = zero;
  for (std::int32_t segment = first - 1; segment <= last + 1; ++segment) {
    const I offset = segment - own;
    const I member = active & (offset > -2) & (offset < 2);
    const Landmark& lm = CachedLandmark(segment);

    // 1. Only landmarks near each point contribute.
    const V dz = z - lm.zc;
    const V fx = lm.xc + lm.side * (25.0f * B + lm.side_offset);
    const V dx = x - fx;
    const V adz = Abs(dz);
    const V adx = Abs(dx);
    const I near = member & ~(adz > 50.84f) & ~(adx > 108.0f);
    if (!AnySet(near)) continue;

    // 2.-4. Mound, peak, base and ridge, each 0 beyond its reach.
    V terms = zero;
    const I mound_zone = near & ~(adz > lm.mound_reach_z) & ~(adx > lm.mound_reach_x);
    if (AnySet(mound_zone)) {
      const V m1 = dz * dz / lm.u1_sq + dx * dx / lm.r1_sq;
      const V mound_ramp = Clamp01((m1 - 0.16f) / 1.0064f);
      const V mound = Select(mound_zone & ~(m1 > 1.2f), (one - SS(mound_ramp)) * lm.a1, zero);
      const V peak_ramp = Clamp01((m1 - 0.0324f) / 0.352f);
      const V peak = Select(mound_zone & ~(m1 > 0.4f), (one - SS(peak_ramp)) * lm.a2, zero);
      terms = mound + peak;
    }
    const I base_zone = near & ~(adz > lm.base_reach_z) & ~(adx > lm.base_reach_x);
    if (AnySet(base_zone)) {
      const V m2 = dz * dz / lm.u2_sq + dx * dx / lm.r2_sq;
      const V base_ramp = Clamp01((m2 - 0.1764f) / 0.8236f);
      terms = terms + Select(base_zone & ~(m2 > 1.05f), (one - SS(base_ramp)) * lm.a3, zero);
    }
    const V ridge_x = fx - lm.ridge_shift + dz * lm.ridge_slope;
    const V across = Abs(x - ridge_x);
    const I ridge_zone = near & (adz <= 1.01f * lm.ridge_length) & ~(across > lm.ridge_reach);
    if (AnySet(ridge_zone)) {
      const V rl = Clamp01((adz / lm.ridge_length - 0.28f) / 0.72f);
      const V rw = Clamp01((across / lm.ridge_width - 0.15f) / 0.85f);
      terms = terms + Select(ridge_zone, (one - SS(rl)) * (one - SS(rw)) * lm.a4, zero);
    }

    // 5.
    sum = Select(near, sum + terms, sum);

    // 6. The mesa.
    if (lm.mesa) {
      const V t = z - lm.zm;
      const V v = x - ((21.0f * B + 7.0f + lm.mesa_offset) * lm.mesa_side + lm.xm);
      const I inside = near & (t * t + v * v <= lm.mesa_r2);
      if (AnySet(inside)) {
        const V mesa_across = Abs(lm.mesa_cos * v - t * lm.mesa_sin) * lm.mesa_inv_w;
        const V mesa_along = Abs(t * lm.mesa_cos + v * lm.mesa_sin) * lm.mesa_inv_y;
        const V q = Clamp01(one - Select(mesa_across < mesa_along, mesa_along, mesa_across));
        const V A = Clamp01((q - 0.02f) / 0.14f);
        sum = Select(inside, sum + SS(A) * q * lm.a5, sum);
      }
    }
  }
  return sum;
}

// Detailed TerrainHeight at the lanes' points (x, z) whose centre line cx and width scale B are
// known, step by step as it is written. Points must be finite with |z| below LandmarkHeight's
// range. With a `cutoff`, the heights are abandoned (and *below set) as soon as bounds show
// every lane at or below its cutoff: first from the ramp with the floor and the landmarks at
// their highest, then with the actual landmarks, then with the actual floor as well.
KESTREL_LANE_FN V Heights(const LaneTerms& t, V x, const LaneSlice& slice, const V* cutoff = nullptr,
                          bool* below = nullptr) {
  const V z = slice.z;
  const V cx = slice.cx;
  const V B = slice.B;
  // 1., 3.-5. Outside the river bed, the wall ramp.
  const V f = Abs(x - cx);
  const I bed = f <= Splat(3.6f * t.w);
  const V D = SS(Clamp01((f - 5.0f * B) * (0.0625f * slice.inv_B)));
  const I walls = ~bed & ~(D <= Splat(0.0f));
  const V ramp_bound = t.abs_height * D;
  if (cutoff && AllSet(t.floor_bound + ramp_bound * t.above_floor_bound <= *cutoff)) {
    *below = true;
    return Splat(0.0f);
  }

  // 10. The landmarks (before the floor: with them, the bounds often settle it already).
  const V landmark = t.landmarks ? LandmarkHeights(x, z, B, walls) * D * t.height_scale : Splat(0.0f);
  if (cutoff && AllSet(t.floor_bound + ramp_bound * t.wall_ripple_bound + landmark <= *cutoff)) {
    *below = true;
    return Splat(0.0f);
  }

  // 2. The floor.
  const V g = Noise(t.table, 0.18f * x, 0.16f * z, 1);
  const V floor_noise = Noise(t.table, 0.11f * x, 0.08f * z, 2);
  const V floor = t.floor_ripple * g + t.floor_swell * floor_noise - 2.4f;
  if (!AnySet(walls)) return floor;
  if (cutoff && AllSet(floor + ramp_bound * t.wall_ripple_bound + landmark <= *cutoff)) {
    *below = true;
    return floor;
  }

  // 6.-7. Wall noise and the terraces, out of phase on the two walls.
  const V E = Noise(t.table, 0.045f * x + 10.0f, 0.04f * z - 4.0f, 0);
  const V G = Noise(t.table, 0.01f * x - 19.0f, 0.008f * z + 13.0f, 3);
  const V I = Clamp01((Noise(t.table, 0.0065f * x + 37.0f, 0.009f * z - 29.0f, 2) + 1.0f) * 0.5f);
  const V M = Clamp01((I - 0.54f) * (1.0f / 0.3f));
  const V O = Clamp01((f - 28.0f * B) * ((1.0f / 26.0f) * slice.inv_B));
  const V s = Select(x >= cx, Splat(1.9f), Splat(-1.9f));
  const V Q = Clamp01(Sin(0.055f * z + 2.7f * G + s) * 0.892857f + 0.14285715f);

  // 8.-9. Wall height, ramped in, and the floor's ripples on the slopes.
  const V wall = 2.4f * SS(M) + 2.0f * G + 1.35f * (1.0f - SS(O)) * D * SS(Q) + t.wall_detail * E + 10.0f;
  V result = t.height_scale * D * wall + floor + t.wall_ripple * D * g;

  // 10. The landmarks.
  if (t.landmarks) result = result + landmark;
  return Select(walls, result, floor);
}

// TerrainLight from the four heights around each point, whose own slice is known.
KESTREL_LANE_FN V Lights(const LaneTerms& t, V x, const LaneSlice& own, Vec3 sun) {
  const V h_left = Heights(t, x - 1.0f, own);
  const V h_right = Heights(t, x + 1.0f, own);
  const V h_behind = Heights(t, x, MakeLaneSlice(t, own.z - 1.0f));
  const V h_ahead = Heights(t, x, MakeLaneSlice(t, own.z + 1.0f));
  const V ex = h_left - h_right;
  const V ez = h_behind - h_ahead;
  // The normal (ex, 2, ez) is never shorter than 2, so it always normalises.
  const V len = Sqrt(ex * ex + 4.0f + ez * ez);
  const V dot = (ex / len) * sun.x + (2.0f / len) * sun.y + (ez / len) * sun.z;
  return Clamp01(dot * 0.8474576f + 0.15254237f);
}

// TerrainShadow at the lanes' points with ground heights h: the ten heights toward the sun in lanes,
// the sums in the same order.
KESTREL_LANE_FN V Shadows(const LaneTerms& t, V x, V z, V h, float sun_sin, float sun_cos) {
  const V zero = Splat(0.0f);
  V sum = zero;
  float total = 0.0f;
  V hard = zero;
  V soft = zero;
  for (int i = 1; i <= kShadowSamples; ++i) {
    // 1. Samples bunch up near the point, with a margin that widens with distance.
    const float q = (static_cast<float>(i) - 0.35f) * 0.1f;
    const float l = q * t.shadow_length;
    const float m = 0.02f * l + 0.75f;
    const float o = -0.08f * m;

    // 2. How far the terrain there rises above the ray toward the sun.
    const V ray = 0.36f * l + h + 0.2f;
    const V sx = x + l * sun_sin;
    const V sz = z + l * sun_cos;
    // Terrain that cannot reach the ray gives exactly 0, so its full height is not needed.
    const V cutoff = ray + o;
    bool below = false;
    const V th = Heights(t, sx, MakeLaneSlice(t, sz), &cutoff, &below);
    const V v = below ? zero : SS(Clamp01((th - ray - o) / (m - o)));

    // 3. Near samples weigh more.
    const float weight = (1.0f - q) * (1.0f - q) + 0.12f;
    sum += v * weight;
    total += weight;
    hard = Select(hard < v, v, hard);
    soft = Clamp01(sum / total * 1.3f);
  }
  return 1.0f - ((hard - soft) * 0.72f + soft) * t.shadow_strength;
}

// The colours of the lanes' visible samples: haze and albedo, light and shadow, the molten river,
// each step as the one-sample shading performs it.
KESTREL_LANE_FN void Shade(const LaneTerms& t, const LaneShading& sh, V x, const LaneSlice& slice, V h,
                           V dist, V* colour) {
  const V z = slice.z;
  const V centre = slice.cx;
  const V zero = Splat(0.0f);
  const V one = Splat(1.0f);
  const V half = Splat(0.5f);

  // TerrainHaze: 1. two drifting mist fields; 2. low patches and the distance fade.
  const float near_dist = 45.0f;
  const float far_dist = 160.0f;
  const V na = Noise(t.table, 0.02f * x + 0.12f * sh.t, 0.016f * z - 0.078f * sh.t, 2);
  const V nb = Noise(t.table, 0.055f * x - 0.18f * sh.t, 0.045f * z - 0.081f * sh.t, 3);
  const V band = Clamp01((h + 2.8f) / 6.4f);
  const V dn = Clamp01((dist - 18.0f) / 102.0f);
  const V patch = Clamp01(0.38f * N01(nb) + 0.72f * N01(na) - 0.14f);
  const V pv = Clamp01((patch - 0.18f) / 0.74f);
  const V df = Clamp01((dist - near_dist) / (far_dist - near_dist));
  const V ground_mist = (one - SS(band)) * SS(dn) * SS(pv) * 0.34f;
  const V distance_haze = SS(df) * (half * patch + 0.62f);
  const V haze = Clamp01(sh.fog * (ground_mist + distance_haze));

  // TerrainColour: 1. three noise fields; 2. height bands; 3. mix factors; 4. moss.
  const V e = N01(Noise(t.table, 0.03f * x + 11.0f, 0.026f * z - 7.0f, 3));
  const V f = N01(Noise(t.table, 0.095f * x - 3.0f, 0.08f * z + 5.0f, 0));
  const V g = N01(Noise(t.table, 0.31f * x, 0.27f * z, 1));
  const V hn = Clamp01((h + 2.3f) / 8.8f);
  const V S = SS(hn);
  const V low = one - SS(Clamp01((h + 2.2f) / 3.2f));
  const V A = (0.2f * e + 0.25f) * low;
  const V Bf = (0.0525f * S * f + 0.04875f * S) * (e - half) + one;
  const V Ck = SS(Clamp01(1.0833333f - 8.333333f * Abs(f - g))) * S * (0.05f - 0.0275f * low);
  const V Dk = SS(Clamp01((e - 0.72f) / 0.26f)) * 0.1f * S;
  const V Ek = SS(Clamp01((0.48f - f) / 0.42f)) * 0.12f * S;
  const V br = 0.29f * e + 0.91f + 0.055f * g;
  const V Tk = 0.09f * S * (one - f);
  const V moss = SS(hn) * (one - 0.4f * low) * SS(Clamp01((e - 0.54f) / 0.32f)) *
                 SS(Clamp01((0.78f - f) / 0.4f)) * (0.65f * g + 0.35f);

  // 5. Sandstone base mixed toward each target in turn.
  V c[3] = {0.22f * S + 0.17f, 0.2f * S + 0.17f, 0.17f * S + 0.16f};
  LerpTo(c, Vec3(0.545f, 0.515f, 0.44f), A);
  for (V& channel : c) channel = channel * Bf;
  LerpTo(c, Vec3(0.12f, 0.115f, 0.11f), Ck);
  LerpTo(c, Vec3(0.075f, 0.15f, 0.138f), Dk);
  LerpTo(c, Vec3(0.145f, 0.105f, 0.155f), Ek);
  for (V& channel : c) channel = channel * br;
  LerpTo(c, Vec3(0.07f, 0.07f, 0.082f), Tk);
  LerpTo(c, Vec3(0.075f, 0.15f, 0.138f), 0.24f * moss);
  LerpTo(c, kHazeColour, haze);

  // 3.-4. Sun, shadow, and the warm dusk sky light, which shadows do not remove.
  const V diffuse = Lights(t, x, slice, sh.sun);
  const V shadow = t.shadows ? Shadows(t, x, z, h, sh.sun_sin, sh.sun_cos) : one;
  const V light = shadow * (0.78f * diffuse + 0.1024f) + 0.5376f;
  const V moss_light = 0.22f * moss;
  c[0] = c[0] * light + moss_light * 0.08f;
  c[1] = c[1] * light + moss_light * 0.72f;
  c[2] = c[2] * light + moss_light * 0.32f;

  // 5. The molten river, within 7.5 units of the centre line and on ground below 3.2 only.
  const V across_centre = Abs(x - centre);
  const I river = (Abs(x) <= Splat(35.6f)) & (across_centre <= Splat(7.51f)) & (h <= Splat(3.21f));
  if (AnySet(river)) {
    const RiverTime& rt = sh.river;
    const float P = rt.pulse;
    const V lw = one - SS(Clamp01((h + 2.6f) / 5.8f));
    const V k = N01(Noise(t.table, rt.k_shift_x + 0.065f * x, rt.k_shift_z + 0.052f * z, 3));
    const V rw = 0.65f * k + 2.08f;
    const V across = one - SS(Clamp01((across_centre - rw) / (7.5f - rw)));
    const V wave = Sin(rt.sway + 0.027f * x + rt.step + 1.2f * kPi * k + 0.055f * z);
    const V level = 0.155f * P + 0.09f * wave + 0.025f * wave * P + 0.07f * k * P + 0.252f * k + 0.558f;
    const V glow = Select(river, Clamp01(level * across * lw), zero);
    const I lit = glow > Splat(0.001f);
    if (AnySet(lit)) {
      const V crust = N01(Noise(t.table, 0.065f * x + 17.0f, sh.lava_shift_z + 0.052f * z, 0));
      const V z1 = Sin(5.340708f * crust + 0.045f * z + sh.lava_sway + 0.02f * x);
      const V e_lava = Clamp01((z1 + 1.0f) * sh.build * 0.05f + 0.14f + 0.1f * sh.impact +
                               0.1f * z1 * sh.impact + 0.14f * z1);
      const V a = Clamp01(0.82f * glow);
      const V lava[3] = {0.85f * e_lava + 0.5f, 0.315f * e_lava + 0.105f, 0.058f * e_lava + 0.032f};
      const float emitted[3] = {0.441f, 0.0966f, 0.0252f};
      for (int i = 0; i < 3; ++i) {
        c[i] = Select(lit, c[i] + (lava[i] - c[i]) * a + glow * emitted[i], c[i]);
      }
    }
  }
  for (int i = 0; i < 3; ++i) colour[i] = c[i];
}

bool TerrainHeights(const LaneTerms& t, const float* xs, const float* zs, const float* cutoffs,
                    float* heights, float* centres, float* widths) {
  const V x = Load(xs);
  const V z = Load(zs);
  const V cx = Centre(z);
  const V cutoff = cutoffs ? Load(cutoffs) : Splat(0.0f);
  if (cutoffs) {
    // A first bound from the centre line alone, before the width and the floor noise: the wall
    // ramp at its steepest (the narrowest width, 0.72w), the floor at its highest.
    const V f = Abs(x - cx);
    const float narrowest = 0.72f * t.w;
    const V steepest = SS(Clamp01((f - 5.0f * narrowest) * (1.0f / (16.0f * narrowest))));
    const V bound = t.floor_bound + t.abs_height * steepest * t.above_floor_bound;
    if (AllSet(bound <= cutoff)) return false;
  }
  const LaneSlice slice = LaneSliceWith(z, cx, Width(t.table, z, t.w));
  if (centres) Store(centres, slice.cx);
  if (widths) Store(widths, slice.B);
  bool below = false;
  const V h = Heights(t, x, slice, cutoffs ? &cutoff : nullptr, &below);
  if (below) return false;
  Store(heights, h);
  return true;
}

void TerrainLights(const LaneTerms& t, const float* xs, const float* zs, Vec3 sun, float* out) {
  Store(out, Lights(t, Load(xs), MakeLaneSlice(t, Load(zs)), sun));
}

void TerrainShadows(const LaneTerms& t, const float* xs, const float* zs, const float* hs, float sun_sin,
                    float sun_cos, float* out) {
  if (!t.shadows) {
    Store(out, Splat(1.0f));
    return;
  }
  Store(out, Shadows(t, Load(xs), Load(zs), Load(hs), sun_sin, sun_cos));
}

void ShadeSamples(const LaneTerms& t, const LaneShading& sh, const float* xs, const float* zs,
                  const float* hs, const float* dists, const float* centres, const float* widths, Vec3* out) {
  V colour[3];
  const LaneSlice slice = LaneSliceWith(Load(zs), Load(centres), Load(widths));
  Shade(t, sh, Load(xs), slice, Load(hs), Load(dists), colour);
  alignas(64) float channels[3][kLanes];
  for (int i = 0; i < 3; ++i) Store(channels[i], colour[i]);
  for (int k = 0; k < kLanes; ++k) out[k] = Vec3(channels[0][k], channels[1][k], channels[2][k]);
}

}  // namespace

// This width's entry points (declared in canyon_internal.h).
const LaneKernels kKernels = {kLanes, &TerrainHeights, &TerrainLights, &TerrainShadows, &ShadeSamples};
