// The canyon's world: centre line, terrain height, landmarks and the camera ground, checked
// against values worked out by hand from the noise table.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "config/scene_params.h"
#include "lane_widths.h"
#include "render/noise.h"
#include "render/primitives.h"
#include "scenes/canyon.h"
#include "scenes/canyon_internal.h"

namespace {

// The floor formula written out: 0.35*height*detail*N1(0.18x, 0.16z) +
// 0.3*floor*N2(0.11x, 0.08z) - 2.4.
float HandFloor(float x, float z, const DebugParams& p) {
  const float g = SampleNoise(0.18f * x, 0.16f * z, 1);
  const float n2 = SampleNoise(0.11f * x, 0.08f * z, 2);
  return 0.35f * p.terrain_height * p.terrain_detail * g + 0.3f * p.terrain_floor * n2 - 2.4f;
}

TEST(CanyonWorld, CentreLineAndPathAngle) {
  EXPECT_EQ(CanyonCentre(0.0f), 0.0f);
  const float z = 150.0f;
  EXPECT_FLOAT_EQ(CanyonCentre(z), 10.0f * std::sin(0.035f * z) + 18.0f * std::sin(0.011f * z));
  // The angle is that of the 36-unit chord around z.
  const float dx = CanyonCentre(z + 18.0f) - CanyonCentre(z - 18.0f);
  EXPECT_FLOAT_EQ(CanyonPathAngle(z), std::atan2(dx, 36.0f));
  // Near z = 0 the line swings toward +x (both sines rise), so the angle is positive.
  EXPECT_GT(CanyonPathAngle(0.0f), 0.0f);
}

TEST(CanyonWorld, PointsOnTheCentreLineHaveTheFloorHeight) {
  const DebugParams p;
  for (float z : {-812.5f, -31.0f, 0.0f, 17.25f, 400.0f, 2203.75f}) {
    const float x = CanyonCentre(z);
    SCOPED_TRACE(z);
    EXPECT_EQ(TerrainHeight(x, z, p, true), HandFloor(x, z, p));
    EXPECT_EQ(TerrainHeight(x, z, p, false), HandFloor(x, z, p));
    EXPECT_NEAR(TerrainHeight(x, z, p, true), -2.4f, 0.35f + 0.3f);
  }
}

TEST(CanyonWorld, ZeroTerrainHeightIsTheFlatFloorEverywhere) {
  DebugParams p;
  p.terrain_height = 0.0f;
  for (float z : {-300.0f, 12.0f, 999.0f}) {
    for (float dx : {-90.0f, -20.0f, -4.0f, 0.0f, 6.5f, 25.0f, 70.0f}) {
      const float x = CanyonCentre(z) + dx;
      EXPECT_EQ(TerrainHeight(x, z, p, true), 0.3f * SampleNoise(0.11f * x, 0.08f * z, 2) - 2.4f)
          << x << ", " << z;
    }
  }
  p.terrain_floor = 0.0f;
  EXPECT_EQ(TerrainHeight(CanyonCentre(40.0f) + 33.0f, 40.0f, p, true), -2.4f);
}

TEST(CanyonWorld, WallsRiseAwayFromTheCentreLine) {
  const DebugParams p;
  // Averaged over a stretch of canyon, the floor sits near -2.4 and the ground 20 units out on
  // either side is far above it.
  float floor_sum = 0.0f;
  float left_sum = 0.0f;
  float right_sum = 0.0f;
  int n = 0;
  for (float z = 0.0f; z < 600.0f; z += 5.0f, ++n) {
    const float cx = CanyonCentre(z);
    floor_sum += TerrainHeight(cx, z, p, false);
    left_sum += TerrainHeight(cx - 20.0f, z, p, false);
    right_sum += TerrainHeight(cx + 20.0f, z, p, false);
  }
  EXPECT_NEAR(floor_sum / n, -2.4f, 0.3f);
  EXPECT_GT(left_sum / n, 4.0f);
  EXPECT_GT(right_sum / n, 4.0f);
}

TEST(CanyonWorld, LandmarksOnlyInDetailedHeightsWithLargeFeatures) {
  DebugParams with;
  DebugParams without;
  without.large_features = false;
  int raised = 0;
  for (float z = 0.0f; z < 620.0f; z += 7.0f) {
    for (float dx : {-40.0f, -26.0f, 26.0f, 40.0f}) {
      const float x = CanyonCentre(z) + dx;
      const float plain = TerrainHeight(x, z, with, false);
      // Undetailed heights never see landmarks, whatever the setting.
      EXPECT_EQ(TerrainHeight(x, z, without, false), plain);
      EXPECT_EQ(TerrainHeight(x, z, without, true), plain);
      const float detailed = TerrainHeight(x, z, with, true);
      EXPECT_GE(detailed, plain);  // landmarks only add
      if (detailed > plain + 0.5f) ++raised;
    }
  }
  // Ten segments of buttes and ridges beside the canyon raise a good share of these points.
  EXPECT_GT(raised, 20);
}

TEST(CanyonWorld, LandmarkFieldsFollowFromTheSegmentIndex) {
  for (std::int32_t s : {-100000, -17, -1, 0, 1, 5, 16, 21, 4711, 2000000}) {
    SCOPED_TRACE(s);
    const Landmark a = BuildLandmark(s);
    const Landmark b = BuildLandmark(s);
    EXPECT_EQ(a.key, s);
    EXPECT_EQ(a.zc, b.zc);
    EXPECT_EQ(a.a5, b.a5);
    // The centre lies within 14.88 units of the segment's middle; ranges of the table.
    const float middle = 62.0f * static_cast<float>(s) + 31.0f;
    EXPECT_LE(std::fabs(a.zc - middle), 14.88f + std::fabs(middle) * 1e-6f);
    EXPECT_EQ(a.xc, CanyonCentre(a.zc));
    EXPECT_TRUE(a.side == 1.0f || a.side == -1.0f);
    EXPECT_GE(a.r1, 10.8f);
    EXPECT_LT(a.r1, 21.3f);
    EXPECT_GE(a.u2, 34.56f);
    EXPECT_LT(a.u2, 60.96f);
    EXPECT_EQ(a.ridge_shift > 0.0f, a.side > 0.0f);
    if (a.mesa) {
      EXPECT_NEAR(a.mesa_inv_w * a.mesa_w, 1.0f, 1e-6f);
      EXPECT_FLOAT_EQ(a.mesa_r2, 1.32f * (a.mesa_y * a.mesa_y + a.mesa_w * a.mesa_w));
      EXPECT_NEAR(a.mesa_cos * a.mesa_cos + a.mesa_sin * a.mesa_sin, 1.0f, 1e-6f);
    }
  }
  // The first value by hand: r(C) = (Hash32(s*0x9E3779B1 + C) & 0xFFFFFF) * 2^-24.
  const std::uint32_t seed = 3u * 0x9E3779B1u + 1597463056u;
  const float r = static_cast<float>(Hash32(seed) & 0xFFFFFFu) / 16777216.0f;
  EXPECT_FLOAT_EQ(BuildLandmark(3).zc, (r - 0.5f) * 29.76f + 62.0f * 3.0f + 31.0f);
  // About three quarters of the segments carry a mesa (r > 0.24).
  int mesas = 0;
  for (std::int32_t s = 0; s < 400; ++s) mesas += BuildLandmark(s).mesa ? 1 : 0;
  EXPECT_GT(mesas, 260);
  EXPECT_LT(mesas, 350);
}

TEST(CanyonWorld, LandmarkCacheNeverServesAnotherSegment) {
  // Segments 16 apart share a cache slot; heights must not depend on what was looked up before.
  const float z = 5.0f * 62.0f + 20.0f;
  const float far_z = z + 16.0f * 62.0f;
  const float x = CanyonCentre(z) + 30.0f;
  const float far_x = CanyonCentre(far_z) + 30.0f;
  const float first = LandmarkHeight(x, z, 1.0f);
  const float far_first = LandmarkHeight(far_x, far_z, 1.0f);
  EXPECT_EQ(LandmarkHeight(x, z, 1.0f), first);
  EXPECT_EQ(LandmarkHeight(far_x, far_z, 1.0f), far_first);
  EXPECT_EQ(LandmarkHeight(x, z, 1.0f), first);
  // Negative segments use their own slots as well (s AND 15 in two's complement).
  const float neg = LandmarkHeight(x, -z, 1.0f);
  EXPECT_EQ(LandmarkHeight(x, z, 1.0f), first);
  EXPECT_EQ(LandmarkHeight(x, -z, 1.0f), neg);
  // Far beside the canyon nothing is added.
  EXPECT_EQ(LandmarkHeight(CanyonCentre(z) + 500.0f, z, 1.0f), 0.0f);
}

// The landmark sum written out from the landmark's fields, every term computed everywhere.
float PlainLandmarkHeight(float x, float z, float B) {
  const auto ss = [](float v) { return v * v * (3.0f - 2.0f * v); };
  const std::int32_t centre = static_cast<std::int32_t>(std::floor(z / 62.0f));
  float sum = 0.0f;
  for (std::int32_t s = centre - 1; s <= centre + 1; ++s) {
    const Landmark lm = BuildLandmark(s);
    const float dz = z - lm.zc;
    if (std::fabs(dz) > 50.84f) continue;
    const float fx = lm.xc + lm.side * (25.0f * B + lm.side_offset);
    const float dx = x - fx;
    if (std::fabs(dx) > 108.0f) continue;
    const float m1 = dz * dz / (lm.u1 * lm.u1) + dx * dx / (lm.r1 * lm.r1);
    const float m2 = dz * dz / (lm.u2 * lm.u2) + dx * dx / (lm.r2 * lm.r2);
    const float mound = (1.0f - ss(Clamp01((m1 - 0.16f) / 1.0064f))) * lm.a1;
    const float peak = (1.0f - ss(Clamp01((m1 - 0.0324f) / 0.352f))) * lm.a2;
    const float base = (1.0f - ss(Clamp01((m2 - 0.1764f) / 0.8236f))) * lm.a3;
    const float rl = Clamp01((std::fabs(dz) / lm.ridge_length - 0.28f) / 0.72f);
    const float rx = fx - lm.ridge_shift + dz * lm.ridge_slope;
    const float rw = Clamp01((std::fabs(x - rx) / lm.ridge_width - 0.15f) / 0.85f);
    const float ridge = (1.0f - ss(rl)) * (1.0f - ss(rw)) * lm.a4;
    sum += mound + peak + base + ridge;
    if (lm.mesa) {
      const float t = z - lm.zm;
      const float v = x - ((21.0f * B + 7.0f + lm.mesa_offset) * lm.mesa_side + lm.xm);
      if (t * t + v * v <= lm.mesa_r2) {
        const float across = std::fabs(lm.mesa_cos * v - t * lm.mesa_sin) * lm.mesa_inv_w;
        const float along = std::fabs(t * lm.mesa_cos + v * lm.mesa_sin) * lm.mesa_inv_y;
        const float q = Clamp01(1.0f - std::max(across, along));
        const float A = Clamp01((q - 0.02f) / 0.14f);
        sum += ss(A) * q * lm.a5;
      }
    }
  }
  return sum;
}

TEST(CanyonWorld, LandmarkSumEqualsItsFormulaIncludingTheRimsOfEachTerm) {
  // A fine grid over several segments on both sides, so that points fall just inside and just
  // outside every ellipse, ridge and mesa; the sum skips terms outside them and must still give
  // the same bits.
  int nonzero = 0;
  for (float B : {0.72f, 1.0f, 1.9f}) {
    for (float z = 40.0f; z < 420.0f; z += 0.77f) {
      const float cx = CanyonCentre(z);
      for (float dx = -110.0f; dx <= 110.0f; dx += 0.53f) {
        const float x = cx + dx;
        const float sum = LandmarkHeight(x, z, B);
        ASSERT_EQ(sum, PlainLandmarkHeight(x, z, B)) << x << ", " << z << ", " << B;
        if (sum > 0.0f) ++nonzero;
      }
    }
  }
  EXPECT_GT(nonzero, 10000);
}

TEST(CanyonWorld, CameraGroundIsTheSmoothedUndetailedFloor) {
  DebugParams p;
  const float z = 233.0f;
  const float x = CanyonCentre(z) + 1.5f;
  const float lateral = 0.3f * (x - CanyonCentre(z));
  const float h1 = TerrainHeight(CanyonCentre(z - 10.0f) + lateral, z - 10.0f, p, false);
  const float h2 = TerrainHeight(CanyonCentre(z) + lateral, z, p, false);
  const float h3 = TerrainHeight(CanyonCentre(z + 16.0f) + lateral, z + 16.0f, p, false);
  EXPECT_FLOAT_EQ(CameraGround(x, z, p), (0.2f * h1 + 0.5f * h2 + 0.3f * h3 + 2.4f) * 0.16f - 2.4f);
  // Landmarks never lift the camera, even beside a butte.
  const float beside = CanyonCentre(z) + 60.0f;
  p.large_features = false;
  const float without = CameraGround(beside, z, p);
  p.large_features = true;
  EXPECT_EQ(CameraGround(beside, z, p), without);
}

// TerrainHeight written out step by step, without any shortcut; the landmarks come from
// LandmarkHeight, which has its own written-out check.
float HandHeight(float x, float z, const DebugParams& p) {
  const auto n01 = [](int ch, float u, float v) { return Clamp01((SampleNoise(u, v, ch) + 1.0f) * 0.5f); };
  const auto ss = [](float t) { return t * t * (3.0f - 2.0f * t); };
  const float cx = CanyonCentre(z);
  const float f = std::fabs(x - cx);
  const float w = std::max(p.terrain_width, 0.2f);
  const float g = SampleNoise(0.18f * x, 0.16f * z, 1);
  const float floor = 0.35f * p.terrain_height * p.terrain_detail * g +
                      0.3f * p.terrain_floor * SampleNoise(0.11f * x, 0.08f * z, 2) - 2.4f;
  if (f <= 3.6f * w) return floor;
  const float u = n01(3, 72.0f, 0.012f * z - 31.0f);
  const float B =
      Clamp(std::sin(4.3982296f * u + 0.018f * z) * 0.22f + (u - 0.5f) * 0.28f + 1.0f, 0.72f, 1.34f) * w;
  const float D = ss(Clamp01((f - 5.0f * B) / (16.0f * B)));
  if (D <= 0.0f) return floor;
  const float E = SampleNoise(0.045f * x + 10.0f, 0.04f * z - 4.0f, 0);
  const float G = SampleNoise(0.01f * x - 19.0f, 0.008f * z + 13.0f, 3);
  const float I = n01(2, 0.0065f * x + 37.0f, 0.009f * z - 29.0f);
  const float M = Clamp01((I - 0.54f) / 0.3f);
  const float O = Clamp01((f - 28.0f * B) / (26.0f * B));
  const float s = x >= cx ? 1.9f : -1.9f;
  const float Q = Clamp01(std::sin(0.055f * z + 2.7f * G + s) * 0.892857f + 0.14285715f);
  const float wall =
      2.4f * ss(M) + 2.0f * G + 1.35f * (1.0f - ss(O)) * D * ss(Q) + 2.35f * p.terrain_detail * E + 10.0f;
  float height = p.terrain_height * D * wall + floor + 0.62f * p.terrain_detail * p.terrain_height * D * g;
  if (p.large_features) height += LandmarkHeight(x, z, B) * D * p.terrain_height;
  return height;
}

TEST(CanyonWorld, HeightEqualsItsFormulaFromTheBedToTheFarWalls) {
  // Across the bed, up the ramp, through the terraces and out beyond them (more than 54 widths
  // out, where the terrace term vanishes and its sine is skipped), for several shapes.
  struct Case {
    float height, width, detail, floor;
  };
  for (const Case c : {Case{1.0f, 1.0f, 1.0f, 1.0f}, Case{3.0f, 0.35f, 2.5f, 3.0f},
                       Case{-1.5f, 0.6f, 1.0f, 0.5f}, Case{1.0f, 2.0f, 0.0f, 0.0f}}) {
    DebugParams p;
    p.terrain_height = c.height;
    p.terrain_width = c.width;
    p.terrain_detail = c.detail;
    p.terrain_floor = c.floor;
    for (float z = -200.0f; z < 900.0f; z += 2.3f) {
      const float cx = CanyonCentre(z);
      for (float dx = -150.0f; dx <= 150.0f; dx += 0.77f) {
        const float x = cx + dx;
        ASSERT_EQ(TerrainHeight(x, z, p, true), HandHeight(x, z, p)) << x << ", " << z;
      }
    }
  }
}

TEST(CanyonWorld, NormalHeightsEqualTheHeightsAtTheirFourPoints) {
  // The normal's four heights are evaluated together (alone, or along a row that shares the
  // slices behind and ahead); each must be the height function's bits at its point: on the bed, on its rim
  // (where the pair along z may leave it), up the walls, across segment boundaries (the pair along z
  // straddling two segment sets) and over mesas, for several shapes of terrain, with and without landmarks.
  struct Case {
    float height, width, detail, floor;
    bool features;
  };
  for (const Case c : {Case{1.0f, 1.0f, 1.0f, 1.0f, true}, Case{3.0f, 0.35f, 2.5f, 3.0f, true},
                       Case{0.2f, 2.5f, 0.0f, 0.0f, true}, Case{-1.5f, 0.6f, 1.0f, 0.5f, true},
                       Case{1.0f, 1.0f, 1.0f, 1.0f, false}}) {
    DebugParams p;
    p.terrain_height = c.height;
    p.terrain_width = c.width;
    p.terrain_detail = c.detail;
    p.terrain_floor = c.floor;
    p.large_features = c.features;
    // A sweep along z, plus rows on both sides of every segment boundary it passes.
    std::vector<float> rows;
    for (float z = -130.0f; z < 700.0f; z += 1.37f) rows.push_back(z);
    for (float boundary = -124.0f; boundary < 700.0f; boundary += 62.0f) {
      for (float offset : {-0.9f, -0.4f, 0.3f, 0.8f}) rows.push_back(boundary + offset);
    }
    int walls = 0;
    for (float z : rows) {
      const float cx = CanyonCentre(z);
      // A row of points sharing the slices behind and ahead, as the dot field's rows do.
      canyon_detail::TerrainSlice row = canyon_detail::MakeSlice(z);
      canyon_detail::NeighbourSlices around = canyon_detail::MakeNeighbourSlices(z);
      for (float dx = -115.0f; dx <= 115.0f; dx += 0.91f) {
        const float x = cx + dx;
        canyon_detail::TerrainSlice slice = canyon_detail::MakeSlice(z);
        float heights[4];
        canyon_detail::NormalHeights(x, slice, p, heights);
        float shared[4];
        canyon_detail::NormalHeights(x, row, p, shared, &around);
        for (int k = 0; k < 4; ++k) ASSERT_EQ(shared[k], heights[k]) << "shared, lane " << k;
        ASSERT_EQ(heights[0], TerrainHeight(x - 1.0f, z, p, true)) << x << ", " << z;
        ASSERT_EQ(heights[1], TerrainHeight(x + 1.0f, z, p, true)) << x << ", " << z;
        ASSERT_EQ(heights[2], TerrainHeight(x, z - 1.0f, p, true)) << x << ", " << z;
        ASSERT_EQ(heights[3], TerrainHeight(x, z + 1.0f, p, true)) << x << ", " << z;
        if (std::fabs(heights[0] + 2.4f) > 1.5f) ++walls;  // well off the floor
      }
    }
    EXPECT_GT(walls, 1000);
  }
}

TEST(CanyonWorld, HeightBoundsHoldEverywhere) {
  // The march and the shadows skip work on the strength of these bounds; a bound that is too
  // low would silently drop terrain.
  struct Case {
    float height, width, detail, floor;
  };
  for (const Case c : {Case{1.0f, 1.0f, 1.0f, 1.0f}, Case{3.0f, 0.35f, 2.5f, 3.0f},
                       Case{0.2f, 2.5f, 0.0f, 0.0f}, Case{2.0f, 0.6f, 2.5f, 0.5f}}) {
    DebugParams p;
    p.terrain_height = c.height;
    p.terrain_width = c.width;
    p.terrain_detail = c.detail;
    p.terrain_floor = c.floor;
    const canyon_detail::HeightBounds b = canyon_detail::MakeHeightBounds(p);
    float highest = -1e9f;
    for (float z = -500.0f; z < 3000.0f; z += 3.7f) {
      for (float dx = -120.0f; dx <= 120.0f; dx += 2.9f) {
        const float x = CanyonCentre(z) + dx;
        const float h = TerrainHeight(x, z, p, true);
        ASSERT_LE(h, b.anywhere) << x << ", " << z;
        if (std::fabs(dx) <= 3.6f * std::max(c.width, 0.2f)) {
          ASSERT_LE(h, b.floor);
        }
        highest = std::max(highest, h);
      }
    }
    // Loose, but not absurdly so: within a few times the real peak.
    EXPECT_LT(b.anywhere, 6.0f * std::max(highest, 10.0f));
  }
}

TEST(CanyonWorld, LaneHeightsStayWellWithinTheirErrorBound) {
  // The fast march decides a step's rows from the lanes' height whenever the exact height could
  // not land on another row, given LaneHeightError: a bound that is too tight would move
  // silhouettes by a row. Over the whole flight, from the river bed to far beyond the walls, for
  // the default terrain and the steepest, narrowest, most detailed and inverted ones, the lanes
  // of every width stay within a tenth of the bound.
  const auto widths = LaneWidthsHere();
  if (widths.empty()) GTEST_SKIP() << "no AVX2 on this processor";
  struct Case {
    float height, width, detail, floor;
    bool features;
  };
  for (const canyon_detail::LaneKernels* kernels : widths) {
    SCOPED_TRACE(LaneWidthName(*kernels));
    const int n = kernels->lanes;
    for (const Case c : {Case{1.0f, 1.0f, 1.0f, 1.0f, true}, Case{3.0f, 0.35f, 2.5f, 3.0f, true},
                         Case{1.0f, 0.2f, 1.0f, 1.0f, true}, Case{1.0f, 2.5f, 2.5f, 1.0f, true},
                         Case{-2.0f, 0.5f, 1.0f, 2.0f, true}, Case{1.0f, 1.0f, 1.0f, 1.0f, false}}) {
      DebugParams p;
      p.terrain_height = c.height;
      p.terrain_width = c.width;
      p.terrain_detail = c.detail;
      p.terrain_floor = c.floor;
      p.large_features = c.features;
      const canyon_detail::LaneTerms terms = canyon_detail::MakeLaneTerms(p);
      const float bound = canyon_detail::LaneHeightError(p);
      float worst = 0.0f;
      for (float z = -50.0f; z < 4000.0f; z += 2.93f) {
        for (float dx = -200.0f; dx < 200.0f; dx += 8.0f * 0.731f) {
          float xs[canyon_detail::kMaxLanes], zs[canyon_detail::kMaxLanes], lanes[canyon_detail::kMaxLanes];
          for (int k = 0; k < n; ++k) {
            xs[k] = CanyonCentre(z) + dx + 0.731f * static_cast<float>(k);
            zs[k] = z + 0.05f * static_cast<float>(k);
          }
          ASSERT_TRUE(kernels->heights(terms, xs, zs, nullptr, lanes, nullptr, nullptr));
          for (int k = 0; k < n; ++k) {
            worst = std::max(worst, std::fabs(lanes[k] - TerrainHeight(xs[k], zs[k], p, true)));
          }
        }
      }
      EXPECT_LT(worst, 0.1f * bound) << c.height << " " << c.width << " " << c.detail;
      EXPECT_GT(worst, 0.0f);  // the lanes do round differently: the bound is not idle
    }
  }
}

TEST(CanyonWorld, LaneHeightsAreSkippedOnlyWhenEveryLaneIsBelowItsCutoff) {
  // With cutoffs, the lanes' heights may be given up only when every point is at or below its
  // cutoff.
  const auto widths = LaneWidthsHere();
  if (widths.empty()) GTEST_SKIP() << "no AVX2 on this processor";
  const DebugParams p;
  const canyon_detail::LaneTerms terms = canyon_detail::MakeLaneTerms(p);
  for (const canyon_detail::LaneKernels* kernels : widths) {
    SCOPED_TRACE(LaneWidthName(*kernels));
    const int n = kernels->lanes;
    int skipped = 0;
    int computed = 0;
    for (float z = 0.0f; z < 2000.0f; z += 7.3f) {
      for (float dx = -60.0f; dx < 60.0f; dx += 4.1f) {
        float xs[canyon_detail::kMaxLanes], zs[canyon_detail::kMaxLanes], exact[canyon_detail::kMaxLanes];
        float cutoffs[canyon_detail::kMaxLanes], lanes[canyon_detail::kMaxLanes];
        for (int k = 0; k < n; ++k) {
          xs[k] = CanyonCentre(z) + dx + 0.5f * static_cast<float>(k) * (8.0f / static_cast<float>(n));
          zs[k] = z + 0.3f * static_cast<float>(k) * (8.0f / static_cast<float>(n));
          exact[k] = TerrainHeight(xs[k], zs[k], p, true);
          // Just above the terrain in some groups, just below it in one lane of others.
          cutoffs[k] = exact[k] + (static_cast<int>(dx) % 3 == 0 && k == 5 ? -0.01f : 0.01f);
        }
        if (kernels->heights(terms, xs, zs, cutoffs, lanes, nullptr, nullptr)) {
          ++computed;
        } else {
          ++skipped;
          for (int k = 0; k < n; ++k) ASSERT_LE(exact[k], cutoffs[k]) << xs[k] << " " << zs[k];
        }
      }
    }
    EXPECT_GT(skipped, 0);
    EXPECT_GT(computed, 0);
  }
}

TEST(CanyonWorld, LandmarkBoundsHoldEverywhere) {
  // The march skips steps on the strength of these bounds: at every point, for every width scale
  // the canyon can have there, the landmark height stays under both, and the bound for one width
  // scale under the one for the whole range. Points sweep every segment of several landmarks,
  // across their mounds, bases, ridges and mesas.
  int raised = 0;
  for (float z = -300.0f; z < 1500.0f; z += 1.3f) {
    for (float dx = -130.0f; dx <= 130.0f; dx += 1.7f) {
      const float x = CanyonCentre(z) + dx;
      for (const float w : {0.35f, 1.0f, 2.5f}) {
        const float b_lo = 0.72f * w;
        const float b_hi = 1.34f * w;
        const float range = canyon_detail::LandmarkBound(x, z, b_lo, b_hi);
        for (const float c : {0.72f, 0.9f, 1.17f, 1.34f}) {
          const float B = c * w;
          const float h = LandmarkHeight(x, z, B);
          const float terms = canyon_detail::LandmarkTermsBound(x, z, B);
          ASSERT_LE(h, terms) << x << ", " << z << ", " << B;
          ASSERT_LE(terms, range) << x << ", " << z << ", " << B;
          if (h > 1.0f) ++raised;
        }
      }
    }
  }
  EXPECT_GT(raised, 10000);  // the sweep does cross landmarks
}

}  // namespace
