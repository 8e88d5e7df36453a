// The orb stage's layers and whole frames: what an orb behind the camera draws, dotted segments,
// dust that wraps, thinning that keeps the same particles, and the look of frames from the
// quiet, loud and scope moments of the show.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>

#include "render/framebuffer.h"
#include "scenes/orb_stage.h"

namespace {

MusicViz Loud(float bar) {
  MusicViz mv;
  mv.active = true;
  mv.bar = bar;
  mv.kick = 0.9f;
  mv.perc = 0.6f;
  mv.bass = 0.7f;
  mv.lead = 0.8f;
  mv.impact = 0.7f;
  mv.build = 0.5f;
  mv.energy = 0.9f;
  mv.cue_club = 1.0f;
  return mv;
}

size_t LitPixels(const Framebuffer& fb, float above) {
  size_t n = 0;
  for (const Vec3& p : fb.pixels)
    if (p.x + p.y + p.z > above) ++n;
  return n;
}

bool FiniteImage(const Framebuffer& fb) {
  for (const Vec3& p : fb.pixels)
    if (!IsFinite(p)) return false;
  return true;
}

bool SamePixels(const Framebuffer& a, const Framebuffer& b) {
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    if (a.pixels[i].x != b.pixels[i].x || a.pixels[i].y != b.pixels[i].y || a.pixels[i].z != b.pixels[i].z)
      return false;
  }
  return true;
}

// A stage frame with a camera at the origin looking along +z and the orbs where a test puts them.
StageFrame FrameWithCamera(const OrbRig& rig, float t) {
  StageCamera cam;
  cam.cx = 320.0f;
  cam.cy = 180.0f;
  cam.focal = 200.0f;
  StageFrame sf;
  sf.t = t;
  sf.drive = 0.8f;
  sf.rig = rig;
  sf.lens = MakeStageLens(cam);
  for (int i = 0; i < kOrbCount; ++i)
    sf.orb_screen[static_cast<size_t>(i)] = ProjectStage(sf.lens, rig.orbs[static_cast<size_t>(i)].pos);
  return sf;
}

}  // namespace

TEST(StageLayers, AnOrbBehindTheCameraDrawsNothingOfItself) {
  // Orb 3 alone near the camera, loud; the others far behind it.
  OrbRig rig = BuildOrbRig(4.0f, Loud(2.0f));
  for (int i = 0; i < kOrbCount; ++i) rig.orbs[static_cast<size_t>(i)].pos = Vec3(0.0f, 0.0f, -20.0f);
  const DebugParams p;
  const MusicViz mv = Loud(2.0f);

  struct Case {
    float z;
    bool draws;
  };
  // At depth 0.19 its shell, rings, arms and swarm reach past depth 0.2, but the centre does not.
  for (const Case c : {Case{-1.0f, false}, Case{0.19f, false}, Case{0.2f, false}, Case{0.6f, true}}) {
    rig.orbs[3].pos = Vec3(0.0f, 0.0f, c.z);
    const StageFrame sf = FrameWithCamera(rig, 4.0f);
    if (c.z == 0.19f) {
      EXPECT_TRUE(ProjectStage(sf.lens, rig.orbs[3].pos + Vec3(0.0f, 0.0f, 0.05f)).in_front);
    }
    Framebuffer fb(640, 360);
    DrawOrbs(fb, sf, p, mv);
    EXPECT_EQ(LitPixels(fb, 0.0f) > 100, c.draws) << "orb at z = " << c.z;
    if (!c.draws) {
      EXPECT_EQ(LitPixels(fb, 0.0f), 0u) << "orb at z = " << c.z;
    }
  }
}

TEST(StageLayers, SegmentsDrawAtLeastThreeSplatsAndNothingBehindTheCamera) {
  StageCamera cam;
  cam.cx = 320.0f;
  cam.cy = 180.0f;
  cam.focal = 200.0f;
  const StageLens lens = MakeStageLens(cam);
  const Vec3 white(1.0f, 1.0f, 1.0f);
  Framebuffer fb(640, 360);

  // Ends less than 1.5 pixels apart on the screen: n = 2, three splats.
  EXPECT_EQ(StageSegment(fb, lens, Vec3(0.0f, 0.0f, 1.0f), Vec3(0.001f, 0.0f, 1.0f), white, 0.1f, 1.0f), 3);
  EXPECT_EQ(StageSegment(fb, lens, Vec3(0.0f, 0.0f, 1.0f), Vec3(0.0f, 0.0f, 1.0f), white, 0.1f, 1.0f), 3);
  // A long one has at most 81 splats, a few left out; a longer one the same.
  const int long_count = StageSegment(fb, lens, Vec3(-1.0f, 0.0f, 1.0f), Vec3(1.0f, 0.0f, 1.0f), white, 0.1f, 1.0f);
  EXPECT_GT(long_count, 70);
  EXPECT_LE(long_count, 81);
  // One end behind the camera, or nothing to draw: no splats.
  const size_t lit = LitPixels(fb, 0.0f);
  EXPECT_EQ(StageSegment(fb, lens, Vec3(0.0f, 0.0f, 1.0f), Vec3(0.0f, 0.0f, 0.1f), white, 0.1f, 1.0f), 0);
  EXPECT_EQ(StageSegment(fb, lens, Vec3(0.0f, 0.0f, -1.0f), Vec3(0.0f, 0.0f, 1.0f), white, 0.1f, 1.0f), 0);
  EXPECT_EQ(StageSegment(fb, lens, Vec3(0.0f, 0.0f, 1.0f), Vec3(0.5f, 0.0f, 1.0f), white, 0.0f, 1.0f), 0);
  EXPECT_EQ(LitPixels(fb, 0.0f), lit);
  // Far-flung but finite ends never turn into a NaN or a crash.
  StageSegment(fb, lens, Vec3(0.0f, 0.0f, 1.0f), Vec3(1e30f, -1e30f, 0.21f), white, 0.1f, 1.0f);
  EXPECT_TRUE(FiniteImage(fb));
}

TEST(StageLayers, NearDustStreamsTowardTheViewerAndWraps) {
  // Every step of 1/60 s a particle comes 0.2/60 nearer, except where it reaches the near end
  // (0.28) and starts again at the far end (6.18).
  for (int i : {0, 1, 17, 719}) {
    int wraps = 0;
    float previous = NearDustDepth(i, 0.0f, 0.0f);
    for (int frame = 1; frame < 60 * 70; ++frame) {
      const float depth = NearDustDepth(i, static_cast<float>(frame) / 60.0f, 0.0f);
      ASSERT_GE(depth, 0.28f);
      ASSERT_LT(depth, 6.18f);
      const float step = depth - previous;
      if (step > 0.0f) {
        ++wraps;
        EXPECT_LT(previous, 0.29f) << "particle " << i << " frame " << frame;
        EXPECT_GT(depth, 6.17f) << "particle " << i << " frame " << frame;
      } else {
        EXPECT_NEAR(step, -0.2f / 60.0f, 1e-4f);
      }
      previous = depth;
    }
    // 70 s at 0.2 units a second cover 14 units: two or three trips through the 5.9 units.
    EXPECT_GE(wraps, 2) << "particle " << i;
    EXPECT_LE(wraps, 3) << "particle " << i;
  }
  // The bar moves the stream as well: 0.045 units a bar.
  EXPECT_NEAR(NearDustDepth(5, 0.0f, 0.0f) - NearDustDepth(5, 0.0f, 1.0f), 0.045f, 1e-4f);
}

TEST(StageLayers, ThinningKeepsTheSameParticlesAndBlocks) {
  // Backdrop blocks: about the density's share, the same ones at every moment, and a lower
  // density keeps a subset of a higher one.
  size_t kept[3] = {0, 0, 0};
  const float densities[3] = {0.03f, 0.3f, 1.0f};
  for (int r0 = 0; r0 < 360; r0 += 5) {
    for (int c0 = 0; c0 < 640; c0 += 5) {
      for (int d = 0; d < 3; ++d) kept[d] += StageBlockKept(c0, r0, densities[d]) ? 1 : 0;
      if (StageBlockKept(c0, r0, 0.03f)) {
        EXPECT_TRUE(StageBlockKept(c0, r0, 0.3f));
      }
    }
  }
  EXPECT_EQ(kept[2], 72u * 128u);
  EXPECT_NEAR(static_cast<double>(kept[0]) / (72.0 * 128.0), 0.03, 0.01);
  EXPECT_NEAR(static_cast<double>(kept[1]) / (72.0 * 128.0), 0.3, 0.03);

  // The backdrop at density 0.03 touches only the kept blocks, at any moment.
  DebugParams thin;
  thin.dot_density = 0.03f;
  MusicViz finale = Loud(100.0f);
  finale.cue_finale = 1.0f;
  for (float t : {1.0f, 9.0f, 33.0f}) {
    Framebuffer fb(640, 360);
    const StageFrame sf = BuildStageFrame(640, 360, t, SceneCameraParams{}, finale);
    DrawStageBackdrop(fb, t, thin, finale, sf.view, sf.rig);
    size_t touched = 0;
    for (int y = 0; y < 360; ++y) {
      for (int x = 0; x < 640; ++x) {
        const Vec3& px = fb.pixels[static_cast<size_t>(y) * 640 + static_cast<size_t>(x)];
        if (px.x + px.y + px.z > 0.0f) {
          ++touched;
          EXPECT_TRUE(StageBlockKept(x / 5 * 5, y / 5 * 5, 0.03f)) << x << "," << y;
        }
      }
    }
    EXPECT_GT(touched, 25u * kept[0] / 2) << t;  // most kept blocks show at the finale
  }

  // Whole frames: every splat drawn at density 0.3 is also drawn at density 1 (the same
  // particles, rings and blocks, plus more), so from black the thin frame is nowhere brighter.
  for (float bar : {3.0f, 8.6f, 60.0f}) {
    DebugParams dense;
    DebugParams sparse;
    sparse.dot_density = 0.3f;
    Framebuffer full(640, 360), part(640, 360);
    const OrbStage stage;
    stage.Draw(full, bar * 1.7f, dense, SceneCameraParams{}, Loud(bar));
    stage.Draw(part, bar * 1.7f, sparse, SceneCameraParams{}, Loud(bar));
    size_t brighter = 0;
    for (size_t i = 0; i < full.pixels.size(); ++i) {
      const Vec3 d = full.pixels[i] - part.pixels[i];
      if (d.x < -1e-6f || d.y < -1e-6f || d.z < -1e-6f) ++brighter;
    }
    EXPECT_EQ(brighter, 0u) << "bar " << bar;
    EXPECT_LT(LitPixels(part, 0.02f), LitPixels(full, 0.02f)) << "bar " << bar;
  }
}

TEST(StageFrames, DrawsADeterministicLitFrameAndDecaysInsteadOfClearing) {
  const OrbStage stage;
  const DebugParams p;
  const SceneCameraParams cam;
  struct Moment {
    const char* name;
    MusicViz mv;
    float t;
  };
  MusicViz quiet;  // no music: time alone
  MusicViz scope = Loud(8.5f);
  const Moment moments[] = {{"quiet", quiet, 20.0f}, {"loud", Loud(60.0f), 103.0f}, {"scope", scope, 14.6f}};
  size_t lit_quiet = 0, lit_loud = 0;
  for (const Moment& m : moments) {
    SCOPED_TRACE(m.name);
    Framebuffer a(640, 360), b(640, 360);
    // A few frames, as the show draws them, so the trails build up.
    for (int k = 0; k < 4; ++k) {
      const float t = m.t + static_cast<float>(k) / 60.0f;
      stage.Draw(a, t, p, cam, m.mv);
      stage.Draw(b, t, p, cam, m.mv);
    }
    EXPECT_TRUE(SamePixels(a, b));
    EXPECT_TRUE(FiniteImage(a));
    const size_t lit = LitPixels(a, 0.05f);
    // Something of the orbs shows, yet most of the screen stays dark.
    EXPECT_GT(lit, 1500u);
    EXPECT_LT(lit, 640u * 360u / 2);
    if (m.t == 20.0f) lit_quiet = lit;
    if (m.t == 103.0f) lit_loud = lit;
  }
  EXPECT_GT(lit_loud, lit_quiet);

  // The scope window adds the scan lines: row 12 brightens by about 3 % of (0.08, 0.38, 0.46).
  Framebuffer in(640, 360), out(640, 360);
  stage.Draw(in, 14.6f, p, cam, Loud(8.5f));
  stage.Draw(out, 14.6f, p, cam, Loud(12.5f));
  EXPECT_EQ(ScopeAmount(14.6f, Loud(8.5f)), 1.0f);
  size_t tinted = 0;
  for (int x = 0; x < 640; ++x)
    if (in.pixels[12 * 640 + static_cast<size_t>(x)].z >= 0.03f * 0.46f) ++tinted;
  EXPECT_EQ(tinted, 640u);

  // A frame decays what was there: a bright pixel far from everything fades by the trail factor.
  Framebuffer fb(640, 360);
  fb.pixels[5] = Vec3(1.0f, 1.0f, 1.0f);
  DebugParams slow;
  slow.trail = 0.9f;
  stage.Draw(fb, 20.0f, slow, cam, MusicViz{});
  EXPECT_NEAR(fb.pixels[5].x, 0.9f, 0.05f);
  EXPECT_GT(fb.pixels[5].x, 0.89f);
}

TEST(StageFrames, CameraOffsetsAndLooksChangeThePicture) {
  // The five scenes differ only by their parameters: distance, height, yaw and field of view
  // each move the picture.
  const OrbStage stage;
  const DebugParams p;
  Framebuffer base(640, 360);
  stage.Draw(base, 30.0f, p, SceneCameraParams{}, Loud(20.0f));
  for (int k = 0; k < 4; ++k) {
    SceneCameraParams cam;
    if (k == 0) cam.dist = 1.6f;
    if (k == 1) cam.height = 20.0f;
    if (k == 2) cam.yaw = 2.0f;
    if (k == 3) cam.fov_off = 30.0f;
    Framebuffer other(640, 360);
    stage.Draw(other, 30.0f, p, cam, Loud(20.0f));
    EXPECT_FALSE(SamePixels(base, other)) << k;
  }
}

TEST(StageFrames, ExtremeTimesDrawWithoutFaults) {
  // Times far outside the show must neither crash nor put NaNs into the frame.
  const OrbStage stage;
  const DebugParams p;
  for (float t : {-50.0f, 1.0e7f, 3.0e38f, INFINITY, NAN}) {
    Framebuffer fb(640, 360);
    stage.Draw(fb, t, p, SceneCameraParams{}, MusicViz{});
    EXPECT_TRUE(FiniteImage(fb)) << t;
  }
  MusicViz odd = Loud(127.999f);
  Framebuffer fb(640, 360);
  stage.Draw(fb, 2.0e9f, p, SceneCameraParams{}, odd);
  EXPECT_TRUE(FiniteImage(fb));
}
