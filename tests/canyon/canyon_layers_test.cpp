// The layers around the terrain: the sky and sun, the ground mist, the beacons over the river
// and their spark beams.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/scene_params.h"
#include "lane_widths.h"
#include "render/framebuffer.h"
#include "render/primitives.h"
#include "scenes/canyon.h"
#include "scenes/canyon_internal.h"
#include "scenes/canyon_sky.h"
#include "timeline/music_viz.h"

namespace {

bool AllBlack(const Framebuffer& fb) {
  for (const Vec3& p : fb.pixels) {
    if (p.r != 0.0f || p.g != 0.0f || p.b != 0.0f) return false;
  }
  return true;
}

float Light(const Framebuffer& fb) {
  float sum = 0.0f;
  for (const Vec3& p : fb.pixels) sum += p.r + p.g + p.b;
  return sum;
}

MusicViz BeamsCue(float section_time) {
  MusicViz mv;
  mv.active = true;
  mv.cue_beams = 1.0f;
  mv.section_time = section_time;
  return mv;
}

// The view of scene 1 at time t with default settings.
CanyonView ViewAt(float t, const DebugParams& p = DebugParams(),
                  const SceneCameraParams& cam = SceneCameraParams()) {
  return BuildCanyonFrame(t, p, cam, 640, 360, 0, true).view;
}

TEST(CanyonSky, DuskGradientWithCloudsAndASunGlow) {
  Framebuffer frame(640, 360);
  DrawCanyonSky(frame, 5.0f, 0.0f, 165, 0.2f, 0, 1);
  // Every pixel is overwritten, and the sky is dim, as at dusk.
  float top = 0.0f;
  float low = 0.0f;
  for (std::size_t x = 0; x < 640; ++x) {
    top += frame.pixels[2 * 640 + x].g;
    low += frame.pixels[150 * 640 + x].g;
  }
  EXPECT_LT(top / 640.0f, 0.3f);
  EXPECT_GT(low, 0.0f);
  for (const Vec3& p : frame.pixels) ASSERT_GT(p.r + p.g + p.b, 0.0f);
  // The sun sits at about 0.72 of the width and 0.22 of the height (roll 0): warmer there than
  // at the mirrored point on the left.
  const std::size_t sx = static_cast<std::size_t>((0.05f * std::sin(0.13f * 5.0f) + 0.72f) * 640.0f);
  const std::size_t sy = static_cast<std::size_t>(0.22f * 360.0f);
  const Vec3 sun = frame.pixels[sy * 640 + sx];
  EXPECT_GT(sun.r - sun.b, 0.0f);
  // 2 x 2 blocks share one colour (away from the sun's glow).
  const Vec3 a = frame.pixels[10 * 640 + 40];
  const Vec3 b = frame.pixels[11 * 640 + 41];
  EXPECT_EQ(a.r, b.r);
  EXPECT_EQ(a.b, b.b);
}

TEST(CanyonSky, EveryBlockHasTheColourOfItsSamplePoint) {
  // The sky evaluates its blocks several at a time (as many as the lane kernels of each width
  // take); each block must still carry exactly the colour of its own sample point (block
  // centre, kept inside the frame), on odd frame sizes (a narrow last block, a short last row),
  // rolled, with and without interlacing.
  struct Case {
    std::size_t width, height;
    float t, roll;
    int horizon;
    float heading;
    int parity, step;
  };
  std::vector<int> widths{0};  // 0: the widest, or four lanes without AVX2
  for (const canyon_detail::LaneKernels* kernels : LaneWidthsHere()) widths.push_back(kernels->lanes);
  for (const int lane_width : widths) {
    SCOPED_TRACE(testing::Message() << "lane width " << lane_width);
    canyon_detail::LimitLaneWidth(lane_width);
    for (const Case c :
         {Case{640, 360, 5.0f, 0.0f, 165, 0.2f, 0, 1}, Case{321, 181, 47.0f, 0.31f, 60, -1.4f, 0, 1},
          Case{321, 181, 12.5f, -0.5f, 120, 2.9f, 1, 2}, Case{203, 97, 300.0f, 0.1f, 40, 0.0f, 0, 2}}) {
      Framebuffer frame(c.width, c.height);
      const Vec3 marker(0.0f, 5.0f, 0.0f);
      frame.Fill(marker);
      DrawCanyonSky(frame, c.t, c.roll, c.horizon, c.heading, c.parity, c.step);
      const float W = static_cast<float>(c.width);
      const float H = static_cast<float>(c.height);
      // Where the sun glow lands (added on top of the sky), rolled about (W/2, horizon).
      const float u = (0.05f * std::sin(0.13f * c.t) + 0.72f) * W - W / 2.0f;
      const float v = 0.22f * H - static_cast<float>(c.horizon);
      const float sun_x = W / 2.0f + u * std::cos(c.roll) - v * std::sin(c.roll);
      const float sun_y = static_cast<float>(c.horizon) + u * std::sin(c.roll) + v * std::cos(c.roll);
      const std::size_t block_width = c.step == 2 ? 1 : 2;
      int compared = 0;
      for (std::size_t y = 0; y < c.height; ++y) {
        for (std::size_t x = 0; x < c.width; ++x) {
          const Vec3& p = frame.pixels[y * c.width + x];
          if (c.step == 2 && static_cast<int>(x % 2) != c.parity) continue;
          if (std::fabs(static_cast<float>(x) - sun_x) <= 37.0f &&
              std::fabs(static_cast<float>(y) - sun_y) <= 37.0f) {
            continue;
          }
          const std::size_t n = x - x % block_width;
          const std::size_t i = y - y % 2;
          const float sx = std::min(static_cast<float>(n) + static_cast<float>(block_width) / 2.0f, W - 0.5f);
          const float sy = std::min(static_cast<float>(i) + 1.0f, H - 0.5f);
          const Vec3 expected = CanyonSkyColour(frame, c.t, c.roll, c.horizon, c.heading, sx, sy);
          ASSERT_EQ(p.r, expected.r) << x << ", " << y;
          ASSERT_EQ(p.g, expected.g) << x << ", " << y;
          ASSERT_EQ(p.b, expected.b) << x << ", " << y;
          ++compared;
        }
      }
      EXPECT_GT(compared, static_cast<int>(c.width * c.height) / 4);
    }
  }
  canyon_detail::LimitLaneWidth(0);
}

TEST(CanyonSky, InterlacedSkyRewritesOnlyItsParityButGlowsEverywhere) {
  Framebuffer frame(640, 360);
  const Vec3 marker(0.0f, 5.0f, 0.0f);
  frame.Fill(marker);
  const float t = 3.0f;
  DrawCanyonSky(frame, t, 0.0f, 165, 0.0f, 1, 2);
  const float sun_x = (0.05f * std::sin(0.13f * t) + 0.72f) * 640.0f;
  const float sun_y = 0.22f * 360.0f;
  for (std::size_t y = 0; y < 360; ++y) {
    for (std::size_t x = 0; x < 640; ++x) {
      const Vec3& p = frame.pixels[y * 640 + x];
      if (x % 2 == 1) {
        ASSERT_NE(p.g, 5.0f) << x << ", " << y;
      } else if (std::fabs(static_cast<float>(x) - sun_x) > 35.0f ||
                 std::fabs(static_cast<float>(y) - sun_y) > 35.0f) {
        ASSERT_EQ(p.g, 5.0f) << x << ", " << y;
      }
    }
  }
  // The sun glow is added to the untouched columns too.
  const std::size_t cx = static_cast<std::size_t>(sun_x) & ~std::size_t{1};
  EXPECT_GT(frame.pixels[static_cast<std::size_t>(sun_y) * 640 + cx].r, 0.0f);
}

TEST(CanyonMist, NothingWithoutFogAndALowBandWithIt) {
  DebugParams p;
  const MusicViz mv;
  Framebuffer none(640, 360);
  p.fog = 0.0f;
  DrawCanyonMist(none, 4.0f, 0.0f, 165, p, mv);
  EXPECT_TRUE(AllBlack(none));

  Framebuffer mist(640, 360);
  p.fog = 1.0f;
  DrawCanyonMist(mist, 4.0f, 0.0f, 165, p, mv);
  float band = 0.0f;
  float sky = 0.0f;
  for (std::size_t x = 0; x < 640; ++x) {
    band += mist.pixels[240 * 640 + x].r;
    sky += mist.pixels[20 * 640 + x].r;
  }
  EXPECT_GT(band, 0.0f);
  EXPECT_GT(band, 10.0f * sky);
  // Twice the fog, twice the light.
  Framebuffer thick(640, 360);
  p.fog = 2.0f;
  DrawCanyonMist(thick, 4.0f, 0.0f, 165, p, mv);
  EXPECT_NEAR(Light(thick), 2.0f * Light(mist), 1e-3f * Light(mist));
}

TEST(CanyonBeacons, NoneBeforeFiveSecondsOrWithoutCues) {
  const DebugParams p;
  const float t = 30.0f;
  const CanyonView view = ViewAt(t);
  for (float section_time : {0.0f, 2.5f, 4.99f}) {
    Framebuffer fb(640, 360);
    DrawBeacons(fb, view, view.camZ, t, p, BeamsCue(section_time));
    EXPECT_TRUE(AllBlack(fb)) << section_time;
  }
  Framebuffer silent(640, 360);
  MusicViz no_cues = BeamsCue(20.0f);
  no_cues.cue_beams = 0.0f;
  DrawBeacons(silent, view, view.camZ, t, p, no_cues);
  EXPECT_TRUE(AllBlack(silent));

  // The intro and scan cues light them too, more faintly.
  Framebuffer lit(640, 360);
  DrawBeacons(lit, view, view.camZ, t, p, BeamsCue(20.0f));
  EXPECT_GT(Light(lit), 0.0f);
  Framebuffer scan(640, 360);
  MusicViz scan_cue = no_cues;
  scan_cue.cue_scan = 1.0f;
  DrawBeacons(scan, view, view.camZ, t, p, scan_cue);
  EXPECT_GT(Light(scan), 0.0f);
  EXPECT_LT(Light(scan), Light(lit));
}

TEST(CanyonBeacons, TheyComeInOneAfterAnother) {
  const DebugParams p;
  const float t = 30.0f;
  const CanyonView view = ViewAt(t);
  float previous = 0.0f;
  // Beacon i starts 5 + 0.7i seconds into the section; beacon 3 is at full strength at 7.95 s.
  for (float section_time : {5.3f, 6.0f, 6.7f, 7.4f, 8.0f}) {
    Framebuffer fb(640, 360);
    DrawBeacons(fb, view, view.camZ, t, p, BeamsCue(section_time));
    const float light = Light(fb);
    EXPECT_GT(light, previous) << section_time;
    previous = light;
  }
  Framebuffer later(640, 360);
  DrawBeacons(later, view, view.camZ, t, p, BeamsCue(9.0f));
  Framebuffer full(640, 360);
  DrawBeacons(full, view, view.camZ, t, p, BeamsCue(8.0f));
  EXPECT_EQ(Light(later), Light(full));
}

TEST(CanyonBeacons, NothingBehindTheCamera) {
  const DebugParams p;
  SceneCameraParams cam;
  cam.yaw = 3.14159265f;
  const float t = 30.0f;
  const CanyonView view = ViewAt(t, p, cam);
  Framebuffer fb(640, 360);
  DrawBeacons(fb, view, view.camZ, t, p, BeamsCue(10.0f));
  EXPECT_TRUE(AllBlack(fb));
}

// Beacon 0's place over the ground at time t (its documented path), and the river's glow there.
float BeaconZeroGlow(float t, const CanyonView& view, const DebugParams& p, const MusicViz& mv) {
  const std::uint32_t seed = 0x6F3AD91Bu;
  const float phase = static_cast<float>(Hash32(seed) & 0xFFFFFFu) * 3.7450704e-7f;
  const float z = 0.8f * std::sin(phase + 0.24f * t) + view.camZ + 48.0f;
  const float x = 10.0f * std::sin(0.035f * z) + 18.0f * std::sin(0.011f * z) +
                  0.74f * std::sin(phase + 0.42f * t + 0.14f * 6.2831853f * mv.step_phase);
  return RiverGlow(x, z, TerrainHeight(x, z, p, true), t, mv);
}

TEST(CanyonBeacons, ABeaconOffTheRiverDrawsNothingNotEvenItsBeam) {
  // A hand-built record with a very rough floor lifts parts of the river bed out of the glow;
  // 5.6 s into the section only beacon 0 is lit.
  DebugParams p;
  p.terrain_height = 40.0f;
  const MusicViz mv = BeamsCue(5.6f);
  bool seen_dark = false;
  bool seen_lit = false;
  for (float t = 0.0f; t < 120.0f && !(seen_dark && seen_lit); t += 0.37f) {
    const CanyonView view = ViewAt(t, p);
    const float glow = BeaconZeroGlow(t, view, p, mv);
    Framebuffer fb(640, 360);
    DrawBeacons(fb, view, view.camZ, t, p, mv);
    if (glow <= 0.005f) {
      EXPECT_TRUE(AllBlack(fb)) << t;
      seen_dark = true;
    } else if (glow > 0.2f && !AllBlack(fb)) {
      seen_lit = true;
    }
  }
  EXPECT_TRUE(seen_dark);
  EXPECT_TRUE(seen_lit);
}

TEST(CanyonBeacons, SparksRiseToTheTopOfTheScreen) {
  const DebugParams p;
  const float t = 30.0f;
  DebugParams level = p;
  level.bank = 0.0f;  // no roll: the beam is vertical
  const CanyonView view = ViewAt(t, level);
  ASSERT_EQ(view.slope, 0.0f);
  Framebuffer fb(640, 360);
  DrawBeacons(fb, view, view.camZ, t, level, BeamsCue(5.5f));  // beacon 0 only
  // Sparks light the top quarter; the orb at the foot of the beam sits on the ground ahead,
  // just below the horizon.
  float top = 0.0f;
  std::size_t lowest = 0;
  for (std::size_t y = 0; y < 360; ++y) {
    for (std::size_t x = 0; x < 640; ++x) {
      const float r = fb.pixels[y * 640 + x].r;
      if (y < 90) top += r;
      if (r > 0.0f) lowest = y;
    }
  }
  EXPECT_GT(top, 0.0f);
  EXPECT_GT(static_cast<float>(lowest), view.horizon);
  EXPECT_LT(static_cast<float>(lowest), view.horizon + 60.0f);
}

TEST(CanyonBeacons, SparkBeamFollowsItsLine) {
  Framebuffer short_beam(64, 64);
  DrawSparkBeam(short_beam, Vec2(30.0f, 30.0f), Vec2(30.5f, 30.5f), Vec3(2.4f, 0.1f, 0.05f),
                Vec3(1.0f, 0.05f, 0.03f), 1.0f, 2.0f, 8.0f, 1.0f, 0.3f, 1234u);
  EXPECT_TRUE(AllBlack(short_beam));  // a beam of length 1 or less draws nothing

  // A vertical beam: all sparks lie within the spread of its column.
  Framebuffer fb(200, 300);
  const float spread = 8.0f;
  const float r = 2.0f;
  DrawSparkBeam(fb, Vec2(100.0f, 280.0f), Vec2(100.0f, -42.0f), Vec3(2.4f, 0.1f, 0.05f),
                Vec3(1.0f, 0.05f, 0.03f), 1.0f, r, spread, 2.5f, 0.7f, 0x6F3AD91Bu);
  float lit_rows = 0.0f;
  for (std::size_t y = 0; y < 300; ++y) {
    bool row_lit = false;
    for (std::size_t x = 0; x < 200; ++x) {
      const Vec3& p = fb.pixels[y * 200 + x];
      if (p.r > 0.0f) {
        // 0.34 spread to the side plus the halo's radius of at most half the spread.
        ASSERT_LE(std::fabs(static_cast<float>(x) + 0.5f - 100.0f), 0.34f * spread + 0.5f * spread + 1.0f);
        row_lit = true;
      }
    }
    if (row_lit) ++lit_rows;
  }
  EXPECT_GT(lit_rows, 60.0f);  // twenty sparks strung along the beam
}

}  // namespace
