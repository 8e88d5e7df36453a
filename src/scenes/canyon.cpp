#include "scenes/canyon.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "render/noise.h"
#include "render/parallel.h"
#include "render/primitives.h"
#include "scenes/canyon_internal.h"
#include "scenes/canyon_lanes.h"
#include "scenes/canyon_sky.h"

using canyon_detail::kPi;
using canyon_detail::N;
using canyon_detail::N01;
using canyon_detail::SS;

// ---------------------------------------------------------------------------------------------
// World

float CanyonCentre(float z) {
  return 10.0f * std::sin(0.035f * z) + 18.0f * std::sin(0.011f * z);
}

float CanyonPathAngle(float z) {
  return std::atan2(CanyonCentre(z + 18.0f) - CanyonCentre(z - 18.0f), 36.0f);
}

float TerrainHeight(float x, float z, const DebugParams& p, bool detailed) {
  canyon_detail::TerrainSlice slice = canyon_detail::MakeSlice(z);
  return canyon_detail::HeightOnSlice(x, slice, p, detailed);
}

namespace canyon_detail {

TerrainSlice MakeSlice(float z) {
  TerrainSlice slice;
  slice.z = z;
  return slice;
}

float SliceCentre(TerrainSlice& slice) {
  if (!slice.has_centre) {
    slice.cx = CanyonCentre(slice.z);
    slice.has_centre = true;
  }
  return slice.cx;
}

float SliceWidth(TerrainSlice& slice, float w) {
  if (!slice.has_width) {
    // The canyon narrows and widens along z.
    const float z = slice.z;
    const float u = N01(3, 72.0f, 0.012f * z - 31.0f);
    const float width_wave = std::sin(4.3982296f * u + 0.018f * z) * 0.22f + (u - 0.5f) * 0.28f + 1.0f;
    slice.width_scale = Clamp(width_wave, 0.72f, 1.34f) * w;
    slice.has_width = true;
  }
  return slice.width_scale;
}

HeightBounds MakeHeightBounds(const DebugParams& p) {
  const float height_scale = std::fabs(p.terrain_height);
  const float detail = std::fabs(p.terrain_detail);
  // Each bound adds a hundredth for rounding.
  HeightBounds b;
  b.floor = 0.35f * height_scale * detail * kNoiseBound + 0.3f * std::fabs(p.terrain_floor) * kNoiseBound -
            2.4f + 0.01f;
  // |wall| <= 2.4 + 2|G| + 1.35 + 2.35|detail||E| + 10.
  b.wall = 2.4f + 2.0f * kNoiseBound + 1.35f + 2.35f * detail * kNoiseBound + 10.0f + 0.01f;
  b.ripple = 0.62f * detail * kNoiseBound + 0.01f;
  b.above_floor = b.wall + b.ripple + (p.large_features ? kLandmarkSumBound : 0.0f);
  b.anywhere = b.floor + height_scale * b.above_floor + 0.01f;
  return b;
}

}  // namespace canyon_detail

Landmark BuildLandmark(std::int32_t segment) {
  const std::uint32_t base = static_cast<std::uint32_t>(segment) * 0x9E3779B1u;
  const auto r = [base](std::uint32_t salt) { return HashUnit(base + salt); };

  Landmark lm;
  lm.key = segment;
  lm.zc = (r(1597463056u) - 0.5f) * 29.76f + 62.0f * static_cast<float>(segment) + 31.0f;
  lm.xc = CanyonCentre(lm.zc);
  lm.side = r(1597463122u) >= 0.5f ? 1.0f : -1.0f;
  lm.side_offset = 24.0f * r(1597463192u);
  lm.r1 = 10.8f + 10.5f * r(1597463032u);
  lm.u1 = 22.32f + 24.8f * r(1597463048u);
  lm.a1 = 2.304f + 1.856f * r(1597463072u);
  lm.a2 = 0.945f + 0.972f * r(1597463090u);
  lm.r2 = 21.6f + 21.0f * r(1597463104u);
  lm.u2 = 34.56f + 26.4f * r(1597463138u);
  lm.a3 = 2.304f + 1.536f * r(1597463174u);
  lm.ridge_slope = (r(1597463200u) - 0.5f) * 0.62f;
  lm.ridge_shift = (10.0f + 14.0f * r(1597463218u)) * lm.side;
  lm.ridge_width = 9.36f + 7.44f * r(1597463236u);
  lm.ridge_length = 48.36f + 32.24f * r(1597463254u);
  lm.a4 = 2.04f + 1.86f * r(1597463178u);
  lm.u1_sq = lm.u1 * lm.u1;
  lm.r1_sq = lm.r1 * lm.r1;
  lm.u2_sq = lm.u2 * lm.u2;
  lm.r2_sq = lm.r2 * lm.r2;
  // m1 > 1.2 once either term alone exceeds it, m2 > 1.05 likewise; the ridge's across ramp
  // reaches 1 at one ridge width. A tenth of a percent covers every rounding on the way.
  constexpr float kMargin = 1.001f;
  lm.mound_reach_z = 1.0954452f * lm.u1 * kMargin;  // sqrt(1.2)
  lm.mound_reach_x = 1.0954452f * lm.r1 * kMargin;
  lm.base_reach_z = 1.0246951f * lm.u2 * kMargin;  // sqrt(1.05)
  lm.base_reach_x = 1.0246951f * lm.r2 * kMargin;
  lm.ridge_reach = lm.ridge_width * kMargin;

  lm.mesa = r(1597463286u) > 0.24f;
  if (lm.mesa) {
    lm.mesa_side = r(1597463302u) >= 0.5f ? 1.0f : -1.0f;
    lm.zm = lm.zc + (r(1597463318u) - 0.5f) * 28.0f;
    lm.xm = CanyonCentre(lm.zm);
    lm.mesa_offset = 10.0f * r(1597463328u);
    lm.mesa_w = 20.64f + 8.16f * r(1597463354u);
    lm.mesa_y = 27.88f + 12.24f * r(1597463372u);
    lm.mesa_inv_w = 1.0f / lm.mesa_w;
    lm.mesa_inv_y = 1.0f / lm.mesa_y;
    lm.mesa_r2 = 1.32f * (lm.mesa_y * lm.mesa_y + lm.mesa_w * lm.mesa_w);
    const float angle = (r(1597463336u) - 0.5f) * 0.82f + 0.18f * lm.mesa_side;
    lm.mesa_cos = std::cos(angle);
    lm.mesa_sin = std::sin(angle);
    lm.a5 = 5.332f + 1.736f * r(1597463390u);
  }
  return lm;
}

namespace {

// Sixteen recently used landmarks per thread, slot s AND 15, validated by key. Thread-local so
// the parallel column tasks never share it and need no lock.
struct LandmarkCache {
  Landmark slots[16];  // default key 2147483647: empty
};
thread_local LandmarkCache landmark_cache;

}  // namespace

namespace canyon_detail {

const Landmark& CachedLandmark(std::int32_t segment) {
  Landmark& slot = landmark_cache.slots[static_cast<std::uint32_t>(segment) & 15u];
  if (slot.key != segment) slot = BuildLandmark(segment);
  return slot;
}

}  // namespace canyon_detail

using canyon_detail::CachedLandmark;
using canyon_detail::kLandmarkMaxZ;

float LandmarkHeight(float x, float z, float width_scale) {
  if (!(std::fabs(z) < kLandmarkMaxZ)) return 0.0f;
  const float B = width_scale;
  const std::int32_t centre_segment = static_cast<std::int32_t>(std::floor(z / 62.0f));

  float sum = 0.0f;
  for (std::int32_t segment = centre_segment - 1; segment <= centre_segment + 1; ++segment) {
    const Landmark& lm = CachedLandmark(segment);

    // 1. Only landmarks near (x, z) contribute.
    const float dz = z - lm.zc;
    if (std::fabs(dz) > 50.84f) continue;
    const float fx = lm.xc + lm.side * (25.0f * B + lm.side_offset);
    const float dx = x - fx;
    if (std::fabs(dx) > 108.0f) continue;

    // 2.-3. Elliptical distances of the mound and the base; mound, peak on top of it, broad
    // base. Each is exactly 0 outside its ellipse (the ramp clamps to 1 there), so points beyond
    // an ellipse's reach along either axis skip its divisions.
    const float adz = std::fabs(dz);
    const float adx = std::fabs(dx);
    float mound = 0.0f;
    float peak = 0.0f;
    // (Written as "not beyond" so that a NaN coordinate takes the full path, as it always did.)
    if (!(adz > lm.mound_reach_z) && !(adx > lm.mound_reach_x)) {
      const float m1 = dz * dz / lm.u1_sq + dx * dx / lm.r1_sq;
      if (!(m1 > 1.2f)) mound = (1.0f - SS(Clamp01((m1 - 0.16f) / 1.0064f))) * lm.a1;
      if (!(m1 > 0.4f)) peak = (1.0f - SS(Clamp01((m1 - 0.0324f) / 0.352f))) * lm.a2;
    }
    float base = 0.0f;
    if (!(adz > lm.base_reach_z) && !(adx > lm.base_reach_x)) {
      const float m2 = dz * dz / lm.u2_sq + dx * dx / lm.r2_sq;
      if (!(m2 > 1.05f)) base = (1.0f - SS(Clamp01((m2 - 0.1764f) / 0.8236f))) * lm.a3;
    }

    // 4. A slanted ridge running along z beside the mound, 0 beyond its length and width.
    float ridge = 0.0f;
    if (adz <= 1.01f * lm.ridge_length) {
      const float ridge_x = fx - lm.ridge_shift + dz * lm.ridge_slope;
      const float across = std::fabs(x - ridge_x);
      if (!(across > lm.ridge_reach)) {
        const float rl = Clamp01((adz / lm.ridge_length - 0.28f) / 0.72f);
        const float rw = Clamp01((across / lm.ridge_width - 0.15f) / 0.85f);
        ridge = (1.0f - SS(rl)) * (1.0f - SS(rw)) * lm.a4;
      }
    }

    // 5.
    sum += mound + peak + base + ridge;

    // 6. A rotated flat-topped mesa with steep rims.
    if (lm.mesa) {
      const float t = z - lm.zm;
      const float v = x - ((21.0f * B + 7.0f + lm.mesa_offset) * lm.mesa_side + lm.xm);
      if (t * t + v * v <= lm.mesa_r2) {
        const float across = std::fabs(lm.mesa_cos * v - t * lm.mesa_sin) * lm.mesa_inv_w;
        const float along = std::fabs(t * lm.mesa_cos + v * lm.mesa_sin) * lm.mesa_inv_y;
        const float q = Clamp01(1.0f - std::max(across, along));
        const float A = Clamp01((q - 0.02f) / 0.14f);
        sum += SS(A) * q * lm.a5;
      }
    }
  }
  return sum;
}

namespace canyon_detail {

// An upper bound on LandmarkHeight(x, z, B) for every width scale B from b_lo to b_hi: the sum,
// in the same order, of the peak amplitudes of the segments whose landmark can be near (x, z).
// The landmark's place across depends on B monotonically, so its nearest and farthest places
// are those of b_lo and b_hi. For |z| below kLandmarkMaxZ.
float LandmarkBound(float x, float z, float b_lo, float b_hi) {
  const std::int32_t centre_segment = static_cast<std::int32_t>(std::floor(z / 62.0f));
  float sum = 0.0f;
  for (std::int32_t segment = centre_segment - 1; segment <= centre_segment + 1; ++segment) {
    const Landmark& lm = CachedLandmark(segment);
    if (std::fabs(z - lm.zc) > 50.84f) continue;
    const float fx_lo = lm.xc + lm.side * (25.0f * b_lo + lm.side_offset);
    const float fx_hi = lm.xc + lm.side * (25.0f * b_hi + lm.side_offset);
    if (x < std::min(fx_lo, fx_hi) - 108.01f || x > std::max(fx_lo, fx_hi) + 108.01f) continue;
    sum += lm.a1 + lm.a2 + lm.a3 + lm.a4;
    if (lm.mesa) sum += lm.a5;
  }
  return sum;
}

// An upper bound on LandmarkHeight(x, z, B): the same walk over the segments with the same tests
// of which terms can be non-zero, adding each such term's amplitude instead of its value (every
// term is its amplitude times a factor of at most 1, and the sums are formed in the same order,
// so the bound holds in float as well). For |z| below kLandmarkMaxZ.
float LandmarkTermsBound(float x, float z, float B) {
  const std::int32_t centre_segment = static_cast<std::int32_t>(std::floor(z / 62.0f));
  float sum = 0.0f;
  for (std::int32_t segment = centre_segment - 1; segment <= centre_segment + 1; ++segment) {
    const Landmark& lm = CachedLandmark(segment);
    const float dz = z - lm.zc;
    if (std::fabs(dz) > 50.84f) continue;
    const float fx = lm.xc + lm.side * (25.0f * B + lm.side_offset);
    const float dx = x - fx;
    if (std::fabs(dx) > 108.0f) continue;
    const float adz = std::fabs(dz);
    const float adx = std::fabs(dx);
    const bool mound_zone = !(adz > lm.mound_reach_z) && !(adx > lm.mound_reach_x);
    const bool base_zone = !(adz > lm.base_reach_z) && !(adx > lm.base_reach_x);
    const float ridge_x = fx - lm.ridge_shift + dz * lm.ridge_slope;
    const bool ridge_zone = adz <= 1.01f * lm.ridge_length && !(std::fabs(x - ridge_x) > lm.ridge_reach);
    sum += (mound_zone ? lm.a1 : 0.0f) + (mound_zone ? lm.a2 : 0.0f) + (base_zone ? lm.a3 : 0.0f) +
           (ridge_zone ? lm.a4 : 0.0f);
    if (lm.mesa) {
      const float t = z - lm.zm;
      const float v = x - ((21.0f * B + 7.0f + lm.mesa_offset) * lm.mesa_side + lm.xm);
      if (t * t + v * v <= lm.mesa_r2) sum += lm.a5;
    }
  }
  return sum;
}

canyon_lanes::F4 LandmarkHeight4(const float* xs, const float* zs, const float* widths, const bool* active) {
  using namespace canyon_lanes;
  // Each lane sums the segments around its own z in increasing order, as LandmarkHeight does;
  // the lanes walk the union of those segments together and a lane ignores the segments that are
  // not its own.
  std::int32_t lane_segment[4] = {};
  bool any = false;
  std::int32_t first = 0;
  std::int32_t last = 0;
  for (int k = 0; k < 4; ++k) {
    if (!active[k]) continue;
    lane_segment[k] = static_cast<std::int32_t>(std::floor(zs[k] / 62.0f));
    first = any ? std::min(first, lane_segment[k]) : lane_segment[k];
    last = any ? std::max(last, lane_segment[k]) : lane_segment[k];
    any = true;
  }
  F4 sum = Splat(0.0f);
  if (!any) return sum;
  const F4 x = Load(xs);
  const F4 z = Load(zs);
  const F4 B = Load(widths);
  const F4 zero = Splat(0.0f);
  const F4 one = Splat(1.0f);
  const __m128i own_segment =
      _mm_setr_epi32(lane_segment[0], lane_segment[1], lane_segment[2], lane_segment[3]);
  const M4 lanes_active = MaskFromBools(active);
  for (std::int32_t segment = first - 1; segment <= last + 1; ++segment) {
    // A lane takes the segments within one of its own.
    const __m128i offset = _mm_sub_epi32(_mm_set1_epi32(segment), own_segment);
    const M4 member =
        And(lanes_active, M4{_mm_castsi128_ps(_mm_and_si128(_mm_cmpgt_epi32(offset, _mm_set1_epi32(-2)),
                                                            _mm_cmplt_epi32(offset, _mm_set1_epi32(2))))});
    const Landmark& lm = CachedLandmark(segment);

    // 1. Only landmarks near each point contribute.
    const F4 dz = z - Splat(lm.zc);
    const F4 fx = Splat(lm.xc) + Splat(lm.side) * (Splat(25.0f) * B + Splat(lm.side_offset));
    const F4 dx = x - fx;
    const F4 adz = Abs(dz);
    const F4 adx = Abs(dx);
    const M4 near = And(member, And(Not(adz > Splat(50.84f)), Not(adx > Splat(108.0f))));
    if (!Any(near)) continue;

    // 2.-3. Mound, peak and base, each 0 beyond its reach; 4. the slanted ridge. A term no lane
    // reaches is skipped: it would add exactly 0 (every term is +0 or positive).
    F4 terms = zero;
    const M4 mound_zone =
        And(near, And(Not(adz > Splat(lm.mound_reach_z)), Not(adx > Splat(lm.mound_reach_x))));
    if (Any(mound_zone)) {
      const F4 m1 = dz * dz / Splat(lm.u1_sq) + dx * dx / Splat(lm.r1_sq);
      const F4 mound_ramp = Clamp01((m1 - Splat(0.16f)) / Splat(1.0064f));
      const F4 mound =
          Select(And(mound_zone, Not(m1 > Splat(1.2f))), (one - SS(mound_ramp)) * Splat(lm.a1), zero);
      const F4 peak_ramp = Clamp01((m1 - Splat(0.0324f)) / Splat(0.352f));
      const F4 peak =
          Select(And(mound_zone, Not(m1 > Splat(0.4f))), (one - SS(peak_ramp)) * Splat(lm.a2), zero);
      terms = mound + peak;
    }
    const M4 base_zone = And(near, And(Not(adz > Splat(lm.base_reach_z)), Not(adx > Splat(lm.base_reach_x))));
    if (Any(base_zone)) {
      const F4 m2 = dz * dz / Splat(lm.u2_sq) + dx * dx / Splat(lm.r2_sq);
      const F4 base_ramp = Clamp01((m2 - Splat(0.1764f)) / Splat(0.8236f));
      const F4 base =
          Select(And(base_zone, Not(m2 > Splat(1.05f))), (one - SS(base_ramp)) * Splat(lm.a3), zero);
      terms = terms + base;
    }
    const F4 ridge_x = fx - Splat(lm.ridge_shift) + dz * Splat(lm.ridge_slope);
    const F4 across = Abs(x - ridge_x);
    const M4 ridge_zone =
        And(near, And(adz <= Splat(1.01f * lm.ridge_length), Not(across > Splat(lm.ridge_reach))));
    if (Any(ridge_zone)) {
      const F4 rl = Clamp01((adz / Splat(lm.ridge_length) - Splat(0.28f)) / Splat(0.72f));
      const F4 rw = Clamp01((across / Splat(lm.ridge_width) - Splat(0.15f)) / Splat(0.85f));
      terms = terms + Select(ridge_zone, (one - SS(rl)) * (one - SS(rw)) * Splat(lm.a4), zero);
    }

    // 5.
    sum = Select(near, sum + terms, sum);

    // 6. The mesa.
    if (lm.mesa) {
      const F4 t = z - Splat(lm.zm);
      const F4 v =
          x - ((Splat(21.0f) * B + Splat(7.0f) + Splat(lm.mesa_offset)) * Splat(lm.mesa_side) + Splat(lm.xm));
      const M4 inside = And(near, t * t + v * v <= Splat(lm.mesa_r2));
      if (Any(inside)) {
        const F4 cos_a = Splat(lm.mesa_cos);
        const F4 sin_a = Splat(lm.mesa_sin);
        const F4 mesa_across = Abs(cos_a * v - t * sin_a) * Splat(lm.mesa_inv_w);
        const F4 mesa_along = Abs(t * cos_a + v * sin_a) * Splat(lm.mesa_inv_y);
        const F4 q = Clamp01(one - Max(mesa_across, mesa_along));
        const F4 A = Clamp01((q - Splat(0.02f)) / Splat(0.14f));
        sum = Select(inside, sum + SS(A) * q * Splat(lm.a5), sum);
      }
    }
  }
  return sum;
}

namespace {

// The four heights of the normal one at a time: the reference for NormalHeights, and its path
// for points where the lanes do not apply.
void NormalHeightsOneByOne(float x, TerrainSlice& slice, const DebugParams& p, bool z_pair_on_floor,
                           float* out) {
  const float z = slice.z;
  out[0] = HeightOnSlice(x - 1.0f, slice, p, true);
  out[1] = HeightOnSlice(x + 1.0f, slice, p, true);
  if (z_pair_on_floor) {
    float ripple = 0.0f;
    out[2] = FloorHeight(x, z - 1.0f, p, &ripple);
    out[3] = FloorHeight(x, z + 1.0f, p, &ripple);
  } else {
    TerrainSlice behind = MakeSlice(z - 1.0f);
    TerrainSlice ahead = MakeSlice(z + 1.0f);
    out[2] = HeightOnSlice(x, behind, p, true);
    out[3] = HeightOnSlice(x, ahead, p, true);
  }
}

}  // namespace

NeighbourSlices MakeNeighbourSlices(float z) {
  return {MakeSlice(z - 1.0f), MakeSlice(z + 1.0f)};
}

void NormalHeights(float x, TerrainSlice& slice, const DebugParams& p, float* out,
                   NeighbourSlices* neighbours) {
  const float z = slice.z;
  const float w = p.terrain_width > 0.2f ? p.terrain_width : 0.2f;

  // Deep in the river bed the centre line cannot move far enough over one unit of z for the
  // pair along z to leave the bed, where the height is the floor alone: no centre line or width
  // is needed there.
  const float bed_margin = CentreDrift(z, 1.0f) + 1.0e-6f * std::fabs(x);
  const bool z_pair_on_floor =
      !BeyondTheTerraces(x, z, w) && std::fabs(x - SliceCentre(slice)) + bed_margin <= 3.6f * w;
  if (!std::isfinite(x) || !(std::fabs(z) < kLandmarkMaxZ)) {
    NormalHeightsOneByOne(x, slice, p, z_pair_on_floor, out);
    return;
  }

  // Lanes: (x - 1, z), (x + 1, z), (x, z - 1), (x, z + 1).
  NeighbourSlices own;
  if (neighbours == nullptr) {
    own = MakeNeighbourSlices(z);
    neighbours = &own;
  }
  TerrainSlice* const slices[4] = {&slice, &slice, &neighbours->behind, &neighbours->ahead};
  const float xs[4] = {x - 1.0f, x + 1.0f, x, x};
  const bool floor_only[4] = {false, false, z_pair_on_floor, z_pair_on_floor};
  HeightsOnSlices4(xs, slices, floor_only, p, out);
}

void HeightsOnSlices4(const float* xs, TerrainSlice* const* slices, const bool* floor_only,
                      const DebugParams& p, float* out) {
  using namespace canyon_lanes;
  const float height_scale = p.terrain_height;
  const float detail = p.terrain_detail;
  const float w = p.terrain_width > 0.2f ? p.terrain_width : 0.2f;
  const float zs[4] = {slices[0]->z, slices[1]->z, slices[2]->z, slices[3]->z};

  // 1.-5. Per lane: distance from the centre line, bed or wall, width and wall ramp.
  float fs[4] = {};
  float widths[4] = {};
  float ramps[4] = {};
  bool wall[4] = {};
  bool far_out[4] = {};
  bool slope[4] = {};  // neither far out nor in the river bed: the ramp needs working out
  for (int k = 0; k < 4; ++k) {
    if (floor_only[k]) continue;
    if (BeyondTheTerraces(xs[k], zs[k], w)) {
      // Full ramp, no terraces, no centre line needed.
      far_out[k] = true;
      widths[k] = SliceWidth(*slices[k], w);
      ramps[k] = 1.0f;
      wall[k] = true;
      continue;
    }
    const float f = std::fabs(xs[k] - SliceCentre(*slices[k]));
    fs[k] = f;
    if (f <= 3.6f * w) continue;  // the river bed
    widths[k] = SliceWidth(*slices[k], w);
    slope[k] = true;
  }
  // The wall ramp of the lanes on the slopes, four wide (the other lanes' values are unused).
  {
    const F4 B = Load(widths);
    float D[4];
    Store(D, SS(Clamp01((Load(fs) - Splat(5.0f) * B) / (Splat(16.0f) * B))));
    for (int k = 0; k < 4; ++k) {
      if (!slope[k]) continue;
      ramps[k] = D[k];
      wall[k] = !(D[k] <= 0.0f);  // else below the wall ramp
    }
  }

  // 2. The floor, in every lane.
  const float* table = NoiseTable();
  const F4 x4 = Load(xs);
  const F4 z4 = Load(zs);
  const F4 g = SampleNoise4(table, Splat(0.18f) * x4, Splat(0.16f) * z4, 1);
  const F4 floor_noise = SampleNoise4(table, Splat(0.11f) * x4, Splat(0.08f) * z4, 2);
  const F4 floor =
      Splat(0.35f * height_scale * detail) * g + Splat(0.3f * p.terrain_floor) * floor_noise - Splat(2.4f);
  const M4 walls = MaskFromBools(wall);
  if (!Any(walls)) {
    Store(out, floor);
    return;
  }

  // 6.-7. Wall noise and terraces.
  const F4 E = SampleNoise4(table, Splat(0.045f) * x4 + Splat(10.0f), Splat(0.04f) * z4 - Splat(4.0f), 0);
  const F4 G = SampleNoise4(table, Splat(0.01f) * x4 - Splat(19.0f), Splat(0.008f) * z4 + Splat(13.0f), 3);
  const F4 I =
      Clamp01((SampleNoise4(table, Splat(0.0065f) * x4 + Splat(37.0f), Splat(0.009f) * z4 - Splat(29.0f), 2) +
               Splat(1.0f)) *
              Splat(0.5f));
  const F4 B = Load(widths);
  const F4 O = Select(MaskFromBools(far_out), Splat(1.0f),
                      Clamp01((Load(fs) - Splat(28.0f) * B) / (Splat(26.0f) * B)));
  float G_lanes[4];
  float O_lanes[4];
  Store(G_lanes, G);
  Store(O_lanes, O);
  float terraces[4] = {};
  for (int k = 0; k < 4; ++k) {
    if (!wall[k] || !(O_lanes[k] < 1.0f)) continue;  // no terraces left where O = 1
    const float s = xs[k] >= SliceCentre(*slices[k]) ? 1.9f : -1.9f;
    terraces[k] = Clamp01(std::sin(0.055f * zs[k] + 2.7f * G_lanes[k] + s) * 0.892857f + 0.14285715f);
  }

  // 8.-9. Wall height, ramped in.
  const F4 D = Load(ramps);
  const F4 ripple = Splat(0.62f * detail * height_scale) * D * g;
  const F4 M = Clamp01((I - Splat(0.54f)) / Splat(0.3f));
  const F4 wall_height = Splat(2.4f) * SS(M) + Splat(2.0f) * G +
                         Splat(1.35f) * (Splat(1.0f) - SS(O)) * D * SS(Load(terraces)) +
                         Splat(2.35f * detail) * E + Splat(10.0f);
  F4 result = Splat(height_scale) * D * wall_height + floor + ripple;

  // 10. The landmarks.
  if (p.large_features) {
    const F4 landmark = LandmarkHeight4(xs, zs, widths, wall) * D * Splat(height_scale);
    result = result + landmark;
  }
  Store(out, Select(walls, result, floor));
}

}  // namespace canyon_detail

float CameraGround(float x, float z, const DebugParams& p) {
  const float cx = CanyonCentre(z);
  const float lateral = 0.3f * (x - cx);
  const float h1 = TerrainHeight(CanyonCentre(z - 10.0f) + lateral, z - 10.0f, p, false);
  const float h2 = TerrainHeight(cx + lateral, z, p, false);
  const float h3 = TerrainHeight(CanyonCentre(z + 16.0f) + lateral, z + 16.0f, p, false);
  return (0.2f * h1 + 0.5f * h2 + 0.3f * h3 + 2.4f) * 0.16f - 2.4f;
}

// ---------------------------------------------------------------------------------------------
// Shading

Vec3 TerrainColour(float x, float z, float h, float haze, float* moss_out) {
  // 1. Three noise fields at coarse, medium and fine scale.
  const float e = N01(3, 0.03f * x + 11.0f, 0.026f * z - 7.0f);
  const float f = N01(0, 0.095f * x - 3.0f, 0.08f * z + 5.0f);
  const float g = N01(1, 0.31f * x, 0.27f * z);

  // 2. Height bands: S rises up the walls, `low` marks the floor.
  const float hn = Clamp01((h + 2.3f) / 8.8f);
  const float S = SS(hn);
  const float low = 1.0f - SS(Clamp01((h + 2.2f) / 3.2f));

  // 3. Mix factors.
  const float A = (0.2f * e + 0.25f) * low;
  const float Bf = (0.0525f * S * f + 0.04875f * S) * (e - 0.5f) + 1.0f;
  const float Ck = SS(Clamp01(1.0833333f - 8.333333f * std::fabs(f - g))) * S * (0.05f - 0.0275f * low);
  const float Dk = SS(Clamp01((e - 0.72f) / 0.26f)) * 0.1f * S;
  const float Ek = SS(Clamp01((0.48f - f) / 0.42f)) * 0.12f * S;
  const float br = 0.29f * e + 0.91f + 0.055f * g;
  const float Tk = 0.09f * S * (1.0f - f);

  // 4. Moss on the upper walls.
  const float moss = SS(hn) * (1.0f - 0.4f * low) * SS(Clamp01((e - 0.54f) / 0.32f)) *
                     SS(Clamp01((0.78f - f) / 0.4f)) * (0.65f * g + 0.35f);
  if (moss_out) *moss_out = moss;

  // 5. Sandstone base, pale sand on the floor, dark streaks, teal and violet tints, moss, haze.
  Vec3 c(0.22f * S + 0.17f, 0.2f * S + 0.17f, 0.17f * S + 0.16f);
  c = Lerp(c, Vec3(0.545f, 0.515f, 0.44f), A) * Bf;
  c = Lerp(c, Vec3(0.12f, 0.115f, 0.11f), Ck);
  c = Lerp(c, Vec3(0.075f, 0.15f, 0.138f), Dk);
  c = Lerp(c, Vec3(0.145f, 0.105f, 0.155f), Ek) * br;
  c = Lerp(c, Vec3(0.07f, 0.07f, 0.082f), Tk);
  c = Lerp(c, Vec3(0.075f, 0.15f, 0.138f), 0.24f * moss);
  c = Lerp(c, canyon_detail::kHazeColour, haze);
  return c;
}

float TerrainHaze(float x, float z, float h, float dist, float t, const DebugParams& p, float near_dist,
                  float far_dist) {
  // 1. Two drifting mist fields.
  const float na = N(2, 0.02f * x + 0.12f * t, 0.016f * z - 0.078f * t);
  const float nb = N(3, 0.055f * x - 0.18f * t, 0.045f * z - 0.081f * t);

  // 2. Low-lying patches from 18 units out, plus the distance fade.
  const float band = Clamp01((h + 2.8f) / 6.4f);
  const float dn = Clamp01((dist - 18.0f) / 102.0f);
  const float patch =
      Clamp01(0.38f * Clamp01((nb + 1.0f) * 0.5f) + 0.72f * Clamp01((na + 1.0f) * 0.5f) - 0.14f);
  const float pv = Clamp01((patch - 0.18f) / 0.74f);
  const float df = Clamp01((dist - near_dist) / (far_dist - near_dist));

  // 3.
  const float ground_mist = (1.0f - SS(band)) * SS(dn) * SS(pv) * 0.34f;
  const float distance_haze = SS(df) * (0.5f * patch + 0.62f);
  return Clamp01(p.fog * (ground_mist + distance_haze));
}

float TerrainLight(float x, float z, const DebugParams& p, Vec3 sun) {
  canyon_detail::TerrainSlice slice = canyon_detail::MakeSlice(z);
  return canyon_detail::LightOnSlice(x, slice, p, sun);
}

namespace canyon_detail {

float LightOnSlice(float x, TerrainSlice& slice, const DebugParams& p, Vec3 sun,
                   NeighbourSlices* neighbours) {
  // The normal from the four detailed heights around the point, x - 1, x + 1, z - 1, z + 1,
  // evaluated together.
  float heights[4];
  NormalHeights(x, slice, p, heights, neighbours);
  const float ex = heights[0] - heights[1];
  const float ez = heights[2] - heights[3];
  const Vec3 normal = Normalize(Vec3(ex, 2.0f, ez));
  return Clamp01(Dot(normal, sun) * 0.8474576f + 0.15254237f);
}

}  // namespace canyon_detail

float TerrainShadow(float x, float z, float h, const DebugParams& p, float sun_sin, float sun_cos) {
  if (!p.shadows || !(p.shadow_strength > 0.0f)) return 1.0f;
  canyon_detail::ShadowSlices slices = canyon_detail::MakeShadowSlices(z, p, sun_cos);
  return canyon_detail::ShadowOnSlices(x, h, p, sun_sin, slices);
}

namespace canyon_detail {

ShadowSlices MakeShadowSlices(float z, const DebugParams& p, float sun_cos) {
  ShadowSlices s;
  s.bounds = MakeHeightBounds(p);
  for (int i = 1; i <= kShadowSamples; ++i) {
    const float q = (static_cast<float>(i) - 0.35f) * 0.1f;
    const float l = q * p.shadow_length;
    s.slice[i - 1] = MakeSlice(z + l * sun_cos);
  }
  return s;
}

float ShadowOnSlices(float x, float h, const DebugParams& p, float sun_sin, ShadowSlices& slices) {
  if (!p.shadows || !(p.shadow_strength > 0.0f)) return 1.0f;

  float sum = 0.0f;
  float total = 0.0f;
  float hard = 0.0f;
  float soft = 0.0f;
  for (int i = 1; i <= kShadowSamples; ++i) {
    // 1. Samples bunch up near the point, with a margin that widens with distance.
    const float q = (static_cast<float>(i) - 0.35f) * 0.1f;
    const float l = q * p.shadow_length;
    const float m = 0.02f * l + 0.75f;
    const float o = -0.08f * m;

    // 2. How far the terrain there rises above the ray toward the sun. Terrain that cannot
    // reach the ray gives exactly 0, so its full height is not needed.
    const float ray = 0.36f * l + h + 0.2f;
    const auto below_ray = [ray, o](float bound) { return bound - ray - o <= 0.0f; };
    float th = 0.0f;
    float v = 0.0f;
    if (HeightOnSliceUnless(x + l * sun_sin, slices.slice[i - 1], p, true, slices.bounds, below_ray, &th)) {
      v = SS(Clamp01((th - ray - o) / (m - o)));
    }

    // 3. Near samples weigh more.
    const float weight = (1.0f - q) * (1.0f - q) + 0.12f;
    sum += v * weight;
    total += weight;
    hard = std::max(hard, v);
    soft = Clamp01(sum / total * 1.3f);
  }
  return 1.0f - ((hard - soft) * 0.72f + soft) * p.shadow_strength;
}

}  // namespace canyon_detail

float CanyonPulse(const MusicViz& mv) {
  if (!mv.active) return 0.0f;
  return Clamp01(0.35f * mv.cue_finale + 0.45f * mv.build + 0.75f * mv.impact + 0.3f * mv.kick +
                 0.18f * mv.lead);
}

namespace canyon_detail {

RiverTime MakeRiverTime(float t, const MusicViz& mv) {
  RiverTime rt;
  rt.k_shift_x = 0.08f * std::sin(0.19f * t);
  rt.k_shift_z = 0.08f * std::cos(0.19f * t * 0.73f);
  rt.sway = 0.75f * std::sin(0.36f * t);
  rt.step = 0.35f * kPi * mv.step_phase;
  rt.pulse = CanyonPulse(mv);
  return rt;
}

float RiverGlowAt(float x, float z, float centre, float h, const RiverTime& rt) {
  // Beyond 7.5 units from the centre line, or on ground above 3.2, the band or the lowness is
  // exactly 0 and so is the glow: skip its noise and ripple there.
  if (std::fabs(x - centre) > 7.51f || h > 3.21f) return 0.0f;
  const float P = rt.pulse;
  // Only on low ground.
  const float lw = 1.0f - SS(Clamp01((h + 2.6f) / 5.8f));
  // A band 2 to 3 units wide along the centre line, fading out by 7.5 units.
  const float k = N01(3, rt.k_shift_x + 0.065f * x, rt.k_shift_z + 0.052f * z);
  const float rw = 0.65f * k + 2.08f;
  const float across = 1.0f - SS(Clamp01((std::fabs(x - centre) - rw) / (7.5f - rw)));
  // Ripples travelling with the sixteenth notes.
  const float wave = std::sin(rt.sway + 0.027f * x + rt.step + 1.2f * kPi * k + 0.055f * z);
  const float level = 0.155f * P + 0.09f * wave + 0.025f * wave * P + 0.07f * k * P + 0.252f * k + 0.558f;
  return Clamp01(level * across * lw);
}

}  // namespace canyon_detail

float RiverGlow(float x, float z, float h, float t, const MusicViz& mv) {
  return canyon_detail::RiverGlowAt(x, z, CanyonCentre(z), h, canyon_detail::MakeRiverTime(t, mv));
}

// ---------------------------------------------------------------------------------------------
// Flight camera and column march

CanyonFrame BuildCanyonFrame(float t, const DebugParams& p, const SceneCameraParams& cam, std::size_t width,
                             std::size_t height, std::size_t frame_index, bool scene_changed) {
  CanyonFrame cf;
  CanyonView& v = cf.view;
  const float W = static_cast<float>(width);
  const float H = static_cast<float>(height);

  // 1.-5. Position along the path, meander, bob and heading toward a point 38 units ahead.
  v.fov = cam.fov_off * (kPi / 180.0f) + 1.2915437f;
  v.camZ = 16.0f * t * p.speed + cam.forward;
  v.camX = 18.0f * std::sin(0.011f * v.camZ) + 10.0f * std::sin(0.035f * v.camZ) + cam.side +
           2.5f * std::sin(0.85f * t);
  v.camH = 0.25f * std::sin(0.8f * t) + cam.height + CameraGround(v.camX, v.camZ, p) + 2.7f;
  v.heading =
      std::atan2(CanyonCentre(v.camZ + 38.0f) - v.camX, 38.0f) + cam.yaw + 0.08f * std::sin(0.39f * t);

  // 6. Horizon row, swaying slightly.
  const float horizon = (0.025f * std::sin(0.21f * t) + p.horizon + 0.46f) * H;

  // 7. Bank into the bends of the path.
  const float bend = CanyonPathAngle(v.camZ + 22.0f) - CanyonPathAngle(v.camZ - 22.0f);

  // A clock this far out has no camera (16 t overflows, or t was not finite to begin with):
  // show the start of the flight rather than march rays from nowhere.
  const bool placed = std::isfinite(v.camX) && std::isfinite(v.camZ) && std::isfinite(v.camH) &&
                      std::isfinite(v.heading) && std::isfinite(horizon) && std::isfinite(bend);
  if (!placed && t != 0.0f) return BuildCanyonFrame(0.0f, p, cam, width, height, frame_index, scene_changed);
  cf.time = t;
  cf.horizon_row = placed ? static_cast<int>(horizon) : 0;
  v.horizon = static_cast<float>(cf.horizon_row);
  cf.roll = Clamp(bend * p.bank * -3.0f, -0.5f, 0.5f);
  v.slope = std::tan(cf.roll);
  v.width = W;
  v.height = H;
  v.scale = 180.0f;

  // 8. Ray steps. The density also divides the step size: a hand-built record with a zero,
  // negative or non-finite density marches at a sane pace instead of dividing by it.
  const bool density_valid = std::isfinite(p.ray_density) && p.ray_density > 0.0f;
  cf.density = density_valid ? std::max(p.ray_density, 0.01f) : 1.0f;
  cf.steps = static_cast<int>(
      Clamp((density_valid ? p.ray_density : 1.0f) * 165.0f, 32.0f, static_cast<float>(kMaxCanyonSteps)));
  if (!placed) cf.steps = 0;  // a camera made of non-finite parameters sees no terrain

  // 9. Sun direction, low above the horizon.
  const float a = p.sun_angle;
  cf.sun_sin = std::sin(a);
  cf.sun_cos = std::cos(a);
  cf.sun = Normalize(Vec3(cf.sun_sin, 0.36f, cf.sun_cos));

  // 10. Interlacing: half the columns per frame, all of them on the scene's first frame.
  if (!p.interlace || scene_changed) {
    cf.column_step = 1;
    cf.parity = 0;
  } else {
    cf.column_step = 2;
    cf.parity = static_cast<int>(frame_index & 1u);
  }
  return cf;
}

bool CanyonColumnDrawn(const CanyonFrame& cf, std::size_t x) {
  return cf.column_step != 2 || static_cast<int>(x % 2) == cf.parity;
}

namespace {

// Per-frame values the shading of every column shares.
struct ShadeContext {
  const CanyonFrame* cf;
  const DebugParams* p;
  const MusicViz* mv;
  float t;
  canyon_detail::RiverTime river;
  float lava_shift_z;  // time terms of the lava pattern
  float lava_sway;
  canyon_detail::HeightBounds bounds;
  bool lanes = false;                                   // the march and its shading take the lane kernels
  const canyon_detail::LaneKernels* kernels = nullptr;  // those kernels
  float lane_error = 0.0f;                              // LaneHeightError
  canyon_detail::LaneTerms lane_terms;
  canyon_detail::LaneShading lane_shading;
  // The march's distances, the same for every column, and the rows one unit of height spans at
  // each (scale / d): worked out once instead of once per column.
  int steps = 0;
  std::array<float, kMaxCanyonSteps> distance;
  std::array<float, kMaxCanyonSteps> rows_per_unit;
};

ShadeContext MakeShadeContext(const CanyonFrame& cf, float t, const DebugParams& p, const MusicViz& mv) {
  ShadeContext sc;
  sc.cf = &cf;
  sc.p = &p;
  sc.mv = &mv;
  sc.t = t;
  sc.river = canyon_detail::MakeRiverTime(t, mv);
  sc.lava_shift_z = 0.1f * std::sin(0.1159f * t);
  sc.lava_sway = 0.8f * std::sin(0.31f * t);
  sc.bounds = canyon_detail::MakeHeightBounds(p);
  // One width for the march and the shading: switching between AVX2 and AVX-512 code within a
  // frame cost more than the wider shading saved.
  sc.kernels = canyon_detail::FastLaneKernels();
  sc.lanes = sc.kernels && !canyon_detail::ExactCanyonMarch() && std::fabs(t) < canyon_detail::kLaneMaxTime;
  sc.lane_error = canyon_detail::LaneHeightError(p);
  sc.lane_terms = canyon_detail::MakeLaneTerms(p);
  canyon_detail::LaneShading& sh = sc.lane_shading;
  sh.t = t;
  sh.fog = p.fog;
  sh.sun = cf.sun;
  sh.sun_sin = cf.sun_sin;
  sh.sun_cos = cf.sun_cos;
  sh.river = sc.river;
  sh.lava_shift_z = sc.lava_shift_z;
  sh.lava_sway = sc.lava_sway;
  sh.build = mv.build;
  sh.impact = mv.impact;
  sc.steps = std::clamp(cf.steps, 0, kMaxCanyonSteps);
  float d = 1.0f;
  for (int i = 0; i < sc.steps; ++i) {
    d = d + (0.03f * d + 0.22f) / cf.density;
    sc.distance[static_cast<std::size_t>(i)] = d;
    sc.rows_per_unit[static_cast<std::size_t>(i)] = cf.view.scale / d;
  }
  return sc;
}

}  // namespace

namespace canyon_detail {

void SurfaceColours4(float t, float fog, float far_dist, const float* xs, const float* zs, const float* hs,
                     const float* dists, SampleSurfaces* out) {
  using namespace canyon_lanes;
  const float* table = NoiseTable();
  const F4 x = Load(xs);
  const F4 z = Load(zs);
  const F4 h = Load(hs);
  const F4 dist = Load(dists);
  const F4 one = Splat(1.0f);
  const F4 half = Splat(0.5f);
  const auto n01 = [one, half](F4 n) { return Clamp01((n + one) * half); };

  // TerrainHaze: 1. two drifting mist fields; 2. low patches and the distance fade.
  const float near_dist = 45.0f;
  const F4 na =
      SampleNoise4(table, Splat(0.02f) * x + Splat(0.12f * t), Splat(0.016f) * z - Splat(0.078f * t), 2);
  const F4 nb =
      SampleNoise4(table, Splat(0.055f) * x - Splat(0.18f * t), Splat(0.045f) * z - Splat(0.081f * t), 3);
  const F4 band = Clamp01((h + Splat(2.8f)) / Splat(6.4f));
  const F4 dn = Clamp01((dist - Splat(18.0f)) / Splat(102.0f));
  const F4 patch = Clamp01(Splat(0.38f) * n01(nb) + Splat(0.72f) * n01(na) - Splat(0.14f));
  const F4 pv = Clamp01((patch - Splat(0.18f)) / Splat(0.74f));
  const F4 df = Clamp01((dist - Splat(near_dist)) / Splat(far_dist - near_dist));
  const F4 ground_mist = (one - SS(band)) * SS(dn) * SS(pv) * Splat(0.34f);
  const F4 distance_haze = SS(df) * (half * patch + Splat(0.62f));
  const F4 haze = Clamp01(Splat(fog) * (ground_mist + distance_haze));

  // TerrainColour: 1. three noise fields; 2. height bands; 3. mix factors; 4. moss.
  const F4 e = n01(SampleNoise4(table, Splat(0.03f) * x + Splat(11.0f), Splat(0.026f) * z - Splat(7.0f), 3));
  const F4 f = n01(SampleNoise4(table, Splat(0.095f) * x - Splat(3.0f), Splat(0.08f) * z + Splat(5.0f), 0));
  const F4 g = n01(SampleNoise4(table, Splat(0.31f) * x, Splat(0.27f) * z, 1));
  const F4 hn = Clamp01((h + Splat(2.3f)) / Splat(8.8f));
  const F4 S = SS(hn);
  const F4 low = one - SS(Clamp01((h + Splat(2.2f)) / Splat(3.2f)));
  const F4 A = (Splat(0.2f) * e + Splat(0.25f)) * low;
  const F4 Bf = (Splat(0.0525f) * S * f + Splat(0.04875f) * S) * (e - half) + one;
  const F4 Ck = SS(Clamp01(Splat(1.0833333f) - Splat(8.333333f) * Abs(f - g))) * S *
                (Splat(0.05f) - Splat(0.0275f) * low);
  const F4 Dk = SS(Clamp01((e - Splat(0.72f)) / Splat(0.26f))) * Splat(0.1f) * S;
  const F4 Ek = SS(Clamp01((Splat(0.48f) - f) / Splat(0.42f))) * Splat(0.12f) * S;
  const F4 br = Splat(0.29f) * e + Splat(0.91f) + Splat(0.055f) * g;
  const F4 Tk = Splat(0.09f) * S * (one - f);
  const F4 moss = SS(hn) * (one - Splat(0.4f) * low) * SS(Clamp01((e - Splat(0.54f)) / Splat(0.32f))) *
                  SS(Clamp01((Splat(0.78f) - f) / Splat(0.4f))) * (Splat(0.65f) * g + Splat(0.35f));

  // 5. Sandstone base mixed toward each target in turn.
  F4 c[3] = {Splat(0.22f) * S + Splat(0.17f), Splat(0.2f) * S + Splat(0.17f),
             Splat(0.17f) * S + Splat(0.16f)};
  const auto lerp_to = [&c](Vec3 target, F4 amount) {
    c[0] = c[0] + (Splat(target.x) - c[0]) * amount;
    c[1] = c[1] + (Splat(target.y) - c[1]) * amount;
    c[2] = c[2] + (Splat(target.z) - c[2]) * amount;
  };
  const auto scale = [&c](F4 factor) {
    for (F4& channel : c) channel = channel * factor;
  };
  lerp_to(Vec3(0.545f, 0.515f, 0.44f), A);
  scale(Bf);
  lerp_to(Vec3(0.12f, 0.115f, 0.11f), Ck);
  lerp_to(Vec3(0.075f, 0.15f, 0.138f), Dk);
  lerp_to(Vec3(0.145f, 0.105f, 0.155f), Ek);
  scale(br);
  lerp_to(Vec3(0.07f, 0.07f, 0.082f), Tk);
  lerp_to(Vec3(0.075f, 0.15f, 0.138f), Splat(0.24f) * moss);
  lerp_to(canyon_detail::kHazeColour, haze);

  float channels[3][4];
  for (int i = 0; i < 3; ++i) Store(channels[i], c[i]);
  Store(out->moss, moss);
  for (int k = 0; k < 4; ++k) out->albedo[k] = Vec3(channels[0][k], channels[1][k], channels[2][k]);
}

}  // namespace canyon_detail

namespace {

// The colour of a visible sample whose albedo (with haze) and moss are known.
Vec3 ShadeTerrain(const ShadeContext& sc, float px, canyon_detail::TerrainSlice& slice, float h, Vec3 albedo,
                  float moss) {
  const DebugParams& p = *sc.p;
  const MusicViz& mv = *sc.mv;
  const CanyonFrame& cf = *sc.cf;
  const float pz = slice.z;

  // 3. Sun and shadow.
  const float diffuse = canyon_detail::LightOnSlice(px, slice, p, cf.sun);
  const float shadow = TerrainShadow(px, pz, h, p, cf.sun_sin, cf.sun_cos);

  // 4. Lit colour: the constant term is the warm dusk sky light, which shadows do not remove.
  const float light = shadow * (0.78f * diffuse + 0.1024f) + 0.5376f;
  Vec3 colour = albedo * light + (0.22f * moss) * Vec3(0.08f, 0.72f, 0.32f);

  // 5. The molten river: a flowing crust pattern blended in, plus emitted light.
  // The river stays within 7.5 units of the centre line, itself within 28 of x = 0.
  const float g = std::fabs(px) > 35.6f
                      ? 0.0f
                      : canyon_detail::RiverGlowAt(px, pz, canyon_detail::SliceCentre(slice), h, sc.river);
  if (g > 0.001f) {
    const float k = N01(0, 0.065f * px + 17.0f, sc.lava_shift_z + 0.052f * pz);
    const float z1 = std::sin(5.340708f * k + 0.045f * pz + sc.lava_sway + 0.02f * px);
    const float e = Clamp01((z1 + 1.0f) * mv.build * 0.05f + 0.14f + 0.1f * mv.impact +
                            0.1f * z1 * mv.impact + 0.14f * z1);
    const float a = Clamp01(0.82f * g);
    const Vec3 lava(0.85f * e + 0.5f, 0.315f * e + 0.105f, 0.058f * e + 0.032f);
    colour = Lerp(colour, lava, a) + g * Vec3(0.441f, 0.0966f, 0.0252f);
  }
  return colour;
}

// Whether a sample whose height is at most `bound` lands on or below row `limit` (hidden behind
// what the column already shows), for one sample at a time. The march's row test is
// row_base - trunc((h - camH)*scale/d) >= limit, that is q < k + 1 for k = row_base - limit >= 0
// and q <= k for k < 0, with q = (h - camH)*scale/d. Here q is computed as (h - camH)*(scale/d),
// one division per sample instead of one per question; the two roundings differ by a few parts
// in 10^7 of q, so the test keeps 0.02 rows on the safe side: it may call a hidden sample
// visible (the exact row test rejects it later) but never a visible one hidden. Monotone in the
// bound, so a hidden bound means a hidden sample.
struct HiddenBelow {
  float cam_h;
  float rows_per_unit;  // scale / d
  float threshold;      // k + 0.98, or k - 0.02 when k < 0

  HiddenBelow(float cam_h_, float rows_per_unit_, int row_base, int limit)
      : cam_h(cam_h_), rows_per_unit(rows_per_unit_) {
    const int k = row_base - limit;
    threshold = static_cast<float>(k) + (k >= 0 ? 0.98f : -0.02f);
  }
  bool operator()(float bound) const { return (bound - cam_h) * rows_per_unit <= threshold; }
};

// A visible sample waiting for its colour, and the rows of its column it covers.
struct VisibleSample {
  float px;
  canyon_detail::TerrainSlice slice;
  float h;
  float dist;
  int row_top;
  int row_bottom;
};

// Shades the samples four at a time (haze and colour in lanes, the rest one by one, every value
// exact) and fills their rows of the column.
void ShadeAndFillExact(const ShadeContext& sc, Vec3* column, std::size_t stride, VisibleSample* samples,
                       int count) {
  for (int first = 0; first < count; first += 4) {
    const int n = std::min(4, count - first);
    float xs[4];
    float zs[4];
    float hs[4];
    float dists[4];
    for (int k = 0; k < 4; ++k) {
      const VisibleSample& sample = samples[first + (k < n ? k : 0)];
      xs[k] = sample.px;
      zs[k] = sample.slice.z;
      hs[k] = sample.h;
      dists[k] = sample.dist;
    }
    canyon_detail::SampleSurfaces surfaces;
    canyon_detail::SurfaceColours4(sc.t, sc.p->fog, 160.0f, xs, zs, hs, dists, &surfaces);
    for (int k = 0; k < n; ++k) {
      VisibleSample& sample = samples[first + k];
      const Vec3 colour =
          ShadeTerrain(sc, sample.px, sample.slice, sample.h, surfaces.albedo[k], surfaces.moss[k]);
      for (int r = sample.row_top; r <= sample.row_bottom; ++r) {
        column[static_cast<std::size_t>(r) * stride] = colour;
      }
    }
  }
}

// Shades the samples and fills their rows of the column: as many at a time as the kernels have
// lanes, every term in lanes, on the fast path; else exactly.
void ShadeAndFill(const ShadeContext& sc, Vec3* column, std::size_t stride, VisibleSample* samples,
                  int count) {
  if (!sc.lanes) {
    ShadeAndFillExact(sc, column, stride, samples, count);
    return;
  }
  constexpr int kMax = canyon_detail::kMaxLanes;
  const int lanes = sc.kernels->lanes;
  for (int first = 0; first < count; first += lanes) {
    const int n = std::min(lanes, count - first);
    float xs[kMax];
    float zs[kMax];
    float hs[kMax];
    float dists[kMax];
    float centres[kMax];
    float widths[kMax];
    bool lanes_apply = true;
    for (int k = 0; k < lanes; ++k) {
      VisibleSample& sample = samples[first + (k < n ? k : 0)];
      xs[k] = sample.px;
      zs[k] = sample.slice.z;
      hs[k] = sample.h;
      dists[k] = sample.dist;
      lanes_apply = lanes_apply && std::fabs(xs[k]) < canyon_detail::kLaneMaxCoordinate &&
                    std::fabs(zs[k]) < canyon_detail::kLaneMaxCoordinate && std::isfinite(hs[k]);
      // The march leaves each sample's centre line and width in its slice (from the lanes, or
      // exact where it took the exact height).
      centres[k] = lanes_apply ? canyon_detail::SliceCentre(sample.slice) : 0.0f;
      widths[k] = lanes_apply ? canyon_detail::SliceWidth(sample.slice, sc.lane_terms.w) : 1.0f;
    }
    if (!lanes_apply) {
      ShadeAndFillExact(sc, column, stride, samples + first, n);
      continue;
    }
    Vec3 colours[kMax];
    sc.kernels->shade(sc.lane_terms, sc.lane_shading, xs, zs, hs, dists, centres, widths, colours);
    for (int k = 0; k < n; ++k) {
      const VisibleSample& sample = samples[first + k];
      for (int r = sample.row_top; r <= sample.row_bottom; ++r) {
        column[static_cast<std::size_t>(r) * stride] = colours[k];
      }
    }
  }
}

// Upper bounds on the height at (x, slice.z), for a step that may be hidden: first from the
// centre line alone (the ramp at its steepest, every landmark that could be near at its peak),
// then, when that is not low enough, from the width scale as well (the actual ramp, and only
// the landmark terms that can be non-zero there). Either is the floor's bound in the river bed.
struct StepBounds {
  const ShadeContext& sc;
  float w;  // max(terrain_width, 0.2)

  explicit StepBounds(const ShadeContext& sc_)
      : sc(sc_), w(sc_.p->terrain_width > 0.2f ? sc_.p->terrain_width : 0.2f) {}

  // True when the step is hidden by either bound.
  template <class HiddenTest>
  bool Hidden(float x, canyon_detail::TerrainSlice& slice, const HiddenTest& hidden) const {
    const DebugParams& p = *sc.p;
    const canyon_detail::HeightBounds& b = sc.bounds;
    const float height_scale = std::fabs(p.terrain_height);
    const bool far_out = canyon_detail::BeyondTheTerraces(x, slice.z, w);
    float f = 0.0f;
    float steepest = 1.0f;
    if (!far_out) {
      f = std::fabs(x - canyon_detail::SliceCentre(slice));
      if (f <= 3.6f * w) return hidden(b.floor);  // the river bed: the floor alone
      const float narrowest = 0.72f * w;
      steepest = SS(Clamp01((f - 5.0f * narrowest) / (16.0f * narrowest)));
    }
    const float near_landmarks =
        p.large_features ? canyon_detail::LandmarkBound(x, slice.z, 0.72f * w, 1.34f * w) : 0.0f;
    if (hidden(b.floor + height_scale * steepest * (b.wall + b.ripple + near_landmarks))) return true;
    const float B = canyon_detail::SliceWidth(slice, w);
    const float ramp = far_out ? 1.0f : SS(Clamp01((f - 5.0f * B) / (16.0f * B)));
    const float landmarks = p.large_features ? canyon_detail::LandmarkTermsBound(x, slice.z, B) : 0.0f;
    return hidden(b.floor + height_scale * ramp * (b.wall + b.ripple + landmarks));
  }
};

// Whether every step of a batch (steps first ... first + n - 1) is hidden below row `limit` by
// its height bounds.
bool BatchHidden(const float* xs, canyon_detail::TerrainSlice* slices, int first, int n, int row_base,
                 int limit, const ShadeContext& sc) {
  const StepBounds bounds(sc);
  for (int k = 0; k < n; ++k) {
    const HiddenBelow hidden(sc.cf->view.camH, sc.rows_per_unit[static_cast<std::size_t>(first + k)],
                             row_base, limit);
    if (!bounds.Hidden(xs[k], slices[k], hidden)) return false;
  }
  return true;
}

// One screen column of the march: its ray and its tilted horizon (steps 2 and 3), and the
// visible samples waiting for their colours, shaded and filled in batches (the march itself
// needs only their heights).
struct MarchedColumn {
  const ShadeContext& sc;
  Vec3* pixels;  // the column's top pixel; rows are `stride` apart
  std::size_t stride;
  float dir_x = 0.0f;  // the ray's direction in (x, z)
  float dir_z = 0.0f;
  int row_base = 0;  // the horizon row at this column
  // Once even the highest possible terrain would be hidden, every later (farther) sample is
  // too, provided that height is above the camera (the quotient then only shrinks with
  // distance).
  float highest = 0.0f;
  bool can_stop_early = false;

  static constexpr int kBatch = 32;
  VisibleSample visible[kBatch];
  int pending = 0;

  MarchedColumn(Framebuffer& frame, std::size_t x, const ShadeContext& sc_)
      : sc(sc_), pixels(frame.pixels.data() + x), stride(frame.width) {
    const CanyonFrame& cf = *sc.cf;
    const CanyonView& v = cf.view;
    const float W = static_cast<float>(frame.width);
    const float s = static_cast<float>(x) / W - 0.5f;
    const float angle = s * v.fov + v.heading;
    dir_x = std::sin(angle);
    dir_z = std::cos(angle);
    row_base = static_cast<int>(s * v.slope * W) + cf.horizon_row;
    highest = sc.bounds.anywhere;
    can_stop_early = highest - v.camH >= 0.0f;
  }

  void Add(const VisibleSample& sample) {
    visible[pending++] = sample;
    if (pending == kBatch) Flush();
  }
  void Flush() {
    ShadeAndFill(sc, pixels, stride, visible, pending);
    pending = 0;
  }
};

// Returns the number of rows at the top of the column left for the sky.
int MarchColumn(Framebuffer& frame, std::size_t x, const ShadeContext& sc) {
  const CanyonView& v = sc.cf->view;
  const DebugParams& p = *sc.p;
  MarchedColumn column(frame, x, sc);
  const float dir_x = column.dir_x;
  const float dir_z = column.dir_z;
  const int row_base = column.row_base;
  const float highest = column.highest;
  const bool can_stop_early = column.can_stop_early;
  int limit = static_cast<int>(frame.height) - 1;  // rows below it are filled

  // 4. Front to back, bottom to top. The heights of four steps at a time are evaluated together
  // in lanes (each exactly TerrainHeight); the steps are then taken one by one as before.
  bool stopped = false;
  for (int first = 0; first < sc.steps && limit > 0 && !stopped; first += 4) {
    const int n = std::min(4, sc.steps - first);
    float xs[4];
    canyon_detail::TerrainSlice slices[4];
    bool lanes_apply = true;
    for (int k = 0; k < 4; ++k) {
      const float d = sc.distance[static_cast<std::size_t>(first + std::min(k, n - 1))];
      xs[k] = v.camX + d * dir_x;
      slices[k] = canyon_detail::MakeSlice(v.camZ + d * dir_z);
      lanes_apply = lanes_apply && std::isfinite(xs[k]) && std::fabs(slices[k].z) < kLandmarkMaxZ;
    }
    // Nothing of this batch can show when even its first step is hidden at the greatest height.
    {
      const HiddenBelow hidden(v.camH, sc.rows_per_unit[static_cast<std::size_t>(first)], row_base, limit);
      if (can_stop_early && hidden(highest)) break;
    }
    // Nor when every step's height is bounded below the rows still open: the steps are hidden
    // whatever their exact heights (monotone in the bound, so hidden at the batch's first limit
    // means hidden at the later, higher ones too).
    if (lanes_apply && BatchHidden(xs, slices, first, n, row_base, limit, sc)) continue;
    float hs[4];
    if (lanes_apply) {
      canyon_detail::TerrainSlice* const lane_slices[4] = {&slices[0], &slices[1], &slices[2], &slices[3]};
      const bool floor_only[4] = {};
      canyon_detail::HeightsOnSlices4(xs, lane_slices, floor_only, p, hs);
    } else {
      for (int k = 0; k < 4; ++k) hs[k] = canyon_detail::HeightOnSlice(xs[k], slices[k], p, true);
    }
    for (int k = 0; k < n && limit > 0; ++k) {
      const int i = first + k;
      const float d = sc.distance[static_cast<std::size_t>(i)];
      const HiddenBelow hidden(v.camH, sc.rows_per_unit[static_cast<std::size_t>(i)], row_base, limit);
      if (can_stop_early && hidden(highest)) {
        stopped = true;
        break;
      }
      const float h = hs[k];
      // Hidden behind nearer terrain: the quick test first (it never hides a visible sample),
      // then the exact row.
      if (hidden(h)) continue;
      const int row = row_base - static_cast<int>((h - v.camH) * v.scale / d);
      if (row >= limit) continue;

      column.Add({xs[k], slices[k], h, d, std::max(row, 0), limit});
      limit = row - 1;
    }
  }
  column.Flush();
  return std::max(limit + 1, 0);
}

// The march with the heights of a batch of steps at a time from the lane kernels, each
// within LaneHeightError of the exact height. A step's rows depend on its height only through
// trunc((h - camH)*scale/d): where the lanes' quotient lies so close to a whole number that the
// exact height could fall on the other side, the step takes its exact height instead. So every
// sample covers exactly the rows of the exact march, and only its shading sees the lanes'
// height. Batches whose heights are bounded below the rows still open are skipped as a whole.
int MarchColumnLanes(Framebuffer& frame, std::size_t x, const ShadeContext& sc) {
  const CanyonView& v = sc.cf->view;
  const DebugParams& p = *sc.p;
  MarchedColumn column(frame, x, sc);
  const float dir_x = column.dir_x;
  const float dir_z = column.dir_z;
  const int row_base = column.row_base;
  const float highest = column.highest;
  const bool can_stop_early = column.can_stop_early;
  const float error = sc.lane_error;
  int limit = static_cast<int>(frame.height) - 1;  // rows below it are filled

  // 4. Front to back, bottom to top, a batch of steps at a time.
  constexpr int kMax = canyon_detail::kMaxLanes;
  const canyon_detail::LaneKernels& kernels = *sc.kernels;
  const int lanes = kernels.lanes;
  bool stopped = false;
  for (int first = 0; first < sc.steps && limit > 0 && !stopped; first += lanes) {
    const int n = std::min(lanes, sc.steps - first);
    {
      const HiddenBelow hidden(v.camH, sc.rows_per_unit[static_cast<std::size_t>(first)], row_base, limit);
      if (can_stop_early && hidden(highest)) break;
    }
    float xs[kMax];
    float zs[kMax];
    float cutoffs[kMax];  // a height at or below this is hidden at the batch's first limit
    bool lanes_apply = true;
    for (int k = 0; k < lanes; ++k) {
      const std::size_t i = static_cast<std::size_t>(first + std::min(k, n - 1));
      const float d = sc.distance[i];
      xs[k] = v.camX + d * dir_x;
      zs[k] = v.camZ + d * dir_z;
      lanes_apply = lanes_apply && std::fabs(xs[k]) < canyon_detail::kLaneMaxCoordinate &&
                    std::fabs(zs[k]) < canyon_detail::kLaneMaxCoordinate;
      const HiddenBelow hidden(v.camH, sc.rows_per_unit[i], row_base, limit);
      cutoffs[k] = v.camH + hidden.threshold / sc.rows_per_unit[i] - error;
    }
    float hs[kMax];
    float centres[kMax];
    float widths[kMax];
    if (lanes_apply && !kernels.heights(sc.lane_terms, xs, zs, cutoffs, hs, centres, widths)) {
      continue;
    }
    for (int k = 0; k < n && limit > 0; ++k) {
      const int i = first + k;
      const float d = sc.distance[static_cast<std::size_t>(i)];
      const float rows_per_unit = sc.rows_per_unit[static_cast<std::size_t>(i)];
      const HiddenBelow hidden(v.camH, rows_per_unit, row_base, limit);
      if (can_stop_early && hidden(highest)) {
        stopped = true;
        break;
      }
      canyon_detail::TerrainSlice slice = canyon_detail::MakeSlice(zs[k]);
      float h = 0.0f;
      float q = 0.0f;
      bool exact = !lanes_apply;
      if (lanes_apply) {
        h = hs[k];
        q = (h - v.camH) * v.scale / d;
        // How far the exact quotient may lie from this one: the height's error in rows, and a
        // few roundings of the quotient itself.
        // (Written so that a quotient that is not a number takes the exact height too.)
        const float margin = error * rows_per_unit + 4.0e-7f * std::fabs(q) + 1.0e-5f;
        exact = !(std::fabs(q - std::nearbyint(q)) > margin);
      }
      if (exact) {
        h = canyon_detail::HeightOnSlice(xs[k], slice, p, true);
        q = (h - v.camH) * v.scale / d;
      } else {
        // The lanes' centre line and width, for the shading.
        slice.cx = centres[k];
        slice.has_centre = true;
        slice.width_scale = widths[k];
        slice.has_width = true;
      }
      const int row = row_base - static_cast<int>(q);
      if (row >= limit) continue;

      column.Add({xs[k], slice, h, d, std::max(row, 0), limit});
      limit = row - 1;
    }
  }
  column.Flush();
  return std::max(limit + 1, 0);
}

}  // namespace

void MarchCanyonColumns(Framebuffer& frame, std::size_t from, std::size_t to, const CanyonFrame& cf, float t,
                        const DebugParams& p, const MusicViz& mv, int* sky_rows) {
  const ShadeContext sc = MakeShadeContext(cf, t, p, mv);
  to = std::min(to, frame.width);
  for (std::size_t x = from; x < to; ++x) {
    if (!CanyonColumnDrawn(cf, x)) continue;  // keeps last frame's column
    const int rows = sc.lanes ? MarchColumnLanes(frame, x, sc) : MarchColumn(frame, x, sc);
    if (sky_rows) sky_rows[x] = rows;
  }
}

std::size_t CanyonColumnGrain(std::size_t width, std::size_t workers) {
  const std::size_t per_piece = 8 * std::max<std::size_t>(workers, 1);
  return std::max<std::size_t>(4, (width + per_piece - 1) / per_piece);
}

namespace {

void DrawHeightfieldOn(ThreadPool* pool, Framebuffer& frame, float time, const DebugParams& p,
                       const SceneCameraParams& cam, const MusicViz& mv, std::size_t frame_index,
                       bool scene_changed, Framebuffer* trail) {
  // The camera needs the noise table before any column runs; build it here, on this thread.
  NoiseTable();
  const CanyonFrame cf =
      BuildCanyonFrame(time, p, cam, frame.width, frame.height, frame_index, scene_changed);
  time = cf.time;

  // Terrain: whole columns per piece, so the pieces never touch the same pixel. Each column
  // reports how many rows at its top remain for the sky. The list keeps its storage from frame
  // to frame, and the pieces reach everything through one pointer, so a frame allocates nothing.
  thread_local std::vector<int> sky_rows;
  sky_rows.assign(frame.width, static_cast<int>(frame.height));
  struct Columns {
    Framebuffer& frame;
    const CanyonFrame& cf;
    float time;
    const DebugParams& p;
    const MusicViz& mv;
    int* sky_rows;
  } job{frame, cf, time, p, mv, sky_rows.data()};
  const auto columns = [&job](std::size_t from, std::size_t to) {
    MarchCanyonColumns(job.frame, from, to, job.cf, job.time, job.p, job.mv, job.sky_rows);
  };
  if (pool) {
    Parallel::ForRangeIn(*pool, 0, frame.width, CanyonColumnGrain(frame.width, pool->Workers()), columns);
  } else {
    Parallel::ForRange(0, frame.width, CanyonColumnGrain(frame.width, Parallel::WorkerCount()), columns);
  }

  // The sky behind the terrain, only where it shows: the same picture as sky first and terrain
  // over it, without shading the half of the sky the canyon hides.
  DrawCanyonSky(frame, time, cf.roll, cf.horizon_row, cf.view.heading, cf.parity, cf.column_step,
                sky_rows.data());

  // Mist and beacons into the trail buffer, where they smear into short trails.
  Framebuffer& layer = trail ? *trail : frame;
  DrawCanyonMist(layer, time, cf.roll, cf.horizon_row, p, mv);
  DrawBeacons(layer, cf.view, cf.view.camZ, time, p, mv);
}

}  // namespace

void Canyon::DrawHeightfield(Framebuffer& frame, float time, const DebugParams& p,
                             const SceneCameraParams& cam, const MusicViz& mv, std::size_t frame_index,
                             bool scene_changed, Framebuffer* trail) const {
  DrawHeightfieldOn(nullptr, frame, time, p, cam, mv, frame_index, scene_changed, trail);
}

void Canyon::DrawHeightfield(Framebuffer& frame, float time, const DebugParams& p,
                             const SceneCameraParams& cam, const MusicViz& mv, std::size_t frame_index,
                             bool scene_changed, Framebuffer* trail, ThreadPool& pool) const {
  DrawHeightfieldOn(&pool, frame, time, p, cam, mv, frame_index, scene_changed, trail);
}

void DrawCanyonFlight(const Canyon& canyon, Framebuffer& frame, Framebuffer& trail, float time,
                      const DebugParams& p, const SceneCameraParams& cam, const MusicViz& mv,
                      std::size_t frame_index, bool scene_changed) {
  const Vec3 black(0.0f, 0.0f, 0.0f);
  if (scene_changed) trail.Fill(black);
  trail.ScaleAdd(0.86f, black);
  canyon.DrawHeightfield(frame, time, p, cam, mv, frame_index, scene_changed, &trail);
  frame.AddScaled(trail, 1.0f);
}
