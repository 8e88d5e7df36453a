// Whole canyon frames: the heightfield against a plain reading of the march (sky first, every
// sample computed), interlacing, hidden columns, independence from the number of workers, and
// the look of a default frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "config/scene_params.h"
#include "render/framebuffer.h"
#include "render/noise.h"
#include "render/parallel.h"
#include "scenes/canyon.h"
#include "scenes/canyon_internal.h"
#include "scenes/canyon_sky.h"
#include "timeline/music_viz.h"

namespace {

MusicViz Playing(float section_time) {
  MusicViz mv;
  mv.active = true;
  mv.kick = 0.6f;
  mv.build = 0.4f;
  mv.impact = 0.3f;
  mv.lead = 0.2f;
  mv.step_phase = 0.35f;
  mv.cue_beams = 1.0f;
  mv.section_time = section_time;
  return mv;
}

float N01(int ch, float u, float v) {
  const float n = SampleNoise(u, v, ch);
  return Clamp01((n + 1.0f) * 0.5f);
}

// The terrain colour of a visible sample, written out step by step from the public functions.
Vec3 PlainShade(float px, float pz, float h, float d, float t, const DebugParams& p, const MusicViz& mv,
                const CanyonFrame& cf) {
  const float haze = TerrainHaze(px, pz, h, d, t, p, 45.0f, 160.0f);
  float moss = 0.0f;
  const Vec3 albedo = TerrainColour(px, pz, h, haze, &moss);
  const float ex = TerrainHeight(px - 1.0f, pz, p, true) - TerrainHeight(px + 1.0f, pz, p, true);
  const float ez = TerrainHeight(px, pz - 1.0f, p, true) - TerrainHeight(px, pz + 1.0f, p, true);
  const Vec3 normal = Normalize(Vec3(ex, 2.0f, ez));
  const float diffuse = Clamp01(Dot(normal, cf.sun) * 0.8474576f + 0.15254237f);
  const float shadow = TerrainShadow(px, pz, h, p, cf.sun_sin, cf.sun_cos);
  const float light = shadow * (0.78f * diffuse + 0.1024f) + 0.5376f;
  Vec3 colour = albedo * light + (0.22f * moss) * Vec3(0.08f, 0.72f, 0.32f);
  const float g = RiverGlow(px, pz, h, t, mv);
  if (g > 0.001f) {
    const float k = N01(0, 0.065f * px + 17.0f, 0.1f * std::sin(0.1159f * t) + 0.052f * pz);
    const float z1 = std::sin(5.340708f * k + 0.045f * pz + 0.8f * std::sin(0.31f * t) + 0.02f * px);
    const float e = Clamp01((z1 + 1.0f) * mv.build * 0.05f + 0.14f + 0.1f * mv.impact +
                            0.1f * z1 * mv.impact + 0.14f * z1);
    const float a = Clamp01(0.82f * g);
    const Vec3 lava(0.85f * e + 0.5f, 0.315f * e + 0.105f, 0.058f * e + 0.032f);
    colour = Lerp(colour, lava, a) + g * Vec3(0.441f, 0.0966f, 0.0252f);
  }
  return colour;
}

// Scene 1 without any shortcut: sky over every redrawn column, then each column marched with
// every height computed, then mist and beacons.
void PlainHeightfield(Framebuffer& frame, Framebuffer& trail, float t, const DebugParams& p,
                      const SceneCameraParams& cam, const MusicViz& mv, std::size_t frame_index,
                      bool changed) {
  const CanyonFrame cf = BuildCanyonFrame(t, p, cam, frame.width, frame.height, frame_index, changed);
  const CanyonView& v = cf.view;
  DrawCanyonSky(frame, t, cf.roll, cf.horizon_row, v.heading, cf.parity, cf.column_step);
  const std::size_t W = frame.width;
  const int H = static_cast<int>(frame.height);
  for (std::size_t x = 0; x < W; ++x) {
    if (!CanyonColumnDrawn(cf, x)) continue;
    const float s = static_cast<float>(x) / static_cast<float>(W) - 0.5f;
    const float angle = s * v.fov + v.heading;
    const int row_base = static_cast<int>(s * v.slope * static_cast<float>(W)) + cf.horizon_row;
    int limit = H - 1;
    float d = 1.0f;
    for (int i = 0; i < cf.steps && limit > 0; ++i) {
      d = d + (0.03f * d + 0.22f) / p.ray_density;
      const float px = v.camX + d * std::sin(angle);
      const float pz = v.camZ + d * std::cos(angle);
      const float h = TerrainHeight(px, pz, p, true);
      const int row = row_base - static_cast<int>((h - v.camH) * 180.0f / d);
      if (row >= limit) continue;
      const Vec3 colour = PlainShade(px, pz, h, d, t, p, mv, cf);
      for (int r = std::max(row, 0); r <= limit; ++r) {
        frame.pixels[static_cast<std::size_t>(r) * W + x] = colour;
      }
      limit = row - 1;
    }
  }
  DrawCanyonMist(trail, t, cf.roll, cf.horizon_row, p, mv);
  DrawBeacons(trail, v, v.camZ, t, p, mv);
}

// Index of the first pixel with a channel that differs by more than `tolerance`, or -1.
long FirstDifference(const Framebuffer& a, const Framebuffer& b, float tolerance = 0.0f) {
  const auto same = [tolerance](float u, float v) { return std::fabs(u - v) <= tolerance; };
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    const Vec3& p = a.pixels[i];
    const Vec3& q = b.pixels[i];
    if (!same(p.r, q.r) || !same(p.g, q.g) || !same(p.b, q.b)) return static_cast<long>(i);
  }
  return -1;
}

// The march's paths. The exact one must give the plain march's frame bit for bit. The lanes
// (eight, and sixteen, where the processor has them) must put every sample on the plain march's
// rows, and its colour may differ only by their rounding (polynomial sines, within a few
// millionths): a sample on a different row, or a wrong shading term, differs by far more than
// the tolerance.
struct MarchPath {
  const char* name;
  bool exact;
  float tolerance;
  int lane_width;  // the lanes' width, 0 for the exact march
};

std::vector<MarchPath> MarchPaths() {
  std::vector<MarchPath> paths{{"exact march", true, 0.0f, 0}};
  if (canyon_detail::LaneKernelsOfWidth(8)) paths.push_back({"eight lanes", false, 1.0e-5f, 8});
  if (canyon_detail::LaneKernelsOfWidth(16)) paths.push_back({"sixteen lanes", false, 1.0e-5f, 16});
  return paths;
}

// Selects a march path for the life of a scope.
class MarchPathScope {
 public:
  explicit MarchPathScope(const MarchPath& path) : trace_(__FILE__, __LINE__, path.name) {
    canyon_detail::UseExactCanyonMarch(path.exact);
    canyon_detail::LimitLaneWidth(path.lane_width);
  }
  ~MarchPathScope() {
    canyon_detail::UseExactCanyonMarch(false);
    canyon_detail::LimitLaneWidth(0);
  }

 private:
  testing::ScopedTrace trace_;
};

struct Scenario {
  const char* name;
  std::size_t width, height;
  float t;
  DebugParams p;
  SceneCameraParams cam;
};

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> list;
  list.push_back({"default", 320, 180, 20.0f, {}, {}});
  // The size the show draws, later on the flight, so that the march's bounds meet other
  // landmarks and the normal's bed shortcut runs at full resolution.
  list.push_back({"full size", 640, 360, 141.0f, {}, {}});
  Scenario shadows{"shadows", 320, 180, 47.0f, {}, {}};
  shadows.p.shadows = true;
  shadows.p.shadow_strength = 0.8f;
  shadows.p.sun_angle = -2.2f;
  list.push_back(shadows);
  Scenario banked{"banked wide low", 320, 180, 25.0f, {}, {}};
  banked.p.bank = 2.0f;
  banked.p.horizon = 0.2f;
  banked.cam.fov_off = 45.0f;
  banked.cam.height = -1.5f;
  list.push_back(banked);
  Scenario dense{"dense tall narrow", 320, 180, 66.0f, {}, {}};
  dense.p.ray_density = 3.0f;
  dense.p.terrain_height = 3.0f;
  dense.p.terrain_width = 0.35f;
  dense.p.terrain_detail = 2.5f;
  list.push_back(dense);
  Scenario high{"camera above everything", 320, 180, 9.0f, {}, {}};
  high.cam.height = 40.0f;
  high.cam.yaw = 0.6f;
  list.push_back(high);
  Scenario flat{"flat without features", 320, 180, 3.0f, {}, {}};
  flat.p.large_features = false;
  flat.p.terrain_height = 0.2f;
  flat.p.ray_density = 0.25f;
  list.push_back(flat);
  return list;
}

TEST(CanyonFrame, HeightfieldEqualsThePlainMarch) {
  for (const Scenario& sc : Scenarios()) {
    SCOPED_TRACE(sc.name);
    const MusicViz mv = Playing(sc.t);
    Framebuffer plain_frame(sc.width, sc.height);
    Framebuffer plain_trail(sc.width, sc.height);
    PlainHeightfield(plain_frame, plain_trail, sc.t, sc.p, sc.cam, mv, 3, true);
    for (const MarchPath& path : MarchPaths()) {
      const MarchPathScope scope(path);
      Framebuffer frame(sc.width, sc.height);
      Framebuffer trail(sc.width, sc.height);
      const Canyon canyon;
      canyon.DrawHeightfield(frame, sc.t, sc.p, sc.cam, mv, 3, true, &trail);
      EXPECT_EQ(FirstDifference(frame, plain_frame, path.tolerance), -1);
      EXPECT_EQ(FirstDifference(trail, plain_trail), -1);
    }
  }
}

TEST(CanyonFrame, InterlacedFramesEqualThePlainMarchToo) {
  DebugParams p;
  p.interlace = true;
  p.shadows = true;
  const SceneCameraParams cam;
  for (const MarchPath& path : MarchPaths()) {
    const MarchPathScope scope(path);
    Framebuffer frame(320, 180);
    Framebuffer trail(320, 180);
    Framebuffer plain_frame(320, 180);
    Framebuffer plain_trail(320, 180);
    const Canyon canyon;
    for (std::size_t i = 0; i < 3; ++i) {
      const float t = 30.0f + 0.05f * static_cast<float>(i);
      const MusicViz mv = Playing(t);
      canyon.DrawHeightfield(frame, t, p, cam, mv, 10 + i, i == 0, &trail);
      PlainHeightfield(plain_frame, plain_trail, t, p, cam, mv, 10 + i, i == 0);
      EXPECT_EQ(FirstDifference(frame, plain_frame, path.tolerance), -1) << i;
    }
  }
}

TEST(CanyonFrame, ShowFramesEqualThePlainMarchWithAndWithoutShadows) {
  // Full-size frames where the show's bench starts (bars 0, 26 and 70 at 140 bpm), quiet and
  // at full drive (impact, build-up, finale cue: the river at its brightest), shadows off and on:
  // the bounds and lanes of the march must not move a single sample anywhere on the flight.
  struct Case {
    const char* name;
    float t;
    bool shadows;
    bool loud;
  };
  for (const Case c :
       {Case{"bar 0", 0.4f, false, false}, Case{"bar 26", 44.6f, false, true},
        Case{"bar 70", 120.0f, false, false}, Case{"bar 0 shadows", 0.4f, true, true},
        Case{"bar 26 shadows", 44.6f, true, false}, Case{"bar 70 shadows", 120.0f, true, true}}) {
    SCOPED_TRACE(c.name);
    DebugParams p;
    p.shadows = c.shadows;
    const SceneCameraParams cam;
    MusicViz mv = Playing(c.t);
    if (c.loud) {
      mv.impact = 1.0f;
      mv.build = 1.0f;
      mv.cue_finale = 1.0f;
      mv.step_phase = 0.8f;
    }
    Framebuffer plain_frame(640, 360);
    Framebuffer plain_trail(640, 360);
    PlainHeightfield(plain_frame, plain_trail, c.t, p, cam, mv, 0, true);
    for (const MarchPath& path : MarchPaths()) {
      const MarchPathScope scope(path);
      Framebuffer frame(640, 360);
      Framebuffer trail(640, 360);
      const Canyon canyon;
      canyon.DrawHeightfield(frame, c.t, p, cam, mv, 0, true, &trail);
      EXPECT_EQ(FirstDifference(frame, plain_frame, path.tolerance), -1);
      EXPECT_EQ(FirstDifference(trail, plain_trail), -1);
    }
  }
}

// The sun's centre, where the glow reaches untouched columns too.
Vec2 SunCentre(const CanyonFrame& cf, float t, float W, float H) {
  const float u = (0.05f * std::sin(0.13f * t) + 0.72f) * W - W / 2.0f;
  const float v = 0.22f * H - static_cast<float>(cf.horizon_row);
  const float cr = std::cos(cf.roll);
  const float sr = std::sin(cf.roll);
  return {W / 2.0f + u * cr - v * sr, static_cast<float>(cf.horizon_row) + u * sr + v * cr};
}

TEST(CanyonFrame, InterlacingRedrawsOnlyTheFramesParity) {
  DebugParams p;
  const SceneCameraParams cam;
  const Canyon canyon;
  Framebuffer frame(640, 360);
  Framebuffer trail(640, 360);
  // First frame of the scene: every column, as without interlacing.
  p.interlace = true;
  canyon.DrawHeightfield(frame, 10.0f, p, cam, Playing(10.0f), 7, true, &trail);
  Framebuffer full(640, 360);
  Framebuffer full_trail(640, 360);
  DebugParams plain = p;
  plain.interlace = false;
  canyon.DrawHeightfield(full, 10.0f, plain, cam, Playing(10.0f), 7, false, &full_trail);
  ASSERT_EQ(FirstDifference(frame, full), -1);

  // Frame 9 (odd) a little later: odd columns change, even ones keep the previous frame apart
  // from the sun glow, which is added to every column.
  const std::vector<Vec3> before = frame.pixels;
  const float t = 10.5f;
  canyon.DrawHeightfield(frame, t, p, cam, Playing(t), 9, false, &trail);
  const CanyonFrame cf = BuildCanyonFrame(t, p, cam, 640, 360, 9, false);
  const Vec2 sun = SunCentre(cf, t, 640.0f, 360.0f);
  std::size_t odd_changed = 0;
  std::size_t odd_total = 0;
  for (std::size_t y = 0; y < 360; ++y) {
    for (std::size_t x = 0; x < 640; ++x) {
      const Vec3& now = frame.pixels[y * 640 + x];
      const Vec3& was = before[y * 640 + x];
      const bool same = now.r == was.r && now.g == was.g && now.b == was.b;
      const bool near_sun = std::fabs(static_cast<float>(x) - sun.x) < 36.0f &&
                            std::fabs(static_cast<float>(y) - sun.y) < 36.0f;
      if (x % 2 == 0 && !near_sun) {
        ASSERT_TRUE(same) << x << ", " << y;
      } else if (x % 2 == 1) {
        ++odd_total;
        if (!same) ++odd_changed;
      }
    }
  }
  EXPECT_GT(odd_changed, odd_total * 9 / 10);
  // The glow did reach an untouched column at the sun's centre (when it is on screen).
  if (sun.x >= 1.0f && sun.x < 639.0f && sun.y >= 0.0f && sun.y < 360.0f) {
    std::size_t sx = static_cast<std::size_t>(sun.x);
    if (sx % 2 == 1) --sx;
    const std::size_t sy = static_cast<std::size_t>(sun.y);
    EXPECT_GT(frame.pixels[sy * 640 + sx].r, before[sy * 640 + sx].r);
  }
}

TEST(CanyonFrame, ColumnsWithEveryPointHiddenKeepTheSky) {
  // From far above, every sample lands below the bottom row: the picture is the sky alone.
  const DebugParams p;
  SceneCameraParams cam;
  cam.height = 5000.0f;
  const float t = 12.0f;
  Framebuffer frame(320, 180);
  Framebuffer trail(320, 180);
  const Canyon canyon;
  canyon.DrawHeightfield(frame, t, p, cam, Playing(t), 0, true, &trail);
  Framebuffer sky(320, 180);
  const CanyonFrame cf = BuildCanyonFrame(t, p, cam, 320, 180, 0, true);
  DrawCanyonSky(sky, t, cf.roll, cf.horizon_row, cf.view.heading, cf.parity, cf.column_step);
  EXPECT_EQ(FirstDifference(frame, sky), -1);
  // The march itself leaves those columns alone and reports them as all sky.
  Framebuffer marked(320, 180);
  marked.Fill(Vec3(0.25f, 0.5f, 0.75f));
  std::vector<int> sky_rows(320, -1);
  MarchCanyonColumns(marked, 0, 320, cf, t, p, Playing(t), sky_rows.data());
  for (int rows : sky_rows) EXPECT_EQ(rows, 180);
  for (const Vec3& px : marked.pixels) ASSERT_EQ(px.g, 0.5f);
}

TEST(CanyonFrame, MarchReportsTheRowsLeftForTheSky) {
  const DebugParams p;
  const float t = 15.0f;
  const CanyonFrame cf = BuildCanyonFrame(t, p, SceneCameraParams(), 320, 180, 0, true);
  Framebuffer frame(320, 180);
  const Vec3 marker(-1.0f, -1.0f, -1.0f);
  frame.Fill(marker);
  std::vector<int> sky_rows(320, -1);
  MarchCanyonColumns(frame, 0, 320, cf, t, p, Playing(t), sky_rows.data());
  for (std::size_t x = 0; x < 320; ++x) {
    const int rows = sky_rows[x];
    ASSERT_GE(rows, 0);
    ASSERT_LT(rows, 180);  // looking along the canyon, every column meets ground
    for (int y = 0; y < 180; ++y) {
      const bool untouched = frame.pixels[static_cast<std::size_t>(y) * 320 + x].r == -1.0f;
      ASSERT_EQ(untouched, y < rows) << x << ", " << y;
    }
  }
}

TEST(CanyonFrame, ResultDoesNotDependOnTheNumberOfWorkers) {
  DebugParams p;
  p.shadows = true;
  const SceneCameraParams cam;
  const Canyon canyon;
  ThreadPool single(0);
  ThreadPool several(3);
  ASSERT_EQ(single.Workers(), 1u);
  ASSERT_EQ(several.Workers(), 4u);
  Framebuffer a(320, 180);
  Framebuffer a_trail(320, 180);
  Framebuffer b(320, 180);
  Framebuffer b_trail(320, 180);
  for (std::size_t i = 0; i < 2; ++i) {
    const float t = 52.0f + 0.1f * static_cast<float>(i);
    canyon.DrawHeightfield(a, t, p, cam, Playing(t), i, i == 0, &a_trail, single);
    canyon.DrawHeightfield(b, t, p, cam, Playing(t), i, i == 0, &b_trail, several);
    EXPECT_EQ(FirstDifference(a, b), -1);
    EXPECT_EQ(FirstDifference(a_trail, b_trail), -1);
  }
  // The default entry point (the process-wide pool) agrees as well.
  Framebuffer c(320, 180);
  Framebuffer c_trail(320, 180);
  canyon.DrawHeightfield(c, 52.0f, p, cam, Playing(52.0f), 0, true, &c_trail);
  canyon.DrawHeightfield(c, 52.1f, p, cam, Playing(52.1f), 1, false, &c_trail);
  EXPECT_EQ(FirstDifference(a, c), -1);
}

// A scene clock with no place on the path (not finite, or so large that 16 t overflows a float)
// shows the start of the flight, whole and finite, instead of marching rays from nowhere; a large
// clock the path can still hold keeps its own picture.
TEST(CanyonFrame, ClockBeyondThePathShowsTheStartOfTheFlight) {
  const DebugParams p;
  const SceneCameraParams cam;
  const Canyon canyon;
  ThreadPool pool(1);
  Framebuffer start(160, 90), start_trail(160, 90);
  canyon.DrawHeightfield(start, 0.0f, p, cam, Playing(0.0f), 0, true, &start_trail, pool);
  const float kInf = INFINITY;
  for (const float t : {kInf, -kInf, NAN, 3.0e38f, -2.0e38f}) {
    SCOPED_TRACE(t);
    EXPECT_EQ(BuildCanyonFrame(t, p, cam, 160, 90, 0, true).time, 0.0f);
    Framebuffer frame(160, 90), trail(160, 90);
    canyon.DrawHeightfield(frame, t, p, cam, Playing(0.0f), 0, true, &trail, pool);
    EXPECT_EQ(FirstDifference(frame, start), -1);
    EXPECT_EQ(FirstDifference(trail, start_trail), -1);
  }
  const CanyonFrame far = BuildCanyonFrame(1.0e30f, p, cam, 160, 90, 0, true);
  EXPECT_EQ(far.time, 1.0e30f);
  EXPECT_FLOAT_EQ(far.view.camZ, 1.6e31f);
  Framebuffer frame(160, 90), trail(160, 90);
  canyon.DrawHeightfield(frame, 1.0e30f, p, cam, Playing(0.0f), 0, true, &trail, pool);
  for (const Vec3& px : frame.pixels) ASSERT_TRUE(IsFinite(px));
}

TEST(CanyonFrame, ColumnGrainGivesAboutEightPiecesPerWorker) {
  EXPECT_EQ(CanyonColumnGrain(640, 1), 80u);
  EXPECT_EQ(CanyonColumnGrain(640, 7), 12u);
  EXPECT_EQ(CanyonColumnGrain(640, 64), 4u);
  EXPECT_EQ(CanyonColumnGrain(640, 0), 80u);
}

TEST(CanyonFrame, DefaultFrameReadsAsACanyonAtDusk) {
  const Canyon canyon;
  Framebuffer frame(640, 360);
  Framebuffer trail(640, 360);
  DrawCanyonFlight(canyon, frame, trail, 20.0f, DebugParams(), SceneCameraParams(), Playing(20.0f), 0, true);
  for (const Vec3& px : frame.pixels) {
    ASSERT_TRUE(IsFinite(px));
    ASSERT_GE(std::min({px.r, px.g, px.b}), 0.0f);
  }
  // A dark sky at the top, the molten river glowing orange at the bottom centre.
  float top = 0.0f;
  for (std::size_t x = 0; x < 640; ++x) top += frame.pixels[x].g;
  EXPECT_LT(top / 640.0f, 0.25f);
  const Vec3 river = frame.pixels[350 * 640 + 320];
  EXPECT_GT(river.r, 0.5f);
  EXPECT_GT(river.r, 1.5f * river.g);
  EXPECT_GT(river.g, river.b);
}

TEST(CanyonFrame, FlightClearsTheTrailOnTheScenesFirstFrameAndDecaysItAfter) {
  const Canyon canyon;
  DebugParams p;
  p.fog = 0.0f;  // no mist: only the beacons reach the trail
  Framebuffer frame(320, 180);
  Framebuffer trail(320, 180);
  MusicViz quiet;  // no cues, so no beacons either
  trail.Fill(Vec3(1.0f, 1.0f, 1.0f));
  DrawCanyonFlight(canyon, frame, trail, 8.0f, p, SceneCameraParams(), quiet, 0, false);
  EXPECT_FLOAT_EQ(trail.pixels[0].r, 0.86f);
  DrawCanyonFlight(canyon, frame, trail, 8.0f, p, SceneCameraParams(), quiet, 1, true);
  EXPECT_EQ(trail.pixels[0].r, 0.0f);
}

}  // namespace
