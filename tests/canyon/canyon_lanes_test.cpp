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

}  // namespace
