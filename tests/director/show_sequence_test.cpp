// The show's own sequence file: it loads through the real loader, covers the loop, and its cues
// give the pictures what they need (oracle subtitles, beacons, the arena's backdrop, greetings,
// the craft's exit).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "assets/asset_store.h"
#include "timeline/director.h"
#include "timeline/sequence.h"

namespace {

const std::string kShowSequence = std::string(KESTREL_SOURCE_DIR) + "/data/kestrel/kestrel_sequence.txt";
constexpr float kBpm = 140.0f;

SequenceTimeline LoadShowSequence() {
  AssetStore assets;
  int32_t audio_source = 1;
  std::string xm_path = kDefaultModulePath;
  SequenceTimeline timeline;
  LoadSequence(assets, kShowSequence, MusicSelection{audio_source, false, xm_path, false}, timeline);
  return timeline;
}

// The record the pictures see at a bar of a silent show positioned there.
MusicViz VizAt(const SequenceTimeline& timeline, float bar) {
  MusicVizInputs in;
  in.bar_offset = bar;
  in.clock_bar = bar;
  in.loop_bars = timeline.loop_bars;
  in.audio_bpm = kBpm;
  in.cues = timeline.cues;
  return BuildMusicViz(in);
}

// How clearly the oracle's words show: the title overlay's subtitle strength.
float SubtitleStrength(const MusicViz& mv) {
  const float strongest = std::max({0.46f * mv.cue_nova, 0.86f * mv.cue_veil, 0.82f * mv.cue_scan, 0.54f * mv.cue_beams});
  const float lit = strongest + 0.48f * mv.cue_reveal;
  if (!std::isfinite(lit)) return 0.0f;
  return std::clamp(lit, 0.0f, 1.0f) * (1.0f - mv.cue_greets);  // clamped before the greetings dim it
}

struct OracleLine {
  float start;
  float text_end;
};
// Where the eight spoken lines begin and where their words must be gone.
constexpr OracleLine kOracleLines[] = {{16.0f, 18.7f}, {20.0f, 23.2f}, {33.0f, 36.2f}, {45.0f, 48.5f},
                                       {61.5f, 64.4f}, {72.0f, 75.8f}, {84.0f, 87.8f}, {93.0f, 96.4f}};

}  // namespace

TEST(ShowSequence, LoadsCleanlyAndCoversTheLoop) {
  const SequenceTimeline timeline = LoadShowSequence();
  ASSERT_EQ(timeline.status.rfind("Loaded sequence " + kShowSequence + " sections=", 0), 0u) << timeline.status;
  EXPECT_EQ(timeline.loop_bars, 128.0f);
  // Every bar of the loop lies in a section: the director never falls back to the manual scene.
  ASSERT_FALSE(timeline.sections.empty());
  EXPECT_EQ(timeline.sections.front().start, 0.0f);
  EXPECT_EQ(timeline.sections.back().end, 128.0f);
  for (size_t i = 1; i < timeline.sections.size(); ++i) {
    EXPECT_EQ(timeline.sections[i].start, timeline.sections[i - 1].end) << timeline.sections[i].label;
  }
  // It differs from the built-in sequence and uses every cue the pictures read.
  for (const char* name : {"intro", "title", "beams", "scan", "nova", "veil", "reveal", "greets", "club", "finale"}) {
    EXPECT_TRUE(std::any_of(timeline.cues.begin(), timeline.cues.end(),
                            [&](const SequenceCue& cue) { return cue.name == name; }))
        << name;
  }
}

TEST(ShowSequence, EveryOracleLineHasVisibleWords) {
  const SequenceTimeline timeline = LoadShowSequence();
  for (const OracleLine& line : kOracleLines) {
    // From the first word (0.08 bars early) until the text is gone.
    float weakest = 1.0f;
    for (float bar = line.start - 0.08f; bar <= line.text_end; bar += 0.01f) {
      weakest = std::min(weakest, SubtitleStrength(VizAt(timeline, bar)));
    }
    EXPECT_GE(weakest, 0.4f) << "oracle line at bar " << line.start;
  }
}

TEST(ShowSequence, CuesMeetTheirScenes) {
  const SequenceTimeline timeline = LoadShowSequence();
  const auto section_clock = [&](float bar) {
    return SectionRelativeTime(timeline.sections, timeline.loop_bars, true, bar, kBpm, 0.0f);
  };
  const auto scene_at = [&](float bar) { return ActiveScene(timeline.sections, timeline.loop_bars, true, 1, bar); };

  for (const SequenceSection& section : timeline.sections) {
    bool beacons = false;         // canyon: beams or scan once the section is 5 s old
    bool backdrop_opens = false;  // arena: the backdrop (lit by veil) opens with reveal
    bool arena_lit = false;       // arena: nova, scan or veil on saucers, walkers, floor
    float longest_run = 0.0f;
    for (float bar = section.start; bar < section.end; bar += 0.05f) {
      const MusicViz mv = VizAt(timeline, bar);
      const SectionClock clock = section_clock(bar);
      longest_run = std::max(longest_run, clock.section_bar);
      const float activation = std::max(0.26f * mv.cue_scan, mv.cue_beams) + 0.24f * mv.cue_intro;
      if (clock.section_time >= 5.0f && activation > 0.2f) beacons = true;
      const float club = std::clamp(std::max(mv.cue_club, mv.cue_reveal), 0.0f, 1.0f);
      if ((1.0f - 0.7f * club) * mv.cue_veil > 0.05f && mv.cue_reveal > 0.7f) backdrop_opens = true;
      if (mv.cue_nova > 0.5f || mv.cue_scan > 0.5f || mv.cue_veil > 0.5f) arena_lit = true;
    }
    SCOPED_TRACE(section.label);
    if (section.scene == 1) {
      EXPECT_TRUE(beacons);
    }
    if (section.scene == 2) {
      EXPECT_TRUE(arena_lit);
    }
    if (section.scene == 2 && section.start <= 96.0f && 96.0f < section.end) {
      EXPECT_TRUE(backdrop_opens);
    }
    // The craft of the dot field climbs away from bar 19 of the run and is gone 1.35 bars later.
    if (section.scene == 3) {
      EXPECT_GT(longest_run, 20.35f);
    }
  }

  // Greetings from bar 100, and still up while the finale replays bars 100-107.
  EXPECT_EQ(VizAt(timeline, 99.9f).cue_greets, 0.0f);
  EXPECT_EQ(VizAt(timeline, 100.0f).cue_greets, 0.0f);
  EXPECT_EQ(VizAt(timeline, 100.25f).cue_greets, 1.0f);
  EXPECT_EQ(VizAt(timeline, 107.5f).cue_greets, 1.0f);
  EXPECT_EQ(scene_at(100.0f), 2);
  EXPECT_GT(VizAt(timeline, 112.0f).cue_finale, 0.99f);
}

TEST(ShowSequence, TheLastPhraseShowsTwoLooksOfTheOrbStage) {
  // The music loops bars 100 to 116 while the finale runs, so the orb stage's looks must both
  // come between bar 112 and bar 116 to be seen with the music playing.
  const SequenceTimeline timeline = LoadShowSequence();
  int first = 0;
  int looks = 0;
  int previous = 0;
  for (float bar = 112.0f; bar < 116.0f; bar += 0.05f) {
    const int scene = ActiveScene(timeline.sections, timeline.loop_bars, true, 1, bar);
    EXPECT_GE(scene, 4) << bar;
    EXPECT_LE(scene, 8) << bar;
    if (scene != previous) ++looks;
    if (first == 0) first = scene;
    previous = scene;
  }
  EXPECT_GE(looks, 2);
  EXPECT_NE(first, previous);
  // And the stage holds until the end of the loop.
  EXPECT_EQ(ActiveScene(timeline.sections, timeline.loop_bars, true, 1, 127.9f), previous);
}
