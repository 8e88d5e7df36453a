// The title, greetings and start-fade overlay: the title curve, the scales over the canyon, the
// centred and settled title, the greetings dimming and the scroller's start, checked on real
// frames where the picture is what matters.

#include "overlays/title_overlay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "config/app_options.h"
#include "render/framebuffer.h"
#include "render/primitives.h"
#include "timeline/sequence.h"

namespace {

constexpr int kW = 640;
constexpr int kH = 360;

// Bit-for-bit the same light in every pixel.
bool SamePixels(const Framebuffer& a, const Framebuffer& b) {
  if (a.pixels.size() != b.pixels.size()) return false;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const Vec3& p = a.pixels[i];
    const Vec3& q = b.pixels[i];
    if (p.r != q.r || p.g != q.g || p.b != q.b) return false;
  }
  return true;
}

// Lit-pixel span of a band of rows: the first and last column whose red, green or blue exceeds
// `threshold` (-1, -1 when nothing does).
struct Span {
  int first = -1;
  int last = -1;
};
Span LitColumns(const Framebuffer& fb, int y0, int y1, float threshold) {
  Span span;
  for (int x = 0; x < static_cast<int>(fb.width); ++x) {
    for (int y = y0; y < y1; ++y) {
      const Vec3& p = fb.pixels[static_cast<size_t>(y) * fb.width + static_cast<size_t>(x)];
      if (p.r > threshold || p.g > threshold || p.b > threshold) {
        if (span.first < 0) span.first = x;
        span.last = x;
        break;
      }
    }
  }
  return span;
}

double RedSum(const Framebuffer& fb, int x0, int y0, int x1, int y1) {
  double sum = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) sum += fb.pixels[static_cast<size_t>(y) * fb.width + x].r;
  return sum;
}

bool AllPixelsAre(const Framebuffer& fb, Vec3 colour) {
  for (const Vec3& p : fb.pixels)
    if (p.r != colour.r || p.g != colour.g || p.b != colour.b) return false;
  return true;
}

bool AnyNonFinite(const Framebuffer& fb) {
  for (const Vec3& p : fb.pixels)
    if (!IsFinite(p)) return true;
  return false;
}

MusicViz AtBar(float bar, int scene = 3) {
  MusicViz mv;
  mv.active = true;
  mv.bar = bar;
  mv.scene = scene;
  return mv;
}

TitleOverlayClock ClockAt(float bar) {
  TitleOverlayClock clock;
  clock.clock_bar = bar;
  return clock;
}

// The frame time that goes with a bar at 140 BPM.
float TimeAt(float bar) {
  return bar * 240.0f / 140.0f;
}

}  // namespace

TEST(TitleCurve, StartsLargeAndInvisibleAndSettlesAtItsSize) {
  // Hand-derived: at 0.5, g = S(0.55) = 0.57475 and the bump is 0.18 sin(0.4634 pi) = 0.17880.
  struct Case {
    float x, progress, fade, scale, echo;
  } cases[] = {
      {-1.0f, 0.0f, 0.0f, 5.9f, 0.0f}, {0.0f, 0.0f, 0.0f, 5.9f, 0.0f}, {0.5f, 0.5f, 1.0f, 3.26254f, 0.42525f},
      {1.0f, 1.0f, 1.0f, 1.0f, 0.0f},  {7.0f, 1.0f, 1.0f, 1.0f, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    const TitleCurve curve = MakeTitleCurve(c.x);
    EXPECT_NEAR(curve.progress, c.progress, 1e-6f);
    EXPECT_NEAR(curve.fade, c.fade, 1e-5f);
    EXPECT_NEAR(curve.scale, c.scale, 1e-4f);
    EXPECT_NEAR(curve.echo, c.echo, 1e-4f);
  }
  // A non-finite progress is the start, not a NaN size.
  EXPECT_EQ(MakeTitleCurve(NAN).scale, 5.9f);
}

TEST(TitleOverlay, TheLoopOpensFromBlackAndTheFadeEndsAtBar4_8) {
  Framebuffer fb(kW, kH);
  const Vec3 white{1.0f, 1.0f, 1.0f};
  struct Case {
    float bar;
    bool black;      // the whole frame black
    bool untouched;  // the white frame left as it was
  } cases[] = {{0.0f, true, false}, {0.05f, true, false}, {2.0f, false, false},
               {4.8f, false, true}, {9.0f, false, true},  {128.0f, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bar);
    fb.Fill(white);
    DrawTitleOverlay(fb, TimeAt(c.bar), AtBar(c.bar), ClockAt(c.bar));
    EXPECT_EQ(AllPixelsAre(fb, Vec3{}), c.black);
    EXPECT_EQ(AllPixelsAre(fb, white), c.untouched);
  }
}

TEST(TitleOverlay, TheTitleIsInvisibleAtBar4_25AndSettledAndCentredBy5_95) {
  // At bar 4.25 the title curve starts: 5.9 times too large and fully transparent, no echoes yet.
  const float start = (4.25f - 4.25f) * 0.58823526f;
  EXPECT_EQ(MakeTitleCurve(start).scale, 5.9f);
  EXPECT_EQ(MakeTitleCurve(start).fade, 0.0f);
  Framebuffer fb(kW, kH);
  MusicViz mv = AtBar(4.25f);
  mv.cue_title = 1.0f;
  DrawTitleOverlay(fb, TimeAt(4.25f), mv, ClockAt(4.25f));
  // Only the presenter line (settled since bar 2.15, around y = 103) is lit: no title, no ring.
  const Span title_rows = LitColumns(fb, 120, kH, 0.0f);
  EXPECT_EQ(title_rows.first, -1);
  EXPECT_NE(LitColumns(fb, 85, 120, 0.01f).first, -1);

  // By bar 5.95 the title has settled at cell 6.4 and its echoes are gone.
  const TitleCurve settled = MakeTitleCurve((5.95f - 4.25f) * 0.58823526f);
  EXPECT_NEAR(settled.scale * 6.4f, 6.4f, 1e-4f);
  EXPECT_LE(settled.echo, 0.001f);
  fb.Fill(Vec3{});
  EchoText(fb, OverlayStyle{}, "KESTREL", 159.4f, 6.4f, 2.25f, Vec3{2.2f, 0.396f, 1.54f}, 0.135f, settled,
           0.42f);
  EXPECT_TRUE(AllPixelsAre(fb, Vec3{}));

  // The settled title on a frame of its own (bar 8, all curves done): the core dots of "KESTREL"
  // at cell 6.4 centred on x = 320 run from 320 - 3*7*6.4 = 185.6 to 185.6 + 6*6.4*6 + 4*6.4 =
  // 441.6; bright light reaches at most a dot radius (plus jitter) beyond.
  mv = AtBar(8.0f);
  mv.cue_title = 1.0f;
  fb.Fill(Vec3{});
  DrawTitleOverlay(fb, TimeAt(8.0f), mv, ClockAt(8.0f));
  const Span title = LitColumns(fb, 140, 175, 0.25f);
  EXPECT_GE(title.first, 185 - 10);
  EXPECT_LE(title.first, 186);
  EXPECT_GE(title.last, 441);
  EXPECT_LE(title.last, 442 + 10);
  EXPECT_NEAR(0.5f * static_cast<float>(title.first + title.last), 313.6f, 4.0f);

  // While zooming in (bar 4.6) the same rows are lit far wider: the title is still larger.
  mv = AtBar(4.6f);
  mv.cue_title = 1.0f;
  fb.Fill(Vec3{});
  DrawTitleOverlay(fb, TimeAt(4.6f), mv, ClockAt(4.6f));
  const Span zooming = LitColumns(fb, 140, 175, 0.05f);
  EXPECT_LT(zooming.first, title.first - 40);
  EXPECT_GT(zooming.last, title.last + 40);
}

TEST(TitleOverlay, GreetingsDimTheTitle) {
  // The title's light falls by 1 - 0.35 greets, and the greetings backdrop then blends the frame
  // by 0.48 greets toward a blue with no red: rows above the scroller see both, nothing else.
  const float greets = 0.5f;
  double sums[2];
  for (int n = 0; n < 2; ++n) {
    Framebuffer fb(kW, kH);
    MusicViz mv = AtBar(8.0f);
    mv.cue_title = 1.0f;
    mv.cue_greets = n == 0 ? 0.0f : greets;
    DrawTitleOverlay(fb, TimeAt(8.0f), mv, ClockAt(8.0f));
    sums[n] = RedSum(fb, 150, 140, 490, 166);
  }
  ASSERT_GT(sums[0], 10.0);
  EXPECT_NEAR(sums[1] / sums[0], (1.0 - 0.35 * greets) * (1.0 - 0.48 * greets), 1e-4);
}

TEST(TitleOverlay, OverTheCanyonTextIsLargerAndBrighter) {
  EXPECT_EQ(MakeOverlayStyle(0, 0, AtBar(0, 1)).radius_scale, 1.24f);
  EXPECT_EQ(MakeOverlayStyle(0, 0, AtBar(0, 1)).alpha_scale, 2.35f);
  for (int scene : {2, 3, 5, 8}) {
    EXPECT_EQ(MakeOverlayStyle(0, 0, AtBar(0, scene)).radius_scale, 1.0f);
    EXPECT_EQ(MakeOverlayStyle(0, 0, AtBar(0, scene)).alpha_scale, 1.0f);
  }
  // The scales reach every pass: canyon text is exactly plain text 2.35 times as strong with dots
  // 1.24 times as wide.
  OverlayStyle canyon;
  canyon.radius_scale = 1.24f;
  canyon.alpha_scale = 2.35f;
  Framebuffer a(kW, kH), b(kW, kH);
  GlowText(a, canyon, 100, 100, "GREETZ", Vec3{1, 1, 1}, 0.1f, 1.25f, 3.0f, 0.3f, 0.7f);
  GlowText(b, OverlayStyle{}, 100, 100, "GREETZ", Vec3{1, 1, 1}, 0.1f * 2.35f, 1.25f * 1.24f, 3.0f, 0.3f,
           0.7f);
  EXPECT_TRUE(SamePixels(a, b));
  EXPECT_FALSE(AllPixelsAre(a, Vec3{}));
}

TEST(GreetScroller, SoftwareRenderedStartsAtX28WhenTheGreetingsBegin) {
  // Upper row: cell 3.35, speed 1.26, aligned.
  const GreetStrip strip = LayoutGreetStrip(kW, 3.35f, 1.26f, 0.0f, 0.0f, true);
  // 100 characters of 6 cells plus eleven 82-pixel gaps; "SOFTWARE RENDERED" after 67
  // characters and nine gaps.
  EXPECT_NEAR(strip.length, 100 * 6 * 3.35f + 11 * 82, 1e-2f);
  EXPECT_NEAR(strip.align_entry, 67 * 6 * 3.35f + 9 * 82, 1e-2f);
  EXPECT_NEAR(strip.start + strip.align_entry, 28.0f, 1e-2f);
  // It moves left as the greetings run (a sixteenth of the strip per bar at speed 1).
  const GreetStrip later = LayoutGreetStrip(kW, 3.35f, 1.26f, 0.0f, 0.5f, true);
  EXPECT_NEAR(later.start + later.align_entry, 28.0f - strip.length * 1.26f * 0.5f / 16.0f, 1e-2f);

  // On the frame: at greetings bar 0 (clock at bar 100) the upper row's first lit column is
  // where the entry's halo begins, a dot radius and jitter left of x = 28.
  Framebuffer fb(kW, kH);
  MusicViz mv = AtBar(100.0f);
  mv.cue_greets = 1.0f;
  DrawTitleOverlay(fb, TimeAt(100.0f), mv, ClockAt(100.0f));
  const Span row = LitColumns(fb, 170, 205, 0.02f);
  EXPECT_GE(row.first, 28 - 8);
  EXPECT_LE(row.first, 28);
  // Both rows and the heading are there.
  EXPECT_NE(LitColumns(fb, 240, 262, 0.02f).first, -1);
  EXPECT_NE(LitColumns(fb, 70, 110, 0.02f).first, -1);
}

TEST(TitleOverlay, NonFiniteMusicLevelsDrawNoNaN) {
  Framebuffer fb(kW, kH);
  MusicViz mv = AtBar(16.3f, 1);
  mv.cue_title = NAN;
  mv.cue_greets = 0.4f;
  mv.cue_nova = INFINITY;
  mv.lead = NAN;
  mv.impact = INFINITY;
  DrawTitleOverlay(fb, NAN, mv, ClockAt(NAN));
  EXPECT_FALSE(AnyNonFinite(fb));
  mv.bar = NAN;
  DrawTitleOverlay(fb, 3.0f, mv, ClockAt(116.5f));
  EXPECT_FALSE(AnyNonFinite(fb));
}

TEST(TitleOverlay, OnlyThisProductionDrawsIt) {
  struct Case {
    const char* name;
    const char* sequence;
    bool active;
  } cases[] = {
      {"kestrel_prod", "data/kestrel/kestrel_sequence.txt", true},
      {"kestrel_prod", "data/other/seq.txt", true},
      {"demo", "data/kestrel/kestrel_sequence.txt", true},
      {"marlin_prod", "data/marlin/marlin_sequence.txt", false},
      {"demo", "data/kestrel/other.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProductionOverlaysActive(c.name, c.sequence), c.active);
  }
  // This build is the production itself.
  EXPECT_TRUE(ProductionOverlaysActive("kestrel_prod", kDefaultSequencePath));
}
