// The console and its operator: the built-in pulse, what stays complete at the lowest density,
// where the hands go, and the whole element on an image.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <functional>

#include "render/camera.h"
#include "scenes/console_operator.h"
#include "scenes/objects_scene.h"

namespace {

// The light an element adds, summed over colour channels, measured on a one-pixel image: the
// camera looks at the console from 4 units with a 160-degree view, so every point of a control
// projects within a fraction of a pixel of the one pixel centre, and the largest dot size makes
// every splat 7 pixels wide. Each splat then adds its colour times its intensity with a weight
// above 0.999 (the kernel (1 - d^2/R^2)^2 at d < 0.2 px, R = 7 px), and nothing is nearer than
// depth 8, so no depth fade: the pixel is the plain sum of intensity * colour over the splats.
struct OnePixel {
  Framebuffer fb{1, 1};
  CameraBasis cam = BuildLookAt(Vec3{0.0f, 3.2f, -3.5f}, Vec3{0.0f, 0.9f, 0.0f}, 160.0f, 0.0f, 1, 1);
  DebugParams dp;

  OnePixel(float density) {
    dp.dot_density = density;
    dp.dot_size = 4.0f;
  }
  double Light(const std::function<void(Framebuffer&, const CameraBasis&, const DebugParams&)>&
                   draw) {
    fb.Fill(Vec3{});
    draw(fb, cam, dp);
    const Vec3 p = fb.pixels[0];
    return static_cast<double>(p.x) + p.y + p.z;
  }
};

double Sum(Vec3 c) { return static_cast<double>(c.x) + c.y + c.z; }

size_t LitPixels(const Framebuffer& fb, float above) {
  size_t lit = 0;
  for (const Vec3& p : fb.pixels)
    if (p.x + p.y + p.z > above) ++lit;
  return lit;
}

// The close-up camera of the club look.
CameraBasis CloseUp(float t) {
  MusicViz club;
  club.cue_club = 1.0f;
  return ObjectsCamera(t, SceneCameraParams{}, MakeObjectsMix(club), 640, 360);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Drivers

TEST(ConsoleDrivers, WithoutMusicTheBuiltInPulseDrivesTheConsole) {
  const MusicViz silent;
  // a = 1.72 t; the pulse peaks where sin(2 pi a) = 1 (a = 0.25) and is off where the sine is
  // below 0.44 (a = 0.75).
  const float peak = 0.25f / 1.72f;
  const ConsoleDrivers on = MakeConsoleDrivers(peak, silent);
  EXPECT_NEAR(on.beat, 0.25f, 1e-6f);
  EXPECT_NEAR(on.bars, 0.0625f, 1e-6f);
  EXPECT_NEAR(on.pulse, 1.0f, 1e-5f);
  const float weights[8] = {0.24f, 0.2f, 0.26f, 0.0f, 0.18f, 0.16f, 0.0f, 0.42f};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(on.L[i], weights[i], 1e-5f) << "L" << i + 1;
  EXPECT_NEAR(on.groove, 0.35f, 1e-5f);
  EXPECT_NEAR(on.u, 0.35f, 1e-5f);
  EXPECT_NEAR(on.ph, 0.0f, 1e-4f);  // 4a = 1: the start of a step

  const ConsoleDrivers off = MakeConsoleDrivers(0.75f / 1.72f, silent);
  EXPECT_EQ(off.pulse, 0.0f);
  EXPECT_EQ(off.L[7], 0.0f);
  EXPECT_EQ(off.u, 0.0f);

  // So the console animates without music: two moments of the pulse look different.
  Framebuffer a(640, 360), b(640, 360);
  DrawConsoleAndOperator(a, CloseUp(peak), peak, DebugParams{}, silent, 1.0f);
  DrawConsoleAndOperator(b, CloseUp(peak), 0.75f / 1.72f, DebugParams{}, silent, 1.0f);
  size_t differing = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i)
    if (std::fabs(a.pixels[i].y - b.pixels[i].y) > 0.01f) ++differing;
  EXPECT_GT(differing, 2000u);
}

TEST(ConsoleDrivers, WithMusicTheLevelsComeFromTheRecord) {
  MusicViz mv;
  mv.active = true;
  mv.beat = NAN;  // replaced by 1.72 t
  mv.bar = 12.0f;
  mv.lead = -0.5f;
  mv.kick = 0.8f;
  mv.impact = 1.7f;  // levels are clamped to [0, 1]
  mv.step_phase = 0.4f;
  mv.energy = 0.6f;
  const ConsoleDrivers d = MakeConsoleDrivers(10.0f, mv);
  EXPECT_NEAR(d.beat, 0.35f + 17.2f, 1e-4f);
  EXPECT_NEAR(d.bars, 12.06f, 1e-5f);
  EXPECT_EQ(d.L[0], 0.0f);
  EXPECT_EQ(d.L[3], 1.0f);
  EXPECT_FLOAT_EQ(d.L[7], 0.8f);
  EXPECT_EQ(d.pulse, 0.0f);
  EXPECT_FLOAT_EQ(d.groove, 0.6f);
  EXPECT_FLOAT_EQ(d.u, ObjectsDrive(mv));
  EXPECT_FLOAT_EQ(d.ph, 0.4f);
}

// ---------------------------------------------------------------------------------------------
// What the lowest density keeps

TEST(ConsoleDensity, ControlsKeepPointersCentresAndCaps) {
  // At density 0 every gated dot is gone, so the one pixel holds exactly the never-thinned
  // splats; at the lowest setting 0.03 they are all still there plus a few gated ones.
  const float k = 0.8f;
  const float u = 0.3f;
  const float t = 1.5f;
  const Vec3 col{1.0f, 0.2f, 0.7f};
  const float g = 0.4f;
  struct Case {
    const char* name;
    std::function<void(Framebuffer&, const CameraBasis&, const DebugParams&)> draw;
    double kept;  // light of the splats that are never thinned
  };
  const Case cases[] = {
      {"knob: 9 pointer dots and the centre",
       [&](Framebuffer& fb, const CameraBasis& cam, const DebugParams& dp) {
         DrawKnob(fb, cam, 0.3f, 0.2f, 0.6f, g, col, k, u, t, dp, 11u);
       },
       9 * 0.06 * k * Sum(col * (1.0f + 1.15f * g)) + 0.045 * k * Sum(col * (0.6f + 0.8f * g))},
      {"channel fader: the 28-dot cap",
       [&](Framebuffer& fb, const CameraBasis& cam, const DebugParams& dp) {
         DrawChannelFader(fb, cam, -0.48f, -0.52f, 0.32f, 0.7f, g, col, k, u, t, dp, 12u);
       },
       28 * 0.06 * k * Sum(col * (1.0f + 0.9f * g))},
      {"cross fader: the 30-dot cap",
       [&](Framebuffer& fb, const CameraBasis& cam, const DebugParams& dp) {
         DrawCrossFader(fb, cam, -0.92f, 0.92f, -0.72f, 0.2f, g, col, k, u, t, dp, 13u);
       },
       30 * 0.058 * k * Sum(col * (1.0f + 0.95f * g))},
      {"pad: the centre",
       [&](Framebuffer& fb, const CameraBasis& cam, const DebugParams& dp) {
         DrawPad(fb, cam, 0.22f, -0.58f, 0.5f, col, k, u, t, dp, 14u);
       },
       (0.055 + 0.04 * 0.5) * k * Sum(col * (0.2f + 1.35f * 0.5f))},
      {"meter: everything thinned",
       [&](Framebuffer& fb, const CameraBasis& cam, const DebugParams& dp) {
         DrawMeter(fb, cam, 0.16f, 0.48f, 0.6f, col, k, u, t, dp, 15u);
       },
       0.0},
  };
  for (const Case& c : cases) {
    OnePixel none(0.0f), lowest(0.03f), all(1.0f);
    const double at_zero = none.Light(c.draw);
    const double at_lowest = lowest.Light(c.draw);
    const double at_all = all.Light(c.draw);
    EXPECT_NEAR(at_zero, c.kept, 2e-3 * c.kept + 1e-9) << c.name;
    EXPECT_GE(at_lowest, 0.999 * c.kept) << c.name;
    EXPECT_GT(at_all, at_lowest + 0.01) << c.name << ": the thinned part is there at full density";
  }
}

TEST(ConsoleDensity, ArmsKeepJointsAndFingers) {
  // The shoulder, elbow and wrist splats, the fingertip, knuckle and five fingers are never
  // thinned; limbs and palm are.
  const MusicViz silent;
  const ConsoleDrivers d = MakeConsoleDrivers(0.3f, silent);
  const OperatorSway w = MakeOperatorSway(d);
  const float k = 0.9f;
  const float u = d.u;
  const Vec3 col{0.44f, 0.95f, 1.0f};
  ArmPose pose;
  pose.hand = Vec3{1.3f, 1.1f, -0.08f};
  pose.tip = Vec3{1.25f, 0.95f, -0.18f};
  pose.reach = 0.4f;
  pose.bend = 0.3f;
  pose.press = 0.2f;
  const auto draw = [&](Framebuffer& fb, const CameraBasis& cam, const DebugParams& dp) {
    DrawArm(fb, cam, pose, 1.0f, col, d, w, k, dp, 77u);
  };
  const Vec3 sleeve = Lerp(Vec3{0.24f, 0.58f, 0.82f}, col, 0.72f);
  const double joints = 0.084 * k * Sum(sleeve * (1.0f + 0.35f * u)) +
                        0.08 * k * Sum(sleeve * (0.75f + 0.55f * u)) +
                        0.08 * k * Sum(sleeve * (0.95f + 0.5f * u));
  const double hand = 0.11 * k * Sum(col * (1.24f + 0.65f * u)) + 0.074 * k * Sum(col * 0.78f) +
                      5 * 0.048 * k * Sum(col * (0.92f + 0.4f * u + 0.35f * pose.reach));
  OnePixel none(0.0f), lowest(0.03f), all(1.0f);
  EXPECT_NEAR(none.Light(draw), joints + hand, 2e-3 * (joints + hand));
  EXPECT_GE(lowest.Light(draw), 0.999 * (joints + hand));
  EXPECT_GT(all.Light(draw), 3.0 * (joints + hand));  // limbs: 2 x 36 samples of 5 splats
}

TEST(ConsoleDensity, SearchlightsAreNeverThinned) {
  const MusicViz silent;
  const ConsoleDrivers d = MakeConsoleDrivers(2.0f, silent);
  const CameraBasis cam = CloseUp(2.0f);
  DebugParams low;
  low.dot_density = 0.03f;
  Framebuffer thin(640, 360), full(640, 360);
  DrawSearchlights(thin, cam, 2.0f, d, 1.0f, low);
  DrawSearchlights(full, cam, 2.0f, d, 1.0f, DebugParams{});
  ASSERT_GT(LitPixels(full, 0.01f), 2000u);
  for (size_t i = 0; i < full.pixels.size(); ++i) ASSERT_EQ(thin.pixels[i].z, full.pixels[i].z);
}

// ---------------------------------------------------------------------------------------------
// The hands

TEST(OperatorPoses, HandsStartOnThePlattersAndStayOnTheConsole) {
  // Every moment of 32 bars, with and without music: at the start of every phrase (no gesture
  // window is open yet) each hand is just above its platter; at every moment it is over the
  // console (or raised above the operator in the hands-up and finale gestures), never behind
  // him, never below the surface.
  for (const bool playing : {false, true}) {
    for (int step = 0; step < 32 * 48; ++step) {
      const float bars = static_cast<float>(step) / 48.0f;
      MusicViz mv;
      float t = 0.0f;
      if (playing) {
        mv.active = true;
        mv.bar = bars;
        mv.beat = 4.0f * bars;
        mv.kick = 0.5f + 0.5f * std::sin(7.0f * bars);
        mv.lead = 0.4f;
        mv.build = 0.3f;
        mv.energy = 0.5f;
        t = bars * 240.0f / 140.0f;
      } else {
        t = bars / (0.25f * 1.72f);  // the pulse's bars run at 0.25 * 1.72 per second
      }
      const ConsoleDrivers d = MakeConsoleDrivers(t, mv);
      const OperatorSway w = MakeOperatorSway(d);
      ArmPose left, right;
      OperatorPoses(d, w, mv, t, left, right);
      for (const auto& [s, pose] : {std::pair{-1.0f, left}, std::pair{1.0f, right}}) {
        ASSERT_TRUE(IsFinite(pose.hand) && IsFinite(pose.tip));
        EXPECT_LE(std::fabs(pose.hand.x), 2.1f) << bars;
        EXPECT_GE(pose.hand.z, -1.0f) << bars;
        EXPECT_LE(pose.hand.z, 0.45f) << bars;
        EXPECT_GE(pose.tip.y, 0.85f) << bars << " fingertip under the surface";
        if (PhrasePosition(d.bars) < 0.25f) {
          EXPECT_NEAR(pose.hand.x, 1.35f * s, 0.06f) << bars;
          EXPECT_NEAR(pose.hand.y, 1.10f, 1e-5f) << bars;
          EXPECT_NEAR(pose.hand.z, -0.08f, 1e-5f) << bars;
        }
      }
    }
  }
}

TEST(OperatorPoses, GesturesFollowThePhrase) {
  // Hands-up: left in phrases with G mod 4 = 1, right with G mod 4 = 3, late in the phrase; the
  // finale flash makes both pump.
  MusicViz mv;
  mv.active = true;
  mv.energy = 0.5f;
  mv.impact = 1.0f;  // the gesture at its full size
  const auto poses_at = [&](float bars, ArmPose& left, ArmPose& right) {
    mv.bar = bars;
    mv.beat = 4.0f * bars;
    const ConsoleDrivers d = MakeConsoleDrivers(0.0f, mv);
    OperatorPoses(d, MakeOperatorSway(d), mv, 0.0f, left, right);
  };
  ArmPose left, right;
  poses_at(4.0f + 2.9f, left, right);  // G = 1
  EXPECT_GT(left.hand.y, 1.9f);
  EXPECT_NEAR(right.hand.y, 1.10f, 1e-5f);
  poses_at(12.0f + 2.9f, left, right);  // G = 3
  EXPECT_NEAR(left.hand.y, 1.10f, 1e-5f);
  EXPECT_GT(right.hand.y, 1.9f);
  mv.finale_flash = 1.0f;
  poses_at(20.1f, left, right);
  EXPECT_GT(left.hand.y, 1.4f);
  EXPECT_GT(right.hand.y, 1.4f);
  EXPECT_LT(left.hand.x, 0.0f);
  EXPECT_GT(right.hand.x, 0.0f);
}

// ---------------------------------------------------------------------------------------------
// The whole element

TEST(ConsoleFrame, DrawsInTheCloseUpAndNothingWhenDark) {
  MusicViz mv;
  mv.active = true;
  mv.bar = 98.0f;
  mv.beat = 392.0f;
  mv.kick = 0.7f;
  mv.lead = 0.5f;
  mv.energy = 0.6f;
  const CameraBasis cam = CloseUp(3.0f);
  Framebuffer fb(640, 360);
  DrawConsoleAndOperator(fb, cam, 3.0f, DebugParams{}, mv, 0.001f);
  EXPECT_EQ(LitPixels(fb, 0.0f), 0u);
  DrawConsoleAndOperator(fb, cam, 3.0f, DebugParams{}, mv, 1.0f);
  for (const Vec3& p : fb.pixels) ASSERT_TRUE(IsFinite(p));
  // The console fills the lower middle of the close-up; the operator stands above its centre.
  size_t lower = 0, centre = 0;
  for (size_t y = 0; y < fb.height; ++y) {
    for (size_t x = 0; x < fb.width; ++x) {
      const Vec3& p = fb.pixels[y * fb.width + x];
      if (p.x + p.y + p.z < 0.1f) continue;
      if (y > fb.height / 2) ++lower;
      if (x > 260 && x < 380 && y < fb.height / 2) ++centre;
    }
  }
  EXPECT_GT(lower, 20000u);
  EXPECT_GT(centre, 4000u);
}
