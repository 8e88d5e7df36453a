// The canyon's shading functions and its flight camera: shadows, light, haze, colour, the river,
// the music drive, ray steps, interlacing and banking.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "config/scene_params.h"
#include "lane_widths.h"
#include "render/noise.h"
#include "scenes/canyon.h"
#include "scenes/canyon_internal.h"
#include "timeline/music_viz.h"

namespace {

DebugParams WithShadows(float strength) {
  DebugParams p;
  p.shadows = true;
  p.shadow_strength = strength;
  return p;
}

TEST(CanyonShading, ShadowsOffOrWithoutStrengthGiveExactlyOne) {
  DebugParams off;
  EXPECT_EQ(TerrainShadow(CanyonCentre(50.0f), 50.0f, -100.0f, off, 0.6f, 0.8f), 1.0f);
  EXPECT_EQ(TerrainShadow(CanyonCentre(50.0f), 50.0f, -100.0f, WithShadows(0.0f), 0.6f, 0.8f), 1.0f);
}

TEST(CanyonShading, FullShadowLeavesOnlyTheSkyLight) {
  // A point far below the ground has all ten samples above its sun ray: hard = soft = 1.
  const float z = 120.0f;
  const float x = CanyonCentre(z) + 10.0f;
  EXPECT_EQ(TerrainShadow(x, z, -100.0f, WithShadows(1.0f), 0.6f, 0.8f), 0.0f);
  EXPECT_FLOAT_EQ(TerrainShadow(x, z, -100.0f, WithShadows(0.35f), 0.6f, 0.8f), 0.65f);
  // The shaded light shadow*(0.78*diffuse + 0.1024) + 0.5376 is then the constant alone.
  const float shadow = TerrainShadow(x, z, -100.0f, WithShadows(1.0f), 0.6f, 0.8f);
  EXPECT_EQ(shadow * (0.78f * 0.9f + 0.1024f) + 0.5376f, 0.5376f);
  // A point far above the terrain is fully lit.
  EXPECT_EQ(TerrainShadow(x, z, 100.0f, WithShadows(1.0f), 0.6f, 0.8f), 1.0f);
}

TEST(CanyonShading, ShadowStaysWithinItsStrength) {
  const DebugParams p = WithShadows(0.6f);
  int partial = 0;
  for (float z = 0.0f; z < 400.0f; z += 13.0f) {
    for (float dx = -30.0f; dx <= 30.0f; dx += 6.0f) {
      const float x = CanyonCentre(z) + dx;
      const float s = TerrainShadow(x, z, TerrainHeight(x, z, p, true), p, std::sin(0.7f), std::cos(0.7f));
      EXPECT_GE(s, 0.4f - 1e-6f);
      EXPECT_LE(s, 1.0f);
      if (s < 0.999f) ++partial;
    }
  }
  EXPECT_GT(partial, 0);  // the walls do cast shadows onto something
}

TEST(CanyonShading, FlatGroundFacesStraightUp) {
  // With no relief the normal is (0, 1, 0): the light is clamp01(L.y*0.8474576 + 0.15254237).
  DebugParams p;
  p.terrain_height = 0.0f;
  p.terrain_floor = 0.0f;
  const Vec3 sun = Normalize(Vec3(std::sin(0.7f), 0.36f, std::cos(0.7f)));
  EXPECT_FLOAT_EQ(TerrainLight(12.0f, 34.0f, p, sun), sun.y * 0.8474576f + 0.15254237f);
  // Sun straight overhead: full light; sun straight below: nothing.
  EXPECT_FLOAT_EQ(TerrainLight(12.0f, 34.0f, p, Vec3(0.0f, 1.0f, 0.0f)), 1.0f);
  EXPECT_EQ(TerrainLight(12.0f, 34.0f, p, Vec3(0.0f, -1.0f, 0.0f)), 0.0f);
}

TEST(CanyonShading, LightEqualsTheNormalOfFourPlainHeights) {
  // TerrainLight evaluates its four heights together; every value must be exactly the formula
  // over four separate TerrainHeight calls: on the river bed, up the walls, over the landmarks
  // and far out beyond the terraces, for a few parameter sets.
  NoiseTable();
  DebugParams wide;
  wide.terrain_width = 2.5f;
  wide.terrain_detail = 2.5f;
  DebugParams flat_features;
  flat_features.large_features = false;
  flat_features.terrain_height = 3.0f;
  const Vec3 sun = Normalize(Vec3(std::sin(0.7f), 0.36f, std::cos(0.7f)));
  int compared = 0;
  for (const DebugParams& p : {DebugParams(), wide, flat_features}) {
    for (float z = -400.0f; z < 2600.0f; z += 37.3f) {
      for (float across = -260.0f; across <= 260.0f; across += 6.1f) {
        const float x = CanyonCentre(z) + across;
        const float ex = TerrainHeight(x - 1.0f, z, p, true) - TerrainHeight(x + 1.0f, z, p, true);
        const float ez = TerrainHeight(x, z - 1.0f, p, true) - TerrainHeight(x, z + 1.0f, p, true);
        const Vec3 normal = Normalize(Vec3(ex, 2.0f, ez));
        const float plain = Clamp01(Dot(normal, sun) * 0.8474576f + 0.15254237f);
        ASSERT_EQ(TerrainLight(x, z, p, sun), plain) << x << " " << z;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 10000);
}

TEST(CanyonShading, LaneLightsStayWithinAMillionthOrTwoOfTheLight) {
  // The fast path's lights, eight or sixteen points at a time with polynomial sines: over the
  // same ground and parameter sets as above, with the points of a call spread along z (several
  // landmark segments per call) or side by side, each within 4e-6 of TerrainLight. A light
  // level of the picture is 1/255, so this keeps every shaded pixel on its level but for rare
  // roundings.
  const auto widths = LaneWidthsHere();
  if (widths.empty()) GTEST_SKIP() << "no AVX2 on this processor";
  NoiseTable();
  DebugParams wide;
  wide.terrain_width = 2.5f;
  wide.terrain_detail = 2.5f;
  DebugParams flat_features;
  flat_features.large_features = false;
  flat_features.terrain_height = 3.0f;
  const Vec3 sun = Normalize(Vec3(std::sin(0.7f), 0.36f, std::cos(0.7f)));
  int compared = 0;
  for (const DebugParams& p : {DebugParams(), wide, flat_features}) {
    for (const bool along_z : {false, true}) {
      std::vector<float> xs;
      std::vector<float> zs;
      std::size_t per_row = 0;
      for (float z = -400.0f; z < 2600.0f; z += 37.3f) {
        per_row = 0;
        for (float across = -260.0f; across <= 260.0f; across += 6.1f) {
          xs.push_back(CanyonCentre(z) + across);
          zs.push_back(z);
          ++per_row;
        }
      }
      if (along_z) {
        // Order by across first, so consecutive points lie 37.3 units apart along z.
        std::vector<std::size_t> order(xs.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [per_row](std::size_t a, std::size_t b) { return a % per_row < b % per_row; });
        std::vector<float> x2, z2;
        for (std::size_t i : order) {
          x2.push_back(xs[i]);
          z2.push_back(zs[i]);
        }
        xs.swap(x2);
        zs.swap(z2);
      }
      for (const canyon_detail::LaneKernels* kernels : widths) {
        SCOPED_TRACE(LaneWidthName(*kernels));
        const std::size_t n = static_cast<std::size_t>(kernels->lanes);
        for (std::size_t first = 0; first + n <= xs.size(); first += n) {
          float lights[canyon_detail::kMaxLanes];
          kernels->lights(canyon_detail::MakeLaneTerms(p), &xs[first], &zs[first], sun, lights);
          for (std::size_t k = 0; k < n; ++k) {
            const float exact = TerrainLight(xs[first + k], zs[first + k], p, sun);
            ASSERT_NEAR(lights[k], exact, 4.0e-6f) << xs[first + k] << " " << zs[first + k];
            ++compared;
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 40000 * static_cast<int>(widths.size()));
}

TEST(CanyonShading, LaneShadowsStayWithinAFewMillionthsOfTheShadow) {
  // The fast path's shadows, eight or sixteen ground points at a time, against TerrainShadow:
  // for short, default and long shadows from three sun directions, on the ground itself and a
  // little above it (where only the tallest terrain still reaches the ray), and exactly 1 with
  // shadows off.
  const auto widths = LaneWidthsHere();
  if (widths.empty()) GTEST_SKIP() << "no AVX2 on this processor";
  NoiseTable();
  int compared = 0;
  int shaded = 0;
  for (const canyon_detail::LaneKernels* kernels : widths) {
    SCOPED_TRACE(LaneWidthName(*kernels));
    const int n = kernels->lanes;
    for (const float length : {2.0f, 18.0f, 80.0f}) {
      for (const float sun_angle : {0.7f, -2.2f, 3.0f}) {
        DebugParams p = WithShadows(0.8f);
        p.shadow_length = length;
        p.sun_angle = sun_angle;
        const float sa = std::sin(sun_angle);
        const float ca = std::cos(sun_angle);
        for (float z = -300.0f; z < 2400.0f; z += 23.9f) {
          for (float first = -120.0f; first <= 120.0f; first += 9.7f) {
            // Points close together (each lane's heights near its neighbours', so the lanes often
            // leave the ray together) on the ground or raised a little.
            constexpr int kMax = canyon_detail::kMaxLanes;
            float xs[kMax], zs[kMax], hs[kMax], out[kMax];
            for (int k = 0; k < n; ++k) {
              xs[k] = CanyonCentre(z) + first + 0.37f * static_cast<float>(k);
              zs[k] = z + 0.21f * static_cast<float>(k);
              hs[k] = TerrainHeight(xs[k], zs[k], p, true) + 0.4f * static_cast<float>(k % 4);
            }
            kernels->shadows(canyon_detail::MakeLaneTerms(p), xs, zs, hs, sa, ca, out);
            for (int k = 0; k < n; ++k) {
              const float exact = TerrainShadow(xs[k], zs[k], hs[k], p, sa, ca);
              ASSERT_NEAR(out[k], exact, 1.0e-5f) << xs[k] << " " << zs[k] << " " << hs[k];
              if (exact < 1.0f) ++shaded;
              ++compared;
            }
            p.shadows = false;
            kernels->shadows(canyon_detail::MakeLaneTerms(p), xs, zs, hs, sa, ca, out);
            for (int k = 0; k < n; ++k) ASSERT_EQ(out[k], 1.0f);
            p.shadows = true;
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 50000 * static_cast<int>(widths.size()));
  EXPECT_GT(shaded, compared / 20);  // the ground does shade itself on this grid
}

TEST(CanyonShading, HazeFollowsFogAndDistance) {
  DebugParams p;
  const float z = 300.0f;
  const float x = CanyonCentre(z) + 30.0f;
  const float h = TerrainHeight(x, z, p, true);
  EXPECT_EQ(TerrainHaze(x, z, h, 500.0f, 3.0f, p, 45.0f, 160.0f) > 0.6f, true);
  EXPECT_LT(TerrainHaze(x, z, h, 5.0f, 3.0f, p, 45.0f, 160.0f), 0.05f);
  p.fog = 0.0f;
  EXPECT_EQ(TerrainHaze(x, z, h, 500.0f, 3.0f, p, 45.0f, 160.0f), 0.0f);
}

// The four-lane albedo the march and the dot field use is the scalar colour over the scalar haze,
// bit for bit, for both far distances, with and without fog, over floor, walls and far land.
TEST(CanyonShading, FourLaneSurfacesEqualTheScalarColourOverTheHaze) {
  std::uint32_t seed = 12345u;
  const auto next = [&seed](float lo, float hi) {
    seed = seed * 1664525u + 1013904223u;
    return lo + (hi - lo) * static_cast<float>(seed >> 8) * (1.0f / 16777216.0f);
  };
  for (const float fog : {1.0f, 0.4f, 0.0f}) {
    DebugParams p;
    p.fog = fog;
    for (const float far_dist : {140.0f, 160.0f}) {
      for (int round = 0; round < 500; ++round) {
        const float t = next(0.0f, 200.0f);
        float xs[4], zs[4], hs[4], dists[4];
        for (int k = 0; k < 4; ++k) {
          zs[k] = next(-50.0f, 3000.0f);
          xs[k] = CanyonCentre(zs[k]) + next(-90.0f, 90.0f);
          hs[k] = next(-4.0f, 30.0f);
          dists[k] = next(0.0f, 400.0f);
        }
        canyon_detail::SampleSurfaces lanes;
        canyon_detail::SurfaceColours4(t, fog, far_dist, xs, zs, hs, dists, &lanes);
        for (int k = 0; k < 4; ++k) {
          const float haze = TerrainHaze(xs[k], zs[k], hs[k], dists[k], t, p, 45.0f, far_dist);
          float moss = 0.0f;
          const Vec3 c = TerrainColour(xs[k], zs[k], hs[k], haze, &moss);
          ASSERT_EQ(lanes.albedo[k].r, c.r) << round << " lane " << k;
          ASSERT_EQ(lanes.albedo[k].g, c.g) << round << " lane " << k;
          ASSERT_EQ(lanes.albedo[k].b, c.b) << round << " lane " << k;
          ASSERT_EQ(lanes.moss[k], moss) << round << " lane " << k;
        }
      }
    }
  }
}

TEST(CanyonShading, FullHazeGivesTheHazeColour) {
  float moss = -1.0f;
  const Vec3 c = TerrainColour(10.0f, 20.0f, 5.0f, 1.0f, &moss);
  EXPECT_NEAR(c.r, 0.155f, 1e-6f);
  EXPECT_NEAR(c.g, 0.148f, 1e-6f);
  EXPECT_NEAR(c.b, 0.142f, 1e-6f);
  EXPECT_GE(moss, 0.0f);
  EXPECT_LE(moss, 1.0f);
  // Without haze, high walls are sandstone: warmer than they are blue.
  for (float z = 0.0f; z < 200.0f; z += 20.0f) {
    const Vec3 wall = TerrainColour(CanyonCentre(z) + 25.0f, z, 8.0f, 0.0f);
    EXPECT_GT(wall.r, wall.b) << z;
  }
  // The moss output is optional.
  const Vec3 again = TerrainColour(10.0f, 20.0f, 5.0f, 1.0f);
  EXPECT_EQ(again.r, c.r);
}

TEST(CanyonShading, PulseIsZeroWithoutMusicAndClamped) {
  MusicViz mv;
  mv.kick = 1.0f;
  mv.impact = 1.0f;
  EXPECT_EQ(CanyonPulse(mv), 0.0f);
  mv = MusicViz();
  mv.active = true;
  mv.build = 0.5f;
  mv.kick = 0.5f;
  mv.lead = 1.0f;
  EXPECT_FLOAT_EQ(CanyonPulse(mv), 0.45f * 0.5f + 0.3f * 0.5f + 0.18f);
  mv.impact = 1.0f;
  EXPECT_EQ(CanyonPulse(mv), 1.0f);
}

TEST(CanyonShading, RiverGlowsOnLowGroundNearTheCentreLine) {
  const MusicViz silent;
  const float t = 7.0f;
  int glowing = 0;
  for (float z = 0.0f; z < 300.0f; z += 10.0f) {
    const float cx = CanyonCentre(z);
    // Silent music still leaves the base glow on the centre line...
    const float centre = RiverGlow(cx, z, -2.4f, t, silent);
    EXPECT_GT(centre, 0.3f) << z;
    if (centre > 0.5f) ++glowing;
    // ...but nothing 7.5 units out, nor on high ground.
    EXPECT_EQ(RiverGlow(cx + 7.6f, z, -2.4f, t, silent), 0.0f);
    EXPECT_EQ(RiverGlow(cx, z, 3.3f, t, silent), 0.0f);
  }
  EXPECT_GT(glowing, 0);
  // Music brightens it.
  MusicViz loud;
  loud.active = true;
  loud.impact = 1.0f;
  const float z = 42.0f;
  EXPECT_GT(RiverGlow(CanyonCentre(z), z, -2.4f, t, loud), RiverGlow(CanyonCentre(z), z, -2.4f, t, silent));
}

// The glow formula written out in full, with no shortcut for points off the band or high up.
float PlainRiverGlow(float x, float z, float h, float t, const MusicViz& mv) {
  const auto ss = [](float v) { return v * v * (3.0f - 2.0f * v); };
  const float lw = 1.0f - ss(Clamp01((h + 2.6f) / 5.8f));
  const float k = Clamp01((SampleNoise(0.08f * std::sin(0.19f * t) + 0.065f * x,
                                       0.08f * std::cos(0.19f * t * 0.73f) + 0.052f * z, 3) +
                           1.0f) *
                          0.5f);
  const float rw = 0.65f * k + 2.08f;
  const float across = 1.0f - ss(Clamp01((std::fabs(x - CanyonCentre(z)) - rw) / (7.5f - rw)));
  const float pi = 3.14159265f;
  const float wave = std::sin(0.75f * std::sin(0.36f * t) + 0.027f * x + 0.35f * pi * mv.step_phase +
                              1.2f * pi * k + 0.055f * z);
  const float P = CanyonPulse(mv);
  return Clamp01((0.155f * P + 0.09f * wave + 0.025f * wave * P + 0.07f * k * P + 0.252f * k + 0.558f) *
                 across * lw);
}

TEST(CanyonShading, RiverGlowEqualsItsFormulaUpToTheEdgesOfTheBand) {
  MusicViz mv;
  mv.active = true;
  mv.build = 1.0f;
  mv.impact = 0.7f;
  mv.step_phase = 0.6f;
  const float t = 31.5f;
  // Across the band and past its 7.5-unit edge, and up the lowness ramp past 3.2.
  for (float z = -40.0f; z < 260.0f; z += 13.7f) {
    const float cx = CanyonCentre(z);
    for (float dx = -8.0f; dx <= 8.0f; dx += 0.0625f) {
      for (float h : {-2.6f, -1.0f, 2.9f, 3.19f, 3.2f, 3.21f, 3.5f}) {
        const float glow = RiverGlow(cx + dx, z, h, t, mv);
        ASSERT_EQ(glow, PlainRiverGlow(cx + dx, z, h, t, mv)) << dx << ", " << z << ", " << h;
        ASSERT_FALSE(std::signbit(glow));
      }
    }
  }
}

// The camera and march settings.

TEST(CanyonView, RayStepsFollowTheDensity) {
  struct Case {
    float density;
    int steps;
  };
  for (const Case c :
       {Case{0.25f, 41}, Case{1.0f, 165}, Case{3.0f, 360}, Case{2.5f, 360}, Case{0.1f, 32}, Case{0.5f, 82}}) {
    DebugParams p;
    p.ray_density = c.density;
    EXPECT_EQ(BuildCanyonFrame(1.0f, p, SceneCameraParams(), 640, 360, 0, false).steps, c.steps) << c.density;
  }
}

TEST(CanyonView, InterlacingAlternatesColumnsExceptOnTheFirstFrame) {
  DebugParams p;
  const SceneCameraParams cam;
  const CanyonFrame off = BuildCanyonFrame(1.0f, p, cam, 640, 360, 7, false);
  EXPECT_EQ(off.column_step, 1);
  EXPECT_TRUE(CanyonColumnDrawn(off, 0) && CanyonColumnDrawn(off, 1));
  p.interlace = true;
  const CanyonFrame odd = BuildCanyonFrame(1.0f, p, cam, 640, 360, 7, false);
  EXPECT_EQ(odd.column_step, 2);
  EXPECT_EQ(odd.parity, 1);
  EXPECT_FALSE(CanyonColumnDrawn(odd, 4));
  EXPECT_TRUE(CanyonColumnDrawn(odd, 5));
  const CanyonFrame even = BuildCanyonFrame(1.0f, p, cam, 640, 360, 8, false);
  EXPECT_EQ(even.parity, 0);
  EXPECT_TRUE(CanyonColumnDrawn(even, 4));
  const CanyonFrame first = BuildCanyonFrame(1.0f, p, cam, 640, 360, 7, true);
  EXPECT_EQ(first.column_step, 1);
  EXPECT_EQ(first.parity, 0);
}

TEST(CanyonView, CameraFollowsThePathAboveTheGround) {
  const DebugParams p;
  SceneCameraParams cam;
  for (float t : {0.0f, 4.0f, 31.5f, 120.0f}) {
    const CanyonFrame cf = BuildCanyonFrame(t, p, cam, 640, 360, 0, false);
    const CanyonView& v = cf.view;
    EXPECT_FLOAT_EQ(v.camZ, 16.0f * t);
    EXPECT_NEAR(v.camX, CanyonCentre(v.camZ), 2.5f + 1e-3f);
    EXPECT_NEAR(v.camH - CameraGround(v.camX, v.camZ, p), 2.7f, 0.25f + 1e-4f);
    EXPECT_FLOAT_EQ(v.fov, 1.2915437f);
    EXPECT_EQ(v.scale, 180.0f);
    EXPECT_EQ(v.horizon, static_cast<float>(cf.horizon_row));
    EXPECT_NEAR(cf.horizon_row, 0.46f * 360.0f, 0.025f * 360.0f + 1.0f);
    EXPECT_LE(std::fabs(cf.roll), 0.5f);
    EXPECT_FLOAT_EQ(v.slope, std::tan(cf.roll));
  }
  // Offsets move the camera; fov_off widens the view.
  cam.forward = 100.0f;
  cam.fov_off = 10.0f;
  const CanyonFrame moved = BuildCanyonFrame(0.0f, p, cam, 640, 360, 0, false);
  EXPECT_FLOAT_EQ(moved.view.camZ, 100.0f);
  EXPECT_NEAR(moved.view.fov, 1.2915437f + 10.0f * 3.14159265f / 180.0f, 1e-6f);
}

TEST(CanyonView, StrongBankingIsClamped) {
  DebugParams p;
  p.bank = 2.0f;
  bool clamped = false;
  for (float t = 0.0f; t < 60.0f; t += 0.5f) {
    const CanyonFrame cf = BuildCanyonFrame(t, p, SceneCameraParams(), 640, 360, 0, false);
    EXPECT_LE(std::fabs(cf.roll), 0.5f);
    clamped = clamped || std::fabs(cf.roll) == 0.5f;
  }
  EXPECT_TRUE(clamped);
  p.bank = 0.0f;
  EXPECT_EQ(BuildCanyonFrame(3.0f, p, SceneCameraParams(), 640, 360, 0, false).view.slope, 0.0f);
}

TEST(CanyonView, SunDirectionIsNormalisedWithItsHorizontalPart) {
  DebugParams p;
  p.sun_angle = -2.0f;
  const CanyonFrame cf = BuildCanyonFrame(0.0f, p, SceneCameraParams(), 640, 360, 0, false);
  EXPECT_NEAR(Length(cf.sun), 1.0f, 1e-6f);
  EXPECT_FLOAT_EQ(cf.sun_sin, std::sin(-2.0f));
  EXPECT_FLOAT_EQ(cf.sun_cos, std::cos(-2.0f));
  EXPECT_FLOAT_EQ(cf.sun.y, 0.36f / std::sqrt(1.0f + 0.36f * 0.36f));
}

}  // namespace
