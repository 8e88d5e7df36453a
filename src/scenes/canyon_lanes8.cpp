// The canyon's fast paths eight points at a time with AVX2 (the code itself, written once for
// every width, is canyon_lanes_body.h), and the choice of width at run time. The march uses the
// lanes' heights only where the exact ones could not land a sample on other rows (see
// MarchColumnLanes). The exact versions stay the reference and the path on processors without
// AVX2.

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/fast_math.h"
#include "render/lanes8.h"
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
int g_lane_limit = 0;  // 0: the widest the processor runs
}  // namespace

const LaneKernels* LaneKernelsOfWidth(int lanes) {
  if (!FastLanesAvailable()) return nullptr;
  if (lanes == 8) return &lanes_avx2::kKernels;
  static const bool has_avx512 = __builtin_cpu_supports("avx512f");
  if (lanes == 16 && has_avx512) return &lanes_avx512::kKernels;
  return nullptr;
}

const LaneKernels* FastLaneKernels() {
  if (g_lane_limit != 0) return LaneKernelsOfWidth(g_lane_limit);
  const LaneKernels* widest = LaneKernelsOfWidth(16);
  return widest ? widest : LaneKernelsOfWidth(8);
}

void LimitLaneWidth(int lanes) {
  g_lane_limit = lanes;
}

void UseExactCanyonMarch(bool on) {
  g_exact_march = on;
}
bool ExactCanyonMarch() {
  return g_exact_march || !FastLanesAvailable();
}

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

}  // namespace canyon_detail

// The eight-lane instance of the fast paths.
#pragma GCC push_options
#pragma GCC target("avx2")
namespace canyon_detail::lanes_avx2 {
namespace lanes = lanes8::generic;
#include "scenes/canyon_lane_ops.h"
#include "scenes/canyon_lanes_body.h"
}  // namespace canyon_detail::lanes_avx2
#pragma GCC pop_options
