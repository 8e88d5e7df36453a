// The tracker display drawn from hand-built snapshots of both music sources: when it draws
// nothing, its geometry, the text of its listings (panel and assembly), the column layout of the
// assembly regions and the flash the assembly layout keeps between frames.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "audio/synth_track.h"
#include "overlays/tracker_viz.h"

namespace {

// A synthesiser at bar 12, step 1 of the arrangement's second part (A').
TrackerSnapshot SynthSnapshot() {
  TrackerSnapshot s;
  s.source = 0;
  s.title = "KESTREL";
  s.position = 40.5f;
  s.bpm = 140.0f;
  s.step_phase = 0.3f;
  s.kick = 0.8f;
  s.perc = 0.4f;
  s.bass = 0.6f;
  s.lead = 0.5f;
  s.pad = 0.3f;
  s.clap = 0.02f;
  s.hat = 0.02f;
  s.ride = 0.02f;
  s.build = 0.05f;
  s.bar_index = 12;
  s.step = 1;
  s.chord_set = 2;
  for (int q = 0; q < 16; ++q) {
    s.bass_steps[q] = q % 3 == 2 ? kRest : q - 4;
    s.lead_steps[q] = q % 2 == 1 ? kRest : q;
  }
  return s;
}

// A module at row 0x10 of pattern 3 (64 rows), order 2 of 9, with `channels` channels. Every
// row holds a note on channel 1; other cells as each test sets them.
TrackerSnapshot ModuleSnapshot(int channels) {
  TrackerSnapshot s;
  s.source = 1;
  s.title = "DEEP SPACE";
  s.position = 2.25f;
  s.bpm = 125.0f;
  s.order = 2;
  s.bar_index = 2;
  s.length = 9;
  s.pattern = 3;
  s.rows = 64;
  s.channels = channels;
  s.step = 16;
  s.step_phase = 0.5f;
  s.kick = 0.4f;
  for (int k = 0; k < kTrackerVisibleRows; ++k) {
    s.pattern_rows[k].row = 6 + k;
    s.pattern_rows[k].channels[0].note = 49;
    s.pattern_rows[k].channels[0].instrument = 1;
  }
  for (int c = 0; c < kTrackerChannels; ++c) s.channel_volume[c] = 0.1f * static_cast<float>(c + 1);
  return s;
}

// The main image, the glow layer and the flash state of one display.
struct Canvas {
  Framebuffer fb{640, 360};
  Framebuffer glow{640, 360};
  float flash = 0.0f;
  std::int32_t last_step = -1;

  void Reset() {
    fb.Fill(Vec3{});
    glow.Fill(Vec3{});
    flash = 0.0f;
    last_step = -1;
  }

  void Draw(const TrackerSnapshot& snap, const TrackerVizSettings& settings, float clock_bar,
            bool behind) {
    DrawTrackerViz(fb, glow, snap, settings, clock_bar, behind,
                   TrackerFlashState{flash, last_step});
  }
};

bool AllZero(const Framebuffer& image) {
  return std::all_of(image.pixels.begin(), image.pixels.end(),
                     [](const Vec3& p) { return p.x == 0.0f && p.y == 0.0f && p.z == 0.0f; });
}

double LightSum(const Framebuffer& image) {
  double sum = 0;
  for (const Vec3& p : image.pixels) sum += static_cast<double>(p.x) + p.y + p.z;
  return sum;
}

// Bounding box of the pixels that received any light; w = 0 when none did.
TrackerRect LitBox(const Framebuffer& image) {
  int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;
  for (int y = 0; y < static_cast<int>(image.height); ++y)
    for (int x = 0; x < static_cast<int>(image.width); ++x) {
      const Vec3& p = image.pixels[static_cast<size_t>(y) * image.width + x];
      if (p.x == 0.0f && p.y == 0.0f && p.z == 0.0f) continue;
      x0 = std::min(x0, x);
      y0 = std::min(y0, y);
      x1 = std::max(x1, x);
      y1 = std::max(y1, y);
    }
  if (x1 < 0) return {};
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

TrackerVizSettings Settings(int mode, int effect) {
  TrackerVizSettings s;
  s.mode = mode;
  s.effect = effect;
  return s;
}

constexpr int kModes[] = {kTrackerPanel, kTrackerWall, kTrackerAssembly};
constexpr int kEffects[] = {kTrackerClean, kTrackerGlow, kTrackerSplat};

std::vector<std::string> ListingRows(const TrackerListing& listing) {
  return std::vector<std::string>(listing.rows, listing.rows + listing.count);
}

}  // namespace

// ---- When and how much ---------------------------------------------------------------------------

TEST(TrackerViz, DrawsNothingAtAllWhenTransparentOrAfterBar108) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float opacity;
    float clock_bar;
  };
  const Case hidden[] = {{0.0f, 50.0f}, {nan, 50.0f}, {0.72f, 108.0f}, {1.0f, 120.0f}};
  Canvas canvas;
  for (const TrackerSnapshot& snap : {SynthSnapshot(), ModuleSnapshot(6)})
    for (int mode : kModes)
      for (int effect : kEffects)
        for (bool behind : {false, true}) {
          TrackerVizSettings settings = Settings(mode, effect);
          for (const Case& c : hidden) {
            SCOPED_TRACE(testing::Message() << "source " << snap.source << " mode " << mode
                                            << " effect " << effect << " behind " << behind
                                            << " opacity " << c.opacity << " bar " << c.clock_bar);
            settings.opacity = c.opacity;
            canvas.Reset();
            canvas.Draw(snap, settings, c.clock_bar, behind);
            EXPECT_TRUE(AllZero(canvas.fb));
            EXPECT_TRUE(AllZero(canvas.glow));
            EXPECT_EQ(canvas.last_step, -1);
          }
          // The same display before the fade does draw.
          settings.opacity = 0.72f;
          canvas.Reset();
          canvas.Draw(snap, settings, 99.0f, behind);
          EXPECT_GT(LightSum(canvas.fb), 1.0) << "mode " << mode << " effect " << effect;
        }
}

TEST(TrackerViz, FadesOutBetweenBars100And108) {
  for (int mode : kModes) {
    double previous = 0;
    for (float bar : {60.0f, 100.0f, 102.0f, 104.0f, 106.0f, 107.5f}) {
      Canvas canvas;
      canvas.Draw(SynthSnapshot(), Settings(mode, kTrackerClean), bar, false);
      const double light = LightSum(canvas.fb);
      EXPECT_GT(light, 0.0) << "mode " << mode << " bar " << bar;
      if (bar == 100.0f) {
        EXPECT_EQ(light, previous) << "mode " << mode;  // full until bar 100
      } else if (bar > 100.0f) {
        EXPECT_LT(light, previous) << "mode " << mode << " bar " << bar;
      }
      previous = light;
    }
  }
}

TEST(TrackerViz, AnySnapshotDrawsFiniteLightTheSameWayTwice) {
  // Levels that are not numbers, steps and rows far out of range, notes beyond a byte.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  TrackerSnapshot wild_synth = SynthSnapshot();
  wild_synth.kick = nan;
  wild_synth.lead = inf;
  wild_synth.step_phase = nan;
  wild_synth.position = -inf;
  wild_synth.step = -1000003;
  wild_synth.bar_index = INT_MAX;
  wild_synth.bass_steps[3] = INT_MIN;
  wild_synth.lead_steps[4] = INT_MAX;
  TrackerSnapshot wild_module = ModuleSnapshot(INT_MAX);
  wild_module.order = INT_MIN;
  wild_module.length = INT_MIN;
  wild_module.rows = INT_MIN;
  wild_module.channel_volume[0] = nan;
  wild_module.pattern_rows[10].row = 100000;
  wild_module.pattern_rows[11].channels[1] = {1000, -5, 999, INT_MAX, INT_MIN, 300, 300};
  wild_module.title = std::string(200, 'x');
  for (const TrackerSnapshot& snap : {wild_synth, wild_module})
    for (int mode : kModes)
      for (int effect : kEffects) {
        TrackerVizSettings settings = Settings(mode, effect);
        settings.assembly_region = 4;
        Canvas a;
        Canvas b;
        a.Draw(snap, settings, 10.0f, false);
        b.Draw(snap, settings, 10.0f, false);
        const bool finite = std::all_of(a.fb.pixels.begin(), a.fb.pixels.end(),
                                        [](const Vec3& p) { return IsFinite(p); });
        EXPECT_TRUE(finite) << "source " << snap.source << " mode " << mode << " effect " << effect;
        EXPECT_GT(LightSum(a.fb), 1.0);
        a.fb.ResolveRgba8();
        b.fb.ResolveRgba8();
        EXPECT_EQ(LightSum(a.fb), LightSum(b.fb));
        EXPECT_TRUE(a.fb.rgba == b.fb.rgba) << "mode " << mode << " effect " << effect;
      }
}

// ---- Panel and wall ------------------------------------------------------------------------------

TEST(TrackerPanel, RowsClampToFiveToTwentyOneAndSizeThePanel) {
  struct Case {
    int rows;
    int shown;
  };
  const Case cases[] = {{3, 5}, {5, 5}, {6, 6}, {11, 11}, {21, 21}, {30, 21}, {-7, 5}};
  for (const Case& c : cases) {
    EXPECT_EQ(TrackerPanelRowCount(c.rows), c.shown) << c.rows;
    TrackerListing listing;
    BuildTrackerListing(SynthSnapshot(), c.rows, listing);
    EXPECT_EQ(listing.count, c.shown) << c.rows;

    // The clean panel in front: its background covers exactly (x, y, 354, 10 n + 38).
    TrackerVizSettings settings = Settings(kTrackerPanel, kTrackerClean);
    settings.rows = c.rows;
    settings.x = 20;
    settings.y = 10;
    Canvas canvas;
    canvas.Draw(SynthSnapshot(), settings, 0.0f, false);
    const TrackerRect box = LitBox(canvas.fb);
    EXPECT_EQ(box.x, 20);
    EXPECT_EQ(box.y, 10);
    EXPECT_EQ(box.w, 354);
    EXPECT_EQ(box.h, 10 * c.shown + 38) << c.rows;
  }
}

TEST(TrackerPanel, SynthesiserListsTheStepsAroundTheCurrentOneWithRestsAsDashes) {
  TrackerListing listing;
  BuildTrackerListing(SynthSnapshot(), 11, listing);
  EXPECT_STREQ(listing.header1, "KESTREL SYNTH VM  BPM140  BAR12  A'");
  EXPECT_STREQ(listing.header2, "ROW K BASS LEAD CHORD FX");
  // Steps 12 ... 15, 0, 1 (playing), 2 ... 6; bass rests on 2, 5, 14; lead rests on odd steps.
  const std::vector<std::string> expected = {
      " 0C K   +8  +12 C2   ....", " 0D .   +9   -- C2   ....", " 0E .   --  +14 C2   ....",
      " 0F .  +11   -- C2   ....", " 00 K   -4   +0 C2   ....", ">01 .   -3   -- C2   ROLL",
      " 02 .   --   +2 C2   ....", " 03 .   -1   -- C2   ....", " 04 K   +0   +4 C2   ....",
      " 05 .   --   -- C2   ....", " 06 .   +2   +6 C2   ...."};
  EXPECT_EQ(ListingRows(listing), expected);
  for (int k = 0; k < listing.count; ++k) EXPECT_EQ(listing.current[k], k == 5) << k;
}

TEST(TrackerPanel, SynthesiserHeaderPartsAndEffectWords) {
  struct Part {
    float position;
    const char* name;
  };
  for (const Part& p : {Part{0.0f, "A"}, Part{31.9f, "A"}, Part{32.0f, "A'"}, Part{48.0f, "B"},
                        Part{64.0f, "A RETURN"}, Part{80.0f, "A' LOOP"}, Part{127.0f, "A' LOOP"}}) {
    TrackerSnapshot snap = SynthSnapshot();
    snap.position = p.position;
    TrackerListing listing;
    BuildTrackerListing(snap, 5, listing);
    EXPECT_EQ(std::string(listing.header1), std::string("KESTREL SYNTH VM  BPM140  BAR12  ") + p.name);
  }

  // The playing step tells hits, fills and rolls first; the other steps only ride and claps.
  struct Word {
    float impact, fill, build, ride, hat, clap;
    const char* current;
    const char* other;
  };
  const Word words[] = {{0.06f, 0.5f, 0.5f, 0.5f, 0, 0.5f, "HIT", "RIDE"},
                        {0.05f, 0.09f, 0.5f, 0, 0, 0.06f, "FILL", "CLAP"},
                        {0, 0.08f, 0.05f, 0.04f, 0.05f, 0, "ROLL", "RIDE"},
                        {0, 0, 0.04f, 0.04f, 0.04f, 0.05f, "....", "...."}};
  for (const Word& w : words) {
    TrackerSnapshot snap = SynthSnapshot();
    snap.impact = w.impact;
    snap.fill = w.fill;
    snap.build = w.build;
    snap.ride = w.ride;
    snap.hat = w.hat;
    snap.clap = w.clap;
    TrackerListing listing;
    BuildTrackerListing(snap, 5, listing);
    const std::string current = listing.rows[2];
    const std::string other = listing.rows[0];
    EXPECT_EQ(current.substr(21), w.current) << current;
    EXPECT_EQ(other.substr(21), w.other) << other;
  }
}

TEST(TrackerPanel, ModuleListsTheMiddleRowsAndFourChannelsOfAWideModule) {
  TrackerSnapshot snap = ModuleSnapshot(12);
  TrackerRow& playing = snap.pattern_rows[10];
  playing.channels[1] = {0, 0x1F, 0, 0, 0, 0, 0};
  playing.channels[2] = {0, 0, 0x30, 0x0A, 0x20, 0, 0};
  playing.channels[3] = {0, 0, 0, 0, 0, 0x0E, 0x61};
  playing.channels[4] = {61, 3, 0, 0, 0, 0, 0};  // channel 5: not listed
  snap.pattern_rows[8].row = -1;                  // past the pattern's end
  TrackerListing listing;
  BuildTrackerListing(snap, 5, listing);
  EXPECT_STREQ(listing.header1, "XM DEEP SPACE  BPM125  ORD02/08");
  EXPECT_STREQ(listing.header2, "PAT03 ROW10/3F  CH12");
  const std::vector<std::string> expected = {
      "    ----- ----- ----- -----", " 0F C-401 ----- ----- -----",
      ">10 C-401 ---1F F0A20 F0E61", " 11 C-401 ----- ----- -----",
      " 12 C-401 ----- ----- -----"};
  EXPECT_EQ(ListingRows(listing), expected);
  for (int k = 0; k < listing.count; ++k) EXPECT_EQ(listing.current[k], k == 2) << k;

  snap.title.clear();
  snap.length = 0;
  BuildTrackerListing(snap, 5, listing);
  EXPECT_STREQ(listing.header1, "XM XM MODULE  BPM125  ORD02/00");
}

TEST(TrackerPanel, ModuleCellTexts) {
  struct Case {
    TrackerCell cell;
    const char* text;
  };
  const Case cases[] = {
      {{49, 1, 0, 0, 0, 0, 0}, "C-401"},     {{1, 0x1A, 0x40, 3, 4, 0, 0}, "C-01A"},
      {{12, 2, 0, 0, 0, 0, 0}, "B-002"},     {{14, 300, 0, 0, 0, 0, 0}, "C#1FF"},
      {{0, 0x1F, 0x40, 3, 4, 0, 0}, "---1F"}, {{0, 0, 0x40, 0x0F, 0x06, 1, 2}, "F0F06"},
      {{0, 0, 0, 0, 0x33, 0, 0x07}, "F0007"}, {{0, 0, 0, 0, 0, 0x0C, 0}, "F0C00"},
      {{0, 0, 0x40, 0, 0x33, 0, 0}, "-----"}, {{-5, -1, 0, -3, 0, 0, 0}, "-----"}};
  for (const Case& c : cases) {
    char text[16];
    TrackerCellText(c.cell, text, sizeof text);
    EXPECT_STREQ(text, c.text);
  }
}

TEST(TrackerPanel, BehindTheSceneThereIsNoBackgroundAndTheGlowLayerOnlyFades) {
  // A point inside the panel but away from every text line and meter.
  TrackerVizSettings settings = Settings(kTrackerPanel, kTrackerClean);
  const size_t inside = static_cast<size_t>(120 + 3) * 640 + 276 + 200;
  for (bool behind : {false, true}) {
    Canvas canvas;
    canvas.Draw(SynthSnapshot(), settings, 0.0f, behind);
    EXPECT_EQ(canvas.fb.pixels[inside].z > 0.0f, !behind) << behind;
  }

  // The glow look fades its layer by 0.68 per frame; the other looks leave it alone.
  const size_t far = static_cast<size_t>(340) * 640 + 10;
  for (int effect : kEffects) {
    Canvas canvas;
    canvas.glow.pixels[far] = Vec3{1.0f, 1.0f, 1.0f};
    canvas.Draw(SynthSnapshot(), Settings(kTrackerWall, effect), 0.0f, false);
    EXPECT_FLOAT_EQ(canvas.glow.pixels[far].x, effect == kTrackerGlow ? 0.68f : 1.0f);
    EXPECT_EQ(canvas.fb.pixels[far].x, 0.0f);
  }
}

// ---- Assembly ------------------------------------------------------------------------------------

TEST(TrackerAssembly, RegionsRowsAndColumns) {
  struct Case {
    int code;
    TrackerRect region;
    int rows_at_30;
    TrackerColumns columns;
  };
  const Case cases[] = {
      {0, {10, 14, 620, 332}, 20, {204, 3, 18}},    {1, {10, 16, 620, 152}, 8, {204, 3, 18}},
      {2, {10, 184, 620, 162}, 9, {204, 3, 18}},    {3, {10, 22, 266, 316}, 19, {172, 1, 104}},
      {4, {364, 22, 266, 316}, 19, {172, 1, 458}},  {5, {10, 16, 300, 152}, 8, {172, 1, 138}},
      {6, {330, 16, 300, 152}, 8, {172, 1, 458}},   {7, {10, 184, 300, 162}, 9, {172, 1, 138}},
      {8, {330, 184, 300, 162}, 9, {172, 1, 458}},  {-4, {10, 14, 620, 332}, 20, {204, 3, 18}},
      {12, {330, 184, 300, 162}, 9, {172, 1, 458}}};
  for (const Case& c : cases) {
    const TrackerRect r = TrackerAssemblyRegion(c.code);
    EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}),
              (std::vector<int>{c.region.x, c.region.y, c.region.w, c.region.h}))
        << c.code;
    EXPECT_EQ(TrackerAssemblyRowCount(30, r.h), c.rows_at_30) << c.code;
    const TrackerColumns cols = TrackerAssemblyColumns(r);
    EXPECT_EQ((std::vector<int>{cols.width, cols.count, cols.x0}),
              (std::vector<int>{c.columns.width, c.columns.count, c.columns.x0}))
        << c.code;
  }
  EXPECT_EQ(TrackerAssemblyRowCount(11, 332), 11);
  EXPECT_EQ(TrackerAssemblyRowCount(6, 332), 6);
  EXPECT_EQ(TrackerAssemblyRowCount(5, 332), 5);
  EXPECT_EQ(TrackerAssemblyRowCount(30, 90), 5);  // (90 - 12) / 16 = 4 is too few
}

TEST(TrackerAssembly, EveryRegionKeepsItsListingInside) {
  // Text lines fade in below y - 8 and out above y + h + 4; glyphs, jitter and halos reach a few
  // pixels further. Nothing may land outside that margin.
  constexpr int kMargin = 14;
  TrackerSnapshot loud = SynthSnapshot();
  loud.step = 0;
  loud.kick = 1.0f;  // the downbeat flash shakes the text as far as it goes
  for (const TrackerSnapshot& base : {loud, ModuleSnapshot(8)})
    for (int code = 0; code <= 8; ++code)
      for (int effect : kEffects)
        for (bool behind : {false, true}) {
          TrackerVizSettings settings = Settings(kTrackerAssembly, effect);
          settings.assembly_region = code;
          settings.rows = 21;
          Canvas canvas;
          canvas.Draw(base, settings, 0.0f, behind);
          const TrackerRect r = TrackerAssemblyRegion(code);
          const TrackerRect box = LitBox(canvas.fb);
          SCOPED_TRACE(testing::Message() << "source " << base.source << " region " << code
                                          << " effect " << effect << " behind " << behind);
          ASSERT_GT(box.w, 0);
          EXPECT_GE(box.x, r.x - kMargin);
          EXPECT_GE(box.y, r.y - 8 - kMargin);
          EXPECT_LE(box.x + box.w, r.x + r.w + kMargin);
          EXPECT_LE(box.y + box.h, r.y + r.h + 4 + kMargin);
          // The listing fills its columns: light reaches into the first column's left part.
          EXPECT_LE(box.x, TrackerAssemblyColumns(r).x0 + 8);
        }
}

TEST(TrackerAssembly, SynthesiserLinesWithRestsAsNop) {
  TrackerSnapshot snap = SynthSnapshot();
  snap.bar_index = 3;
  snap.step = 5;
  snap.bass_steps[5] = kRest;
  snap.lead_steps[5] = 7;
  snap.bass_steps[6] = -3;
  // Centre index 4: row j = 4 is step 5 (the playing one), j = 5 step 6. Lane = (i + j) & 3.
  struct Case {
    int i, j, half;
    float impact, build;
    const char* text;
    int lane;
  };
  const Case cases[] = {
      {0, 4, 0, 0, 0, ">0328 NOP ; S05 L1", 0},        // bass rest
      {0, 4, 1, 0, 0, ">0329 STA BASS.NOTE", 0},
      {1, 4, 0, 0, 0, ">032A LDA #L+07 ; S05", 1},     // lead note
      {1, 4, 1, 0, 0, ">032B STA LEAD.NOTE", 1},
      {2, 4, 0, 0, 0, ">032C NOP ; S05 L3", 2},        // no kick on step 5
      {2, 4, 1, 0, 0, ">032D JSR DRUM.TRIG", 2},
      {3, 5, 0, 0, 0, " 0330 LDA #B-03 ; S06", 0},     // bass note on step 6
      {2, 5, 1, 0.06f, 0, " 0337 JSR IMPACT", 3},
      {2, 5, 1, 0.05f, 0.05f, " 0337 JSR BUILD", 3},
      {2, 5, 1, 0, 0.04f, " 0337 STA PAD.MIX", 3},
      {3, 3, 0, 0, 0, " 0324 LDA #KICK ; S04", 2}};  // step 4: a kick
  for (const Case& c : cases) {
    snap.impact = c.impact;
    snap.build = c.build;
    TrackerAsmLine line;
    BuildTrackerAsmLine(snap, c.i, c.j, 4, c.half, line);
    EXPECT_STREQ(line.text, c.text) << c.i << " " << c.j << " " << c.half;
    EXPECT_EQ(line.lane, c.lane);
    EXPECT_EQ(line.current, c.j == 4);
  }
}

TEST(TrackerAssembly, ModuleLinesFromTheChannelEvents) {
  TrackerSnapshot snap = ModuleSnapshot(12);
  snap.pattern_rows[0].row = -1;
  snap.pattern_rows[11].channels[3] = {49, 2, 0, 0x0A, 0x20, 0, 0};
  snap.pattern_rows[12].channels[4] = {0, 0, 0x30, 0, 0, 0, 0};
  snap.pattern_rows[13].channels[5] = {0, 7, 0, 0, 0, 0, 0};
  snap.pattern_rows[14].channels[2] = {0, 0, 0, 0, 0x55, 0x0E, 0x61};
  // Order 2 and 8 lanes: address = ((2 * 128 + 8 * row + lane) * 2 + half); the lane is
  // (2 i | (j + order) & 1) mod 8. Row j of the 21 is pattern row 6 + j; row 16 plays.
  struct Case {
    int i, j, half;
    const char* text;
  };
  const Case cases[] = {
      {0, 10, 0, ">0300 LDA #C-4 ; R10 C1"},      {0, 10, 1, ">0301 STA CH1.NOTE ; I01"},
      {1, 11, 0, " 0316 LDA #C-4 ; R11 C4"},      {1, 11, 1, " 0317 JSR FX0A20 ; C4"},
      {2, 12, 0, " 0328 LDV #30 ; R12 C5"},       {2, 12, 1, " 0329 STA CH5.VOL ; V30"},
      {2, 13, 0, " 033A LDI #I07 ; R13 C6"},      {2, 13, 1, " 033B STA CH6.INST ; I07"},
      {1, 12, 0, " 0324 NOP ; R12 C3"},           {1, 12, 1, " 0325 ADD MIX3,#13 ; IDLE"},
      {1, 14, 0, " 0344 NOP ; R14 C3"},           {1, 14, 1, " 0345 JSR FX0E61 ; C3"},
      {0, 0, 0, " 0200 NOP ; PAD C1"},            {0, 0, 1, " 0201 NOP ; PAD C1"}};
  for (const Case& c : cases) {
    TrackerAsmLine line;
    BuildTrackerAsmLine(snap, c.i, c.j, 10, c.half, line);
    EXPECT_STREQ(line.text, c.text) << c.i << " " << c.j << " " << c.half;
    EXPECT_EQ(line.current, c.j == 10);
  }

  // Lanes cycle over the first 8 channels at most (4 when the module reports none).
  struct Lane {
    int channels, i, j, lane;
  };
  const Lane lanes[] = {{12, 2, 5, 5}, {20, 2, 4, 4}, {8, 1, 3, 3}, {3, 2, 5, 2},
                        {0, 2, 5, 1},  {1, 2, 5, 0},  {-4, 1, 3, 0}};
  for (const Lane& l : lanes) {
    snap.channels = l.channels;
    TrackerAsmLine line;
    BuildTrackerAsmLine(snap, l.i, l.j, 10, 0, line);
    EXPECT_EQ(line.lane, l.lane) << l.channels << " channels, column " << l.i << " row " << l.j;
  }
}

TEST(TrackerAssembly, FlashRisesOnAccentedStepsAndDecays) {
  struct Case {
    const char* what;
    float flash;  // before the frame
    std::int32_t last_step;
    int step, bar;
    float kick, build, impact, fill;
    float expected;
  };
  // G = S((0.22 build + impact - 0.2) * 1.923): 1 with an impact of 1; E = (kick - 0.48) * 1.667.
  const Case cases[] = {
      {"downbeat kick", 0.0f, -1, 0, 4, 1.1f, 0, 0, 0, 0.78f},
      {"same step again only decays", 0.78f, 1024, 0, 4, 1.1f, 0, 0, 0, 0.78f * 0.72f},
      {"next bar's downbeat", 0.5f, 1024, 0, 5, 1.1f, 0, 0, 0, 0.78f},
      {"downbeat kick and impact", 0.0f, -1, 0, 4, 1.1f, 0, 1, 0, 1.36f},
      {"weak kick", 0.3f, -1, 0, 4, 0.48f, 0, 0, 0, 0.3f * 0.72f},
      {"step 8 impact", 0.0f, -1, 8, 4, 0, 0, 1, 0, 0.7f},
      {"step 8 small build", 0.2f, -1, 8, 4, 0, 0, 0.5f, 0, 0.2f * 0.72f},
      {"step 12 impact and build", 0.0f, -1, 12, 4, 0, 1, 1, 0, 0.665f},
      {"step 14 impact and fill", 0.0f, -1, 14, 4, 0, 0, 1, 0.5f, 0.475f},
      {"step 12 build alone", 0.0f, -1, 12, 4, 0, 1, 0, 1, 0.0f},
      {"step 4 never flashes", 0.0f, -1, 4, 4, 1.1f, 1, 1, 1, 0.0f},
      {"a weaker accent keeps the stronger flash", 1.0f, -1, 8, 4, 0, 0, 1, 0, 0.72f}};
  for (const Case& c : cases) {
    TrackerSnapshot snap = SynthSnapshot();
    snap.step = c.step;
    snap.bar_index = c.bar;
    snap.kick = c.kick;
    snap.build = c.build;
    snap.impact = c.impact;
    snap.fill = c.fill;
    float flash = c.flash;
    std::int32_t last = c.last_step;
    UpdateTrackerFlash(snap, TrackerFlashState{flash, last});
    EXPECT_NEAR(flash, c.expected, 1e-5f) << c.what;
    EXPECT_EQ(last, c.step + 256 * c.bar) << c.what;
  }

  // Drawing in assembly mode runs the flash; the panel and wall leave it alone.
  for (int mode : kModes) {
    Canvas canvas;
    canvas.flash = 0.5f;
    canvas.Draw(SynthSnapshot(), Settings(mode, kTrackerSplat), 0.0f, false);
    EXPECT_EQ(canvas.last_step, mode == kTrackerAssembly ? 1 + 256 * 12 : -1);
    EXPECT_FLOAT_EQ(canvas.flash, mode == kTrackerAssembly ? 0.5f * 0.72f : 0.5f);
  }
}
