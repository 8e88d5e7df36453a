// Scene 3, the canyon as a field of dots: the projection of one dot, the camera, the thinning
// and the ship's halves, the dropship's timeline and pose, and whole frames (what the music,
// the section clock and the frame counter change, and what they must not).

#include "scenes/dot_field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "../canyon/lane_widths.h"
#include "../render/resolved_diff.h"
#include "config/scene_params.h"
#include "render/camera.h"
#include "render/framebuffer.h"
#include "render/noise.h"
#include "scenes/canyon.h"
#include "scenes/canyon_internal.h"
#include "timeline/music_viz.h"

namespace {

constexpr std::size_t kW = 640;
constexpr std::size_t kH = 360;

// Eye at the origin looking along +z, 62 degrees high: the dot field's lens without the canyon.
CameraBasis StraightCamera() {
  return BuildLookAt(Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 0.0f, 10.0f), 62.0f, 0.0f, kW, kH);
}

// The world point at `depth` that lands on the centre of pixel (320, 180).
Vec3 OnPixelCentre(const CameraBasis& cam, float depth) {
  const float offset = 0.5f * depth / cam.focal;
  return cam.eye + depth * cam.forward + offset * cam.right - offset * cam.up;
}

float Red(const Framebuffer& fb, std::size_t x, std::size_t y) {
  return fb.pixels[y * fb.width + x].x;
}

// Pixels of row y lit to more than a millionth of the splat's centre.
int LitInRow(const Framebuffer& fb, std::size_t y, float centre) {
  int lit = 0;
  for (std::size_t x = 0; x < fb.width; ++x)
    if (Red(fb, x, y) > 1e-6f * centre) ++lit;
  return lit;
}

float TotalLight(const Framebuffer& fb) {
  double sum = 0.0;
  for (const Vec3& p : fb.pixels) sum += static_cast<double>(p.x) + p.y + p.z;
  return static_cast<float>(sum);
}

bool AllFinite(const Framebuffer& fb) {
  for (const Vec3& p : fb.pixels)
    if (!IsFinite(p)) return false;
  return true;
}

bool SamePixels(const Framebuffer& a, const Framebuffer& b) {
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    const Vec3& p = a.pixels[i];
    const Vec3& q = b.pixels[i];
    if (p.x != q.x || p.y != q.y || p.z != q.z) return false;
  }
  return true;
}

MusicViz Playing(float section_time, float section_bar) {
  MusicViz mv;
  mv.active = true;
  mv.kick = 0.5f;
  mv.bass = 0.6f;
  mv.lead = 0.3f;
  mv.impact = 0.4f;
  mv.build = 0.2f;
  mv.step_phase = 0.3f;
  mv.section_time = section_time;
  mv.section_bar = section_bar;
  return mv;
}

// One dot-field frame drawn onto black.
void DrawOnBlack(Framebuffer& fb, float t, const DebugParams& p, const MusicViz& mv,
                 std::size_t frame_index = 0) {
  fb.Fill(Vec3(0.0f, 0.0f, 0.0f));
  Canyon().DrawDotField(fb, t, p, SceneCameraParams(), mv, frame_index);
}

// ---- One dot ------------------------------------------------------------------------------

TEST(ProjectSplat, NothingBehindTheEyeOrWithinTheNearLimit) {
  const CameraBasis cam = StraightCamera();
  const DebugParams p;
  struct Case {
    float depth;
    bool drawn;
  };
  const Case cases[] = {{-3.0f, false}, {0.0f, false}, {0.05f, false},
                        {0.051f, true}, {1.0f, true},  {500.0f, true}};
  for (const Case& c : cases) {
    Framebuffer fb(kW, kH);
    ProjectSplat(fb, cam, OnPixelCentre(cam, c.depth), Vec3(1.0f, 1.0f, 1.0f), 1.0f, 1.0f, p);
    EXPECT_EQ(TotalLight(fb) > 0.0f, c.drawn) << "depth " << c.depth;
  }
  // A point behind the eye that would project onto the image still draws nothing.
  Framebuffer fb(kW, kH);
  ProjectSplat(fb, cam, Vec3(0.0f, 0.0f, -5.0f), Vec3(1.0f, 1.0f, 1.0f), 1.0f, 1.0f, p);
  EXPECT_EQ(TotalLight(fb), 0.0f);
}

TEST(ProjectSplat, StrengthFadesToAQuarterBetweenDepths12And130) {
  const CameraBasis cam = StraightCamera();
  DebugParams p;
  p.dot_alpha = 2.0f;
  // The centre pixel of a splat centred on it receives colour * strength (weight 1).
  struct Case {
    float depth;
    float fade;  // 1 - 0.75 ss((depth - 12) / 118)
  };
  const Case cases[] = {{1.0f, 1.0f}, {12.0f, 1.0f}, {71.0f, 0.625f}, {130.0f, 0.25f}, {400.0f, 0.25f}};
  for (const Case& c : cases) {
    Framebuffer fb(kW, kH);
    ProjectSplat(fb, cam, OnPixelCentre(cam, c.depth), Vec3(1.0f, 0.5f, 0.0f), 0.3f, 1.0f, p);
    const float expected = 0.3f * 2.0f * c.fade;
    EXPECT_NEAR(Red(fb, 320, 180), expected, 1e-4f * expected) << "depth " << c.depth;
    EXPECT_NEAR(fb.pixels[180 * kW + 320].y, 0.5f * expected, 1e-4f * expected);
  }
}

TEST(ProjectSplat, RadiusShrinksWithDepthBetween035And7Pixels) {
  const CameraBasis cam = StraightCamera();
  // Radius = clamp(size * dot_size * 72 / depth, 0.35, 7); a splat of whole radius R centred on
  // a pixel lights 2R - 1 pixels of its row.
  struct Case {
    float depth, size, dot_size;
    int lit;
  };
  const Case cases[] = {{24.0f, 1.0f, 1.0f, 5},    // 3
                        {12.0f, 1.0f, 0.5f, 5},    // 3
                        {36.0f, 2.0f, 1.0f, 7},    // 4
                        {2.0f, 1.0f, 1.0f, 13},    // 36, limited to 7
                        {300.0f, 1.0f, 1.0f, 1}};  // 0.24, raised to 0.35
  for (const Case& c : cases) {
    DebugParams p;
    p.dot_size = c.dot_size;
    Framebuffer fb(kW, kH);
    ProjectSplat(fb, cam, OnPixelCentre(cam, c.depth), Vec3(1.0f, 1.0f, 1.0f), 1.0f, c.size, p);
    EXPECT_EQ(LitInRow(fb, 180, Red(fb, 320, 180)), c.lit) << "depth " << c.depth;
  }
}

TEST(ProjectSplat, DotsCentredJustOffTheImageStillLightItsEdge) {
  const CameraBasis cam = StraightCamera();
  const DebugParams p;
  // Depth 12: radius 6. Centres 3 pixels beyond the left and right edges (on row 180's centre
  // line) reach the three pixels nearest the edge; centres 7 pixels beyond reach nothing.
  struct Case {
    float screen_x;
    int lit;
  };
  const Case cases[] = {{-3.0f, 3}, {643.0f, 3}, {-7.0f, 0}, {647.0f, 0}};
  for (const Case& c : cases) {
    const float depth = 12.0f;
    const float across = (c.screen_x - cam.cx) * depth / cam.focal;
    const float down = 0.5f * depth / cam.focal;
    const Vec3 point = cam.eye + depth * cam.forward + across * cam.right - down * cam.up;
    Framebuffer fb(kW, kH);
    ProjectSplat(fb, cam, point, Vec3(1.0f, 1.0f, 1.0f), 1.0f, 1.0f, p);
    int lit = 0;
    for (std::size_t x = 0; x < kW; ++x) lit += Red(fb, x, 180) > 0.0f ? 1 : 0;
    EXPECT_EQ(lit, c.lit) << c.screen_x;
  }
}

// ---- Camera -----------------------------------------------------------------------------------

TEST(DotFieldCamera, RidesTheCentreLineLookingAheadAndBanksIntoBends) {
  NoiseTable();
  DebugParams p;
  SceneCameraParams cam;
  // t = 0: camZ = 0, on the centre line (x = 0) 4.2 above the smoothed ground.
  const DotFieldView start = BuildDotFieldView(0.0f, p, cam, kW, kH);
  EXPECT_EQ(start.camZ, 0.0f);
  EXPECT_NEAR(start.camera.eye.x, 0.0f, 1e-6f);
  EXPECT_NEAR(start.camera.eye.y, CameraGround(0.0f, 0.0f, p) + 4.2f, 1e-5f);
  EXPECT_GT(start.camera.forward.z, 0.9f);  // looking along the canyon

  // Speed and the forward offset move the eye along z; the side offset moves it across.
  p.speed = 2.0f;
  cam.forward = 5.0f;
  cam.side = 1.5f;
  const DotFieldView later = BuildDotFieldView(3.0f, p, cam, kW, kH);
  EXPECT_FLOAT_EQ(later.camZ, 101.0f);
  EXPECT_NEAR(later.camera.eye.x, CanyonCentre(101.0f) + 1.5f, 1e-5f);

  // In a bend the view rolls; with bank 0 it stays level (right has no height).
  p.speed = 1.0f;
  cam = SceneCameraParams();
  float bent_t = 0.0f;
  for (float t = 0.0f; t < 60.0f; t += 0.5f) {
    const float bend = CanyonPathAngle(16.0f * t + 22.0f) - CanyonPathAngle(16.0f * t - 22.0f);
    if (std::fabs(bend) > 0.05f) {
      bent_t = t;
      break;
    }
  }
  ASSERT_GT(bent_t, 0.0f);
  EXPECT_GT(std::fabs(BuildDotFieldView(bent_t, p, cam, kW, kH).camera.right.y), 0.01f);
  p.bank = 0.0f;
  EXPECT_NEAR(BuildDotFieldView(bent_t, p, cam, kW, kH).camera.right.y, 0.0f, 1e-6f);
}

// ---- Thinning and the ship's halves -----------------------------------------------------------

TEST(DotThinning, DensityOneKeepsEverythingAndLowDensityAFixedFew) {
  struct Case {
    float density;
    double low, high;  // share of the dots kept
  };
  const Case cases[] = {{1.0f, 1.0, 1.0}, {0.999f, 1.0, 1.0}, {0.5f, 0.47, 0.53}, {0.03f, 0.02, 0.04}};
  for (const Case& c : cases) {
    int terrain = 0;
    for (int k = 0; k < kDotFieldRows; ++k)
      for (int i = 0; i < kDotFieldColumns; ++i) terrain += TerrainDotKept(i, k, c.density) ? 1 : 0;
    int ship = 0;
    for (std::uint32_t j = 0; j < kDropshipPoints; ++j) ship += ShipDotKept(j, c.density, false, 0) ? 1 : 0;
    const double terrain_share = terrain / double(kDotFieldRows * kDotFieldColumns);
    const double ship_share = ship / double(kDropshipPoints);
    EXPECT_GE(terrain_share, c.low) << c.density;
    EXPECT_LE(terrain_share, c.high) << c.density;
    EXPECT_GE(ship_share, c.low) << c.density;
    EXPECT_LE(ship_share, c.high) << c.density;
  }
  // A density above 1 is the same as 1 for the ship.
  EXPECT_TRUE(ShipDotKept(12345, 4.0f, false, 0));

  // The survivors at a low density are a subset of those at a higher one: raising the density
  // only adds dots, and no dot blinks in and out from one density to the next.
  for (int k = 0; k < kDotFieldRows; ++k)
    for (int i = 0; i < kDotFieldColumns; ++i)
      if (TerrainDotKept(i, k, 0.03f)) {
        EXPECT_TRUE(TerrainDotKept(i, k, 0.2f)) << i << " " << k;
      }
}

TEST(DotThinning, OddEvenDrawsEachHalfOfTheShipOnAlternateFrames) {
  for (std::uint64_t frame : {0u, 1u, 2u, 7u}) {
    for (std::uint32_t j = 0; j < 200; ++j) {
      EXPECT_EQ(ShipDotKept(j, 1.0f, true, frame), (j & 1u) == (frame & 1u)) << j << " " << frame;
      EXPECT_TRUE(ShipDotKept(j, 1.0f, false, frame));
    }
  }
  // With thinning too: the two frames together draw exactly what one frame draws without the
  // alternation.
  for (std::uint32_t j = 0; j < kDropshipPoints; ++j) {
    const bool either = ShipDotKept(j, 0.3f, true, 4) || ShipDotKept(j, 0.3f, true, 5);
    EXPECT_EQ(either, ShipDotKept(j, 0.3f, false, 0));
  }
}

// ---- The dropship's timeline and pose ----------------------------------------------------------

TEST(DropshipTiming, FadesInFrom4sArrivesBy84sAndLeavesAfterBar19) {
  struct Case {
    float st, sb;
    float vis, arrive, late, leave;
  };
  // ss(0.5) = 0.5; bars are taken as given (the section bar is not derived from the time here).
  // ss(u) = u*u*(3 - 2u): arrive at 4.7 s is ss(0.5/4.2) = 0.0391426, at 5.4 s ss(1.2/4.2) =
  // 0.1982507; leave at bar 19.675 is ss(0.5) = 0.5. Bars are taken as given.
  const Case cases[] = {
      {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},       {3.99f, 2.3f, 0.0f, 0.0f, 0.0f, 0.0f},
      {4.0f, 2.3f, 0.0f, 0.0f, 0.0f, 0.0f},       {4.7f, 2.7f, 0.5f, 0.0391426f, 0.0f, 0.0f},
      {5.4f, 3.2f, 1.0f, 0.1982507f, 0.0f, 0.0f}, {6.3f, 3.7f, 1.0f, 0.5f, 0.0f, 0.0f},
      {8.4f, 4.9f, 1.0f, 1.0f, 0.0f, 0.0f},       {30.0f, 19.0f, 1.0f, 1.0f, 0.0f, 0.0f},
      {31.0f, 19.675f, 1.0f, 1.0f, 0.675f, 0.5f}, {35.0f, 21.0f, 1.0f, 1.0f, 2.0f, 1.0f}};
  for (const Case& c : cases) {
    const DropshipTiming d = DropshipTimingAt(c.st, c.sb);
    EXPECT_NEAR(d.vis, c.vis, 1e-5f) << c.st;
    EXPECT_NEAR(d.arrive, c.arrive, 1e-5f) << c.st;
    EXPECT_NEAR(d.late, c.late, 1e-5f) << c.st;
    EXPECT_NEAR(d.leave, c.leave, 1e-5f) << c.st;
    EXPECT_NEAR(d.damping, 1.0f - 0.88f * c.leave, 1e-5f) << c.st;
  }
  // The wobble waits for the ship to settle and dies down as it leaves.
  EXPECT_EQ(DropshipWobble(DropshipTimingAt(4.5f, 2.6f), 1.0f), 0.0f);
  EXPECT_NEAR(DropshipWobble(DropshipTimingAt(10.0f, 5.8f), 0.5f), 0.5f, 1e-6f);
  EXPECT_NEAR(DropshipWobble(DropshipTimingAt(40.0f, 23.0f), 0.5f), 0.06f, 1e-6f);
}

TEST(DropshipPose, ComesFromBehindHoversAheadAndClimbsAway) {
  NoiseTable();
  const DebugParams p;
  const float t = 20.0f;
  const CameraBasis cam = BuildDotFieldView(t, p, SceneCameraParams(), kW, kH).camera;
  const auto in_view = [&cam](Vec3 v) {
    const Vec3 rel = v - cam.eye;
    return Vec3(Dot(rel, cam.right), Dot(rel, cam.up), Dot(rel, cam.forward));
  };
  // Before arriving: 3.5 behind, 3.2 to the left and 8 above the eye, tilted 0.3 (hand-derived:
  // arrive = 0, no wobble).
  const DropshipPose before = DropshipPoseAt(t, DropshipTimingAt(4.0f, 2.3f), cam, p);
  const Vec3 start = in_view(before.centre);
  EXPECT_NEAR(start.x, -3.2f, 1e-4f);
  EXPECT_NEAR(start.y, 8.0f, 1e-4f);
  EXPECT_NEAR(start.z, -3.5f, 1e-4f);

  // Hovering: about 14 ahead, near the eye line, nose roughly along the view, axes orthonormal.
  const DropshipPose hover = DropshipPoseAt(t, DropshipTimingAt(12.0f, 7.0f), cam, p);
  const Vec3 there = in_view(hover.centre);
  EXPECT_NEAR(there.z, 10.6f, 0.7f);  // 14.1 - 3.5, give or take the wobble
  EXPECT_NEAR(there.x, 0.0f, 0.5f);
  EXPECT_NEAR(there.y, 0.45f, 0.5f);
  EXPECT_GT(Dot(hover.along, cam.forward), 0.8f);
  for (const Vec3& axis : {hover.across, hover.up, hover.along}) EXPECT_NEAR(Length(axis), 1.0f, 1e-4f);
  EXPECT_NEAR(Dot(hover.across, hover.up), 0.0f, 1e-4f);
  EXPECT_NEAR(Dot(hover.across, hover.along), 0.0f, 1e-4f);
  EXPECT_NEAR(Dot(hover.up, hover.along), 0.0f, 1e-4f);
  EXPECT_GT(hover.up.y, 0.9f);  // upright

  // Three bars after bar 19 it is far ahead and high up, nose raised.
  const DropshipPose gone = DropshipPoseAt(t, DropshipTimingAt(40.0f, 22.0f), cam, p);
  const Vec3 away = in_view(gone.centre);
  EXPECT_GT(away.z, 55.0f);
  EXPECT_GT(away.y, 50.0f);
  EXPECT_GT(Dot(gone.along, cam.up), 0.2f);
}

// ---- Whole frames -------------------------------------------------------------------------------

TEST(DotFieldFrame, DecaysTowardAFaintBlueFloorInsteadOfClearing) {
  NoiseTable();
  // With no dot strength nothing is drawn (the splats are empty): only the decay remains.
  DebugParams p;
  p.dot_alpha = 0.0f;
  MusicViz pulse;  // CanyonPulse = 0.75 * impact = 0.6
  pulse.active = true;
  pulse.impact = 0.8f;
  struct Case {
    float trail;
    MusicViz mv;
    float keep, P;
  };
  const Case cases[] = {{0.5f, MusicViz(), 0.5f, 0.0f},
                        {0.5f, pulse, 0.5f - 0.035f * 0.6f, 0.6f},
                        {0.01f, MusicViz(), 0.15f, 0.0f},  // the factor stays within [0.15, 0.98]
                        {1.0f, MusicViz(), 0.98f, 0.0f}};
  for (const Case& c : cases) {
    p.trail = c.trail;
    Framebuffer fb(kW, kH);
    fb.Fill(Vec3(1.0f, 2.0f, 3.0f));
    Canyon().DrawDotField(fb, 1.0f, p, SceneCameraParams(), c.mv, 0);
    for (std::size_t at : {std::size_t{0}, kW * kH / 2 + 17, kW * kH - 1}) {
      const Vec3 v = fb.pixels[at];
      EXPECT_NEAR(v.x, c.keep * 1.0f + 0.0015f + 0.00075f * c.P, 1e-6f) << c.trail;
      EXPECT_NEAR(v.y, c.keep * 2.0f + 0.001f + 0.0005f * c.P, 1e-6f) << c.trail;
      EXPECT_NEAR(v.z, c.keep * 3.0f + 0.003f + 0.0015f * c.P, 1e-6f) << c.trail;
    }
  }
}

TEST(DotFieldFrame, NoShipBefore4sIntoTheSectionAndAShipAfter) {
  NoiseTable();
  const DebugParams p;
  Framebuffer without(kW, kH);
  Framebuffer with(kW, kH);
  const float t = 30.0f;
  DrawOnBlack(without, t, p, Playing(0.0f, 0.0f));
  for (float st : {1.0f, 3.9f, 4.0f}) {
    DrawOnBlack(with, t, p, Playing(st, st / 1.7142857f));
    EXPECT_TRUE(SamePixels(with, without)) << st;
  }
  // (Until about 5.6 s the ship is still behind the eye, flying in.)
  for (float st : {6.5f, 9.0f, 20.0f}) {
    DrawOnBlack(with, t, p, Playing(st, st / 1.7142857f));
    EXPECT_GT(TotalLight(with) - TotalLight(without), 1.0f) << st;
  }
}

TEST(DotFieldFrame, AlternateFramesDrawTheTwoHalvesOfTheShip) {
  NoiseTable();
  DebugParams p;
  const MusicViz mv = Playing(12.0f, 7.0f);
  const float t = 12.0f;
  Framebuffer ground(kW, kH);
  Framebuffer even(kW, kH);
  Framebuffer odd(kW, kH);
  Framebuffer whole(kW, kH);
  DrawOnBlack(ground, t, p, Playing(0.0f, 0.0f));
  DrawOnBlack(even, t, p, mv, 10);
  DrawOnBlack(odd, t, p, mv, 11);
  p.ship_odd_even = false;
  DrawOnBlack(whole, t, p, mv, 10);

  // Each half draws something of its own, and the halves add up to the whole ship.
  const float ship_even = TotalLight(even) - TotalLight(ground);
  const float ship_odd = TotalLight(odd) - TotalLight(ground);
  const float ship_whole = TotalLight(whole) - TotalLight(ground);
  EXPECT_GT(ship_even, 1.0f);
  EXPECT_GT(ship_odd, 1.0f);
  EXPECT_FALSE(SamePixels(even, odd));
  EXPECT_NEAR(ship_even + ship_odd, ship_whole, 1e-3f * ship_whole);

  // Without the alternation the frame counter changes nothing.
  DrawOnBlack(even, t, p, mv, 11);
  EXPECT_TRUE(SamePixels(even, whole));
}

TEST(DotFieldFrame, GroundRipplesOnlyWhileTheMusicIsActive) {
  NoiseTable();
  const DebugParams p;
  const float t = 7.0f;
  const float x = 3.0f;
  const float z = 40.0f;
  const float ground = TerrainHeight(x, z, p, true);

  // Inactive: bass and impact move nothing.
  MusicViz mv;
  mv.bass = 1.0f;
  mv.impact = 1.0f;
  EXPECT_EQ(DotFieldGroundHeight(x, z, t, p, mv), ground);
  // Active: sin(0.13x + 0.05z + 3t) * (0.1 bass + 0.34 impact) = sin(23.39) * 0.44.
  mv.active = true;
  EXPECT_NEAR(DotFieldGroundHeight(x, z, t, p, mv) - ground, -0.4335117f, 1e-4f);
  mv.bass = 0.0f;
  mv.impact = 0.0f;
  EXPECT_NEAR(DotFieldGroundHeight(x, z, t, p, mv), ground, 1e-6f);

  // Without music the glow mix still follows the sixteenth-note phase.
  Framebuffer a(kW, kH);
  Framebuffer b(kW, kH);
  MusicViz quiet;
  quiet.step_phase = 0.2f;
  DrawOnBlack(a, t, p, quiet);
  quiet.step_phase = 0.7f;
  DrawOnBlack(b, t, p, quiet);
  EXPECT_FALSE(SamePixels(a, b));
}

TEST(DotFieldFrame, LowDensityDrawsAFewOfTheSameDotsEveryTime) {
  NoiseTable();
  DebugParams p;
  const MusicViz mv = Playing(12.0f, 7.0f);
  Framebuffer full(kW, kH);
  Framebuffer sparse(kW, kH);
  Framebuffer again(kW, kH);
  DrawOnBlack(full, 9.0f, p, mv);
  p.dot_density = 0.03f;
  DrawOnBlack(sparse, 9.0f, p, mv);
  DrawOnBlack(again, 9.0f, p, mv);
  EXPECT_TRUE(SamePixels(sparse, again));
  // The streamer is never thinned, so the sparse frame keeps more than 3 % of the light, but far
  // less than the full field.
  EXPECT_GT(TotalLight(sparse), 0.01f * TotalLight(full));
  EXPECT_LT(TotalLight(sparse), 0.3f * TotalLight(full));
}

TEST(DotFieldFrame, LooksLikeTheCanyonWithAShipAndStaysFinite) {
  NoiseTable();
  DebugParams shadows;
  shadows.shadows = true;
  for (const DebugParams& p : {DebugParams(), shadows}) {
    Framebuffer fb(kW, kH);
    DrawOnBlack(fb, 14.0f, p, Playing(14.0f, 8.2f));
    ASSERT_TRUE(AllFinite(fb));
    // Lit pixels: the ground fills the lower part of the picture, the sky stays nearly dark.
    int lit_low = 0;
    int lit_high = 0;
    for (std::size_t y = 0; y < kH; ++y)
      for (std::size_t x = 0; x < kW; ++x) {
        const Vec3 c = fb.pixels[y * kW + x];
        if (c.x + c.y + c.z < 0.05f) continue;
        (y >= kH / 2 ? lit_low : lit_high) += 1;
      }
    EXPECT_GT(lit_low, static_cast<int>(kW * kH / 2) / 5);
    EXPECT_LT(lit_high, lit_low);
  }

  // The ship hovers near the middle of the picture.
  const DebugParams p;
  const CameraBasis cam = BuildDotFieldView(14.0f, p, SceneCameraParams(), kW, kH).camera;
  const DropshipPose pose = DropshipPoseAt(14.0f, DropshipTimingAt(14.0f, 8.2f), cam, p);
  const Vec3 rel = pose.centre - cam.eye;
  const float depth = Dot(rel, cam.forward);
  const float sx = Dot(rel, cam.right) * cam.focal / depth + cam.cx;
  const float sy = cam.cy - Dot(rel, cam.up) * cam.focal / depth;
  EXPECT_GT(sx, kW / 3.0f);
  EXPECT_LT(sx, 2.0f * kW / 3.0f);
  EXPECT_GT(sy, kH / 4.0f);
  EXPECT_LT(sy, 3.0f * kH / 4.0f);
}

// The scene written out plainly from the public functions: every terrain dot shaded and
// projected, the light from four separate heights, the shadow from ten, no shared rows and no
// skipping of dots off the image.
float PlainLight(float x, float z, const DebugParams& p, Vec3 sun) {
  const float ex = TerrainHeight(x - 1.0f, z, p, true) - TerrainHeight(x + 1.0f, z, p, true);
  const float ez = TerrainHeight(x, z - 1.0f, p, true) - TerrainHeight(x, z + 1.0f, p, true);
  const Vec3 normal = Normalize(Vec3(ex, 2.0f, ez));
  return Clamp01(Dot(normal, sun) * 0.8474576f + 0.15254237f);
}

float PlainShadow(float x, float z, float h, const DebugParams& p, float sa, float ca) {
  if (!p.shadows || !(p.shadow_strength > 0.0f)) return 1.0f;
  float sum = 0.0f, total = 0.0f, hard = 0.0f, soft = 0.0f;
  for (int i = 1; i <= 10; ++i) {
    const float q = (static_cast<float>(i) - 0.35f) * 0.1f;
    const float l = q * p.shadow_length;
    const float m = 0.02f * l + 0.75f;
    const float o = -0.08f * m;
    const float th = TerrainHeight(x + l * sa, z + l * ca, p, true);
    const float v = Smoothstep((th - (0.36f * l + h + 0.2f) - o) / (m - o));
    const float u = (1.0f - q) * (1.0f - q) + 0.12f;
    sum += v * u;
    total += u;
    hard = std::max(hard, v);
    soft = Clamp01(sum / total * 1.3f);
  }
  return 1.0f - ((hard - soft) * 0.72f + soft) * p.shadow_strength;
}

void PlainDotField(Framebuffer& fb, float t, const DebugParams& p, const MusicViz& mv) {
  const float P = CanyonPulse(mv);
  fb.ScaleAdd(Clamp(p.trail - 0.035f * P, 0.15f, 0.98f),
              Vec3(0.0015f + 0.00075f * P, 0.001f + 0.0005f * P, 0.003f + 0.0015f * P));
  const DotFieldView view = BuildDotFieldView(t, p, SceneCameraParams(), fb.width, fb.height);
  const Vec3 glow = (0.4f * mv.lead + 1.0f + 0.8f * mv.impact) * Vec3(0.05f, 0.75f, 1.0f);
  for (int k = 0; k < 128; ++k) {
    const float z = view.camZ + 4.0f + 0.78f * static_cast<float>(k);
    for (int i = 0; i < 112; ++i) {
      if (!TerrainDotKept(i, k, p.dot_density)) continue;
      const float x = CanyonCentre(z) + (static_cast<float>(i) - 55.5f) * 0.72f;
      float y = TerrainHeight(x, z, p, true);
      if (mv.active) y += std::sin(0.13f * x + 0.05f * z + 3.0f * t) * (0.1f * mv.bass + 0.34f * mv.impact);
      const float diffuse = PlainLight(x, z, p, view.sun);
      const float haze = TerrainHaze(x, z, y, z - view.camZ, t, p, 45.0f, 140.0f);
      const float shadow = PlainShadow(x, z, y, p, view.sun_sin, view.sun_cos);
      const float light = shadow * diffuse + 0.35f;
      const Vec3 albedo = TerrainColour(x, z, y, haze);
      const float wave = std::sin(6.2831853f * mv.step_phase + 0.06f * z + 5.0f * t + 0.13f * x);
      const float mix = 0.09f * wave + 0.24f + 0.16f * P;
      ProjectSplat(fb, view.camera, Vec3(x, y, z), Lerp(light * albedo, glow, mix), 0.05f * P + 0.04f,
                   0.6325f * P + 1.15f, p);
    }
  }
  // The streamer (the ship is not in these frames).
  const float a = 0.38f * P;
  for (int j = 0; j < 90; ++j) {
    const float u = static_cast<float>(j) / 89.0f;
    const float z = view.camZ + 6.0f + 70.0f * u;
    const float x =
        CanyonCentre(z) +
        std::sin(8.0f * 3.14159265f * u + 2.0f * t + 6.2831853f * mv.step_phase) * (0.72f * mv.build + 1.6f);
    const float y = TerrainHeight(x, z, p, true) +
                    std::sin(9.0f * 3.14159265f * u + 4.0f * t) * (0.4f * mv.impact + 0.22f * mv.bass) +
                    2.5f * u + 0.5f;
    const Vec3 colour(1.0f - 0.9f * u + 0.9f * u * a, Lerp(0.1f + 0.75f * u, 0.85f, a),
                      Lerp(0.75f + 0.25f * u, 0.26f, a));
    ProjectSplat(fb, view.camera, Vec3(x, y, z), colour, (1.0f - u) * (0.1f + 0.22f * P), 1.12f * P + 1.6f,
                 p);
  }
}

// The dot field's exact path must give the plain version's frame byte for byte; its lane path
// (heights, lights and shadows from the lane kernels of each width, within a few millionths)
// must stay within the bound of the fast paths. A dot on the wrong row, or a wrong light or
// shadow, differs by far more than that.
TEST(DotFieldFrame, EqualsThePlainVersionExactlyOrWithinTheBoundOfTheLanes) {
  NoiseTable();
  DebugParams shadows;
  shadows.shadows = true;
  shadows.shadow_strength = 0.8f;
  shadows.dot_alpha = 4.0f;  // bright dots, so a wrong light or shadow shows in many pixels
  DebugParams sparse;
  sparse.dot_density = 0.5f;
  struct Path {
    const char* name;
    bool exact;
    int lane_width;
  };
  std::vector<Path> paths{{"exact", true, 0}};
  for (const canyon_detail::LaneKernels* kernels : LaneWidthsHere()) {
    paths.push_back({kernels->lanes == 8 ? "eight lanes" : "sixteen lanes", false, kernels->lanes});
  }
  const MusicViz mv = Playing(0.0f, 0.0f);  // no ship
  for (const Path& path : paths) {
    SCOPED_TRACE(path.name);
    canyon_detail::UseExactCanyonMarch(path.exact);
    canyon_detail::LimitLaneWidth(path.lane_width);
    for (const DebugParams& p : {DebugParams(), shadows, sparse}) {
      for (float t : {3.0f, 17.25f}) {
        // Over a dark image, where the exposure curve is steepest.
        Framebuffer fast(kW, kH);
        Framebuffer plain(kW, kH);
        fast.Fill(Vec3(0.01f, 0.005f, 0.02f));
        plain.Fill(Vec3(0.01f, 0.005f, 0.02f));
        Canyon().DrawDotField(fast, t, p, SceneCameraParams(), mv, 0);
        PlainDotField(plain, t, p, mv);
        const ByteDiff d = CompareResolved(fast, plain);
        EXPECT_GT(d.lit, d.pixels / 4);
        if (path.exact) {
          EXPECT_TRUE(fast.rgba == plain.rgba) << "t " << t << " shadows " << p.shadows;
        } else {
          ExpectWithinBound(d, path.name);
        }
      }
    }
  }
  canyon_detail::UseExactCanyonMarch(false);
  canyon_detail::LimitLaneWidth(0);
}

TEST(DotFieldFrame, SameInputsSameFrameAndAClockWithoutAPlaceShowsTheStart) {
  NoiseTable();
  const DebugParams p;
  Framebuffer a(kW, kH);
  Framebuffer b(kW, kH);
  DrawOnBlack(a, 21.5f, p, Playing(21.5f, 12.5f));
  DrawOnBlack(b, 21.5f, p, Playing(21.5f, 12.5f));
  EXPECT_TRUE(SamePixels(a, b));

  // A non-finite or overflowing time draws the start of the flight, not NaNs.
  DrawOnBlack(a, 0.0f, p, MusicViz());
  for (float t : {INFINITY, NAN, 3.0e38f}) {
    DrawOnBlack(b, t, p, MusicViz());
    EXPECT_TRUE(AllFinite(b)) << t;
    EXPECT_TRUE(SamePixels(a, b)) << t;
  }
  // Far out but still on the path: whatever survives the lost precision, never a NaN, and the
  // ship too.
  for (float t : {1.0e7f, 1.0e30f, -1.0e30f}) {
    DrawOnBlack(b, t, p, Playing(12.0f, 7.0f));
    EXPECT_TRUE(AllFinite(b)) << t;
  }
}

}  // namespace
