// Whole overlay and tracker-display frames drawn with the fast paths (polynomial text jitter,
// gathered AddImage rows) against the same frames drawn the plain way (libm jitter, AddImage's
// SSE2 rows; AddImage itself is checked bit for bit in the render tests). Resolved to bytes, the
// two may differ by at most 2 levels on at most 0.5 % of the pixels and by at most 8 anywhere.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../render/resolved_diff.h"
#include "audio/synth_track.h"
#include "overlays/title_overlay.h"
#include "overlays/tracker_viz.h"
#include "render/framebuffer.h"
#include "render/primitives.h"

namespace {

constexpr int kW = 640;
constexpr int kH = 360;

// The plain way for everything drawn inside `draw`.
template <class Draw>
void DrawPlain(Draw draw) {
  UseReferenceTextJitter(true);
  LimitAddImageVectors(128);
  draw();
  UseReferenceTextJitter(false);
  LimitAddImageVectors(512);
}

struct Moment {
  const char* what;
  float bar, title, intro, greets, scan;
  int scene;
};

// The overlay of one moment over a dark image (where the exposure curve is steepest, so any
// difference shows most), with the wide glow on the coarse grids when `glow` is given.
void DrawMoment(Framebuffer& fb, const Moment& m, CoarseGlow* glow) {
  MusicViz mv;
  mv.active = true;
  mv.bar = m.bar;
  mv.scene = m.scene;
  mv.cue_title = m.title;
  mv.cue_intro = m.intro;
  mv.cue_greets = m.greets;
  mv.cue_scan = m.scan;
  mv.lead = 0.6f;
  mv.kick = 0.5f;
  TitleOverlayClock clock;
  clock.clock_bar = m.bar;
  fb.Fill(Vec3{0.02f, 0.03f, 0.05f});
  DrawTitleOverlay(fb, m.bar * 240.0f / 140.0f, mv, clock, glow);
}

void ExpectMomentWithinBound(const Moment& m, CoarseGlow& glow) {
  Framebuffer fast(kW, kH);
  Framebuffer plain(kW, kH);
  DrawMoment(fast, m, &glow);
  DrawPlain([&] { DrawMoment(plain, m, nullptr); });
  const ByteDiff d = CompareResolved(fast, plain);
  const std::string what = std::string(m.what) + " at bar " + std::to_string(m.bar);
  ExpectWithinBound(d, what.c_str());
  EXPECT_GT(d.lit, 1000) << what;  // the moment draws something
}

TEST(OverlayFastPaths, TitleGreetingsAndOracleFramesStayWithinTheBound) {
  const Moment moments[] = {
      {"presenter line", 1.2f, 0.0f, 1.0f, 0.0f, 0.0f, 1},
      {"subtitle echoes", 6.3f, 1.0f, 0.0f, 0.0f, 0.0f, 2},
      {"oracle head and word", 16.3f, 0.0f, 0.0f, 0.0f, 1.0f, 3},
      {"greetings and word", 16.3f, 0.0f, 0.0f, 0.99f, 1.0f, 3},
  };
  CoarseGlow glow;
  PrepareCoarseGlow(glow, kW, kH);
  for (const Moment& m : moments) ExpectMomentWithinBound(m, glow);
}

// The wide dots are largest while the title and subtitle zoom in (bars 4.25 to 7.2), brightest
// over the canyon, and the greetings scroll through bars 100 to 116: every few frames of both.
TEST(OverlayFastPaths, ZoomingTitleAndScrollingGreetingsStayWithinTheBound) {
  CoarseGlow glow;
  PrepareCoarseGlow(glow, kW, kH);
  for (float bar = 4.25f; bar < 7.25f; bar += 0.05f)
    ExpectMomentWithinBound({"title over the canyon", bar, 1.0f, 0.0f, 0.0f, 0.0f, 1}, glow);
  for (float bar = 4.25f; bar < 7.25f; bar += 0.25f)
    ExpectMomentWithinBound({"title over the arena", bar, 1.0f, 0.0f, 0.0f, 0.0f, 2}, glow);
  for (float bar = 100.0f; bar < 116.0f; bar += 0.5f)
    ExpectMomentWithinBound({"greetings", bar, 0.0f, 0.0f, 1.0f, 0.0f, 2}, glow);
}

TrackerSnapshot BusySnapshot(int source) {
  TrackerSnapshot s;
  s.source = source;
  s.title = "ORACLE";
  s.position = 40.5f;
  s.bpm = 140.0f;
  s.step_phase = 0.4f;
  s.kick = 0.9f;
  s.bass = 0.7f;
  s.lead = 0.6f;
  s.pad = 0.4f;
  s.build = 0.3f;
  s.impact = 0.2f;
  s.bar_index = 40;
  s.step = source == 1 ? 30 : 0;
  s.order = 4;
  s.length = 12;
  s.rows = 64;
  s.channels = 8;
  for (int q = 0; q < kTrackerSteps; ++q) {
    s.bass_steps[q] = q % 3 == 2 ? kRest : q;
    s.lead_steps[q] = q % 2 == 1 ? kRest : q;
  }
  for (int k = 0; k < kTrackerVisibleRows; ++k) {
    s.pattern_rows[k].row = 20 + k;
    for (int c = 0; c < kTrackerChannels; ++c)
      s.pattern_rows[k].channels[c] = {40 + c + k, c + 1, 0x30, (k + c) % 3 == 0 ? 0x0A : 0, 0x20,
                                       0, 0};
  }
  for (int c = 0; c < kTrackerChannels; ++c) s.channel_volume[c] = 0.6f;
  return s;
}

// Every mode and look, in front and behind, for both sources; several frames, so that the glow
// layer's trace and the assembly flash build up as they do in the show.
TEST(OverlayFastPaths, TrackerDisplayFramesStayWithinTheBound) {
  for (int mode = 0; mode < 3; ++mode) {
    for (int effect = 0; effect < 3; ++effect) {
      for (int behind = 0; behind < 2; ++behind) {
        for (int source = 0; source < 2; ++source) {
          TrackerVizSettings settings;
          settings.mode = mode;
          settings.effect = effect;
          const TrackerSnapshot snap = BusySnapshot(source);
          const auto run = [&](Framebuffer& fb, Framebuffer& glow) {
            float flash = 0.0f;
            std::int32_t last_step = -1;
            for (int frame = 0; frame < 4; ++frame) {
              fb.ScaleAdd(0.5f, Vec3{0.01f, 0.01f, 0.02f});
              DrawTrackerViz(fb, glow, snap, settings, 40.0f, behind != 0,
                             TrackerFlashState{flash, last_step});
              last_step = -1;
            }
          };
          Framebuffer fast(kW, kH);
          Framebuffer fast_glow(kW, kH);
          Framebuffer plain(kW, kH);
          Framebuffer plain_glow(kW, kH);
          run(fast, fast_glow);
          DrawPlain([&] { run(plain, plain_glow); });
          const ByteDiff d = CompareResolved(fast, plain);
          const std::string what = "mode " + std::to_string(mode) + " effect " +
                                   std::to_string(effect) + " behind " + std::to_string(behind) +
                                   " source " + std::to_string(source);
          ExpectWithinBound(d, what.c_str());
          EXPECT_GT(d.lit, 2000) << what;
        }
      }
    }
  }
}

}  // namespace
