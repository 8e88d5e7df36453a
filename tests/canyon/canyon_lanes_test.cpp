// The four-lane helpers behind the terrain normal, the surface colours and the sky: each lane
// must give the scalar function's bits, also at the awkward inputs (texel edges, negative and
// huge coordinates, NaN, infinity, negative zero).

#include "scenes/canyon_lanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "render/math.h"
#include "render/noise.h"
#include "scenes/canyon.h"
#include "scenes/canyon_internal.h"
#include "timeline/music_viz.h"

namespace {

using canyon_lanes::F4;

bool SameBits(float a, float b) {
  return std::memcmp(&a, &b, sizeof(float)) == 0;
}

TEST(CanyonLanes, NoiseLanesEqualTheScalarLookup) {
  const float* table = NoiseTable();
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Texel edges (multiples of 0.25), just beside them, negative coordinates that wrap, the
  // table's seam, coordinates near and beyond the direct range, and non-finite ones.
  const float coords[] = {0.0f,    -0.0f,   0.25f,  0.2499999f, -0.25f,  -0.2500001f, 255.75f,
                          256.0f,  -256.0f, 13.37f, -71.9f,     4.99e8f, -4.99e8f,    5.1e8f,
                          -6.0e8f, 3.0e30f, inf,    -inf,       nan,     1.0e-30f};
  constexpr int kCount = sizeof(coords) / sizeof(coords[0]);
  for (int ch = 0; ch < 4; ++ch) {
    for (int i = 0; i < kCount; ++i) {
      for (int j = 0; j < kCount; j += 4) {
        // Four different y in the lanes and one x, then the other way round, so a lane beyond
        // the range shares its call with lanes inside it.
        float ys[4];
        float xs[4];
        for (int k = 0; k < 4; ++k) {
          ys[k] = coords[(j + k) % kCount];
          xs[k] = coords[(i + 3 * k) % kCount];
        }
        float across[4];
        float along[4];
        canyon_lanes::Store(across, canyon_lanes::SampleNoise4(table, canyon_lanes::Load(xs),
                                                               canyon_lanes::Splat(coords[i]), ch));
        canyon_lanes::Store(along, canyon_lanes::SampleNoise4(table, canyon_lanes::Splat(coords[i]),
                                                              canyon_lanes::Load(ys), ch));
        for (int k = 0; k < 4; ++k) {
          ASSERT_TRUE(SameBits(across[k], SampleNoise(xs[k], coords[i], ch)))
              << xs[k] << ", " << coords[i] << ", " << ch;
          ASSERT_TRUE(SameBits(along[k], SampleNoise(coords[i], ys[k], ch)))
              << coords[i] << ", " << ys[k] << ", " << ch;
        }
      }
    }
  }
  // A dense walk over ordinary terrain coordinates.
  for (float x = -300.0f; x < 300.0f; x += 0.173f) {
    const float xs[4] = {x, x + 0.05f, -x, x * 0.31f};
    const float ys[4] = {x * 0.7f, 11.0f - x, x + 0.25f, 3.5f};
    float lanes[4];
    canyon_lanes::Store(lanes,
                        canyon_lanes::SampleNoise4(table, canyon_lanes::Load(xs), canyon_lanes::Load(ys), 2));
    for (int k = 0; k < 4; ++k) ASSERT_EQ(lanes[k], SampleNoise(xs[k], ys[k], 2)) << x;
  }
}

TEST(CanyonLanes, ClampMaxAndFloorFollowTheScalarRules) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float values[] = {-0.0f, 0.0f, 0.5f, 1.0f,  1.0000001f, -1e-30f, 7.0f, -7.0f,
                          inf,   -inf, nan,  -2.5f, 2.5f,       -3.0f,   1e9f, -0.99999994f};
  for (float a : values) {
    for (float b : values) {
      const float as[4] = {a, b, a, b};
      const float bs[4] = {b, a, a, b};
      float clamped[4];
      float larger[4];
      canyon_lanes::Store(clamped, canyon_lanes::Clamp01(canyon_lanes::Load(as)));
      canyon_lanes::Store(larger, canyon_lanes::Max(canyon_lanes::Load(as), canyon_lanes::Load(bs)));
      for (int k = 0; k < 4; ++k) {
        ASSERT_TRUE(SameBits(clamped[k], Clamp01(as[k]))) << as[k];
        ASSERT_TRUE(SameBits(larger[k], std::max(as[k], bs[k]))) << as[k] << ", " << bs[k];
      }
    }
    if (std::isfinite(a) && std::fabs(a) < 2.0e9f) {
      alignas(16) int floors[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(floors), canyon_lanes::FloorToInt(canyon_lanes::Splat(a)));
      EXPECT_EQ(floors[0], static_cast<int>(std::floor(a))) << a;
    }
  }
}

TEST(CanyonLanes, SixteenLanesGiveTheBitsOfEight) {
  // The sixteen-lane kernels perform the eight-lane kernels' operations lane by lane, so a point
  // must get the same bits at either width, whatever shares its call: points side by side, far
  // apart along z, on the river bed and over the walls, with and without shadows and landmarks.
  const canyon_detail::LaneKernels* eight = canyon_detail::LaneKernelsOfWidth(8);
  const canyon_detail::LaneKernels* sixteen = canyon_detail::LaneKernelsOfWidth(16);
  if (!eight || !sixteen) GTEST_SKIP() << "no AVX-512F on this processor";
  MusicViz mv;
  mv.active = true;
  mv.beat = 37.3f;
  mv.build = 0.6f;
  mv.impact = 0.8f;
  DebugParams shadowed;
  shadowed.shadows = true;
  shadowed.shadow_strength = 0.8f;
  DebugParams plain_walls;
  plain_walls.large_features = false;
  plain_walls.terrain_height = 2.0f;
  int compared = 0;
  for (const DebugParams& p : {DebugParams(), shadowed, plain_walls}) {
    const canyon_detail::LaneTerms terms = canyon_detail::MakeLaneTerms(p);
    canyon_detail::LaneShading sh;
    sh.t = 41.7f;
    sh.fog = p.fog;
    sh.sun_sin = std::sin(p.sun_angle);
    sh.sun_cos = std::cos(p.sun_angle);
    sh.sun = Normalize(Vec3(sh.sun_sin, 0.36f, sh.sun_cos));
    sh.river = canyon_detail::MakeRiverTime(sh.t, mv);
    sh.lava_shift_z = 0.07f;
    sh.lava_sway = -0.4f;
    sh.build = mv.build;
    sh.impact = mv.impact;
    for (const float spread : {0.37f, 41.0f}) {
      for (float z = -200.0f; z < 2200.0f; z += 53.7f) {
        for (float across = -90.0f; across < 90.0f; across += 5.3f) {
          float xs[16], zs[16], hs[16], dists[16], centres[16], widths[16];
          for (int k = 0; k < 16; ++k) {
            zs[k] = z + spread * static_cast<float>(k);
            xs[k] = CanyonCentre(zs[k]) + across + 0.61f * static_cast<float>(k % 5);
            hs[k] = TerrainHeight(xs[k], zs[k], p, true);
            dists[k] = 12.0f + 9.5f * static_cast<float>(k);
          }
          float wide_h[16], narrow_h[16];
          ASSERT_TRUE(sixteen->heights(terms, xs, zs, nullptr, wide_h, centres, widths));
          for (int half = 0; half < 16; half += 8) {
            ASSERT_TRUE(
                eight->heights(terms, xs + half, zs + half, nullptr, narrow_h + half, nullptr, nullptr));
          }
          Vec3 wide_c[16], narrow_c[16];
          float wide_l[16], narrow_l[16], wide_s[16], narrow_s[16];
          sixteen->lights(terms, xs, zs, sh.sun, wide_l);
          sixteen->shadows(terms, xs, zs, hs, sh.sun_sin, sh.sun_cos, wide_s);
          sixteen->shade(terms, sh, xs, zs, hs, dists, centres, widths, wide_c);
          for (int half = 0; half < 16; half += 8) {
            eight->lights(terms, xs + half, zs + half, sh.sun, narrow_l + half);
            eight->shadows(terms, xs + half, zs + half, hs + half, sh.sun_sin, sh.sun_cos, narrow_s + half);
            eight->shade(terms, sh, xs + half, zs + half, hs + half, dists + half, centres + half,
                         widths + half, narrow_c + half);
          }
          for (int k = 0; k < 16; ++k) {
            ASSERT_TRUE(SameBits(wide_h[k], narrow_h[k])) << xs[k] << " " << zs[k];
            ASSERT_TRUE(SameBits(wide_l[k], narrow_l[k])) << xs[k] << " " << zs[k];
            ASSERT_TRUE(SameBits(wide_s[k], narrow_s[k])) << xs[k] << " " << zs[k];
            ASSERT_TRUE(SameBits(wide_c[k].x, narrow_c[k].x) && SameBits(wide_c[k].y, narrow_c[k].y) &&
                        SameBits(wide_c[k].z, narrow_c[k].z))
                << xs[k] << " " << zs[k];
            ++compared;
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 40000);
}

}  // namespace
