// The director's pure functions: cue curves, wrapping, scene choice, section clock, seek targets,
// finale curves and the MusicViz record.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "timeline/director.h"
#include "timeline/sequence.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

SequenceTimeline BuiltIn() {
  SequenceTimeline timeline;
  UseBuiltInSequence("test", timeline);
  return timeline;
}

// Bars after bar 116 at a tempo, for a time in seconds.
float FinaleBar(float seconds, float bpm) { return 116.0f + seconds * bpm / 240.0f; }

}  // namespace

TEST(CueLevel, FollowsTheBuiltInCurves) {
  const SequenceTimeline timeline = BuiltIn();
  struct Case {
    const char* name;
    float bar;
    float level;
  };
  // Smoothstep halves at the middle of each fade; the fades lie outside [start, end].
  const Case cases[] = {
      {"title", 3.8f, 0.0f},   {"title", 4.025f, 0.5f}, {"title", 4.25f, 1.0f}, {"title", 8.0f, 1.0f},
      {"title", 12.0f, 1.0f},  {"title", 13.5f, 0.5f},  {"title", 15.0f, 0.0f}, {"title", 20.0f, 0.0f},
      {"intro", 0.0f, 1.0f},   {"intro", 3.65f, 1.0f},  {"intro", 4.0f, 0.5f},  {"intro", 4.35f, 0.0f},
      {"club", 94.0f, 0.5f},   {"club", 100.0f, 1.0f},  {"club", 115.0f, 0.5f}, {"finale", 127.9f, 1.0f},
      {"Title", 8.0f, 0.0f},   {"nova", 50.0f, 0.0f},   {"title", kNaN, 0.0f},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(CueLevel(timeline.cues, c.name, c.bar), c.level, 1e-5f) << c.name << " at bar " << c.bar;
  }
}

TEST(CueLevel, HardEdgesWithoutFadesAndCombinationByMaximum) {
  const std::vector<SequenceCue> cues = {
      {10.0f, 20.0f, 0.4f, 0.0f, 0.0f, "veil"},
      {15.0f, 30.0f, 0.7f, 2.0f, 0.0f, "veil"},
      {40.0f, 44.0f, 3.0f, 0.0f, 0.0f, "veil"},  // an amount above 1 saturates
  };
  EXPECT_FLOAT_EQ(CueLevel(cues, "veil", 9.999f), 0.0f);
  EXPECT_FLOAT_EQ(CueLevel(cues, "veil", 10.0f), 0.4f);
  EXPECT_FLOAT_EQ(CueLevel(cues, "veil", 14.0f), 0.4f);  // the second cue is halfway up: 0.35
  EXPECT_FLOAT_EQ(CueLevel(cues, "veil", 16.0f), 0.7f);
  EXPECT_FLOAT_EQ(CueLevel(cues, "veil", 29.999f), 0.7f);
  EXPECT_FLOAT_EQ(CueLevel(cues, "veil", 30.0f), 0.0f);  // no fade out: off at its end
  EXPECT_FLOAT_EQ(CueLevel(cues, "veil", 42.0f), 1.0f);
}

TEST(WrapBar, WrapsIntoTheLoop) {
  struct Case {
    float x, loop, wrapped;
  };
  const Case cases[] = {
      {130.0f, 128.0f, 2.0f}, {-3.0f, 128.0f, 125.0f}, {128.0f, 128.0f, 0.0f}, {64.5f, 64.0f, 0.5f},
      {0.7f, 0.5f, 0.7f},     {1.7f, 0.0f, 0.7f},      {kNaN, 128.0f, 0.0f},   {kInf, 128.0f, 0.0f},
      {-1e-9f, 128.0f, 0.0f},  // would round up to 128, outside the loop
  };
  for (const Case& c : cases) {
    const float wrapped = WrapBar(c.x, c.loop);
    EXPECT_NEAR(wrapped, c.wrapped, 1e-4f) << c.x << " in " << c.loop;
    EXPECT_GE(wrapped, 0.0f);
    EXPECT_LT(wrapped, std::max(c.loop, 1.0f));
  }
}

TEST(ActiveScene, SectionAtTheWrappedBarOrTheManualScene) {
  const SequenceTimeline timeline = BuiltIn();
  struct Case {
    bool director;
    float bar;
    int scene;
  };
  const Case cases[] = {
      {true, 0.0f, 1},   {true, 15.999f, 1}, {true, 16.0f, 3}, {true, 40.0f, 2}, {true, 100.0f, 2},
      {true, 127.9f, 3}, {true, 128.5f, 1},  {true, -1.0f, 3}, {true, kNaN, 1},  {false, 40.0f, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ActiveScene(timeline.sections, timeline.loop_bars, c.director, 5, c.bar), c.scene)
        << "bar " << c.bar << " director " << c.director;
  }
  // A bar in no section keeps the manual scene.
  const std::vector<SequenceSection> gap = {{0.0f, 10.0f, 4, "a"}, {20.0f, 30.0f, 6, "b"}};
  EXPECT_EQ(ActiveScene(gap, 128.0f, true, 7, 15.0f), 7);
  EXPECT_EQ(ActiveScene(gap, 128.0f, true, 7, 25.0f), 6);
  EXPECT_EQ(ActiveScene({}, 128.0f, true, 3, 25.0f), 3);
}

TEST(SectionRelativeTime, CountsFromTheStartOfTheSceneRun) {
  const SequenceTimeline timeline = BuiltIn();
  const float spb = 240.0f / 140.0f;
  // 80-96 and 96-112 both show the arena: one run from bar 80.
  SectionClock clock = SectionRelativeTime(timeline.sections, 128.0f, true, 100.0f, 140.0f, 7.0f);
  EXPECT_FLOAT_EQ(clock.section_bar, 20.0f);
  EXPECT_NEAR(clock.section_time, 20.0f * spb, 1e-4f);
  clock = SectionRelativeTime(timeline.sections, 128.0f, true, 20.0f, 140.0f, 7.0f);
  EXPECT_FLOAT_EQ(clock.section_bar, 4.0f);
  clock = SectionRelativeTime(timeline.sections, 128.0f, true, 148.0f, 140.0f, 7.0f);  // bar 20
  EXPECT_FLOAT_EQ(clock.section_bar, 4.0f);
  // Director off: the bar and the frame time themselves.
  clock = SectionRelativeTime(timeline.sections, 128.0f, false, 100.0f, 140.0f, 7.0f);
  EXPECT_FLOAT_EQ(clock.section_bar, 100.0f);
  EXPECT_FLOAT_EQ(clock.section_time, 7.0f);
  // Same scene but not adjacent (a gap): a new run. No section: 0.
  const std::vector<SequenceSection> gap = {{0.0f, 10.0f, 2, ""}, {10.5f, 30.0f, 2, ""}};
  EXPECT_FLOAT_EQ(SectionRelativeTime(gap, 128.0f, true, 12.0f, 140.0f, 0.0f).section_bar, 1.5f);
  EXPECT_FLOAT_EQ(SectionRelativeTime(gap, 128.0f, true, 10.2f, 140.0f, 0.0f).section_bar, 0.0f);
  EXPECT_FLOAT_EQ(SectionRelativeTime(gap, 128.0f, true, 10.2f, 140.0f, 0.0f).section_time, 0.0f);
}

TEST(Seeking, ClampsStepsAndWraps) {
  const SequenceTimeline timeline = BuiltIn();
  EXPECT_FLOAT_EQ(FinaleEnd(140.0f), 123.35f);
  EXPECT_FLOAT_EQ(FinaleEnd(0.0f), 116.0525f);  // tempo at least 1
  EXPECT_FLOAT_EQ(ClampSeekBar(125.0f, 140.0f), 123.35f);
  EXPECT_FLOAT_EQ(ClampSeekBar(-4.0f, 140.0f), 0.0f);
  EXPECT_FLOAT_EQ(ClampSeekBar(50.0f, 140.0f), 50.0f);
  EXPECT_FLOAT_EQ(ClampSeekBar(kNaN, 140.0f), 0.0f);
  EXPECT_FLOAT_EQ(ClampSeekBar(kInf, 140.0f), 123.35f);
  EXPECT_FLOAT_EQ(PendingStartBar(200.0f, 140.0f), 123.35f);
  EXPECT_FLOAT_EQ(PendingStartBar(-2.0f, 140.0f), 0.0f);

  struct Case {
    float bar;
    int direction;
    float target;
  };
  const Case cases[] = {
      {50.0f, +1, 64.0f},    {50.0f, -1, 48.0f},
      {63.8f, +1, 80.0f},    // 64 lies within the margin ahead: the next one
      {64.1f, -1, 48.0f},    // the clock has just entered 64: the previous section
      {64.3f, -1, 64.0f},    // far enough in: back to the start of this section
      {112.2f, -1, 96.0f},   {120.0f, +1, 0.0f},  // past the last start: wrap to the first
      {0.1f, -1, 112.0f},    // before the first start: wrap to the last
      {0.0f, +1, 16.0f},
  };
  for (const Case& c : cases) {
    EXPECT_FLOAT_EQ(StepSectionTarget(timeline.sections, c.bar, c.direction), c.target)
        << "from " << c.bar << " direction " << c.direction;
  }
  EXPECT_FLOAT_EQ(StepSectionTarget({}, 40.0f, -1), 24.0f);
  EXPECT_FLOAT_EQ(StepSectionTarget({}, 40.0f, +1), 56.0f);

  EXPECT_FLOAT_EQ(EndKeyTarget(timeline.sections, 128.0f), 112.0f);
  EXPECT_FLOAT_EQ(EndKeyTarget({}, 128.0f), 112.0f);
  EXPECT_FLOAT_EQ(EndKeyTarget({}, 10.0f), 0.0f);
}

TEST(FinaleCurves, FollowTheWallClockAfterBar116) {
  for (float bpm : {140.0f, 90.0f, 175.0f}) {
    SCOPED_TRACE(bpm);
    // Music duck: 5 to 7 s after bar 116.
    EXPECT_FLOAT_EQ(MusicDuck(115.0f, bpm), 0.0f);
    EXPECT_FLOAT_EQ(MusicDuck(FinaleBar(4.99f, bpm), bpm), 0.0f);
    EXPECT_NEAR(MusicDuck(FinaleBar(6.0f, bpm), bpm), 0.5f, 1e-3f);
    EXPECT_FLOAT_EQ(MusicDuck(FinaleBar(7.01f, bpm), bpm), 1.0f);
    // Fade to black: 10.6 to 12.6 s; the show ends at FinaleEnd, 12.6 s.
    EXPECT_FLOAT_EQ(FadeToBlack(FinaleBar(10.59f, bpm), bpm), 0.0f);
    EXPECT_NEAR(FadeToBlack(FinaleBar(11.6f, bpm), bpm), 0.5f, 1e-3f);
    EXPECT_NEAR(FadeToBlack(FinaleEnd(bpm), bpm), 1.0f, 1e-5f);
    EXPECT_NEAR(FinaleEnd(bpm), FinaleBar(12.6f, bpm), 1e-4f);
    // Flash: rises over 7 to 7.3 s, falls over 10.3 to 10.6 s.
    EXPECT_FLOAT_EQ(FinaleFlash(FinaleBar(6.99f, bpm), bpm), 0.0f);
    EXPECT_NEAR(FinaleFlash(FinaleBar(7.15f, bpm), bpm), 0.5f, 1e-2f);
    EXPECT_NEAR(FinaleFlash(FinaleBar(8.5f, bpm), bpm), 1.0f, 1e-6f);
    EXPECT_NEAR(FinaleFlash(FinaleBar(10.45f, bpm), bpm), 0.5f, 1e-2f);
    EXPECT_NEAR(FinaleFlash(FinaleBar(10.61f, bpm), bpm), 0.0f, 1e-6f);
  }
  EXPECT_FLOAT_EQ(TrackerFade(99.0f), 1.0f);
  EXPECT_FLOAT_EQ(TrackerFade(104.0f), 0.5f);
  EXPECT_FLOAT_EQ(TrackerFade(108.0f), 0.0f);
  EXPECT_FLOAT_EQ(TrackerFade(kNaN), 1.0f);
}

TEST(FrameTime, AddsThePendingBarInSeconds) {
  EXPECT_DOUBLE_EQ(FrameTime(0.0f, 140.0f, 12.5, 0.0), 12.5);
  EXPECT_NEAR(FrameTime(14.0f, 140.0f, 2.0, -1.0), 14.0 * 240.0 / 140.0 + 1.0, 1e-9);
  EXPECT_NEAR(FrameTime(1.0f, 0.0f, 0.0, 0.0), 240.0, 1e-9);  // tempo at least 1
}

TEST(BuildMusicViz, SilentShowAtBarZero) {
  const SequenceTimeline timeline = BuiltIn();
  MusicVizInputs in;
  in.cues = timeline.cues;
  const MusicViz mv = BuildMusicViz(in);
  EXPECT_FALSE(mv.active);
  EXPECT_EQ(mv.bar, 0.0f);
  EXPECT_EQ(mv.bar_index, 0);
  EXPECT_EQ(mv.kick + mv.perc + mv.bass + mv.lead + mv.pad + mv.impact + mv.build + mv.fill, 0.0f);
  EXPECT_EQ(mv.energy, 0.0f);
  EXPECT_EQ(mv.cue_intro, 1.0f);  // cues covering bar 0 still report their level
  EXPECT_EQ(mv.cue_title, 0.0f);
  EXPECT_EQ(mv.finale_flash, 0.0f);
  EXPECT_EQ(mv.scene, 0);
  EXPECT_EQ(mv.section_bar, 0.0f);
}

TEST(BuildMusicViz, LevelsAreClampedAndMixedIntoEnergy) {
  TrackerSnapshot snap;
  snap.position = 5.5f;
  snap.beats = kNaN;
  snap.step_phase = 1.7f;
  snap.kick = 0.5f;
  snap.perc = -0.3f;
  snap.bass = 0.2f;
  snap.lead = kNaN;
  snap.pad = 2.0f;
  snap.impact = 0.1f;
  snap.build = 0.4f;
  snap.fill = kInf;  // not finite: 0
  MusicVizInputs in;
  in.snapshot = &snap;
  in.playing = true;
  in.bar_offset = 130.0f;
  in.clock_bar = 40.0f;
  const MusicViz mv = BuildMusicViz(in);
  EXPECT_TRUE(mv.active);
  EXPECT_FLOAT_EQ(mv.bar, 7.5f);  // 130 + 5.5 wrapped into 128
  EXPECT_EQ(mv.bar_index, 7);
  EXPECT_EQ(mv.beat, 0.0f);
  EXPECT_EQ(mv.step_phase, 1.0f);
  EXPECT_EQ(mv.perc, 0.0f);
  EXPECT_EQ(mv.lead, 0.0f);
  EXPECT_EQ(mv.pad, 1.0f);
  EXPECT_EQ(mv.fill, 0.0f);
  EXPECT_NEAR(mv.energy, 0.28f * 0.5f + 0.18f * 0.2f + 0.45f * 0.4f + 0.7f * 0.1f, 1e-6f);
  snap.impact = 1.0f;
  EXPECT_EQ(BuildMusicViz(in).energy, 1.0f);
}

TEST(BuildMusicViz, PositionActivityAndEndOfLoop) {
  TrackerSnapshot snap;
  snap.position = 30.0f;
  MusicVizInputs in;
  in.snapshot = &snap;
  // Not playing: the snapshot's position does not count; a pending bar makes the show active.
  in.bar_offset = 12.25f;
  MusicViz mv = BuildMusicViz(in);
  EXPECT_TRUE(mv.active);
  EXPECT_FLOAT_EQ(mv.bar, 12.25f);
  EXPECT_EQ(mv.bar_index, 12);
  in.bar_offset = 0.0005f;
  EXPECT_FALSE(BuildMusicViz(in).active);
  // A clock past the loop holds the bar just short of its end.
  in.playing = true;
  in.loop_bars = 64.0f;
  in.clock_bar = 64.0f;
  mv = BuildMusicViz(in);
  EXPECT_FLOAT_EQ(mv.bar, 63.999f);
  EXPECT_EQ(mv.bar_index, 63);
}

TEST(BuildMusicViz, ClubCombinesRevealGreetsAndThePreview) {
  const std::vector<SequenceCue> cues = {
      {10.0f, 20.0f, 0.3f, 0.0f, 0.0f, "club"},
      {10.0f, 20.0f, 0.6f, 0.0f, 0.0f, "reveal"},
      {30.0f, 40.0f, 1.0f, 0.0f, 0.0f, "greets"},
      {30.0f, 40.0f, 0.5f, 0.0f, 0.0f, "club"},
  };
  MusicVizInputs in;
  in.cues = cues;
  in.bar_offset = 15.0f;
  EXPECT_FLOAT_EQ(BuildMusicViz(in).cue_club, 0.6f);  // the larger of club and reveal
  in.bar_offset = 35.0f;
  EXPECT_FLOAT_EQ(BuildMusicViz(in).cue_club, 0.92f);  // 0.92 of the greetings
  in.bar_offset = 50.0f;
  EXPECT_FLOAT_EQ(BuildMusicViz(in).cue_club, 0.0f);
  // The club preview needs the director off and the arena chosen by hand.
  in.club_stage_preview = true;
  in.scene = 2;
  EXPECT_FLOAT_EQ(BuildMusicViz(in).cue_club, 0.0f);
  in.director = false;
  EXPECT_FLOAT_EQ(BuildMusicViz(in).cue_club, 1.0f);
  in.scene = 3;
  EXPECT_FLOAT_EQ(BuildMusicViz(in).cue_club, 0.0f);
}

TEST(BuildMusicViz, FinaleFlashFollowsTheClockNotTheLoopBar) {
  MusicVizInputs in;
  in.bar_offset = 0.0f;
  in.clock_bar = FinaleBar(8.0f, 140.0f);
  EXPECT_FLOAT_EQ(BuildMusicViz(in).finale_flash, 1.0f);
  in.clock_bar = FinaleBar(11.0f, 140.0f);
  EXPECT_FLOAT_EQ(BuildMusicViz(in).finale_flash, 0.0f);
}
