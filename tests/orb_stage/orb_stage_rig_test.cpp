// The orb stage's rig, camera path, projection and timing: hand-worked values of the pure
// functions and the behaviour that holds while no music plays.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scenes/orb_stage.h"

namespace {

MusicViz Playing(float bar) {
  MusicViz mv;
  mv.active = true;
  mv.bar = bar;
  mv.kick = 0.7f;
  mv.lead = 0.4f;
  mv.impact = 0.3f;
  mv.build = 0.2f;
  mv.energy = 0.6f;
  return mv;
}

bool SameRig(const OrbRig& a, const OrbRig& b) {
  for (int i = 0; i < kOrbCount; ++i) {
    const Orb& p = a.orbs[static_cast<size_t>(i)];
    const Orb& q = b.orbs[static_cast<size_t>(i)];
    if (p.pos.x != q.pos.x || p.pos.y != q.pos.y || p.pos.z != q.pos.z) return false;
    if (p.colour.r != q.colour.r || p.colour.g != q.colour.g || p.colour.b != q.colour.b) return false;
    if (p.phase != q.phase || p.charge != q.charge || p.size != q.size) return false;
  }
  return true;
}

bool SameCamera(const StageCamera& a, const StageCamera& b) {
  return a.cx == b.cx && a.cy == b.cy && a.pos.x == b.pos.x && a.pos.y == b.pos.y &&
         a.pos.z == b.pos.z && a.focal == b.focal && a.yaw == b.yaw && a.pitch == b.pitch &&
         a.roll == b.roll;
}

// The unit vector the camera looks along.
Vec3 ViewDirection(const StageCamera& c) {
  return Vec3(std::sin(c.yaw) * std::cos(c.pitch), -std::sin(c.pitch), std::cos(c.yaw) * std::cos(c.pitch));
}

}  // namespace

TEST(StageTiming, WithoutMusicTheRigCameraAndScopeRunOnTimeAlone) {
  // Without music the drive is 0 whatever the record carries.
  MusicViz stale = Playing(3.0f);
  EXPECT_GT(StageDrive(stale), 0.0f);
  stale.active = false;
  EXPECT_EQ(StageDrive(stale), 0.0f);

  // A silent record that still carries a bar and an energy: neither may count.
  MusicViz silent;
  silent.active = false;
  silent.bar = 57.0f;
  silent.energy = 0.9f;

  // The same as playing music that stands at bar 0.52 T (rig), 0.45 t (camera) and 0.92 t
  // (scope) with energy 0.25 and no drive.
  const SceneCameraParams cam;
  for (float t : {0.0f, 3.5f, 41.25f, 200.0f}) {
    SCOPED_TRACE(t);
    MusicViz as_rig;
    as_rig.active = true;
    as_rig.bar = 0.52f * t;
    as_rig.energy = 0.25f;
    const OrbRig rig = BuildOrbRig(t, silent);
    EXPECT_TRUE(SameRig(rig, BuildOrbRig(t, as_rig)));

    MusicViz as_camera;
    as_camera.active = true;
    as_camera.bar = 0.45f * t;
    EXPECT_TRUE(SameCamera(BuildStageCamera(640, 360, t, cam, silent, rig),
                           BuildStageCamera(640, 360, t, cam, as_camera, rig)));

    MusicViz as_scope;
    as_scope.active = true;
    as_scope.bar = 0.92f * t;
    EXPECT_EQ(ScopeAmount(t, silent), ScopeAmount(-1.0f, as_scope));
  }

  // And the rig moves with time.
  EXPECT_FALSE(SameRig(BuildOrbRig(1.0f, silent), BuildOrbRig(1.5f, silent)));
}

TEST(StageTiming, ScopeShowsInAShortWindowOfEvery33Bars) {
  struct Case {
    float bar;
    float amount;
  };
  const Case cases[] = {
      {0.0f, 0.0f},    {7.5f, 0.0f},    {7.6f, 0.0f},   {7.875f, 0.5f},  {8.15f, 1.0f},
      {8.5f, 1.0f},    {9.85f, 1.0f},   {10.125f, 0.5f}, {10.4f, 0.0f},  {12.0f, 0.0f},
      {32.9f, 0.0f},   {41.5f, 1.0f},   {74.5f, 1.0f},   {99.0f + 8.5f, 1.0f}, {120.0f, 0.0f},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(ScopeAmount(0.0f, Playing(c.bar)), c.amount, 1e-4f) << "bar " << c.bar;
  }
  // Everywhere outside 7.6 ... 10.4 of the cycle it is exactly 0, inside 8.15 ... 9.85 exactly 1.
  for (float bar = 0.0f; bar < 128.0f; bar += 0.01f) {
    const float cyc = std::fmod(bar, 33.0f);
    const float amount = ScopeAmount(0.0f, Playing(bar));
    if (cyc < 7.59f || cyc > 10.41f) {
      EXPECT_EQ(amount, 0.0f) << "bar " << bar;
    }
    if (cyc > 8.16f && cyc < 9.84f) {
      EXPECT_EQ(amount, 1.0f) << "bar " << bar;
    }
  }
  // Without music: 0.92 bars a second, so bar 8.5 of the cycle comes at t = 8.5 / 0.92.
  EXPECT_EQ(ScopeAmount(8.5f / 0.92f, MusicViz{}), 1.0f);
  EXPECT_EQ(ScopeAmount(5.0f, MusicViz{}), 0.0f);
}

TEST(StageProjection, HandWorkedPointsAndTheNearLimit) {
  StageCamera c;
  c.cx = 320.0f;
  c.cy = 180.0f;
  c.focal = 100.0f;

  // Straight ahead: right and up on the screen, divided by depth.
  StageProjection p = ProjectStage(c, Vec3(1.0f, 0.5f, 2.0f));
  ASSERT_TRUE(p.in_front);
  EXPECT_FLOAT_EQ(p.depth, 2.0f);
  EXPECT_FLOAT_EQ(p.screen.x, 370.0f);
  EXPECT_FLOAT_EQ(p.screen.y, 155.0f);

  // Yaw pi/2 looks along +x: a point on +x is straight ahead, one on +z is to the left.
  c.yaw = 1.5707964f;
  p = ProjectStage(c, Vec3(2.0f, 0.0f, 0.0f));
  ASSERT_TRUE(p.in_front);
  EXPECT_NEAR(p.depth, 2.0f, 1e-5f);
  EXPECT_NEAR(p.screen.x, 320.0f, 1e-3f);
  p = ProjectStage(c, Vec3(2.0f, 0.0f, 1.0f));
  EXPECT_NEAR(p.screen.x, 270.0f, 1e-3f);

  // Pitch tips the view down: a point below the axis comes up toward the centre.
  c.yaw = 0.0f;
  c.pitch = 0.4636476f;  // atan(0.5)
  p = ProjectStage(c, Vec3(0.0f, -1.0f, 2.0f));
  ASSERT_TRUE(p.in_front);
  EXPECT_NEAR(p.depth, std::sqrt(5.0f), 1e-5f);
  EXPECT_NEAR(p.screen.y, 180.0f, 1e-3f);

  // Roll a quarter turn: right in the camera becomes down on the screen.
  c.pitch = 0.0f;
  c.roll = 1.5707964f;
  p = ProjectStage(c, Vec3(1.0f, 0.0f, 1.0f));
  EXPECT_NEAR(p.screen.x, 320.0f, 1e-3f);
  EXPECT_NEAR(p.screen.y, 280.0f, 1e-3f);

  // Only depths above 0.2 are in front, measured from the camera's position.
  c.roll = 0.0f;
  for (float z : {-3.0f, 0.0f, 0.1f, 0.2f}) EXPECT_FALSE(ProjectStage(c, Vec3(0.5f, 0.0f, z)).in_front) << z;
  EXPECT_TRUE(ProjectStage(c, Vec3(0.5f, 0.0f, 0.2001f)).in_front);
  EXPECT_FALSE(ProjectStage(c, Vec3(0.0f, 0.0f, std::nanf(""))).in_front);
  c.pos = Vec3(0.0f, 0.0f, 1.0f);
  EXPECT_FALSE(ProjectStage(c, Vec3(0.0f, 0.0f, 1.1f)).in_front);
  p = ProjectStage(c, Vec3(0.0f, 0.0f, 3.0f));
  EXPECT_TRUE(p.in_front);
  EXPECT_FLOAT_EQ(p.depth, 2.0f);
}

TEST(StageCameraPath, CatmullRomPassesThroughItsMiddlePoints) {
  const Vec3 p0(-1.0f, 4.0f, 0.5f), p1(0.3f, -2.0f, 1.0f), p2(2.5f, 0.0f, 3.0f), p3(1.0f, 1.0f, -2.0f);
  const Vec3 a = CatmullRom(p0, p1, p2, p3, 0.0f);
  const Vec3 b = CatmullRom(p0, p1, p2, p3, 1.0f);
  EXPECT_NEAR(a.x, p1.x, 1e-6f);
  EXPECT_NEAR(a.y, p1.y, 1e-6f);
  EXPECT_NEAR(a.z, p1.z, 1e-6f);
  EXPECT_NEAR(b.x, p2.x, 1e-5f);
  EXPECT_NEAR(b.y, p2.y, 1e-5f);
  EXPECT_NEAR(b.z, p2.z, 1e-5f);
  // Halfway, worked by hand: 0.5625 (p1 + p2) - 0.0625 (p0 + p3).
  const Vec3 m = CatmullRom(p0, p1, p2, p3, 0.5f);
  EXPECT_NEAR(m.x, 0.5625f * (0.3f + 2.5f) - 0.0625f * (-1.0f + 1.0f), 1e-5f);
  EXPECT_NEAR(m.y, 0.5625f * (-2.0f + 0.0f) - 0.0625f * (4.0f + 1.0f), 1e-5f);
  EXPECT_NEAR(m.z, 0.5625f * (1.0f + 3.0f) - 0.0625f * (0.5f - 2.0f), 1e-5f);
  // Evenly spaced points on a line: the spline moves along it evenly.
  const Vec3 q = CatmullRom(Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(2, 0, 0), Vec3(3, 0, 0), 0.25f);
  EXPECT_NEAR(q.x, 1.25f, 1e-6f);
}

TEST(StageCameraPath, WaypointsVisitTheOrbsInTurnAndTheCameraGlides) {
  const MusicViz mv = Playing(20.0f);
  const OrbRig rig = BuildOrbRig(12.0f, mv);
  const StageFocusRecord focus = StageFocus(rig, mv);
  // Each waypoint lies beside its orb (offsets of at most about 0.45, never on it), in the
  // order 1, 6, 3, 0, 5, 2, 7, 4, which repeats every eight waypoints with new offsets.
  const int order[] = {1, 6, 3, 0, 5, 2, 7, 4};
  for (int n = -8; n < 16; ++n) {
    const int orb = order[((n % 8) + 8) % 8];
    const Vec3 w = StageWaypoint(n, rig, focus, 12.0f, mv);
    EXPECT_LT(Length(w - rig.orbs[static_cast<size_t>(orb)].pos), 0.5f) << "waypoint " << n;
    EXPECT_GT(Length(w - rig.orbs[static_cast<size_t>(orb)].pos), 0.05f) << "waypoint " << n;
    const Vec3 again = StageWaypoint(n + 8, rig, focus, 12.0f, mv);
    EXPECT_GT(Length(again - w), 0.0f);  // the same orb, passed on another side
  }

  // Sampled ten times per 60 fps frame, the camera and its view direction move continuously:
  // no jump where the path passes a waypoint. (The rule that keeps the look point 0.2 away may
  // shift the camera by a few hundredths at once; yaw alone is not continuous where the path
  // dives almost straight down, so the view direction is compared instead.)
  const SceneCameraParams cam;
  StageCamera previous = BuildStageCamera(640, 360, 30.0f, cam, Playing(30.0f * 140.0f / 240.0f),
                                          BuildOrbRig(30.0f, Playing(30.0f * 140.0f / 240.0f)));
  int orbs_seen = 0;
  int frames = 0;
  for (float t = 30.0f + 1.0f / 600.0f; t < 90.0f; t += 1.0f / 600.0f) {
    const MusicViz now = Playing(t * 140.0f / 240.0f);
    const OrbRig r = BuildOrbRig(t, now);
    const StageCamera c = BuildStageCamera(640, 360, t, cam, now, r);
    EXPECT_LT(Length(c.pos - previous.pos), 0.03f) << t;
    EXPECT_LT(Length(ViewDirection(c) - ViewDirection(previous)), 0.02f) << t;
    EXPECT_LT(std::fabs(c.roll - previous.roll), 0.01f) << t;
    for (const Orb& o : r.orbs) {
      const StageProjection p = ProjectStage(c, o.pos);
      if (p.in_front && p.screen.x >= 0 && p.screen.x < 640 && p.screen.y >= 0 && p.screen.y < 360) ++orbs_seen;
    }
    ++frames;
    previous = c;
  }
  // It looks at the constellation: on average more than two orbs are on screen.
  EXPECT_GT(orbs_seen, 2 * frames);

  // Without music the path runs on time, also through t = 0 from negative times.
  StageCamera before = BuildStageCamera(640, 360, -2.0f, cam, MusicViz{}, BuildOrbRig(-2.0f, MusicViz{}));
  for (float t = -2.0f + 1.0f / 600.0f; t < 2.0f; t += 1.0f / 600.0f) {
    const StageCamera c = BuildStageCamera(640, 360, t, cam, MusicViz{}, BuildOrbRig(t, MusicViz{}));
    EXPECT_LT(Length(c.pos - before.pos), 0.03f) << t;
    before = c;
  }
}

TEST(StageRig, CloseOrbsPushWithTheCappedStrength) {
  // Two orbs of each pair far from the other six, which then barely matter.
  const auto rig_with_pair = [](int i, int j, float distance) {
    OrbRig rig;
    for (int k = 0; k < kOrbCount; ++k) {
      rig.orbs[static_cast<size_t>(k)].pos = Vec3(0.0f, 1000.0f * static_cast<float>(k + 1), 0.0f);
      rig.orbs[static_cast<size_t>(k)].charge = (k % 2 == 0) ? 1.0f : -1.0f;
    }
    rig.orbs[static_cast<size_t>(i)].pos = Vec3(0.0f, 0.0f, 1.0f);
    rig.orbs[static_cast<size_t>(j)].pos = Vec3(distance, 0.0f, 1.0f);
    return rig;
  };
  const MusicViz calm;
  MusicViz loud;
  loud.impact = 1.0f;

  struct Case {
    int i, j;
    float distance;
    const MusicViz* mv;
    float after;  // distance after one pass
  };
  // Equal charges (0 and 2): k = 0.0018 / max(d^2, 0.018) per orb; with an impact 0.0042 / ...
  // Opposite charges (0 and 1): k = -0.001116 / max(d^2, 0.018) per orb.
  const Case cases[] = {
      {0, 2, 0.05f, &calm, 0.05f + 2.0f * 0.1f},
      {0, 2, 0.1f, &calm, 0.1f + 2.0f * 0.1f},
      {0, 2, 0.13f, &calm, 0.13f + 2.0f * 0.1f},
      {0, 2, 0.2f, &calm, 0.2f + 2.0f * 0.0018f / 0.04f},
      {0, 2, 0.1f, &loud, 0.1f + 2.0f * 0.0042f / 0.018f},
      {0, 1, 0.5f, &calm, 0.5f - 2.0f * 0.001116f / 0.25f},
      {1, 3, 0.05f, &calm, 0.05f + 2.0f * 0.1f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.i << "-" << c.j << " at " << c.distance);
    OrbRig rig = rig_with_pair(c.i, c.j, c.distance);
    RelaxOrbRig(rig, *c.mv, 1);
    const Vec3 a = rig.orbs[static_cast<size_t>(c.i)].pos;
    const Vec3 b = rig.orbs[static_cast<size_t>(c.j)].pos;
    EXPECT_NEAR(b.x - a.x, c.after, 1e-5f);
    EXPECT_NEAR(a.x + b.x, c.distance, 1e-5f);  // both move by the same amount
  }

  // Orbs on the same spot have no direction to push along: they stay put, nothing turns NaN.
  OrbRig same = rig_with_pair(0, 2, 0.0f);
  RelaxOrbRig(same, calm, 3);
  EXPECT_EQ(same.orbs[0].pos.x, 0.0f);
  EXPECT_EQ(same.orbs[2].pos.x, 0.0f);
}

TEST(StageRig, OrbsKeepTheirVoicesColoursAndPlaces) {
  // Eight distinct colours, alternating charges, sizes 0.55 ... 1, in a small space in front of
  // the origin, finite at any moment of the show.
  for (float t : {0.0f, 10.0f, 100.0f, 1000.0f}) {
    for (const MusicViz& mv : {MusicViz{}, Playing(t * 0.5f)}) {
      const OrbRig rig = BuildOrbRig(t, mv);
      for (int i = 0; i < kOrbCount; ++i) {
        const Orb& o = rig.orbs[static_cast<size_t>(i)];
        EXPECT_TRUE(IsFinite(o.pos));
        EXPECT_EQ(o.charge, i % 2 == 0 ? 1.0f : -1.0f);
        EXPECT_GE(o.size, 0.55f);
        EXPECT_LE(o.size, 1.0f);
        EXPECT_LT(std::fabs(o.pos.x), 1.5f);
        EXPECT_LT(std::fabs(o.pos.y), 1.5f);
        EXPECT_GT(o.pos.z, -0.5f);
        EXPECT_LT(o.pos.z, 4.0f);
        for (int j = 0; j < i; ++j) {
          const Vec3 d = OrbBaseColour(i) - OrbBaseColour(j);
          EXPECT_GT(Length(d), 0.15f) << i << " " << j;
        }
      }
    }
  }
  // The voices: kick, perc, bass, lead, impact, build, then kick and perc again.
  MusicViz mv;
  mv.kick = 0.1f, mv.perc = 0.2f, mv.bass = 0.3f, mv.lead = 0.4f, mv.impact = 0.5f, mv.build = 0.6f;
  const float expected[] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.1f, 0.2f};
  for (int i = 0; i < kOrbCount; ++i) EXPECT_EQ(OrbVoice(mv, i), expected[i]);

  // The focus follows the loudest voice: a strong bass makes orb 2 the strongest.
  MusicViz bass = Playing(10.0f);
  bass.kick = 0.0f, bass.lead = 0.0f, bass.impact = 0.0f, bass.build = 0.0f, bass.bass = 1.0f;
  const OrbRig rig = BuildOrbRig(5.0f, bass);
  const StageFocusRecord focus = StageFocus(rig, bass);
  EXPECT_EQ(Length(focus.strongest - rig.orbs[2].pos), 0.0f);
  EXPECT_GE(focus.radius, 0.35f);
  EXPECT_LE(focus.radius, 1.35f);
}
